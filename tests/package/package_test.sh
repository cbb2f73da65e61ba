#!/usr/bin/env bash
# The Debian package as a user meets it: its contents, its links and
# dependencies, and a start of the program from a read-only copy of the
# package's files by a user who is not root, with an empty home folder, under
# a virtual X server of its own. The program must make its settings file, its
# database and its output folder in that home folder.
# Usage: package_test.sh BUILD_FOLDER     (exit 77: skipped)
set -euo pipefail
build=$1
fail() { echo "FAIL: $*" >&2; exit 1; }

shopt -s nullglob
debs=("$build"/vidmora_*_amd64.deb)
[ ${#debs[@]} -eq 1 ] || fail "expected one vidmora_<version>_amd64.deb in $build, found ${#debs[@]}"
deb=${debs[0]}
version=$(dpkg-deb -f "$deb" Version)
[ "$(basename "$deb")" = "vidmora_${version}_amd64.deb" ] || fail "file name $(basename "$deb") does not match version $version"

# Only the package's own paths (and the folders above them).
own='^\./usr/(bin/vidmora|lib/([a-z0-9_]+-linux-gnu/)?vidmora(/.*)?|share/applications/vidmora\.desktop|share/icons/hicolor/scalable/apps/vidmora\.svg)$'
parents='^\./(usr/(bin/|lib/|lib/[a-z0-9_]+-linux-gnu/|share/|share/applications/|share/icons/|share/icons/hicolor/|share/icons/hicolor/scalable/|share/icons/hicolor/scalable/apps/)?)$'
while read -r path; do
  [[ $path =~ $own || $path =~ $parents ]] || fail "file outside the package's paths: $path"
done < <(dpkg-deb -c "$deb" | awk '{print $6}')

depends=$(dpkg-deb -f "$deb" Depends)
for p in libmediainfo0v5 libsqlite3-0 mplayer qt6-translations-l10n libqt6widgets6 libqt6svg6 libavcodec libavformat; do
  [[ ", $depends" == *", $p"* ]] || fail "Depends lacks $p: $depends"
done

tmp=$(mktemp -d)
xvfb_pid=""
app_pid=""
cleanup() {
  if [ -n "$app_pid" ]; then kill "$app_pid" 2>/dev/null || true; wait "$app_pid" 2>/dev/null || true; fi
  if [ -n "$xvfb_pid" ]; then kill "$xvfb_pid" 2>/dev/null || true; wait "$xvfb_pid" 2>/dev/null || true; fi
  chmod -R u+w "$tmp" 2>/dev/null || true
  rm -rf "$tmp"
}
trap cleanup EXIT

tree=$tmp/tree
dpkg-deb -x "$deb" "$tree"
appdir=$(dirname "$(readlink -f "$tree/usr/bin/vidmora")")
case $appdir in "$tree"/usr/lib/*vidmora) ;; *) fail "usr/bin/vidmora leads to $appdir" ;; esac
for f in vidmora make LibParmt.dat help.html qtbase_zh_CN.qm; do
  [ -f "$appdir/$f" ] || fail "$f missing from the installation folder"
done
sqlite=$(readlink "$appdir/LibDatFunc.so")
[[ $sqlite == /* ]] && [ "$(readlink -f "$sqlite")" = "$(readlink -f /usr/lib/x86_64-linux-gnu/libsqlite3.so.0)" ] ||
  fail "LibDatFunc.so points at $sqlite, not the system's SQLite library"
[ "$(readlink "$appdir/mplayer")" = /usr/bin/mplayer ] || fail "mplayer points at $(readlink "$appdir/mplayer")"
[ -e "$appdir/LibDatFunc.so" ] && [ -e "$appdir/mplayer" ] || fail "a link in the package leads nowhere"

if [ "$(id -u)" -ne 0 ]; then
  echo "skipped: running the program as another user needs root"
  exit 77
fi

# Everyone may read and run the files, nobody may write them.
chmod 755 "$tmp"
chmod -R a+rX,a-w "$tree"
home=$tmp/home
mkdir "$home"
chown 65534:65534 "$home"

display=""
for n in $(seq 140 199); do
  if [ ! -e "/tmp/.X11-unix/X$n" ] && [ ! -e "/tmp/.X$n-lock" ]; then
    # -ac: the program runs as another user than the server.
    Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp -ac >/dev/null 2>&1 &
    xvfb_pid=$!
    display=":$n"
    break
  fi
done
[ -n "$display" ] || fail "no free display number"
for _ in $(seq 1 100); do [ -e "/tmp/.X11-unix/X${display#:}" ] && break; sleep 0.1; done

setpriv --reuid=65534 --regid=65534 --clear-groups \
  env -i HOME="$home" PATH=/usr/bin:/bin DISPLAY="$display" LANG=C.UTF-8 \
  "$tree/usr/bin/vidmora" >"$tmp/out.log" 2>&1 &
app_pid=$!

# The main window appears after the splash; the files are made before it.
shown=""
for _ in $(seq 1 300); do
  kill -0 "$app_pid" 2>/dev/null || { cat "$tmp/out.log"; fail "the program ended early"; }
  if DISPLAY=$display xwininfo -root -tree 2>/dev/null | grep -q '"Vidmora": ("vidmora"'; then
    shown=yes
    break
  fi
  sleep 0.1
done
[ -n "$shown" ] || { cat "$tmp/out.log"; fail "the main window never appeared"; }

settings=$home/.config/vidmora/libcfg.ini
database=$home/.local/share/vidmora/LibParmt.dat
output=$home/Videos/Vidmora
[ -f "$settings" ] || fail "no settings file $settings"
cmp -s "$database" "$appdir/LibParmt.dat" || fail "no copy of the database at $database"
[ -d "$output" ] || fail "no output folder $output"
for made in "$settings" "$database" "$output"; do
  [ "$(stat -c %u "$made")" = 65534 ] || fail "$made is not the user's own"
done
echo "package $(basename "$deb") runs read-only as another user; made:"
(cd "$home" && find . -mindepth 1 | sort)
