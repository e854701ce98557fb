#!/usr/bin/env bash
# The MSI package in a fresh prefix of its own:
#   msi-install.sh BITS PREFIX KEEPALIVE_EXE PER_USER_CREATION_EXE MSI OLDER_MSI
# Per machine: installed with /qn, the facts' rows are in HKLM (the mail
# component's only when chosen), a host runs the worked example; removed, no
# file and no key is left. Per user (ALLUSERS empty, with the mail
# component): files under the user's programs folder, rows in HKCU, none in
# HKLM; removed, nothing left. Upgrade: the package replaces the older one.
set -u
bits=$1 prefix=$2 keepalive=$3 per_user_creation=$4 msi=$5 older_msi=$6
here=$(dirname "$(readlink -f "$0")")
root=$here/../..
run() { "$root/scripts/wine-run" "$bits" "$prefix" "$@"; }
windows_path() { local path; path=$(readlink -f "$1"); echo "Z:${path//\//\\}"; }
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
arch=x64
[ "$bits" = 32 ] && arch=x86

rm -rf "$prefix"
work=$(mktemp -d)
trap '"$root/scripts/wine-prefix" down "$bits" "$prefix"; rm -rf "$work"' EXIT
started=$SECONDS
"$root/scripts/wine-prefix" up "$bits" "$prefix" "$keepalive"
echo "fresh prefix: $((SECONDS - started)) s"

machine_folder='C:\Program Files\Qel'
machine_files=$prefix/drive_c/Program\ Files/Qel
user_folder='C:\users\'"$(id -un)"'\AppData\Local\Programs\Qel'
user_files=$prefix/drive_c/users/$(id -un)/AppData/Local/Programs/Qel
msiexec() {
    local started=$SECONDS
    run msiexec "$1" "$2" /qn "${@:3}" >/dev/null 2>&1 || fail "msiexec $* exited $?"
    echo "msiexec $1 $(basename "${2//\\//}") ${*:3}: $((SECONDS - started)) s"
}
# registry STATE SCOPE SERVER...: the facts' rows of each server, with the DLL in that scope's folder
registry() {
    local state=$1 scope=$2 folder=$machine_folder pairs=() server
    shift 2
    [ "$scope" = user ] && folder=$user_folder
    for server in "$@"; do pairs+=("$server=$folder\\$server.dll"); done
    rm -f "$work/user.reg"
    run reg export 'HKLM\Software\Classes' "$(windows_path "$work/machine.reg")" /y >/dev/null 2>&1 || fail "reg export HKLM"
    run reg export 'HKCU\Software\Classes' "$(windows_path "$work/user.reg")" /y >/dev/null 2>&1
    /usr/bin/python3 "$root/tests/com/registry_facts.py" "$state" "$scope" "$bits" "$work/machine.reg" "$work/user.reg" \
        "${pairs[@]}" || failures=$((failures + 1))
}
# The installed version of a product code, or nothing (Wine's reg prints its errors on stdout).
installed() {
    run reg query "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\$1" /v DisplayVersion 2>/dev/null |
        tr -d '\r' | sed -n -E 's/^ +DisplayVersion +REG_SZ +//p'
}
product_code() { /usr/bin/python3 "$root/cmake/com_registration.py" product-code "$arch" "$1"; }
version_of() { basename "$1" | sed -E 's/^QelComponents-([0-9.]+)-.*/\1/'; }

/usr/bin/python3 "$here/msi_tables.py" "$msi" "$bits" || failures=$((failures + 1))

echo "== per machine"
msiexec /i "$(windows_path "$msi")"
for file in QelMessage.dll QelCipher.dll qel-gateway-read.exe README.txt samples/vbscript/SendPictureMessage.vbs; do
    [ -f "$machine_files/$file" ] || fail "per machine, not installed: $file"
done
[ -e "$machine_files/QelSmtp.dll" ] && fail "the mail component was installed without being chosen"
registry present machine QelMessage QelCipher
registry absent machine QelSmtp
bash "$root/tests/com/run-vbs.sh" "$bits" "$prefix" "$root/tests/com/vbs/renderer_worked_example.vbs" \
    "$root/tests/com/vbs/cipher_interop.vbs" || failures=$((failures + 1))
msiexec /x "$(windows_path "$msi")"
[ -e "$machine_files" ] && fail "left behind: $(cd "$machine_files" && find . | head -5 | tr '\n' ' ')"
registry absent machine QelMessage QelCipher QelSmtp

echo "== per user, with the mail component"
# Wine reads a property after an empty one as its value: the empty one goes last.
msiexec /i "$(windows_path "$msi")" ADDLOCAL=ALL ALLUSERS=
for file in QelMessage.dll QelCipher.dll QelSmtp.dll qel-gateway-read.exe; do
    [ -f "$user_files/$file" ] || fail "per user, not installed: $file"
done
[ -e "$machine_files" ] && fail "per user, files went to Program Files"
registry present user QelMessage QelCipher QelSmtp
for id in QelMessage.Renderer QelCipher.Cipher EasyMail.SMTP; do
    result=$(run "$per_user_creation" "$id" 2>/dev/null | tr -d '\r')
    [ "$result" = created ] || fail "per user, creating $id: $result"
done
# Wine's msiexec forgets the per-user context on removal; Windows keeps it.
msiexec /x "$(windows_path "$msi")" ALLUSERS=
[ -e "$user_files" ] && fail "per user, left behind: $(cd "$user_files" && find . | head -5 | tr '\n' ' ')"
registry absent user QelMessage QelCipher QelSmtp

echo "== upgrade from $(version_of "$older_msi")"
older_code=$(product_code "$(version_of "$older_msi")") code=$(product_code "$(version_of "$msi")")
msiexec /i "$(windows_path "$older_msi")"
[ -n "$(installed "$older_code")" ] || fail "the older package is not installed"
msiexec /i "$(windows_path "$msi")"
[ -n "$(installed "$older_code")" ] && fail "the older package is still installed after the upgrade"
[ "$(installed "$code")" = "$(version_of "$msi")" ] || fail "after the upgrade, not installed: $(version_of "$msi")"
[ -f "$machine_files/QelMessage.dll" ] || fail "after the upgrade, QelMessage.dll is missing"
registry present machine QelMessage QelCipher
msiexec /x "$(windows_path "$msi")"
[ -e "$machine_files" ] && fail "after the upgrade and removal, files are left"
registry absent machine QelMessage QelCipher QelSmtp

echo "MSI install, removal, per user, upgrade: $failures failures"
[ "$failures" -eq 0 ]
