#!/usr/bin/env bash
# Runs the tests of the threaded parts under ThreadSanitizer: configures a build of its own
# (GCC, -fsanitize=thread), builds only the test programs of the worker threads, the progress
# chain, the conversion run, the folder search, the platform layer, the decoding graph's
# delivery into memory and the command line (with the tavorin-chm it drives, which converts
# several files at once), and runs each of them. Any race, any lock-order inversion and any
# failed test fails the script.
#
#   scripts/run-tsan.sh
#
# CHM_TSAN_BUILD names the build folder (default build-tsan).
set -euo pipefail
cd "$(dirname "$0")/.."
source_dir=$(pwd)
build=${CHM_TSAN_BUILD:-$source_dir/build-tsan}
programs=(
    tests/engine/engine_jobs_tests
    tests/engine/engine_run_tests
    tests/search/search_tests
    tests/platform/platform_tests
    tests/cli/cli_tests
    tests/cli/cli_scan_tests
    tests/wm/graph_load_test
)
started=$(date +%s)

echo "== configure and build in $build"
flags="-fsanitize=thread -fno-omit-frame-pointer"
cmake -S "$source_dir" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCHM_BUILD_BENCH=OFF -DCHM_HARDENING=OFF \
    -DCMAKE_C_FLAGS="$flags" -DCMAKE_CXX_FLAGS="$flags" \
    -DCMAKE_EXE_LINKER_FLAGS=-fsanitize=thread -DCMAKE_SHARED_LINKER_FLAGS=-fsanitize=thread \
    -DCMAKE_MODULE_LINKER_FLAGS=-fsanitize=thread >/dev/null
targets=()
for program in "${programs[@]}"; do targets+=("$(basename "$program")"); done
cmake --build "$build" -j 2 --target "${targets[@]}" tavorin-chm
built=$(date +%s)

# GLib and GStreamer are not built with ThreadSanitizer: what they synchronise with their own
# futex-based locks is invisible to it. Only reports from inside those libraries are excused.
# The longest history keeps the other side of a report restorable; a stack that cannot be
# restored cannot be matched against the suppressions either.
export TSAN_OPTIONS="halt_on_error=1:exitcode=66:second_deadlock_stack=1:history_size=7:suppressions=$source_dir/scripts/tsan.supp"
# ThreadSanitizer itself drops a file ("tsan.rodata.<pid>") into $TMPDIR while a program
# starts; the two command-line tests that take the first file there for the start of the
# conversion would signal a program that has not even reached main. They run in the regular
# and the sanitizer builds.
filter_of() {
    case "$1" in
        cli_tests) echo "--gtest_filter=-*InterruptCancelsTheCurrentFile*:*TerminateActsAsTheStopButton*" ;;
    esac
}
failed=()
summary=()
for program in "${programs[@]}"; do
    name=$(basename "$program")
    log=$build/tsan-$name.log
    echo "== $name"
    t0=$(date +%s)
    status=0
    # shellcheck disable=SC2046
    (cd "$build" && timeout 1200 "./$program" $(filter_of "$name") >"$log" 2>&1) || status=$?
    t1=$(date +%s)
    result=$(grep -E '^\[  (PASSED|FAILED)  \]' "$log" | head -n 2 | tr '\n' ' ' || true)
    races=$(grep -c 'WARNING: ThreadSanitizer' "$log" || true)
    if ((status != 0)); then
        failed+=("$name")
        echo "   FAILED (exit $status, $races sanitizer reports), see $log"
        grep -E -A 30 'WARNING: ThreadSanitizer' "$log" | head -n 60 || true
        grep -E '^\[  FAILED  \]' "$log" | head -n 20 || true
    fi
    summary+=("$(printf '%-18s exit %3s  races %2s  %4ss  %s' "$name" "$status" "$races" $((t1 - t0)) "$result")")
done

finished=$(date +%s)
echo
echo "== ThreadSanitizer summary (build $((built - started)) s, total $((finished - started)) s)"
printf '%s\n' "${summary[@]}"
if ((${#failed[@]} > 0)); then
    echo "FAILED: ${failed[*]}"
    exit 1
fi
echo "all ${#programs[@]} programs clean"
