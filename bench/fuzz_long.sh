#!/usr/bin/env bash
# The long fuzz run: every target for at least 1,000,000 executions (or RUNS), on the corpus
# that the CI runs of scripts/run-fuzz.sh have grown in the same build folder. Prints each
# target's executions, executions per second and the coverage reached (libFuzzer's edge
# counter "cov" and feature counter "ft"). Takes about an hour and a half on two cores: the
# load and decode targets run the decoding graph or libmpg123 for every input.
#
#   bench/fuzz_long.sh [RUNS]
set -euo pipefail
runs=${1:-1000000}
exec "$(dirname "$0")/../scripts/run-fuzz.sh" --runs "$runs"
