#!/usr/bin/env bash
# Builds the Debian packages (the command line without Qt, and the desktop program that depends
# on it), checks them with lintian (nothing to say, hardening included), appstreamcli and
# desktop-file-validate, installs them on this machine with apt-get, uses what it installed as a user would (the command
# line on a stereo WAV, MP3 and WMA file from an unrelated folder, the program from its desktop
# entry under Xvfb, the manual pages, the bash completion), then purges them and checks that none
# of their files remain. Needs root (or sudo) for apt-get. Usage: package-check.sh [BUILD_FOLDER]
set -euo pipefail
cd "$(dirname "$0")/.."
source_dir=$PWD
build=${1:-build}
package_name=tavorin-channel-merger
cli_package_name=tavorin-chm

as_root=()
if [ "$(id -u)" -ne 0 ]; then as_root=(sudo); fi
# Another apt-get on the machine holds the lock for a while: wait for it instead of failing.
apt=("${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get -y -q -o DPkg::Lock::Timeout=900)

fail() { echo "FAIL: $*" >&2; exit 1; }
step() { echo "== $*"; }

work=$(mktemp -d "${TMPDIR:-/tmp}/chm-package-XXXXXX")
installed=
cleanup() {
  # Nothing of the package may stay installed, whatever step failed.
  if [ -n "$installed" ]; then "${apt[@]}" purge "$package_name" "$cli_package_name" >/dev/null 2>&1 || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

step "building the packages"
if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
fi
rm -f "$build/${package_name}"_*.deb "$build/${cli_package_name}"_*.deb
cmake --build "$build" --target package
found=("$build/${package_name}"_*.deb)
[ ${#found[@]} -eq 1 ] && [ -f "${found[0]}" ] || fail "expected one $package_name package in $build, found: ${found[*]}"
deb=$(realpath "${found[0]}")
found=("$build/${cli_package_name}"_*.deb)
[ ${#found[@]} -eq 1 ] && [ -f "${found[0]}" ] || fail "expected one $cli_package_name package in $build, found: ${found[*]}"
cli_deb=$(realpath "${found[0]}")
version=$(dpkg-deb -f "$deb" Version)
[ "$(dpkg-deb -f "$cli_deb" Version)" = "$version" ] || fail "the two packages differ in version"
for package in "$cli_deb" "$deb"; do
  echo "$(basename "$package"): $(stat -c %s "$package") bytes, installed size $(dpkg-deb -f "$package" Installed-Size) KiB"
  echo "Depends: $(dpkg-deb -f "$package" Depends)"
done
# The command line is for machines without a desktop: nothing of Qt.
! dpkg-deb -f "$cli_deb" Depends | grep -qi qt || fail "$cli_package_name depends on Qt"
dpkg-deb -f "$deb" Depends | grep -qF "$cli_package_name (= $version)" ||
  fail "$package_name does not depend on $cli_package_name (= $version)"
[ "$(dpkg-deb -f "$deb" Recommends)" = xdg-utils ] || fail "$package_name does not recommend xdg-utils"

step "lintian, pedantic: nothing to say (the hardening flags included)"
status=0
hints=$(lintian --pedantic --display-info --display-experimental --fail-on warning "$cli_deb" "$deb" 2>&1) || status=$?
hints=$(grep -v 'running with root privileges' <<<"$hints" || true)
[ -z "$hints" ] && [ "$status" = 0 ] || { echo "$hints" >&2; fail "lintian has something to say (exit $status)"; }

step "AppStream metadata and desktop entry, as the package holds them"
dpkg-deb -x "$deb" "$work/tree"
metainfo=("$work"/tree/usr/share/metainfo/*.metainfo.xml)
[ -f "${metainfo[0]}" ] || fail "no AppStream metadata in the package"
appstreamcli validate --pedantic --no-net "${metainfo[@]}"
grep -q "<release version=\"$version\"" "${metainfo[0]}" || fail "the AppStream release is not $version"
desktop="$work/tree/usr/share/applications/$package_name.desktop"
desktop-file-validate "$desktop"
grep -q "<launchable type=\"desktop-id\">$package_name.desktop</launchable>" "${metainfo[0]}" ||
  fail "the AppStream metadata does not launch the desktop entry"
# Every file the package holds (not its folders): what must be gone again after the purge.
dpkg-deb -x "$cli_deb" "$work/tree"
(cd "$work/tree" && find . ! -type d | sed 's|^\.||') >"$work/files"

step "installing with apt-get"
installed=1
(cd "$(dirname "$deb")" && "${apt[@]}" install "./$(basename "$cli_deb")" "./$(basename "$deb")")
for package in "$cli_package_name" "$package_name"; do
  [ "$(dpkg-query -W -f='${Status}' "$package")" = "install ok installed" ] || fail "$package not installed"
done

step "the command line, from an unrelated folder"
[ "$(/usr/bin/tavorin-chm --version)" = "tavorin-chm (Tavorin Channel Merger) $version" ] ||
  fail "tavorin-chm --version does not say $version"
mkdir -p "$work/media" "$work/elsewhere" "$work/mono"
sox -q -n -r 44100 -b 16 -c 2 "$work/media/tones.wav" synth 2 sine 440 sine 660 vol 0.5
ffmpeg -v error -i "$work/media/tones.wav" -c:a libmp3lame -b:a 128k "$work/media/tones.mp3"
ffmpeg -v error -i "$work/media/tones.wav" -c:a wmav2 -b:a 128k "$work/media/tones.wma"
(cd "$work/elsewhere" && /usr/bin/tavorin-chm convert --output-folder "$work/mono" \
   "$work/media/tones.wav" "$work/media/tones.mp3" "$work/media/tones.wma")
for output in tones.wav tones.mp3 tones.wma; do
  channels=$(ffprobe -v error -select_streams a:0 -show_entries stream=channels -of csv=p=0 "$work/mono/$output")
  [ "$channels" = 1 ] || fail "$output: $channels channels, not one"
  duration=$(ffprobe -v error -show_entries format=duration -of csv=p=0 "$work/mono/$output")
  awk -v d="$duration" 'BEGIN { exit !(d > 1.9 && d < 2.2) }' || fail "$output lasts $duration s, not 2"
done
[ -z "$(ls -A "$work/elsewhere")" ] || fail "tavorin-chm wrote into its working folder"

step "the program, started from its desktop entry under Xvfb"
exec_line=$(sed -n 's/^Exec=\([^ ]*\).*/\1/p' "/usr/share/applications/$package_name.desktop")
program=$(command -v "$exec_line") || fail "the desktop entry's Exec=$exec_line is not on PATH"
[ "$program" = /usr/bin/TavorinCHM ] || fail "Exec=$exec_line finds $program"
bash "$source_dir/tests/app/window_check.sh" "$program" "$source_dir/tests/app/wm_close.py"

step "manual pages and bash completion"
for page in tavorin-chm TavorinCHM; do
  [ "$(man -w "$page")" = "/usr/share/man/man1/$page.1.gz" ] || fail "man -w $page: $(man -w "$page" 2>&1)"
  [ -n "$(MANWIDTH=80 man "$page" 2>/dev/null | grep -F "$page")" ] || fail "man $page shows nothing"
done
completion=$(bash -c 'source /usr/share/bash-completion/bash_completion
                      __load_completion tavorin-chm && complete -p tavorin-chm')
[ "$completion" = "complete -F _tavorin_chm tavorin-chm" ] || fail "bash-completion does not load ours: $completion"

step "purging"
"${apt[@]}" purge "$package_name" "$cli_package_name"
installed=
for package in "$cli_package_name" "$package_name"; do
  ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q installed || fail "$package still installed"
done
left=0
while IFS= read -r file; do
  if [ -e "$file" ] || [ -L "$file" ]; then echo "left behind: $file" >&2; left=1; fi
done <"$work/files"
for folder in /usr/lib/$package_name /usr/share/doc/$package_name /usr/share/doc/$cli_package_name; do
  [ ! -e "$folder" ] || { echo "left behind: $folder" >&2; left=1; }
done
[ "$left" = 0 ] || fail "the purge left files behind"
echo "package check passed"
