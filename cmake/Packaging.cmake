# The Debian package vidmora_<version>_<arch>.deb, made by CPack from the
# install rules (scripts/package.sh): the installation folder under
# /usr/lib/vidmora (the multiarch library folder when configured for the /usr
# prefix), the vidmora command, the desktop entry and the icon. Its links
# LibDatFunc.so and mplayer point at the system's files, and it depends on the
# Debian packages whose files the program loads at run time.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vidmora)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Vidmora")
set(CPACK_PACKAGE_CONTACT "Vidmora developers <developers@vidmora.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Desktop video converter with a Chinese user interface")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)

find_program(VIDMORA_DPKG dpkg)
if(VIDMORA_DPKG)
  execute_process(COMMAND ${VIDMORA_DPKG} --print-architecture
    OUTPUT_VARIABLE VIDMORA_DEB_ARCH OUTPUT_STRIP_TRAILING_WHITESPACE)
else()
  set(VIDMORA_DEB_ARCH amd64)
endif()
set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE ${VIDMORA_DEB_ARCH})
set(CPACK_DEBIAN_FILE_NAME vidmora_${PROJECT_VERSION}_${VIDMORA_DEB_ARCH}.deb)
set(CPACK_DEBIAN_PACKAGE_SECTION video)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://vidmora.org/")
# CPack puts the summary above this text.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "Add video files to a list, choose the video and audio options, pick an
output folder and convert every file in turn to MP4, with live progress. Shows
each file's media properties and previews a file in a small player window.")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# Qt 6 (with its X11 platform plugin and SVG icon plugins), FFmpeg's libraries,
# libuchardet (libuchardet0: the character sets of subtitle files), libass (libass9:
# subtitles drawn into the picture) and the C library, found from what the program and
# the encoder are linked with.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# What is loaded or started by name at run time: the media-information
# library, SQLite (behind LibDatFunc.so), the player and Qt's Chinese texts.
# fonts-noto-cjk: subtitles drawn into the picture show Chinese text in a font that has it.
# xdg-utils: xdg-open opens the output folder, a source's folder, the help page
# and the homepage in the user's programs (without it they cannot be opened).
set(CPACK_DEBIAN_PACKAGE_DEPENDS
  "libmediainfo0v5, libsqlite3-0, mplayer, qt6-translations-l10n, fonts-noto-cjk, xdg-utils")

include(CPack)
