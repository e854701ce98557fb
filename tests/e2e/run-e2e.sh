#!/usr/bin/env bash
# End to end, under Wine: run-e2e.sh BITS PREFIX BUILD-DIR
# A VBScript host sends a picture message through QelMessage and the
# project's mail component to a real SMTP server on loopback; the received
# mail is checked field by field. Then each fault the component must name.
set -u
source "$(dirname "$(readlink -f "$0")")/prelude.sh"

# Starts a mailbox in MODE; sets $port.
start_mailbox() {
    local mode=$1 dir=$work/$1
    mkdir -p "$dir"
    "$python" "$here/mailbox.py" "$dir" "$mode" --seconds 600 >"$dir.port" 2>"$dir.log" &
    servers+=($!)
    for _ in $(seq 100); do [ -s "$dir.port" ] && break; sleep 0.1; done
    port=$(head -n 1 "$dir.port")
}

# Starts a scripted server with OPTIONS; sets $port and $dir.
start_scripted() {
    dir=$work/scripted$((${#servers[@]}))
    mkdir -p "$dir"
    "$python" "$here/scripted_server.py" "$dir" "$@" >"$dir.port" 2>"$dir.log" &
    servers+=($!)
    for _ in $(seq 100); do [ -s "$dir.port" ] && break; sleep 0.1; done
    port=$(head -n 1 "$dir.port")
}

# The explicit step that makes ours the "EasyMail.SMTP" of this prefix.
run regsvr32 /s "$build/mailcomponent/QelSmtp.dll" || fail "registering the mail component"

picture=$work/harbour.jpg
make_jpeg "$picture" 5000

start_mailbox accept
accept_port=$port
send_sample "127.0.0.1:$port"
head -n 2 <<<"$output"
grep -q '^Send result: 0$' <<<"$output" || fail "the sample did not send: $output"
check_delivered "$work/accept/001.eml" || fail "the received mail"
[ "$(cat "$work/accept/001.envelope" 2>/dev/null | tr '\n' ' ')" = "dispatch@example.com gateway@example.com " ] ||
    fail "envelope: $(cat "$work/accept/001.envelope" 2>/dev/null)"

# The C++ sample, early bound, sends the same way.
answer=$(run "$build/samples/SendPictureMessage.exe" "127.0.0.1:$accept_port" gateway@example.com "$(windows_path "$picture")" |
    tr -d '\r')
[ "$answer" = "Sent." ] || fail "the C++ sample: $answer"
for _ in $(seq 50); do [ -e "$work/accept/002.eml" ] && break; sleep 0.1; done
[ -e "$work/accept/002.eml" ] || fail "the C++ sample's mail did not arrive"

# Faults: the code each one must give, within the component's 2 s timeout.
fault() {
    local kind=$1 server=$2 expected=$3 runner=${4:-}
    shift $(($# < 4 ? $# : 4))
    local started=$SECONDS
    local output answer
    output=$($runner "$root/scripts/wine-run" "$bits" "$prefix" cscript //nologo "$(windows_path "$here/faults.vbs")" \
        "$kind" "$server" "${picture_argument:-x}" "$@" | tr -d '\r')
    answer=$(head -n 1 <<<"$output")
    send_seconds=$(sed -n 's/^seconds //p' <<<"$output")
    local took=$((SECONDS - started))
    echo "fault $kind: $answer (Send ${send_seconds:-?} s, ${took} s in all)"
    [ "$answer" = "$expected" ] || fail "$kind answered '$answer', not '$expected'"
    [ "$took" -le 30 ] || fail "$kind took $took s"
}
# Send took at most SECONDS.
within() { awk -v s="${send_seconds:-999}" -v most="$1" 'BEGIN { exit !(s <= most) }' || fail "$2: Send took $send_seconds s, more than $1"; }
last_session() { cat "$(ls "$dir"/*.json 2>/dev/null | tail -n 1)" 2>/dev/null; }
closed_port=$("$python" -c "import socket; s=socket.socket(); s.bind(('127.0.0.1',0)); print(s.getsockname()[1])")
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

# Every step by its deadline: a server that trickles one byte a second ends
# with 27 within Timeout (2 s) + 1 s, whichever reply it trickles.
for step in greeting ehlo data-ack; do
    start_scripted --trickle "$step"
    fault "trickled-$step" "127.0.0.1:$port" "code 27"
    within 3 "trickled $step"
done
# The final reply has a wait of its own: 10 minutes unless the host asks for less...
start_scripted --trickle final
fault trickled-final-reply "127.0.0.1:$port" "code 27" "" 2 2
within 3 "trickled final reply with FinalReplyTimeout 2"
# ...so a server that accepts late, after Timeout has long passed, has accepted.
start_scripted --final-delay 5
fault late-final-reply "127.0.0.1:$port" "code 0" "" 2
# Resolution bounded: a DNS server that never answers, in a namespace of its own.
fault silent-resolver "mail.example.test:25" "code 21" "unshare -n -m bash $here/namespace.sh silent-resolver"
within 3 "silent resolver"
# A name with a refusing address (::1, tried first) and an accepting one delivers.
start_scripted
fault two-addresses "twoaddr.example.test:$port" "code 0" \
    "unshare -m bash $here/namespace.sh hosts ::1_twoaddr.example.test 127.0.0.1_twoaddr.example.test --"
# A message over the server's SIZE ends with 4 before MAIL FROM, let alone DATA.
start_scripted --size-limit 100
fault over-size-limit "127.0.0.1:$port" "code 4"
grep -q '"MAIL FROM' <<<"$(last_session)" && fail "MAIL FROM was sent for a message over the size limit"
# EHLO names the machine: its fully qualified name, or its address as a literal; Domain overrides.
fqdn=$(hostname -f 2>/dev/null || true)
[[ $fqdn == *.* ]] && expected_ehlo="EHLO $fqdn" || expected_ehlo="EHLO [127.0.0.1]"
start_scripted
fault ehlo-machine-name "127.0.0.1:$port" "code 0"
[ "$(last_session | "$python" -c 'import json,sys; print(json.load(sys.stdin)["commands"][0])')" = "$expected_ehlo" ] ||
    fail "EHLO without Domain: $(last_session)"
fault ehlo-domain "127.0.0.1:$port" "code 0" "" 2 600 gw.example.org
[ "$(last_session | "$python" -c 'import json,sys; print(json.load(sys.stdin)["commands"][0])')" = "EHLO gw.example.org" ] ||
    fail "EHLO with Domain: $(last_session)"
sessions=$(ls "$dir" | wc -l)
fault bad-domain "127.0.0.1:$port" "code 5" "" 2 600 "gw.example.org RCPT"
[ "$(ls "$dir" | wc -l)" = "$sessions" ] || fail "a Domain with a blank reached the server"
# Memory of a picture send does not grow with the picture: 24 MiB here (the
# full 200 MiB figure comes from scripts/mail-send-figures.sh), less than 16 MiB more.
big=$work/big.jpg
make_jpeg "$big" $((24 << 20))
start_scripted
measured=$(run "$build/bench/qel_mail_send_bench.exe" "127.0.0.1:$port" "$(windows_path "$big")" | tr -d '\r')
echo "24 MiB picture: $measured"
for _ in $(seq 100); do [ -n "$(last_session)" ] && break; sleep 0.1; done
[[ $measured =~ growth-kib\ (-?[0-9]+)\ result\ 0$ ]] && [ "${BASH_REMATCH[1]}" -lt 16384 ] ||
    fail "a 24 MiB picture: $measured"
[ "$(last_session | "$python" -c 'import json,sys; print(json.load(sys.stdin)["message"]["attachments"][0]["sha256"])')" = \
  "$(sha256sum "$big" | cut -d" " -f1)" ] || fail "the 24 MiB picture did not arrive intact"
# A path with NUL or a control character is refused before anything is opened.
picture_argument=$(windows_path "$picture") fault control-in-path "127.0.0.1:$port" "code 10 10 0"

echo "end to end: $failures failures"
[ "$failures" -eq 0 ]
