#!/usr/bin/env bash
# Installs the build into a fresh prefix and runs the window check on the installed program,
# from a working folder that has nothing to do with either tree.
# Usage: install_check.sh BUILD_FOLDER WINDOW_CHECK WM_CLOSE
set -euo pipefail
build=$1
window_check=$2
wm_close=$3
prefix=$(mktemp -d "${TMPDIR:-/tmp}/chm-install-XXXXXX")
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix" >/dev/null
for file in bin/TavorinCHM bin/tavorin-chm \
            share/applications/tavorin-channel-merger.desktop \
            share/icons/hicolor/256x256/apps/tavorin-channel-merger.png \
            share/icons/hicolor/48x48/apps/tavorin-channel-merger.png \
            share/icons/hicolor/scalable/apps/tavorin-channel-merger.svg \
            share/man/man1/tavorin-chm.1.gz share/man/man1/TavorinCHM.1.gz \
            share/bash-completion/completions/tavorin-chm; do
  [ -e "$prefix/$file" ] || { echo "FAIL: $file not installed" >&2; exit 1; }
done
[ -n "$(find "$prefix" -name libgstaudiotap.so)" ] || { echo "FAIL: the filter library is not installed" >&2; exit 1; }
grep -q '^Exec=TavorinCHM %F$' "$prefix/share/applications/tavorin-channel-merger.desktop"
desktop-file-validate "$prefix/share/applications/tavorin-channel-merger.desktop"
bash "$window_check" "$prefix/bin/TavorinCHM" "$wm_close"
echo "install check passed"
