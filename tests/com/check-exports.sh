#!/usr/bin/env bash
# The shipped 32-bit DLLs: machine i386, and exactly the four server entry
# points and DllInstall, undecorated. check-exports.sh OBJDUMP DLL...
set -u
objdump=$1
shift
failed=0
for dll in "$@"; do
    dump=$("$objdump" -p "$dll")
    grep -q 'file format pei-i386' <<<"$dump" || { echo "FAIL: $dll is not an i386 image"; failed=1; }
    exports=$(sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' <<<"$dump" | sed -n -E 's/^\s*\[ *[0-9]+\] (.*)$/\1/p' | sort | tr '\n' ' ')
    [ "$exports" = "DllCanUnloadNow DllGetClassObject DllInstall DllRegisterServer DllUnregisterServer " ] ||
        { echo "FAIL: $dll exports: $exports"; failed=1; }
done
[ "$failed" -eq 0 ] && echo "exports and machine: ok"
exit $failed
