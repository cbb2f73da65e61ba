#!/usr/bin/env bash
# The Debian package as a user meets it: its contents, its links and
# dependencies, lintian's verdict where lintian is installed, and starts of
# the program from an unpacked copy of the package (a scratch root beside the
# system's files it links to) under a virtual X server of its own: as root and
# as another user, each with an empty home folder and a file on the command
# line, then a second start that hands two files to the first. The file must be
# listed, each user's files made in that user's home folder, and nothing under
# the installation folder may change.
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
# Installed-Size as dpkg counts it: files in whole KiB, one for each folder and link.
counted=$(dpkg-deb -c "$deb" | awk '$1 ~ /^-/ { t += int(($3 + 1023) / 1024); next } { t += 1 } END { print t }')
[ "$(dpkg-deb -f "$deb" Installed-Size)" = "$counted" ] ||
  fail "Installed-Size is $(dpkg-deb -f "$deb" Installed-Size) KiB, the files take $counted KiB"

# What lintian reports, besides the tags that the packaging notes explain.
if command -v lintian >/dev/null; then
  report=$(lintian --no-tag-display-limit "$deb" 2>&1 || true)
  explained=$(grep -v '^#' "$(dirname "$0")/lintian-explained" | paste -sd'|' || true)
  found=$(grep -E '^[EW]: ' <<<"$report" | grep -vE "${explained:-^$}" || true)
  [ -z "$found" ] || fail "lintian reports: $found"
  echo "lintian: no errors or warnings beyond the explained ones"
else
  echo "lintian is not installed; its check was left out"
fi

# Only the package's own paths (and the folders above them).
own='^\./usr/(bin/vidmora|lib/([a-z0-9_]+-linux-gnu/)?vidmora(/.*)?|share/applications/vidmora\.desktop|share/icons/hicolor/scalable/apps/vidmora\.svg|share/man/man1/vidmora\.1\.gz|share/doc/vidmora/(copyright|changelog\.gz))$'
parents='^\./(usr/(bin/|lib/|lib/[a-z0-9_]+-linux-gnu/|share/|share/applications/|share/icons/|share/icons/hicolor/|share/icons/hicolor/scalable/|share/icons/hicolor/scalable/apps/|share/man/|share/man/man1/|share/doc/|share/doc/vidmora/)?)?$'
while read -r path; do
  [[ $path =~ $own || $path =~ $parents ]] || fail "file outside the package's paths: $path"
done < <(dpkg-deb -c "$deb" | awk '{print $6}')

depends=$(dpkg-deb -f "$deb" Depends)
for p in libmediainfo0v5 libsqlite3-0 mplayer qt6-translations-l10n fonts-noto-cjk xdg-utils libqt6widgets6 libqt6svg6 libavcodec libavformat; do
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
for f in vidmora make LibParmt.dat help.html qtbase_zh_CN.qm user-files; do
  [ -f "$appdir/$f" ] || fail "$f missing from the installation folder"
done
[ ! -e "$appdir/SaveFile" ] || fail "the package holds an output folder"
# The links are relative and lead to the system's files once installed.
installed=/${appdir#"$tree"/}
for pair in "LibDatFunc.so:/usr/lib/x86_64-linux-gnu/libsqlite3.so.0" "mplayer:/usr/bin/mplayer"; do
  name=${pair%%:*} system=${pair#*:}
  target=$(readlink "$appdir/$name")
  [[ $target != /* ]] || fail "$name is an absolute link to $target"
  [ "$(realpath -m "$installed/$target")" = "$(realpath "$system")" ] || fail "$name leads to $installed/$target, not $system"
done
[ "$(readlink "$tree/usr/bin/vidmora")" = "../${installed#/usr/}/vidmora" ] || fail "usr/bin/vidmora is $(readlink "$tree/usr/bin/vidmora")"
desktop=$tree/usr/share/applications/vidmora.desktop
grep -qx 'Exec=vidmora %F' "$desktop" || fail "the desktop entry does not pass files"
# The entry whose types tst_desktop_types checks against the shared MIME database.
cmp -s "$desktop" "$(dirname "$0")/../../app/vidmora.desktop" || fail "the packaged desktop entry is not app/vidmora.desktop"

if [ "$(id -u)" -ne 0 ]; then
  echo "skipped: running the program as root and as another user needs root"
  exit 77
fi

# The scratch root holds the system files the relative links lead to.
mkdir -p "$tree/usr/lib/x86_64-linux-gnu"
ln -s /usr/lib/x86_64-linux-gnu/libsqlite3.so.0 "$tree/usr/lib/x86_64-linux-gnu/libsqlite3.so.0"
ln -s /usr/bin/mplayer "$tree/usr/bin/mplayer"
# Every entry of the installation folder with its checksum, for before and after.
state() { (cd "$appdir" && find . -printf '%p %y %m %U %l\n' | sort && find . -type f -exec sha256sum {} + | sort); }
before=$(state)

# Root may write the folder: only the program's own care keeps it unchanged.
# The other user may read and run it.
chmod 755 "$tmp"
chmod -R a+rX "$tree"
samples=$(cd "$(dirname "$0")/../data/media" && pwd)
media=$tmp/media
mkdir "$media"
cp "$samples/clip.mp4" "$media/一.mp4"
cp "$samples/clip.mp4" "$media/two.mp4"
cp "$samples/clip.avi" "$media/three.avi"
chmod -R a+rX "$media"

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

# start_as UID HOME FOLDER ARGS... &: becomes the installed command, run as
# that user in FOLDER with an empty environment but for HOME, a runtime folder
# of its own and the display.
start_as() {
  local uid=$1 home=$2 folder=$3
  shift 3
  exec setpriv --reuid="$uid" --regid="$uid" --clear-groups \
    env -i -C "$folder" HOME="$home" XDG_RUNTIME_DIR="$home/run" PATH=/usr/bin:/bin DISPLAY="$display" \
    LANG=C.UTF-8 "$tree/usr/bin/vidmora" "$@"
}
# The main window of the process PID, once it is shown (the splash, which has the
# same title and may still be up, is far narrower).
main_window() {
  local id info
  for id in $(DISPLAY=$display xwininfo -root -tree 2>/dev/null | awk '/"Vidmora": \("vidmora"/ {print $1}'); do
    DISPLAY=$display xprop -id "$id" _NET_WM_PID 2>/dev/null | grep -q "= $1\$" || continue
    info=$(DISPLAY=$display xwininfo -id "$id")
    echo "$info" | grep -q IsViewable || continue
    [ "$(echo "$info" | awk '/Width:/ {print $2}')" -gt 600 ] && echo "$id" && return
  done
  return 0
}
# How many rows the main window's file list shows: the bands of dark pixels
# (text and icons) in the list below its header; -1 while it is not painted
# (lines more dark than light).
listed_rows() {
  local id=$1 shot=$tmp/shot.png
  DISPLAY=$display import -window "$id" "$shot" 2>/dev/null || { echo -1; return; }
  convert "$shot" -crop 500x180+30+78 +repage -colorspace gray -threshold 55% -negate \
    -scale '1x180!' -depth 8 txt:- 2>/dev/null |
    awk -F'[(),]' 'NR > 1 { v = $3 + 0; if (v > 128) unpainted = 1; dark = v > 6; if (dark && !in_band) bands++; in_band = dark }
      END { print unpainted ? -1 : bands + 0 }'
}
wait_rows() {
  local id=$1 want=$2 got=-1
  for _ in $(seq 1 100); do
    got=$(listed_rows "$id")
    [ "$got" = "$want" ] && return 0
    sleep 0.1
  done
  cp "$tmp/shot.png" "${VIDMORA_KEEP_SHOT:-/dev/null}" 2>/dev/null || true
  cat "$tmp"/second-*.log "$tmp"/out-*.log >&2 || true
  fail "the list shows $got rows, expected $want"
}

# check_user UID: a first start with one file, then a second start with two.
check_user() {
  local uid=$1 home=$tmp/home-$1 id="" second
  mkdir -p "$home/run"
  chmod 700 "$home/run"
  chown -R "$uid:$uid" "$home"
  start_as "$uid" "$home" "$media" 一.mp4 >"$tmp/out-$uid.log" 2>&1 &
  app_pid=$!
  for _ in $(seq 1 300); do
    kill -0 "$app_pid" 2>/dev/null || { cat "$tmp/out-$uid.log"; fail "the program ended early"; }
    id=$(main_window "$app_pid")
    [ -n "$id" ] && break
    sleep 0.1
  done
  [ -n "$id" ] || { cat "$tmp/out-$uid.log"; fail "the main window never appeared"; }
  wait_rows "$id" 1

  # The second start hands its files over and ends by itself.
  start_as "$uid" "$home" / "$media/two.mp4" "$media/three.avi" >"$tmp/second-$uid.log" 2>&1 &
  second=$!
  for _ in $(seq 1 100); do kill -0 "$second" 2>/dev/null || break; sleep 0.1; done
  if kill -0 "$second" 2>/dev/null; then kill "$second"; fail "the second start did not end"; fi
  wait "$second" || { cat "$tmp/second-$uid.log"; fail "the second start failed"; }
  wait_rows "$id" 3
  local running=0 pid
  for pid in $(pgrep -u "$uid" -x vidmora); do
    [ "$(readlink "/proc/$pid/exe")" = "$appdir/vidmora" ] && running=$((running + 1))
  done
  [ "$running" = 1 ] || fail "$running processes of the package's program run for user $uid"

  local settings=$home/.config/vidmora/libcfg.ini database=$home/.local/share/vidmora/LibParmt.dat
  local output=$home/Videos/Vidmora made
  [ -f "$settings" ] || fail "no settings file $settings"
  cmp -s "$database" "$appdir/LibParmt.dat" || fail "no copy of the database at $database"
  [ -d "$output" ] || fail "no output folder $output"
  for made in "$settings" "$database" "$output"; do
    [ "$(stat -c %u "$made")" = "$uid" ] || fail "$made is not the user's own"
  done
  kill "$app_pid"
  wait "$app_pid" 2>/dev/null || true
  app_pid=""
  [ "$(state)" = "$before" ] || fail "the installation folder changed while user $uid ran the program"
  echo "user $uid: 1 file from the first start and 2 from the second listed in one window; made:"
  (cd "$home" && find . -mindepth 1 -not -path './run*' | sort)
}

check_user 0
check_user 65534
echo "package $(basename "$deb") runs as root and as another user without writing its folder"
