#!/usr/bin/env bash
# GetINetStatus in a network namespace without interfaces:
#   offline-status.sh BITS PREFIX QELMESSAGE_DLL
# Wine asks its device service for the interfaces, so the whole Wine session
# must start inside the namespace: it runs on a private copy of the test
# prefix, where the server is registered again (the running session may not
# have written its registry out yet). Exit 77 (skipped) where no namespace
# can be made.
set -u
bits=$1 prefix=$2 message_dll=$3
here=$(dirname "$(readlink -f "$0")")
if ! unshare -n true 2>/dev/null; then
    echo "no network namespace can be made here"
    exit 77
fi
work=$(mktemp -d)
copy=$work/prefix
trap 'WINEPREFIX="$copy" /usr/lib/wine/wineserver -k >/dev/null 2>&1; rm -rf "$work"' EXIT
# Linked, not copied: the prefix is large. Wine rewrites its registry files
# by replacing them, but they are made real copies all the same.
cp -al "$prefix" "$copy"
for registry in "$prefix"/*.reg; do cp --remove-destination "$registry" "$copy/"; done
unshare -n bash -s "$here" "$bits" "$copy" "$message_dll" <<'INSIDE'
here=$1 bits=$2 copy=$3 message_dll=$4
"$here/../../scripts/wine-run" "$bits" "$copy" regsvr32 /s "$message_dll" || { echo "FAIL: regsvr32 exited $?"; exit 1; }
bash "$here/../com/run-vbs.sh" "$bits" "$copy" "$here/offline_status.vbs"
status=$?
WINEPREFIX=$copy /usr/lib/wine/wineserver -k >/dev/null 2>&1
exit $status
INSIDE
