#!/usr/bin/env bash
# Registration round trips in the test prefix, for every server, per machine
# (regsvr32) and per user (regsvr32 /n /i:user):
#   registration.sh BITS PREFIX PER_USER_CREATION_EXE QELMESSAGE_DLL QELCIPHER_DLL QELSMTP_DLL
# Registered, every row of the registration facts (cmake/ComClasses.txt and
# the IDLs) is in that scope with its value and nothing the servers own is in
# the other, and a host creates each class by ProgID; unregistered, no key
# they own is left and creation fails. Finally QelMessage and QelCipher are
# registered per machine again for the tests that follow.
set -u
bits=$1 prefix=$2 per_user_creation=$3 message_dll=$4 cipher_dll=$5 smtp_dll=$6
here=$(dirname "$(readlink -f "$0")")
run() { "$here/../../scripts/wine-run" "$bits" "$prefix" "$@"; }
windows_path() { local path; path=$(readlink -f "$1"); echo "Z:${path//\//\\}"; }
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

declare -A dll=([QelMessage]=$(windows_path "$message_dll") [QelCipher]=$(windows_path "$cipher_dll")
                [QelSmtp]=$(windows_path "$smtp_dll"))
declare -A progid=([QelMessage]=QelMessage.Renderer [QelCipher]=QelCipher.Cipher [QelSmtp]=EasyMail.SMTP)
servers=(QelMessage QelCipher QelSmtp)
facts_args=()
for server in "${servers[@]}"; do facts_args+=("$server=${dll[$server]}"); done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cat >"$work/create.vbs" <<'VBS'
On Error Resume Next
Set o = CreateObject(WScript.Arguments(0))
If Err.Number = 0 Then WScript.Echo "created" Else WScript.Echo "refused " & Err.Number
VBS
# Wine's COM reads classes from HKLM only; per user, a helper resolves the ProgID as Windows would.
creation() {
    if [ "$1" = user ]; then
        run "$per_user_creation" "$2" 2>/dev/null | tr -d '\r'
    else
        run cscript //nologo "$(windows_path "$work/create.vbs")" "$2" 2>/dev/null | tr -d '\r'
    fi
}
check_registry() {
    run reg export 'HKLM\Software\Classes' "$(windows_path "$work/machine.reg")" /y >/dev/null 2>&1 ||
        fail "reg export HKLM"
    # HKCU\Software\Classes may not exist at all: no export is then no key.
    rm -f "$work/user.reg"
    run reg export 'HKCU\Software\Classes' "$(windows_path "$work/user.reg")" /y >/dev/null 2>&1
    /usr/bin/python3 "$here/registry_facts.py" "$1" "$2" "$bits" "$work/machine.reg" "$work/user.reg" \
        "${facts_args[@]}" || failures=$((failures + 1))
}

for scope in machine user; do
    options=()
    [ "$scope" = user ] && options=(/n /i:user)
    for server in "${servers[@]}"; do
        run regsvr32 /s "${options[@]}" "${dll[$server]}" || fail "regsvr32 ${options[*]} $server exited $?"
    done
    check_registry present "$scope"
    for server in "${servers[@]}"; do
        result=$(creation "$scope" "${progid[$server]}")
        [ "$result" = created ] || fail "per $scope, creating ${progid[$server]}: $result"
    done
    for server in "${servers[@]}"; do
        run regsvr32 /s /u "${options[@]}" "${dll[$server]}" || fail "regsvr32 /u ${options[*]} $server exited $?"
    done
    check_registry absent "$scope"
    [ "$(creation "$scope" QelMessage.Renderer)" = created ] && fail "per $scope, creation works after unregistering"
done
run regsvr32 /s /n /i:elsewhere "${dll[QelCipher]}" && fail "DllInstall accepted the command line 'elsewhere'"

run regsvr32 /s "${dll[QelMessage]}" || fail "registering QelMessage again"
run regsvr32 /s "${dll[QelCipher]}" || fail "registering QelCipher again"
echo "registration round trips: $failures failures"
[ "$failures" -eq 0 ]
