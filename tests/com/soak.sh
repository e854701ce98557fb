#!/usr/bin/env bash
# Runs the concurrency soak several times in a row, each run bounded so a hang
# fails instead of stalling: soak.sh BITS PREFIX SOAK_EXE
# Each run twice: long-lived apartments with GetINetStatus, then an apartment
# per round (where libraries are unloaded and reloaded under other threads);
# then once 16 long-lived apartments of 100 rounds each, wide enough for a
# string left with two owners to show as a mismatch.
# QEL_SOAK="RUNS THREADS ROUNDS" overrides the modest default size.
set -u
bits=$1 prefix=$2 soak=$3
read -r runs threads rounds <<<"${QEL_SOAK:-3 8 20}"
here=$(dirname "$(readlink -f "$0")")
attempt() {
    local what=$1
    shift
    timeout 600 "$here/../../scripts/wine-run" "$bits" "$prefix" "$soak" "$@"
    local status=$?
    if [ "$status" -ne 0 ]; then
        [ "$status" -eq 124 ] && echo "$what hung"
        echo "FAILED: $what (exit $status)"
        exit 1
    fi
}
for ((run = 1; run <= runs; run++)); do
    attempt "run $run of $runs" "$threads" "$rounds" 1 0
    attempt "run $run of $runs" "$threads" "$rounds" 0 1
done
attempt "the wide run" 16 100 0 0
echo "soak: $runs runs and the wide run passed"
