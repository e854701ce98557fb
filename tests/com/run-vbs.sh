#!/usr/bin/env bash
# Runs VBScript host tests with Wine's cscript: run-vbs.sh BITS PREFIX SCRIPT...
# cscript exits 0 even when a script dies on an error, so a script passes only
# when its last line is "PASS <its name>" and it quit with code 0.
set -u
bits=$1 prefix=$2
shift 2
here=$(dirname "$(readlink -f "$0")")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failed=0
for script in "$@"; do
    name=$(basename "$script" .vbs)
    cat "$here/vbs/support/Check.vbs" "$script" >"$work/$name.vbs"
    output=$("$here/../../scripts/wine-run" "$bits" "$prefix" cscript //nologo "Z:${work//\//\\}\\$name.vbs" 2>&1 | tr -d '\r')
    status=${PIPESTATUS[0]}
    echo "$output"
    if [ "$status" -ne 0 ] || [ "$(tail -n 1 <<<"$output")" != "PASS $name" ]; then
        echo "FAILED: $name (exit $status)"
        failed=1
    fi
done
exit $failed
