#!/usr/bin/env bash
# The delivery soak in one form, bounded: delivery-soak.sh BITS PREFIX SOAK_EXE FORM APARTMENTS SENDS
# FORM: data, or chunking (the server offers CHUNKING, so the message goes
# with MAIL and RCPT and their replies come after it). The faults follow
# from the seed printed first; QEL_SOAK_SEED=N replays a run. QEL_DELIVERY_SOAK
# "APARTMENTS SENDS" overrides the size.
set -u
bits=$1 prefix=$2 soak=$3 form=$4
read -r apartments sends <<<"${QEL_DELIVERY_SOAK:-$5 $6}"
here=$(dirname "$(readlink -f "$0")")
python=/usr/bin/python3
seed=${QEL_SOAK_SEED:-$((RANDOM * 32768 + RANDOM))}
work=$(mktemp -d)
server=
trap '[ -n "$server" ] && kill "$server" 2>/dev/null; rm -rf "$work"' EXIT
echo "delivery soak, $form: seed $seed (QEL_SOAK_SEED=$seed replays it), $apartments apartments of $sends sends"
options=(--soak "$seed" --seconds 600)
[ "$form" = chunking ] && options+=(--chunking)
"$python" "$here/../e2e/scripted_server.py" "$work/server" "${options[@]}" >"$work/port" 2>"$work/server.log" &
server=$!
for _ in $(seq 100); do [ -s "$work/port" ] && break; sleep 0.1; done
port=$(head -n 1 "$work/port")
[ -n "$port" ] || { echo "FAILED: the server did not start"; cat "$work/server.log"; exit 1; }
# Timeout 2 s against replies held 3 s; FinalReplyTimeout 30 s covers them.
started=$SECONDS
timeout 300 "$here/../../scripts/wine-run" "$bits" "$prefix" "$soak" "127.0.0.1:$port" "$apartments" "$sends" 2 30 30 \
    >"$work/results" 2>"$work/driver.log"
status=$?
echo "sends took $((SECONDS - started)) s"
[ "$status" -eq 124 ] && echo "FAILED: the sends hung"
[ "$status" -ne 0 ] && { echo "FAILED: the driver exited $status"; cat "$work/driver.log"; }
sleep 4 # a message held past the client's Timeout is kept 3 s after it came
"$python" "$here/delivery_soak_check.py" "$work/results" "$work/server" $((apartments * sends)) || status=1
[ -s "$work/server.log" ] && { echo "server errors:"; cat "$work/server.log"; status=1; }
[ "$status" -eq 0 ] || { echo "FAILED (seed $seed)"; exit 1; }
echo "delivery soak, $form: passed"
