#!/usr/bin/env bash
# The program as a screen reader meets it: on a private session bus, with at-spi2-core's
# accessibility bus and registry, Qt's bridge exposes the windows. Every button, check box,
# radio button and text field of the main window and of the options dialog has a name (the
# picture-only buttons included), and the options dialog's header picture reads as its caption.
#
# Usage: atspi_check.sh PROGRAM   (started by dbus-run-session, which gives the private bus)
set -euo pipefail

program=$1

source "$(dirname "$0")/virtual_display.sh" atspi-check

[ -n "${DBUS_SESSION_BUS_ADDRESS:-}" ] || fail "run under dbus-run-session"
# The accessibility bus's socket goes below the runtime folder: a private one keeps it ours.
mkdir -p "$work/runtime" "$work/config"
chmod 700 "$work/runtime"
export XDG_RUNTIME_DIR="$work/runtime" XDG_CONFIG_HOME="$work/config"

# The bus's services start with the bus's own environment: they learn the private runtime folder
# before the accessibility bus is started, so that its socket is ours and no one else's.
gdbus call --session --dest org.freedesktop.DBus --object-path /org/freedesktop/DBus \
  --method org.freedesktop.DBus.UpdateActivationEnvironment "{'XDG_RUNTIME_DIR': '$XDG_RUNTIME_DIR'}" >/dev/null
a11y=$(gdbus call --session --dest org.a11y.Bus --object-path /org/a11y/bus --method org.a11y.Bus.GetAddress |
       sed -E "s/^\('(.*)',\)$/\1/")
case "$a11y" in
  "unix:path=$XDG_RUNTIME_DIR/"*) ;;
  *) fail "the accessibility bus is not private: $a11y" ;;
esac

(cd "$work" && exec env QT_QPA_PLATFORM=xcb QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 "$program" >"$work/app.log" 2>&1) &
app_pid=$!

spi() {  # bus-name path method [args...]
  local dest=$1 path=$2 method=$3
  shift 3
  gdbus call --address "$a11y" --dest "$dest" --object-path "$path" --method "$method" "$@" 2>/dev/null
}
children() { spi "$1" "$2" org.a11y.atspi.Accessible.GetChildren | grep -oE "'[^']+', (objectpath )?'/org[^']+'" || true; }
role_of() { spi "$1" "$2" org.a11y.atspi.Accessible.GetRoleName | sed -E "s/^\('(.*)',\)$/\1/"; }
name_of() {
  spi "$1" "$2" org.freedesktop.DBus.Properties.Get org.a11y.atspi.Accessible Name | sed -E "s/^\(<'(.*)'>,\)$/\1/"
}

# Writes "role<TAB>name" for the node and, below it, every node but the rows of item views.
walk() {
  local dest=$1 path=$2 role child
  role=$(role_of "$dest" "$path")
  printf '%s\t%s\n' "$role" "$(name_of "$dest" "$path")"
  case "$role" in tree | table | list) return ;; esac
  while read -r child; do
    [ -n "$child" ] || continue
    walk "$(sed -E "s/^'([^']+)'.*/\1/" <<<"$child")" "$(sed -E "s/.*'(\/org[^']+)'$/\1/" <<<"$child")"
  done <<<"$(children "$dest" "$path")"
}

# The program's top-level windows, as "bus-name path" lines, once it has at least `1` of them.
windows() {
  local app dest path
  for _ in $(seq 1 300); do
    while read -r app; do
      [ -n "$app" ] || continue
      dest=$(sed -E "s/^'([^']+)'.*/\1/" <<<"$app")
      path=$(sed -E "s/.*'(\/org[^']+)'$/\1/" <<<"$app")
      [ "$(name_of "$dest" "$path")" = "Tavorin Channel Merger" ] || continue
      local tops
      tops=$(children "$dest" "$path")
      if [ "$(grep -c . <<<"$tops")" -ge "$1" ]; then
        sed -E "s/^'([^']+)', (objectpath )?'(\/org[^']+)'$/\1 \3/" <<<"$tops"
        return 0
      fi
    done <<<"$(children org.a11y.atspi.Registry /org/a11y/atspi/accessible/root)"
    kill -0 "$app_pid" 2>/dev/null || fail "the program ended: $(cat "$work/app.log")"
    sleep 0.1
  done
  fail "the program's windows did not appear on the accessibility bus"
}

# The operable nodes without a name.
unnamed() { grep -E $'^(push button|toggle button|check box|radio button|text|combo box|spin button)\t$' "$1" || true; }

read -r dest path <<<"$(windows 1)"
walk "$dest" "$path" >"$work/main.txt"
[ -z "$(unnamed "$work/main.txt")" ] || fail "unnamed controls in the main window: $(cat "$work/main.txt")"
for name in "Browse for output folder" "Open output folder" "Convert" "Output folder"; do
  grep -qF "$(printf '\t%s' "$name")" "$work/main.txt" || fail "no \"$name\" in the main window: $(cat "$work/main.txt")"
done

# The options dialog, opened with its button as the user would.
frame=$(xdotool search --sync --onlyvisible --name '^Tavorin Channel Merger$' | head -1)
xdotool mousemove --window "$frame" 685 30 click 1
dialog=$(windows 2 | tail -1)
read -r dest path <<<"$dialog"
walk "$dest" "$path" >"$work/options.txt"
head -1 "$work/options.txt" | grep -qP '^dialog\tOptions$' || fail "the second window is not Options: $(cat "$work/options.txt")"
[ -z "$(unnamed "$work/options.txt")" ] || fail "unnamed controls in the options dialog: $(cat "$work/options.txt")"
[ "$(grep -cP '\tOptions$' "$work/options.txt")" -ge 2 ] || fail "the header picture has no title: $(cat "$work/options.txt")"
for name in "Mix channels" "Keep left channel only" "Keep right channel only" "Reset to Defaults" "OK" "Cancel"; do
  grep -qP "^(radio button|push button)\t\Q$name\E$" "$work/options.txt" || fail "no \"$name\": $(cat "$work/options.txt")"
done
echo "PASS"
