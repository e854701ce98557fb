#!/usr/bin/env bash
# Runs the concurrency soak several times in a row, each run bounded so a hang
# fails instead of stalling: soak.sh BITS PREFIX SOAK_EXE
# Each run twice: long-lived apartments with GetINetStatus, then an apartment
# per round (where libraries are unloaded and reloaded under other threads).
# QEL_SOAK="RUNS THREADS ROUNDS" overrides the modest default size.
set -u
bits=$1 prefix=$2 soak=$3
read -r runs threads rounds <<<"${QEL_SOAK:-3 8 20}"
here=$(dirname "$(readlink -f "$0")")
for ((run = 1; run <= runs; run++)); do
    timeout 600 "$here/../../scripts/wine-run" "$bits" "$prefix" "$soak" "$threads" "$rounds" 1 0 &&
        timeout 600 "$here/../../scripts/wine-run" "$bits" "$prefix" "$soak" "$threads" "$rounds" 0 1
    status=$?
    if [ "$status" -ne 0 ]; then
        [ "$status" -eq 124 ] && echo "run $run hung"
        echo "FAILED: run $run of $runs (exit $status)"
        exit 1
    fi
done
echo "soak: $runs runs passed"
