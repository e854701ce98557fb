#!/usr/bin/env bash
# Time and host memory of one picture message per picture size, for one
# build or two (before and after a change) in the same run:
#   scripts/mail-send-figures.sh BITS BUILD-DIR [BEFORE-BUILD-DIR] -- SIZE-MIB...
# Each build gets a prefix of its own (BUILD-DIR/wineprefix-figures) with its
# QelMessage.dll and QelSmtp.dll registered; BUILD-DIR's qel_mail_send_bench
# drives both. A scripted loopback server takes each message and checks that
# the picture arrived intact (SHA-256 of the decoded attachment).
set -euo pipefail
root=$(readlink -f "$(dirname "$0")/..")
bits=$1
shift
builds=()
while [ "$1" != -- ]; do builds+=("$(readlink -f "$1")"); shift; done
shift
sizes=("$@")
bench=${builds[0]}/bench/qel_mail_send_bench.exe
work=$(mktemp -d)
server=
cleanup() {
    [ -z "$server" ] || kill "$server" 2>/dev/null || true
    for build in "${builds[@]}"; do WINEPREFIX=$build/wineprefix-figures /usr/lib/wine/wineserver -k 2>/dev/null || true; done
    rm -rf "$work"
}
trap cleanup EXIT
windows_path() { local p; p=$(readlink -f "$1"); echo "Z:${p//\//\\}"; }

/usr/bin/python3 "$root/tests/e2e/scripted_server.py" "$work/received" >"$work/port" 2>"$work/server.log" &
server=$!
for _ in $(seq 100); do [ -s "$work/port" ] && break; sleep 0.1; done
port=$(head -n 1 "$work/port")

for size in "${sizes[@]}"; do
    /usr/bin/python3 -c "
import os, sys
with open(sys.argv[1], 'wb') as f:
    f.write(b'\xff\xd8\xff\xe0\x00\x10JFIF\x00')
    left = int(sys.argv[2]) * 1024 * 1024 - 13
    while left > 0:
        n = min(left, 1 << 20); f.write(os.urandom(n)); left -= n
    f.write(b'\xff\xd9')" "$work/picture-$size.jpg" "$size"
done

sessions=0
for build in "${builds[@]}"; do
    prefix=$build/wineprefix-figures
    run() { "$root/scripts/wine-run" "$bits" "$prefix" "$@"; }
    [ -f "$prefix/system.reg" ] || run wineboot -i >/dev/null 2>&1
    run regsvr32 /s "$build/message/QelMessage.dll"
    run regsvr32 /s "$build/mailcomponent/QelSmtp.dll"
    for size in "${sizes[@]}"; do
        picture=$work/picture-$size.jpg
        line=$(run "$bench" "127.0.0.1:$port" "$(windows_path "$picture")" | tr -d '\r' || true)
        sessions=$((sessions + 1))
        record=$work/received/$(printf %03d $sessions).json
        for _ in $(seq 100); do [ -e "$record" ] && break; sleep 0.1; done
        intact=$(/usr/bin/python3 -c "
import hashlib, json, sys
message = json.load(open(sys.argv[1])).get('message', {})
found = [a for a in message.get('attachments', []) if a['sha256'] == hashlib.sha256(open(sys.argv[2], 'rb').read()).hexdigest()]
print('intact' if found else 'NOT-INTACT')" "$record" "$picture" 2>/dev/null || echo NOT-RECEIVED)
        echo "${build#"$root"/} ${size} MiB: $line $intact"
    done
done
