#!/usr/bin/env bash
# Registration round trip in the test prefix, for both servers:
#   registration.sh BITS PREFIX QELMESSAGE_DLL QELCIPHER_DLL
# regsvr32 registers; the keys are there; a script creates each class by
# ProgID; regsvr32 /u leaves no key and creation fails; finally both are
# registered again for the tests that follow.
set -u
bits=$1 prefix=$2 message_dll=$3 cipher_dll=$4
here=$(dirname "$(readlink -f "$0")")
run() { "$here/../../scripts/wine-run" "$bits" "$prefix" "$@"; }
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

renderer_clsid='{30EF9147-48F8-4C51-9EF3-212054E40CED}'
cipher_clsid='{0C8E9808-8916-4046-9DB3-29E9D156E352}'
keys=(
    "HKCR\\CLSID\\$renderer_clsid\\InprocServer32"
    "HKCR\\CLSID\\$renderer_clsid\\ProgID"
    "HKCR\\CLSID\\$renderer_clsid\\TypeLib"
    'HKCR\QelMessage.Renderer\CLSID'
    'HKCR\TypeLib\{894C6499-A7EE-4CB4-9E1D-E75002DAF2C7}\1.0'
    'HKCR\Interface\{ECCF02C4-2BED-4EFA-AF07-B7300C77C2C1}'
    "HKCR\\CLSID\\$cipher_clsid\\InprocServer32"
    'HKCR\QelCipher.Cipher\CLSID'
    'HKCR\TypeLib\{F5ED1BDA-4C84-48A4-B845-CA0542CC661B}\1.0'
    'HKCR\Interface\{8B7357D2-D580-41B7-97D2-DDE8FE079172}'
)
key_exists() { run reg query "$1" >/dev/null 2>&1; }

script=$(mktemp --suffix=.vbs)
trap 'rm -f "$script"' EXIT
cat >"$script" <<'VBS'
On Error Resume Next
Set o = CreateObject(WScript.Arguments(0))
If Err.Number = 0 Then WScript.Echo "created" Else WScript.Echo "refused " & Err.Number
VBS
creation() { run cscript //nologo "Z:${script//\//\\}" "$1" 2>/dev/null | tr -d '\r'; }

register() {
    run regsvr32 /s "$message_dll" || fail "regsvr32 QelMessage exited $?"
    run regsvr32 /s "$cipher_dll" || fail "regsvr32 QelCipher exited $?"
}

register
for key in "${keys[@]}"; do key_exists "$key" || fail "missing after registering: $key"; done
run reg query "HKCR\\CLSID\\$renderer_clsid\\InprocServer32" /v ThreadingModel 2>/dev/null | grep -q Apartment ||
    fail "ThreadingModel is not Apartment"
for id in QelMessage.Renderer QelCipher.Cipher; do
    [ "$(creation $id)" = created ] || fail "CreateObject($id) after registering: $(creation $id)"
done

run regsvr32 /s /u "$message_dll" || fail "regsvr32 /u QelMessage exited $?"
run regsvr32 /s /u "$cipher_dll" || fail "regsvr32 /u QelCipher exited $?"
for key in "${keys[@]}" 'HKCR\QelMessage.Renderer' 'HKCR\QelCipher.Cipher' "HKCR\\CLSID\\$renderer_clsid"; do
    key_exists "$key" && fail "left behind by unregistering: $key"
done
for id in QelMessage.Renderer QelCipher.Cipher; do
    [ "$(creation $id)" = created ] && fail "CreateObject($id) still works after unregistering"
done

register
echo "registration round trip: $failures failures"
[ "$failures" -eq 0 ]
