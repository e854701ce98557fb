#!/usr/bin/env bash
# End to end, under Wine: run-e2e.sh BITS PREFIX BUILD-DIR
# A VBScript host sends a picture message through QelMessage and the
# project's mail component to a real SMTP server on loopback; the received
# mail is checked field by field. Then each fault the component must name.
set -u
bits=$1 prefix=$2 build=$3
here=$(dirname "$(readlink -f "$0")")
root=$(readlink -f "$here/../..")
run() { "$root/scripts/wine-run" "$bits" "$prefix" "$@"; }
windows_path() { local p; p=$(readlink -f "$1"); echo "Z:${p//\//\\}"; }
work=$(mktemp -d)
servers=()
cleanup() { for pid in "${servers[@]}"; do kill "$pid" 2>/dev/null; done; rm -rf "$work"; }
trap cleanup EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# Starts a mailbox in MODE; sets $port.
start_mailbox() {
    local mode=$1 dir=$work/$1
    mkdir -p "$dir"
    /usr/bin/python3 "$here/mailbox.py" "$dir" "$mode" --seconds 600 >"$dir.port" 2>"$dir.log" &
    servers+=($!)
    for _ in $(seq 100); do [ -s "$dir.port" ] && break; sleep 0.1; done
    port=$(head -n 1 "$dir.port")
}

# The explicit step that makes ours the "EasyMail.SMTP" of this prefix.
run regsvr32 /s "$build/mailcomponent/QelSmtp.dll" || fail "registering the mail component"

# A small JPEG: start and end markers around arbitrary bytes.
picture=$work/harbour.jpg
/usr/bin/python3 -c "import sys,os; open(sys.argv[1],'wb').write(b'\xff\xd8\xff\xe0\x00\x10JFIF\x00' + os.urandom(5000) + b'\xff\xd9')" "$picture"

start_mailbox accept
accept_port=$port
output=$(run cscript //nologo "$(windows_path "$root/samples/vbscript/SendPictureMessage.vbs")" "127.0.0.1:$port" \
    gateway@example.com "$(windows_path "$picture")" | tr -d '\r')
echo "$output" | head -n 2
grep -q '^Send result: 0$' <<<"$output" || fail "the sample did not send: $output"
sed -n '/^----- TranslatedMessage -----$/,/^----- end -----$/p' <<<"$output" | sed '1d;$d' | sed 's/$/\r/' |
    head -c -2 >"$work/translated.txt"
for _ in $(seq 50); do [ -e "$work/accept/001.eml" ] && break; sleep 0.1; done
[ "$(cat "$work/accept/001.envelope" 2>/dev/null | tr '\n' ' ')" = "dispatch@example.com gateway@example.com " ] ||
    fail "envelope: $(cat "$work/accept/001.envelope" 2>/dev/null)"
/usr/bin/python3 "$here/check_mail.py" "$work/accept/001.eml" "$work/translated.txt" "$picture" gateway@example.com \
    "Qel Dispatch" dispatch@example.com "$root/scripts/wine-run" "$bits" "$prefix" "$build/gateway/qel-gateway-read.exe" ||
    fail "the received mail"

# The C++ sample, early bound, sends the same way.
answer=$(run "$build/samples/SendPictureMessage.exe" "127.0.0.1:$accept_port" gateway@example.com "$(windows_path "$picture")" |
    tr -d '\r')
[ "$answer" = "Sent." ] || fail "the C++ sample: $answer"
for _ in $(seq 50); do [ -e "$work/accept/002.eml" ] && break; sleep 0.1; done
[ -e "$work/accept/002.eml" ] || fail "the C++ sample's mail did not arrive"

# Faults: the code each one must give, within the component's 2 s timeout.
fault() {
    local kind=$1 server=$2 expected=$3 runner=${4:-}
    local started=$SECONDS
    local answer
    answer=$($runner "$root/scripts/wine-run" "$bits" "$prefix" cscript //nologo "$(windows_path "$here/faults.vbs")" \
        "$kind" "$server" x | tr -d '\r' | head -n 1)
    local took=$((SECONDS - started))
    echo "fault $kind: $answer (${took} s)"
    [ "$answer" = "$expected" ] || fail "$kind answered '$answer', not '$expected'"
    [ "$took" -le 30 ] || fail "$kind took $took s"
}
closed_port=$(/usr/bin/python3 -c "import socket; s=socket.socket(); s.bind(('127.0.0.1',0)); print(s.getsockname()[1])")
fault closed-port "127.0.0.1:$closed_port" "code 9"
# Without a network no name can be looked up, and no query leaves the machine.
fault unknown-host "no-such-host.invalid" "code 17" "unshare -n"
start_mailbox reject-recipient
fault recipient-rejected "127.0.0.1:$port" "code 8"
start_mailbox reject-sender
fault sender-rejected "127.0.0.1:$port" "code 7"
start_mailbox silent
fault silent-server "127.0.0.1:$port" "code 27"
start_mailbox drop-in-data
fault dropped-in-data "127.0.0.1:$port" "code 16"
fault missing-attachment "127.0.0.1:$port" "code 10"
fault crlf-in-reply-name "127.0.0.1:$accept_port" "result 1"
fault crlf-in-reply-address "127.0.0.1:$accept_port" "result 1"
[ -z "$(ls "$work/accept" | grep -v -E '^00[12]')" ] || fail "a mail with CR/LF in the sender reached the server"

echo "end to end: $failures failures"
[ "$failures" -eq 0 ]
