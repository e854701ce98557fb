#!/usr/bin/env bash
# The round-trip benchmark under Wine: run-round-trip-bench.sh BITS BUILD-DIR
# [DELAY-MS [BASELINE-DLL]] (after a test run of that build, whose prefix it
# uses). Starts a plain, an implicit-TLS and a STARTTLS mailbox, all offering
# PIPELINING and CHUNKING, and a delay line of DELAY-MS (25) each way before
# each. With BASELINE-DLL (a QelSmtp.dll of an earlier commit), that one is measured
# first in the same run, then the build's own.
set -euo pipefail
bits=$1 build=$(readlink -f "$2") delay=${3:-25} baseline=${4:-}
root=$(readlink -f "$(dirname "$0")/..")
prefix=$build/wineprefix
work=$(mktemp -d)
pids=()
trap 'kill "${pids[@]}" 2>/dev/null; rm -rf "$work"' EXIT
export QEL_MAILBOX_PIPELINING=1 QEL_MAILBOX_CHUNKING=1
/usr/bin/python3 "$root/tests/e2e/tls_mailbox.py" certs "$work/certs"
"$root/scripts/wine-run" "$bits" "$prefix" "$build/tests/trust_root.exe" "Z:${work//\//\\}\\certs\\ca.der"
start() { # NAME COMMAND...: its port in $work/NAME.port
    local name=$1
    shift
    "$@" >"$work/$name.port" &
    pids+=($!)
    for _ in $(seq 300); do [ -s "$work/$name.port" ] && return; sleep 0.1; done
    echo "$name did not start" >&2
    exit 1
}
start plain /usr/bin/python3 "$root/tests/e2e/mailbox.py" "$work/plain" --seconds 1800
start implicit /usr/bin/python3 "$root/tests/e2e/tls_mailbox.py" serve "$work/implicit" implicit-login "$work/certs" --seconds 1800
start starttls /usr/bin/python3 "$root/tests/e2e/tls_mailbox.py" serve "$work/starttls" submission "$work/certs" --seconds 1800
for name in plain implicit starttls; do
    start "$name-delayed" /usr/bin/python3 "$root/bench/delay_line.py" "$(cat "$work/$name.port")" "$delay"
done
port() { cat "$work/$1.port"; }
status=0
for dll in ${baseline:+"$baseline"} "$build/mailcomponent/QelSmtp.dll"; do
    echo "== $dll"
    # As the prefix's "EasyMail.SMTP", as the end-to-end tests make it.
    "$root/scripts/wine-run" "$bits" "$prefix" regsvr32 /s "$dll"
    "$root/scripts/wine-run" "$bits" "$prefix" "$build/bench/qel_round_trip_bench.exe" $((2 * delay)) \
        plain "127.0.0.1:$(port plain)" "127.0.0.1:$(port plain-delayed)" \
        "implicit TLS + AUTH" "smtps://localhost:$(port implicit)" "smtps://localhost:$(port implicit-delayed)" \
        "STARTTLS + AUTH" "starttls://localhost:$(port starttls)" "starttls://localhost:$(port starttls-delayed)" || status=$?
    for name in implicit starttls; do
        echo "$name: $(head -n 1 "$work/$name/tls"), TLS sessions resumed: $(grep -c True "$work/$name/resumed" || true) of $(wc -l <"$work/$name/resumed")"
        : >"$work/$name/resumed"
    done
done
exit $status
