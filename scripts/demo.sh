#!/usr/bin/env bash
# The main job, from a bare Debian 12 machine: builds the components (the
# shipped 32-bit form unless QEL_DEMO_PRESET=win64), registers them and the
# project's mail component in a Wine prefix, starts a local SMTP server as the
# gateway mailbox, sends a picture message to two phones from a VBScript
# host, and prints what arrived and the gateway fields decoded from it.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
preset=${QEL_DEMO_PRESET:-win32}
bits=32
[ "$preset" = win64 ] && bits=64

bash scripts/setup.sh
echo "== building ($preset)"
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset" >/dev/null
build=$root/build/$preset
prefix=$build/wineprefix
run() { "$root/scripts/wine-run" "$bits" "$prefix" "$@"; }
windows_path() { echo "Z:${1//\//\\}"; }

work=$(mktemp -d)
mailbox_pid=
finish() {
    [ -n "$mailbox_pid" ] && kill "$mailbox_pid" 2>/dev/null
    "$root/scripts/wine-prefix" down "$bits" "$prefix"
    rm -rf "$work"
}
trap finish EXIT
"$root/scripts/wine-prefix" up "$bits" "$prefix" "$build/tests/wine_keepalive.exe"

echo "== registering QelMessage, QelCipher and the mail component (EasyMail.SMTP)"
for dll in message/QelMessage.dll cipher/QelCipher.dll mailcomponent/QelSmtp.dll; do
    run regsvr32 /s "$build/$dll"
done

echo "== starting the gateway mailbox"
/usr/bin/python3 tests/e2e/mailbox.py "$work/mailbox" --seconds 600 >"$work/port" &
mailbox_pid=$!
for _ in $(seq 100); do [ -s "$work/port" ] && break; sleep 0.1; done
port=$(head -n 1 "$work/port")
echo "listening on 127.0.0.1:$port"

picture=$work/harbour.jpg
/usr/bin/python3 -c "import sys,os; open(sys.argv[1],'wb').write(b'\xff\xd8\xff\xe0\x00\x10JFIF\x00' + os.urandom(20000) + b'\xff\xd9')" "$picture"

echo "== sending a picture message to two phones (samples/vbscript/SendPictureMessage.vbs)"
output=$(run cscript //nologo "$(windows_path "$root/samples/vbscript/SendPictureMessage.vbs")" "127.0.0.1:$port" \
    gateway@example.com "$(windows_path "$picture")" | tr -d '\r')
grep '^Send result' <<<"$output"
sed -n '/^----- TranslatedMessage -----$/,/^----- end -----$/p' <<<"$output" | sed '1d;$d' | sed 's/$/\r/' |
    head -c -2 >"$work/translated.txt"

for _ in $(seq 100); do [ -e "$work/mailbox/001.eml" ] && break; sleep 0.1; done
echo "== what arrived at gateway@example.com"
/usr/bin/python3 tests/e2e/check_mail.py "$work/mailbox/001.eml" "$work/translated.txt" "$picture" gateway@example.com \
    "Qel Dispatch" dispatch@example.com "$root/scripts/wine-run" "$bits" "$prefix" "$build/gateway/qel-gateway-read.exe"
