#!/usr/bin/env bash
# The TLS benchmark under Wine: run-tls-bench.sh BITS BUILD-DIR (after a test
# run of that build, whose prefix trusts the test CA and has the servers
# registered). Starts a plain and a STARTTLS server on loopback.
set -euo pipefail
bits=$1 build=$(readlink -f "$2")
root=$(readlink -f "$(dirname "$0")/..")
prefix=$build/wineprefix
work=$(mktemp -d)
pids=()
trap 'kill "${pids[@]}" 2>/dev/null; rm -rf "$work"' EXIT
/usr/bin/python3 "$root/tests/e2e/tls_mailbox.py" certs "$work/certs"
"$root/scripts/wine-run" "$bits" "$prefix" "$build/tests/trust_root.exe" "Z:${work//\//\\}\\certs\\ca.der"
/usr/bin/python3 "$root/tests/e2e/mailbox.py" "$work/plain" --seconds 1800 >"$work/plain.port" &
pids+=($!)
/usr/bin/python3 "$root/tests/e2e/tls_mailbox.py" serve "$work/tls" open-starttls "$work/certs" --seconds 1800 >"$work/tls.port" &
pids+=($!)
for _ in $(seq 300); do [ -s "$work/plain.port" ] && [ -s "$work/tls.port" ] && break; sleep 0.1; done
head -c $((10 * 1024 * 1024)) /dev/urandom >"$work/attachment.bin"
# The mailboxes keep every message; the 200 small ones are all that pile up.
"$root/scripts/wine-run" "$bits" "$prefix" "$build/bench/qel_tls_bench.exe" "127.0.0.1:$(cat "$work/plain.port")" \
    "starttls://localhost:$(cat "$work/tls.port")" "Z:${work//\//\\}\\attachment.bin"
