#!/usr/bin/env bash
# The long fuzz run: every target with a random seed for SECONDS, or for N executions (at least
# 1,000,000 by default), on the build folder's corpus, then keeps what it found: the corpus kept
# in the repository (tests/fuzz/corpus/<target>/, minimised by libFuzzer's -merge=1) grows by
# the inputs that reach new code, from which CI's fixed runs start; the input of any fault goes
# to tests/corpus/<target>/unfixed/, to be moved up into tests/corpus/<target>/ with its fix.
# Prints each target's executions, executions per second and the coverage reached (libFuzzer's
# edge counter "cov" and feature counter "ft"). A million executions of every target take about
# an hour and a half on two cores: the load and decode targets run the decoding graph or
# libmpg123 for every input. Run it before each stop and commit what it kept.
#
#   bench/fuzz_long.sh [--runs N | SECONDS]
set -euo pipefail
script=$(dirname "$0")/../scripts/run-fuzz.sh
if (($# == 0)); then
    exec "$script" --save --runs 1000000
fi
exec "$script" --save "$@"
