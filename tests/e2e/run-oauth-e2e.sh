#!/usr/bin/env bash
# OAuth 2.0 end to end, under Wine: run-oauth-e2e.sh BITS PREFIX BUILD-DIR
# A mail service on localhost:587 that takes only XOAUTH2 after STARTTLS, and
# an identity service on loopback HTTPS (oauth_services.py). The administrator
# stores an account with qel-smtp-credential; a Renderer host then sets only
# its own members and its picture message is delivered and checked field by
# field: (a) an app's client credentials, (b) a mailbox's refresh token,
# signed in through the device flow and through a loopback redirect. Then
# each refusal with its code, its detail, and what each service saw.
set -u
source "$(dirname "$(readlink -f "$0")")/prelude.sh"
tool=$build/mailcomponent/qel-smtp-credential.exe
# Submission's own port, as a host would name it; QEL_SUBMISSION_PORT moves it where 587 is taken.
port=${QEL_SUBMISSION_PORT:-587}
submission=localhost:587
[ "$port" = 587 ] || submission=starttls://localhost:$port
trap 'run "$tool" remove "$submission" >/dev/null 2>&1; stop_servers' EXIT

# Starts the services (options for oauth_services.py follow NAME); sets $smtp, $endpoint, $dir.
start() {
    local name=$1
    shift
    dir=$work/$name
    "$python" "$here/oauth_services.py" "$dir" "$work/certs" --seconds 900 "$@" >"$dir.ports" 2>"$dir.err" &
    servers+=($!)
    for _ in $(seq 300); do [ "$(cat "$dir.ports" 2>/dev/null | wc -l)" -ge 2 ] && break; sleep 0.1; done
    smtp=$(sed -n 1p "$dir.ports")
    endpoint=https://localhost:$(sed -n 2p "$dir.ports")
    [ -n "$smtp" ] || fail "$name did not start: $(cat "$dir.err")"
}
stop_last() { kill "${servers[-1]}" 2>/dev/null; wait "${servers[-1]}" 2>/dev/null; }
verbs() { awk '{print tolower($1)}' "$1" 2>/dev/null | grep -v '^quit$' | paste -sd' '; }
count() { grep -c "$1" "$dir/requests.log"; }
# Sends COUNT mails from one host process through SERVER; sets $output.
sends() { output=$(run cscript //nologo "$(windows_path "$here/oauth_sends.vbs")" "$@" | tr -d '\r'); }
app() { echo app-secret | run "$tool" oauth-app "$1" dispatch@example.com qel-app --token-endpoint "$2" --scope s >/dev/null; }

"$python" "$here/tls_mailbox.py" certs "$work/certs" || fail "making the certificates"
run "$build/tests/trust_root.exe" "$(windows_path "$work/certs/ca.der")" || fail "trusting the test CA in the prefix"
run regsvr32 /s "$build/mailcomponent/QelSmtp.dll" || fail "registering the mail component"
picture=$work/harbour.jpg
make_jpeg "$picture" 5000

deliver() { # through the Renderer, as the sample does; MailServer is all it sets
    send_sample "$submission"
    grep -q '^Send result: 0$' <<<"$output" || { fail "$1: $(grep -E 'result|ErrorText' <<<"$output")"; return; }
    check_delivered "$dir/$2.eml" >"$dir/$2.check" || { cat "$dir/$2.check"; fail "$1: the received mail"; }
}

# (a) An app's own account: the client credentials grant.
start app --smtp-port "$port"
echo app-secret | run "$tool" oauth-app "$submission" dispatch@example.com qel-app --token-endpoint "$endpoint/token" \
    --scope https://outlook.office365.com/.default | tr -d '\r' || fail "storing the app account"
shown=$(run "$tool" show "$submission" | tr -d '\r')
grep -q 'client credentials grant, client qel-app with a secret' <<<"$shown" && ! grep -q 'app-secret' <<<"$shown" ||
    fail "show: $shown"
deliver "client credentials" 001
sends "$submission" 2
[ "$(grep -c '^code 0$' <<<"$output")" = 2 ] || fail "two sends in one process: $output"
[ "$(count 'token client_credentials')" = 2 ] || fail "expected one token for the sample and one for two sends: $(cat "$dir/requests.log")"
echo "client credentials: delivered and checked; two sends in one process, one token; a send that fetches" \
     "$(sed -n 's/^seconds //p' <<<"$output" | paste -sd' ' | sed 's/ / s, one with the kept token /') s"
# The tool's test names the account and shows the dialogue, never the secret or the token.
run "$tool" test "$submission" >"$work/tool-test.out" 2>&1
status=$?
tested=$(tr -d '\r' <"$work/tool-test.out")
[ "$status" = 0 ] || fail "test: exit $status: $tested"
for told in "account: stored OAuth account QelSmtp/localhost:$port/oauth, mailbox dispatch@example.com, grant client credentials" \
    "token endpoint $endpoint/token, scope https://outlook.office365.com/.default" 'token: a new access token from .*, valid for [0-9]+ s' \
    'C: AUTH XOAUTH2 \[hidden\]' 'S: 235' \
    'result 0'; do
    grep -qE -- "$told" <<<"$tested" || fail "test: the output does not say /$told/"
done
grep -qE 'app-secret|at-[0-9]|xxxxxxxx' <<<"$tested" && fail "test: the output holds a secret or a token"
echo "test: $(tail -n 1 <<<"$tested" | sed 's/^ *+[0-9]* ms  //')"
run "$tool" remove "$submission" >/dev/null || fail "removing the app account"
stop_last

# (b) A mailbox's own account: signed in once through the device flow, then refresh tokens, rotated on every use.
start user --smtp-port "$port"
signin=$(run "$tool" oauth-user "$submission" dispatch@example.com qel-user --token-endpoint "$endpoint/token" \
    --device-endpoint "$endpoint/devicecode" --scope "https://outlook.office.com/SMTP.Send offline_access" | tr -d '\r')
grep -q 'enter the code QELT-EST1' <<<"$signin" || fail "the device flow: $signin"
[ "$(count 'token device_code')" = 3 ] || fail "the device flow polled: $(cat "$dir/requests.log")"
deliver "refresh token" 001
deliver "refresh token, rotated" 002
grep -q 'token refresh_token rt-1$' "$dir/requests.log" && grep -q 'token refresh_token rt-2$' "$dir/requests.log" ||
    fail "the second send did not use the rotated refresh token: $(cat "$dir/requests.log")"
echo "device flow: stored after 3 polls; two sends delivered and checked, the second with the rotated refresh token"

# The loopback redirect: the test plays the browser the tool would open. A
# silent connection, a request with another state and one without any come
# first; each stray one gets a 400 and the tool waits on for its own.
run "$tool" remove "$submission" >/dev/null
run "$tool" oauth-user "$submission" dispatch@example.com qel-user --token-endpoint "$endpoint/token" \
    --authorize-endpoint "$endpoint/authorize" --scope https://mail.google.com/ --no-browser --wait 60 \
    >"$work/loopback.out" 2>&1 &
signing=$!
for _ in $(seq 300); do grep -q '^https://' "$work/loopback.out" && break; sleep 0.1; done
"$python" - "$(grep -m1 '^https://' "$work/loopback.out" | tr -d '\r')" "$work/certs/ca.pem" <<'EOF' || fail "the browser's part"
import socket, ssl, sys, urllib.error, urllib.parse, urllib.request
query = urllib.parse.parse_qs(urllib.parse.urlsplit(sys.argv[1]).query)
redirect = urllib.parse.urlsplit(query["redirect_uri"][0])
silent = socket.create_connection((redirect.hostname, redirect.port))  # says nothing, stays open
for stray in ("/?code=c&state=another", "/?code=c", "/favicon.ico?state=" + query["state"][0]):
    try:
        urllib.request.urlopen("http://%s:%d%s" % (redirect.hostname, redirect.port, stray), timeout=10)
        sys.exit("a stray request was taken: " + stray)
    except urllib.error.HTTPError as refused:
        assert refused.code == 400, (stray, refused.code)
context = ssl.create_default_context(cafile=sys.argv[2])
urllib.request.build_opener(urllib.request.HTTPSHandler(context=context)).open(sys.argv[1], timeout=30).read()
silent.close()
EOF
wait "$signing" || fail "the loopback sign-in: $(cat "$work/loopback.out")"
deliver "loopback sign-in" 003
echo "loopback redirect: a silent connection and three stray requests refused; stored, delivered and checked"
stop_last

# Single-use refresh tokens whose reuse revokes the chain, and access tokens
# that last a second: every send refreshes. Eight apartments of one process,
# then eight host processes, all at once: one refresh at a time, all deliver.
start single --endpoint single-use --smtp-port "$port"
run "$tool" oauth-user "$submission" dispatch@example.com qel-user --token-endpoint "$endpoint/token" \
    --device-endpoint "$endpoint/devicecode" --scope s >/dev/null || fail "signing in to the single-use endpoint"
apartments=$(run "$build/tests/com/qel_oauth_apartments.exe" "$submission" 8 | tr -d '\r')
[ "$(grep -c '^code 0$' <<<"$apartments")" = 8 ] || fail "eight apartments: $apartments"
sends "$submission" 1 60
grep -q '^code 0$' <<<"$output" || fail "the ninth send, after the apartments: $output"
hosts=()
for i in $(seq 8); do
    run cscript //nologo "$(windows_path "$here/oauth_sends.vbs")" "$submission" 1 60 >"$work/process-$i.out" &
    hosts+=($!)
done
wait "${hosts[@]}"
# Wine 8's cscript, started many at once, now and then fails to read its
# script ("Could not get script text") and exits 0 having done nothing: that
# host runs again, alone.
again=0
for i in $(seq 8); do
    grep -q '^done' "$work/process-$i.out" && continue
    again=$((again + 1))
    run cscript //nologo "$(windows_path "$here/oauth_sends.vbs")" "$submission" 1 60 >"$work/process-$i.out"
done
[ "$(cat "$work"/process-*.out | tr -d '\r' | grep -c '^code 0$')" = 8 ] || fail "eight processes: $(cat "$work"/process-*.out)"
sends "$submission" 1 60
grep -q '^code 0$' <<<"$output" || fail "the send after the eight processes: $output"
! grep -q 'overlap\|reuse' "$dir/requests.log" || fail "refreshes at once: $(grep 'overlap\|reuse' "$dir/requests.log" | sort | uniq -c)"
echo "single-use refresh tokens: 8 apartments, a ninth send, 8 processes ($again run again) and one more;" \
     "$(count 'token refresh_token') refreshes, $(grep -c 'overlap\|reuse' "$dir/requests.log") at once"
run "$tool" remove "$submission" >/dev/null
stop_last

for outcome in deny:declined expire:expired; do
    start "device-${outcome%%:*}" --endpoint "${outcome%%:*}"
    said=$(run "$tool" oauth-user "starttls://localhost:$smtp" dispatch@example.com qel-user --token-endpoint \
        "$endpoint/token" --device-endpoint "$endpoint/devicecode" --scope s 2>&1 | tr -d '\r')
    grep -q "${outcome#*:}" <<<"$said" || fail "device flow ${outcome%%:*}: $said"
    run "$tool" show "starttls://localhost:$smtp" >/dev/null 2>&1 && fail "device flow ${outcome%%:*} stored something"
    echo "device flow ${outcome%%:*}: $(tail -1 <<<"$said")"
done

# refuse NAME SERVER CODE DETAIL-PATTERN VERBS TOKEN-REQUESTS [TIMEOUT]
refuse() {
    local name=$1 server=$2 code=$3 detail=$4 verbs_wanted=$5 requests=$6 timeout=${7:-20}
    sends "$server" 1 "$timeout"
    local got_code got_detail got_verbs got_requests
    got_code=$(sed -n 's/^code //p' <<<"$output")
    got_detail=$(sed -n 's/^detail //p' <<<"$output")
    seconds=$(sed -n 's/^seconds //p' <<<"$output")
    got_verbs=$(verbs "$dir/commands.log")
    got_requests=$(grep -c '^token' "$dir/requests.log")
    echo "$name: code $got_code in $seconds s; detail: $got_detail; mail server saw: ${got_verbs:-nothing}; token requests: $got_requests"
    [ "$got_code" = "$code" ] || fail "$name: code '$got_code', not $code ($output)"
    grep -qiE "$detail" <<<"$got_detail" || fail "$name: detail '$got_detail' does not say /$detail/"
    [ "$got_verbs" = "$verbs_wanted" ] || fail "$name: the mail server saw '$got_verbs', not '$verbs_wanted'"
    [ "$got_requests" = "$requests" ] || fail "$name: $got_requests token requests, not $requests"
    grep -q 'at-\|rt-\|app-secret' <<<"$got_detail" && fail "$name: the detail shows a secret"
}
start refused --endpoint refuse-client
app "starttls://localhost:$smtp" "$endpoint/token"
refuse endpoint-refuses "starttls://localhost:$smtp" 24 'invalid_client .AADSTS7000215' "" 1
# The tool's test says what the endpoint said, and no secret.
run "$tool" test "starttls://localhost:$smtp" >"$work/tool-refused.out" 2>&1
status=$?
tested=$(tr -d '\r' <"$work/tool-refused.out")
[ "$status" = 24 ] && grep -q 'invalid_client' <<<"$tested" && grep -q 'AADSTS7000215' <<<"$tested" ||
    fail "test, client refused: exit $status: $tested"
grep -qE 'app-secret|at-[0-9]|rt-[0-9]' <<<"$tested" && fail "test, client refused: the output holds a secret"
echo "test, client refused: $(tail -n 1 <<<"$tested" | sed 's/^ *+[0-9]* ms  //')"
start unreachable
closed=$("$python" -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
app "starttls://localhost:$smtp" "https://localhost:$closed/token"
refuse endpoint-unreachable "starttls://localhost:$smtp" 9 'could not be reached' "" 0
start slow --endpoint slow
app "starttls://localhost:$smtp" "$endpoint/token"
# Wine's WinHTTP overruns its waits by about one exchange; the component stops
# waiting for it at the deadline, so the whole Send stays within Timeout + 1 s.
refuse endpoint-slow "starttls://localhost:$smtp" 27 'did not answer in time' "" 1 8
awk -v s="$seconds" 'BEGIN { exit !(s < 9) }' || fail "endpoint-slow: $seconds s, not within Timeout + 1 s"
start rejected --smtp reject-token
app "starttls://localhost:$smtp" "$endpoint/token"
refuse token-rejected "starttls://localhost:$smtp" 24 'status 401.*535 5\.7\.8' "ehlo starttls ehlo auth auth" 2
start auth-disabled --smtp auth-disabled
app "starttls://localhost:$smtp" "$endpoint/token"
refuse smtp-auth-disabled "starttls://localhost:$smtp" 24 '535 5\.7\.139' "ehlo starttls ehlo auth" 1
start unavailable --endpoint unavailable
app "starttls://localhost:$smtp" "$endpoint/token"
refuse endpoint-unavailable "starttls://localhost:$smtp" 16 'unavailable for now \(HTTP 503' "" 1
start plain
app "smtp://localhost:$smtp" "$endpoint/token"
refuse oauth-without-tls "smtp://localhost:$smtp" 25 'only over TLS' "" 0
for server in refused unreachable slow rejected auth-disabled unavailable plain; do
    run "$tool" remove "starttls://localhost:$(sed -n 1p "$work/$server.ports")" >/dev/null 2>&1
    run "$tool" remove "smtp://localhost:$(sed -n 1p "$work/$server.ports")" >/dev/null 2>&1
done
# A server that offers no XOAUTH2, with a token the host gives itself.
"$python" "$here/tls_mailbox.py" serve "$work/password-only" submission "$work/certs" --seconds 900 >"$work/password-only.port" &
servers+=($!)
for _ in $(seq 300); do [ -s "$work/password-only.port" ] && break; sleep 0.1; done
sends "starttls://localhost:$(cat "$work/password-only.port")" 1 20 dispatch@example.com at-given
grep -q '^code 25$' <<<"$output" && grep -q 'XOAUTH2' <<<"$output" || fail "no XOAUTH2 offered: $output"
[ "$(verbs "$work/password-only/commands.log")" = "ehlo starttls ehlo" ] ||
    fail "no XOAUTH2 offered: the server saw $(verbs "$work/password-only/commands.log")"
echo "no-xoauth2 (AccessToken property): $(grep -E '^(code|detail)' <<<"$output" | paste -sd';')"

echo "OAuth end to end: $failures failures"
[ "$failures" -eq 0 ]
