#!/usr/bin/env bash
# Builds one MSI from a staged form: build-msi.sh x86|x64 VERSION STAGE OUT.msi
# STAGE holds the DLLs, the tools (every .exe), README.txt and samples/, as
# the zip of the same form does. VERSION is the release's (1.0.22).
set -euo pipefail
arch=$1 version=$2 stage=$(readlink -f "$3") out=$4
here=$(dirname "$(readlink -f "$0")")
generator=$here/../cmake/com_registration.py
bits=64
[ "$arch" = x86 ] && bits=32
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mapfile -t tools < <(cd "$stage" && ls -1 -- *.exe 2>/dev/null | sort)
/usr/bin/python3 "$generator" wix "$bits" "$work/servers.wxs" "${tools[@]}"
product_code=$(/usr/bin/python3 "$generator" product-code "$arch" "$version")
out=$(readlink -f "$out")
# wixl looks for relative sources only: it runs in the stage.
cd "$stage"
wixl -a "$arch" -D Arch="$arch" -D Version="$version" -D ProductCode="$product_code" -D Stage=. \
    -o "$out" "$here/QelComponents.wxs" "$work/servers.wxs"
# wixl 0.101 writes the root HKMU as 4; the Registry table's value for it
# (HKCU per user, HKLM per machine) is -1.
msibuild "$out" -q "UPDATE Registry SET Root = -1 WHERE Root = 4"
# Word Count bit 3: no elevation needed, so that a per-user install
# (ALLUSERS=2 MSIINSTALLPERUSER=1) asks for none; wixl has no attribute for it.
/usr/bin/python3 - "$out" <<'PY'
import sys
import gi
gi.require_version("Libmsi", "1.0")
from gi.repository import Libmsi
database = Libmsi.Database.new(sys.argv[1], Libmsi.DbFlags.TRANSACT, None)
summary = Libmsi.SummaryInfo.new(database, 20)
summary.set_int(Libmsi.Property.SOURCE, summary.get_int(Libmsi.Property.SOURCE) | 8)
summary.persist()
database.commit()
PY
