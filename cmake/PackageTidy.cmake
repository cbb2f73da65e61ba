# Run by CPack on the staged files before it builds the package: a system-wide
# installation holds no SaveFile folder.
file(GLOB_RECURSE _staged LIST_DIRECTORIES true "${CPACK_TEMPORARY_DIRECTORY}/*")
foreach(_path ${_staged})
  if(_path MATCHES "/vidmora/SaveFile$" AND IS_DIRECTORY "${_path}")
    file(REMOVE_RECURSE "${_path}")
  endif()
endforeach()
