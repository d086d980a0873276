#!/usr/bin/env bash
# Fuzzes every reader of untrusted files: configures and builds the libFuzzer programs (clang,
# -DCHM_FUZZ=ON, in a build folder of their own), makes their seeds, replays every input saved
# under tests/corpus/<target>/, then runs each target. Exits non-zero when any target crashed,
# hung, leaked or broke one of its checks; what it found is kept under
# <build>/fuzz/artifacts/<target>/ (copy it into tests/corpus/<target>/ with the fix).
#
#   scripts/run-fuzz.sh --ci           CI: each target from the seeds and the corpus kept in the
#                                      repository (tests/fuzz/corpus/<target>/), with a fixed
#                                      seed and its fixed number of executions (below), in a
#                                      copy: the same inputs run on every machine, and the
#                                      repository is left as it was
#   scripts/run-fuzz.sh SECONDS        each target for SECONDS with a random seed, on the build
#   scripts/run-fuzz.sh --runs N       folder's own growing corpus (started from the kept one)
#   ... --save SECONDS | --save --runs N
#                                      the same, then keeps what was found (bench/fuzz_long.sh):
#                                      the kept corpus becomes the smallest set of inputs that
#                                      reaches all the coverage found so far beyond the seeds
#                                      (libFuzzer -merge=1), and the input of every fault goes
#                                      to tests/corpus/<target>/unfixed/ to wait for its fix
#
# CHM_FUZZ_BUILD names the build folder (default build-fuzz); CHM_FUZZ_TARGETS limits the run
# to some targets ("wav_probe mp3_info").
set -euo pipefail
cd "$(dirname "$0")/.."
source_dir=$(pwd)

# The executions of each target in CI: about 30 s each on a busy two-core machine, so that the
# eight together take about as long as the 7 x 30 s of the timed runs they replaced (the load
# and decode targets run a decoding graph or libmpg123 per input; the tag target writes each
# input under five names). With the seed fixed, a red run is red again on any machine with the
# same tree.
declare -A ci_runs=(
    [wav_probe]=45000 [wav_chunks]=11000 [load_wav]=1400 [wma_probe]=27000
    [mp3_info]=18000 [mp3_decode]=7000 [settings_load]=75000 [format_tags]=12000
)
ci_seed=1

usage() {
    echo "usage: $0 --ci | SECONDS | --runs N" >&2
    exit 2
}
mode=random
save=0
if [[ ${1:-} == --save ]]; then
    save=1
    shift
fi
limit=()
case "${1:-}" in
    --ci) ((save == 0)) || usage; mode=ci; what="fixed executions, seed $ci_seed" ;;
    --runs) [[ "${2:-}" =~ ^[0-9]+$ ]] || usage; limit=(-runs="$2"); what="$2 executions" ;;
    *) [[ "${1:-}" =~ ^[0-9]+$ ]] || usage; limit=(-max_total_time="$1"); what="$1 s" ;;
esac

build=${CHM_FUZZ_BUILD:-$source_dir/build-fuzz}
targets=(${CHM_FUZZ_TARGETS:-wav_probe wav_chunks load_wav wma_probe mp3_info mp3_decode settings_load format_tags})
kept=$source_dir/tests/fuzz/corpus
started=$(date +%s)

echo "== configure and build the fuzz programs in $build"
cmake -S "$source_dir" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DCHM_FUZZ=ON -DCHM_BUILD_BENCH=OFF -DCHM_HARDENING=OFF >/dev/null
cmake --build "$build" -j 2 --target fuzz_programs
built=$(date +%s)

state=$build/fuzz
mkdir -p "$state"
echo "== seeds"
"$source_dir/scripts/make-fuzz-seeds.sh" "$state/seeds"

# The inputs are written as files for every execution: a memory file system keeps that from
# being the bottleneck. The folder goes at the end, whatever happened.
if [[ -d /dev/shm && -w /dev/shm ]]; then
    scratch=$(mktemp -d /dev/shm/chm-fuzz-run-XXXXXX)
else
    mkdir -p "$state/tmp"
    scratch=$(mktemp -d "$state/tmp/run-XXXXXX")
fi
trap 'rm -rf "$scratch"' EXIT
export TMPDIR=$scratch
# GLib's library constructor allocates once and never frees; nothing else is excused.
export LSAN_OPTIONS=suppressions=$source_dir/tests/fuzz/lsan.supp:print_suppressions=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

dictionary() {
    case "$1" in
        wav_probe | wav_chunks | load_wav) echo "-dict=$source_dir/tests/fuzz/wav.dict" ;;
        wma_probe) echo "-dict=$source_dir/tests/fuzz/asf.dict" ;;
        settings_load) echo "-dict=$source_dir/tests/fuzz/settings.dict" ;;
        format_tags) echo "-dict=$source_dir/tests/fuzz/formats.dict" ;;
    esac
}

# The kept corpus of a target made afresh: the seeds go first into the merge, so that only
# inputs reaching something the seeds do not are chosen, and the seeds themselves stay out (every
# run makes them anew). The inputs of this run's faults are copied to wait for their fix.
keep_findings() {
    local target=$1 program=$2 corpus=$3 artifacts=$4
    local merged=$scratch/merged-$target
    rm -rf "$merged"
    mkdir -p "$merged" "$kept/$target"
    cp "$state/seeds/$target"/* "$merged/"
    # shellcheck disable=SC2046
    if ! "$program" -merge=1 -timeout=20 -rss_limit_mb=2560 -max_len=8192 $(dictionary "$target") \
        "$merged" "$kept/$target" "$corpus" >"$state/logs/$target.merge.log" 2>&1; then
        echo "   the merge failed, the kept corpus stays as it was; see $state/logs/$target.merge.log"
    else
        for seed in "$state/seeds/$target"/*; do rm -f "$merged/$(basename "$seed")"; done
        rm -rf "${kept:?}/$target"
        mv "$merged" "$kept/$target"
    fi
    local found
    found=$(find "$artifacts" -maxdepth 1 -type f -newer "$scratch/started-$target" ! -name 'slow-unit-*')
    if [[ -n $found ]]; then
        mkdir -p "tests/corpus/$target/unfixed"
        cp $found "tests/corpus/$target/unfixed/"
        echo "   kept for its fix in tests/corpus/$target/unfixed/: $(basename -a $found | tr '\n' ' ')"
    fi
}

# Addresses change from run to run and reach the mutations through the values the targets
# compare: CI runs the targets without address randomisation (and without libFuzzer's timed
# rereading of its corpus), so that the same seed makes the same inputs, as far as the threads
# of the decoding graph allow.
same_addresses=()
if [[ $mode == ci ]]; then
    if setarch "$(uname -m)" -R true 2>/dev/null; then
        same_addresses=(setarch "$(uname -m)" -R)
    else
        echo "== address randomisation cannot be switched off here: runs may differ from machine to machine"
    fi
fi

failed=()
summary=()
for target in "${targets[@]}"; do
    program=$build/tests/fuzz/fuzz_$target
    artifacts=$state/artifacts/$target
    log=$state/logs/$target.log
    mkdir -p "$artifacts" "$(dirname "$log")"
    # Inputs of faults still waiting for their fix stay in unfixed/, outside the replay.
    echo "== $target: saved inputs"
    saved=()
    if [[ -d tests/corpus/$target ]]; then
        while IFS= read -r -d '' file; do saved+=("$file"); done < <(find "tests/corpus/$target" -maxdepth 1 -type f -print0 | sort -z)
    fi
    if ((${#saved[@]} > 0)); then
        if ! "$program" -timeout=60 "${saved[@]}" >"$log.replay" 2>&1; then
            echo "   a saved input fails again:"; tail -n 30 "$log.replay"
            failed+=("$target (saved input)")
            summary+=("$(printf '%-14s %s' "$target" 'a saved input of tests/corpus fails again')")
            continue
        fi
    fi
    # libFuzzer adds what it finds to the first folder: in CI a fresh copy of the kept corpus,
    # otherwise the build folder's corpus, which keeps growing from run to run.
    if [[ $mode == ci ]]; then
        corpus=$scratch/corpus-$target
        rm -rf "$corpus"
        mkdir -p "$corpus"
        # Nothing else writes into the copy: rereading it on a clock would only let timing in.
        limit=(-runs="${ci_runs[$target]}" -seed="$ci_seed" -reload=0)
        echo "   ${#saved[@]} replayed; fuzzing for ${ci_runs[$target]} executions, seed $ci_seed"
    else
        corpus=$state/corpus/$target
        mkdir -p "$corpus"
        echo "   ${#saved[@]} replayed; fuzzing for $what"
    fi
    [[ -d $kept/$target ]] && find "$kept/$target" -maxdepth 1 -type f -exec cp -n -t "$corpus" {} +
    t0=$(date +%s)
    touch "$scratch/started-$target"
    status=0
    # shellcheck disable=SC2046
    "${same_addresses[@]}" "$program" "${limit[@]}" -timeout=20 -rss_limit_mb=2560 -max_len=8192 -print_final_stats=1 \
        -artifact_prefix="$artifacts/" $(dictionary "$target") "$corpus" "$state/seeds/$target" >"$log" 2>&1 || status=$?
    t1=$(date +%s)
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
    speed=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -n 1)
    coverage=$(grep -Eo 'cov: [0-9]+ ft: [0-9]+' "$log" | tail -n 1 || true)
    units=$(find "$corpus" -type f | wc -l)
    line=$(printf '%-14s %10s runs %7s/s  %-20s corpus %5s  %4ss' "$target" "${runs:-?}" "${speed:-?}" \
        "${coverage:-cov: ?}" "$units" $((t1 - t0)))
    if ((status != 0)); then
        echo "   FAILED (exit $status):"
        grep -E 'ERROR|SUMMARY|fuzz target failure|Test unit written|deadly signal|timeout' "$log" | head -n 20 || true
        failed+=("$target")
        line+="  FAILED, see $log"
    fi
    if ((save)); then
        keep_findings "$target" "$program" "$corpus" "$artifacts"
        line+="  kept $(find "$kept/$target" -type f | wc -l)"
    fi
    summary+=("$line")
done

finished=$(date +%s)
echo
echo "== fuzz summary ($what per target; build $((built - started)) s, total $((finished - started)) s)"
printf '%s\n' "${summary[@]}"
if ((${#failed[@]} > 0)); then
    echo "FAILED: ${failed[*]}; inputs kept under $state/artifacts/"
    exit 1
fi
echo "all ${#targets[@]} targets clean"
