#!/usr/bin/env bash
# The release, from a bare Debian 12 machine: builds both Windows forms and
# writes dist/ with, for each of x86 (the shipped 32-bit form) and x64, an MSI
# package and a zip of the same files, and SHA256SUMS over them.
#
# Signing is optional: with QEL_SIGN_PFX (a PKCS#12 code-signing certificate)
# and QEL_SIGN_PASSWORD set, the DLLs, the tools and the MSIs are signed with
# osslsigncode; QEL_SIGN_TIMESTAMP_URL adds a timestamp when that server
# answers, and the release says when it went without one.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

bash scripts/setup.sh
version=$(sed -n -E 's/^project\(Qel VERSION ([0-9]+)\.([0-9]+)\.[0-9]+\.([0-9]+).*/\1.\2.\3/p' CMakeLists.txt)
[ -n "$version" ] || { echo "release: no version in CMakeLists.txt" >&2; exit 1; }
dist=$root/dist
rm -rf "$dist"
mkdir -p "$dist"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

signing=
if [ -n "${QEL_SIGN_PFX:-}" ]; then
    [ -f "$QEL_SIGN_PFX" ] || { echo "release: QEL_SIGN_PFX is not a file: $QEL_SIGN_PFX" >&2; exit 1; }
    [ -n "${QEL_SIGN_PASSWORD:-}" ] || { echo "release: QEL_SIGN_PFX needs QEL_SIGN_PASSWORD" >&2; exit 1; }
    signing=yes
fi
timestamp_note=
# sign FILE: in place; the password travels through a pipe, never on a command line.
sign() {
    local file=$1 signed=$1.signed
    if [ -n "${QEL_SIGN_TIMESTAMP_URL:-}" ] &&
        osslsigncode sign -pkcs12 "$QEL_SIGN_PFX" -readpass <(printf '%s' "$QEL_SIGN_PASSWORD") \
            -n "Qel Components" -h sha256 -ts "$QEL_SIGN_TIMESTAMP_URL" -in "$file" -out "$signed" >/dev/null 2>&1; then
        :
    else
        [ -n "${QEL_SIGN_TIMESTAMP_URL:-}" ] && timestamp_note="timestamp server did not answer: signed without a timestamp"
        rm -f "$signed"
        osslsigncode sign -pkcs12 "$QEL_SIGN_PFX" -readpass <(printf '%s' "$QEL_SIGN_PASSWORD") \
            -n "Qel Components" -h sha256 -in "$file" -out "$signed" >/dev/null
    fi
    mv "$signed" "$file"
}

for preset in win32 win64; do
    arch=x64
    [ "$preset" = win32 ] && arch=x86
    echo "== $preset ($arch)"
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset" --target msi >/dev/null
    name=QelComponents-$version-$arch
    cp -r "build/$preset/packaging/stage" "$work/$name"
    if [ -n "$signing" ]; then
        for file in "$work/$name"/*.dll "$work/$name"/*.exe; do sign "$file"; done
    fi
    bash packaging/build-msi.sh "$arch" "$version" "$work/$name" "$dist/$name.msi"
    [ -n "$signing" ] && sign "$dist/$name.msi"
    (cd "$work" && zip -q -r -X "$dist/$name.zip" "$name")
done

(cd "$dist" && sha256sum -- *.msi *.zip >SHA256SUMS)
echo "== dist/"
ls -l "$dist"
if [ -n "$signing" ]; then
    echo "signed with $QEL_SIGN_PFX${timestamp_note:+ ($timestamp_note)}"
    [ -z "${QEL_SIGN_TIMESTAMP_URL:-}" ] && echo "no QEL_SIGN_TIMESTAMP_URL: signed without a timestamp"
else
    echo "unsigned: no QEL_SIGN_PFX given"
fi
