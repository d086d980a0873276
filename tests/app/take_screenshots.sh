#!/usr/bin/env bash
# Runs app_screenshots on a virtual X display of its own, so that the pictures are what an X
# server shows of the real window. Usage: take_screenshots.sh APP_SCREENSHOTS OUTPUT_FOLDER
set -euo pipefail
program=$1
output=$2
work=$(mktemp -d "${TMPDIR:-/tmp}/chm-shots-XXXXXX")
xvfb_pid=
cleanup() {
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null && wait "$xvfb_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
mkfifo "$work/display"
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$work/display" >/dev/null 2>&1 &
xvfb_pid=$!
read -r -t 20 number <"$work/display" || { echo "Xvfb did not start" >&2; exit 1; }
mkdir -p "$work/runtime" && chmod 700 "$work/runtime"
DISPLAY=":$number" XDG_RUNTIME_DIR="$work/runtime" QT_QPA_PLATFORM=xcb "$program" "$output"
