#!/usr/bin/env bash
# The built program as the user meets it, on a virtual X display: it starts with a fresh
# configuration, shows one window whose client area is 740 x 534, is photographed, closes
# through the window manager's protocol (WM_DELETE_WINDOW, what the close box sends), ends with
# exit code 1 and leaves a Settings.xml with its place. Without its filter library it shows only
# the installation message and ends with -2 (254 as the shell sees it).
#
# Usage: window_check.sh PROGRAM WM_CLOSE_SCRIPT [SCREENSHOT]
set -euo pipefail

program=$1
wm_close=$2
screenshot=${3:-}

source "$(dirname "$0")/virtual_display.sh" window-check

# In a sanitizer build, only what the system's libraries keep until the end is excused: GLib's
# start-up allocation, D-Bus's connection of Qt's platform layer, GStreamer's libav elements.
printf 'leak:_dl_init\nleak:libdbus-1.so\nleak:libgstlibav.so\n' >"$work/lsan.supp"
sanitizer_env=(LSAN_OPTIONS="suppressions=$work/lsan.supp:print_suppressions=0"
               ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}fast_unwind_on_malloc=0")

# Starts the program from an unrelated folder; its pid in app_pid, its output in $work/$1.log.
start_program() {
  local name=$1
  shift
  mkdir -p "$work/$name/config" "$work/$name/runtime" "$work/$name/cwd"
  chmod 700 "$work/$name/runtime"
  (cd "$work/$name/cwd" && exec env XDG_CONFIG_HOME="$work/$name/config" XDG_RUNTIME_DIR="$work/$name/runtime" \
       QT_QPA_PLATFORM=xcb "${sanitizer_env[@]}" "$@" "$program" >"$work/$name.log" 2>&1) &
  app_pid=$!
}

# Waits (up to 30 s) for the program to end; its exit code in `code`.
wait_program() {
  for _ in $(seq 1 300); do
    kill -0 "$app_pid" 2>/dev/null || break
    sleep 0.1
  done
  kill -0 "$app_pid" 2>/dev/null && fail "the program did not end"
  code=0
  wait "$app_pid" || code=$?
  app_pid=
}

# The visible window of the program with this title (the first one mapped).
find_window() {
  timeout 30 xdotool search --sync --onlyvisible --pid "$app_pid" --name "^$1\$" 2>/dev/null | head -1
}

# 1. A normal start and close.
start_program normal
window=$(find_window "Tavorin Channel Merger") || true
[ -n "$window" ] || fail "no main window appeared"
size=$(xwininfo -id "$window" | awk '/Width:/ {w=$2} /Height:/ {h=$2} END {print w "x" h}')
[ "$size" = "740x534" ] || fail "client size is $size, not 740x534"
if [ -n "$screenshot" ]; then
  # The program draws a moment after mapping; the picture is taken once it has.
  sleep 1
  import -window root "$work/root.png"
  geometry=$(xwininfo -id "$window" | awk '/Absolute upper-left X:/ {x=$4} /Absolute upper-left Y:/ {y=$4} END {print "740x534+" x "+" y}')
  convert "$work/root.png" -crop "$geometry" +repage "$screenshot"
fi
python3 "$wm_close" "$window" || fail "cannot send WM_DELETE_WINDOW"
wait_program
[ "$code" = "1" ] || { cat "$work/normal.log" >&2; fail "exit code $code, not 1"; }
settings="$work/normal/config/Tavorin/Channel Merger/Settings.xml"
[ -f "$settings" ] || fail "no Settings.xml written"
grep -q '<TavorinCHMSettings version="1.0"' "$settings" || fail "Settings.xml has no root of ours"
# Centred on the 1280 x 1024 screen without a stored place: (1280 - 740) / 2, (1024 - 534) / 2.
grep -q '<MainFrame x="270" y="245"/>' "$settings" || { cat "$settings" >&2; fail "the window's place is not stored"; }
[ -z "$(ls -A "$work/normal/cwd")" ] || fail "the program wrote into its working folder"

# 2. Without the filter library (the framework may load only its own base plugins).
start_program missing GST_PLUGIN_LOADING_WHITELIST=gstreamer:gst-plugins-base
box=$(find_window "Tavorin Channel Merger") || true
[ -n "$box" ] || fail "no installation message appeared"
box_size=$(xwininfo -id "$box" | awk '/Width:/ {w=$2} /Height:/ {h=$2} END {print w "x" h}')
[ "$box_size" != "740x534" ] || fail "the main window appeared without the filter library"
windows=$(xdotool search --onlyvisible --pid "$app_pid" --name "." 2>/dev/null | wc -l)
[ "$windows" = "1" ] || fail "$windows windows visible, only the message expected"
# The box closes on the key press: the release may find it gone already.
xdotool key --window "$box" Return 2>/dev/null || true
wait_program
[ "$code" = "254" ] || { cat "$work/missing.log" >&2; fail "exit code $code, not -2"; }
[ ! -e "$work/missing/config/Tavorin" ] || fail "settings were written without a main window"

echo "window check passed"
