#!/usr/bin/env bash
# A real Postfix end to end, under Wine: run-postfix-e2e.sh BITS PREFIX BUILD-DIR
# Debian's Postfix, an instance of this test's own (configuration, queue, log,
# sasldb and Maildir under its directory; the machine's /etc/postfix is only
# read), takes the sample's mail plain, over STARTTLS with AUTH PLAIN and
# LOGIN and over implicit TLS, with a non-ASCII password from the Credential
# Manager; refuses a wrong password; and, behind a before-queue filter that
# holds the end of data longer than the component's step Timeout, takes one
# mail by BDAT and one by DATA. Every copy delivered is counted and checked.
set -u
source "$(dirname "$(readlink -f "$0")")/prelude.sh"

plain=10025 slow=10026 filter=10030 after_filter=10031 implicit=10465 submission=10587 submission_login=10588
hold=8
pf=$work/postfix
master=/usr/lib/postfix/sbin/master
credential() { run "$build/mailcomponent/qel-smtp-credential.exe" "$@"; }
stop_postfix() {
    local pid
    pid=$(tr -d ' ' <"$pf/queue/pid/master.pid" 2>/dev/null) || return
    kill "$pid" 2>/dev/null
    for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
}
trap 'for port in $submission $submission_login $implicit; do credential remove "localhost:$port" >/dev/null 2>&1; done
      stop_postfix; stop_servers' EXIT

[ -x "$master" ] && command -v saslpasswd2 >/dev/null || { echo "FAIL: Postfix or saslpasswd2 missing: run scripts/setup.sh"; exit 1; }
[ "$(id -u)" = 0 ] || { echo "FAIL: Postfix's master must start as root"; exit 1; }

"$python" "$here/tls_mailbox.py" certs "$work/certs" || fail "making the certificates"
run "$build/tests/trust_root.exe" "$(windows_path "$work/certs/ca.der")" || fail "trusting the test CA in the prefix"
run regsvr32 /s "$build/mailcomponent/QelSmtp.dll" || fail "registering the mail component"
picture=$work/harbour.jpg
make_jpeg "$picture" 5000
password="Grüße aus Zürich"

# The postfix user delivers below $work and reads the sasldb there.
chmod 711 "$work"
mkdir -p "$pf/etc/sasl" "$pf/queue"
for dir in active bounce corrupt defer deferred flush hold incoming private saved trace; do
    install -d -o postfix -m 700 "$pf/queue/$dir"
done
install -d -m 755 "$pf/queue/pid"
install -d -o postfix -g postdrop -m 710 "$pf/queue/public"
install -d -o postfix -g postdrop -m 730 "$pf/queue/maildrop"
install -d -o postfix "$pf/data" "$pf/mail"
printf '%s' "$password" | saslpasswd2 -p -f "$pf/sasldb2" -c -u example.com dispatch || fail "saslpasswd2"
chgrp postfix "$pf/sasldb2" && chmod 640 "$pf/sasldb2"
# Debian's smtpd reads $config_directory/sasl/<smtpd_sasl_path>.conf: one
# mechanism per port, since the component takes PLAIN where both are offered.
for mechanism in PLAIN LOGIN; do
    printf 'pwcheck_method: auxprop\nauxprop_plugin: sasldb\nsasldb_path: %s\nmech_list: %s\n' \
        "$pf/sasldb2" "$mechanism" >"$pf/etc/sasl/qel-${mechanism,,}.conf"
done
cat >"$pf/etc/main.cf" <<EOF
compatibility_level = 3.6
queue_directory = $pf/queue
data_directory = $pf/data
maillog_file = $pf/maillog
maillog_file_prefixes = $pf
myhostname = postfix.test
inet_protocols = ipv4
mydestination =
local_recipient_maps =
alias_maps =
alias_database =
# No "missing" header is added for loopback clients: what arrives is ours.
local_header_rewrite_clients =
virtual_mailbox_domains = example.com
virtual_mailbox_base = $pf/mail
virtual_mailbox_maps = static:gateway/
virtual_uid_maps = static:$(id -u postfix)
virtual_gid_maps = static:$(id -g postfix)
smtpd_tls_cert_file = $work/certs/localhost.pem
smtpd_tls_key_file = $work/certs/localhost.key
smtpd_tls_received_header = yes
smtpd_sasl_path = qel-plain
EOF
authenticated="-o smtpd_sasl_auth_enable=yes -o smtpd_recipient_restrictions=permit_sasl_authenticated,reject"
cat >"$pf/etc/master.cf" <<EOF
127.0.0.1:$plain inet n - n - - smtpd
127.0.0.1:$submission inet n - n - - smtpd -o smtpd_tls_security_level=encrypt $authenticated
127.0.0.1:$submission_login inet n - n - - smtpd -o smtpd_tls_security_level=encrypt $authenticated
  -o smtpd_sasl_path=qel-login
127.0.0.1:$implicit inet n - n - - smtpd -o smtpd_tls_wrappermode=yes $authenticated
127.0.0.1:$slow inet n - n - - smtpd -o smtpd_proxy_filter=127.0.0.1:$filter
127.0.0.1:$after_filter inet n - n - - smtpd
cleanup unix n - n - 0 cleanup
qmgr unix n - n 300 1 qmgr
tlsmgr unix - - n 1000? 1 tlsmgr
rewrite unix - - n - - trivial-rewrite
bounce unix - - n - 0 bounce
defer unix - - n - 0 bounce
trace unix - - n - 0 bounce
verify unix - - n - 1 verify
flush unix n - n 1000? 0 flush
proxymap unix - - n - - proxymap
proxywrite unix - - n - 1 proxymap
showq unix n - n - - showq
error unix - - n - - error
retry unix - - n - - error
discard unix - - n - - discard
virtual unix - n n - - virtual
anvil unix - - n - 1 anvil
scache unix - - n - 1 scache
postlog unix-dgram n - n - 1 postlogd
EOF
touch "$pf/maillog"
# Started as master itself: "postfix -c" would want the directory listed in /etc/postfix/main.cf.
# -e: it ends by itself should this script be killed before its trap.
"$master" -c "$pf/etc" -w -e 600 || { cat "$pf/maillog"; fail "Postfix did not start"; exit 1; }
"$python" "$here/slow_filter.py" $filter $after_filter $hold "$work/filter.log" --seconds 600 2>"$work/filter.err" &
servers+=($!)

# The log since the case began; settle waits until its sessions have ended and the queue is empty.
mark() { mark=$(wc -l <"$pf/maillog") failed_before=$failures; }
case_log() { tail -n +"$((mark + 1))" "$pf/maillog"; }
settle() {
    local log
    for _ in $(seq 300); do
        log=$(case_log)
        if grep -q ': connect from' <<<"$log" &&
           [ "$(grep -c ': connect from' <<<"$log")" = "$(grep -c ': disconnect from' <<<"$log")" ] &&
           [ -z "$(find "$pf/queue/"{incoming,active,deferred,hold,maildrop} -type f)" ]; then
            return
        fi
        sleep 0.1
    done
    fail "$name: Postfix still busy after 30 s"
}
# After the case's send: moves what was delivered to $work/NAME, sets $copies and $eml.
delivered() {
    settle
    mkdir -p "$work/$name"
    find "$pf/mail/gateway/new" -type f -exec mv -t "$work/$name" {} + 2>/dev/null
    copies=$(find "$work/$name" -type f | wc -l)
    eml=$(find "$work/$name" -type f | head -n 1)
}
# The case's outcome; prints its log when it failed.
verdict() {
    [ "$copies" = "$1" ] || fail "$name: $copies copies delivered, not $1"
    echo "$name: $2; $copies delivered; Postfix: $(case_log | grep -o 'disconnect from .*' | sed 's/.*\] //' | paste -sd'|')"
    [ "$failures" = "$failed_before" ] || { echo "--- Postfix's log of $name:"; case_log; }
}
# sample NAME SERVER [MECHANISM]: the VBScript sample through the Renderer.
sample() {
    name=$1
    mark
    send_sample "$2"
    delivered
    grep -q '^Send result: 0$' <<<"$output" || fail "$name: $(grep -E 'result|ErrorText' <<<"$output")"
    if [ "$copies" -ge 1 ]; then
        check_delivered "$eml" --received-by postfix.test >"$work/$name.check" || { cat "$work/$name.check"; fail "$name: the mail"; }
    fi
    if [ -n "${3:-}" ]; then
        grep -q "client=localhost\[127.0.0.1\], sasl_method=$3, sasl_username=dispatch@example.com$" <<<"$(case_log)" ||
            fail "$name: Postfix saw no AUTH $3 of dispatch@example.com"
        grep -q 'using TLS' "$eml" 2>/dev/null || fail "$name: Postfix's Received names no TLS"
    fi
    verdict 1 "$(grep '^Send result' <<<"$output"), $(grep -m1 '^Received:' "$work/$name.check" 2>/dev/null | grep -oE 'using TLSv[0-9.]+|with E?SMTP[A-Z]*' | paste -sd' ')"
}

sample plain "127.0.0.1:$plain"
# The administrator's step for each port, the password piped in.
store() { printf '%s\n' "$password" | credential store "localhost:$1" dispatch@example.com >/dev/null || fail "storing for $1"; }
store $submission
sample starttls-plain "starttls://localhost:$submission" PLAIN
store $submission_login
sample starttls-login "starttls://localhost:$submission_login" LOGIN
store $implicit
sample implicit-tls "smtps://localhost:$implicit" PLAIN

# The tool's test of a setup, through Send's own account choice and dialogue:
# tool_test NAME CODE SERVER PATTERN...; never a secret in what it prints.
tool_test() {
    local name=$1 code=$2 server=$3 status output pattern
    shift 3
    credential test "$server" >"$work/tool-$name.out" 2>&1
    status=$?
    output=$(tr -d '\r' <"$work/tool-$name.out")
    echo "test $name: exit $status; $(tail -n 1 <<<"$output" | sed 's/^ *+[0-9]* ms  //')"
    [ "$status" = "$code" ] || fail "test $name: exit $status, not $code"
    for pattern in "$@"; do
        grep -qE -- "$pattern" <<<"$output" || fail "test $name: the output does not say /$pattern/"
    done
    grep -qF -e "$password" -e "$(printf '\0dispatch@example.com\0%s' "$password" | base64 -w0)" <<<"$output" &&
        fail "test $name: the output holds the password or the AUTH payload"
}
tool_test submission 0 "starttls://localhost:$submission" 'connected to \[(127\.0\.0\.1|::1)\]:' 'S: 220 ' 'S: 250-PIPELINING' \
    'TLS: TLS 1\.[23], .*certificate of "localhost"' 'account: stored password' 'C: AUTH PLAIN \[hidden\]' 'S: 235 2\.7\.0' 'result 0'
credential store "localhost:$submission" dispatch@example.com "wrong horse" >/dev/null || fail "storing the wrong password"
tool_test wrong-password 24 "starttls://localhost:$submission" 'S: 535 5\.7\.8' 'result 24'
store $submission

name=wrong-password
mark
answer=$(run cscript //nologo "$(windows_path "$here/tls_faults.vbs")" "starttls://localhost:$submission" \
    dispatch@example.com "wrong horse" | tr -d '\r')
delivered
grep -qx 'code 24' <<<"$answer" || fail "$name: not code 24 ($answer)"
grep -q 'SASL PLAIN authentication failed' <<<"$(case_log)" || fail "$name: Postfix saw no failed AUTH PLAIN"
verdict 0 "$(paste -sd' ' <<<"$answer")"

slow_mail='
import email, email.policy, sys
m = email.message_from_binary_file(open(sys.argv[1], "rb"), policy=email.policy.default)
got = (m["Subject"], str(m["From"]), str(m["To"]), m.get_body().get_content().strip())
want = ("slow filter case", "Dispatch <dispatch@example.com>", "Gateway <gateway@example.com>", "held at its end of data")
sys.exit(got != want and print("got", got) or 0)'
# The filter holds the end of data $hold s; each step may take 4 s, the final reply 60.
# slow NAME PIPELINING COMMAND: COMMAND (bdat or data) is how the message went.
slow() {
    name=$1
    local began=$SECONDS
    mark
    answer=$(run cscript //nologo "$(windows_path "$here/slow_send.vbs")" "127.0.0.1:$slow" "$2" 4 60 | tr -d '\r')
    local took=$((SECONDS - began))
    delivered
    grep -qx done <<<"$answer" || fail "$name: the script did not finish ($answer)"
    grep -qx 'code 0' <<<"$answer" || fail "$name: $(grep -E '^(code|detail)' <<<"$answer" | paste -sd' ')"
    grep -q "disconnect from .* $3=1" <<<"$(case_log)" || fail "$name: the message did not go by ${3^^}"
    "$python" -c "$slow_mail" "$eml" || fail "$name: the mail delivered is not the one sent"
    verdict 1 "$(grep -E '^(code|detail)' <<<"$answer" | paste -sd' '), the script ${took} s"
}
slow slow-filter-bdat true bdat
slow slow-filter-data false data
grep -c held "$work/filter.log" 2>/dev/null | grep -qx 2 || fail "the filter held $(grep -c held "$work/filter.log") ends of data, not 2"

echo "Postfix end to end: $failures failures"
[ "$failures" -eq 0 ]
