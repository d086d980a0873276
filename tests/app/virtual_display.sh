# Sourced by the checks that run the program on a virtual X display of their own, with the
# check's name as its argument. Gives a scratch folder $work (removed at exit), fail(), and a
# display that Xvfb picks itself (exported as DISPLAY); the processes whose ids are in app_pid
# and xvfb_pid are ended at exit.

work=$(mktemp -d "${TMPDIR:-/tmp}/chm-$1-XXXXXX")
xvfb_pid=
app_pid=
cleanup() {
  [ -n "$app_pid" ] && kill "$app_pid" 2>/dev/null || true
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null && wait "$xvfb_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

fail() { echo "FAIL: $*" >&2; exit 1; }

# Xvfb picks a free number and writes it to the pipe: several checks can share the machine.
mkfifo "$work/display"
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$work/display" >/dev/null 2>&1 &
xvfb_pid=$!
read -r -t 20 number <"$work/display" || fail "Xvfb did not start"
export DISPLAY=":$number"
