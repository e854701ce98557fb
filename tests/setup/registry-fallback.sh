#!/usr/bin/env bash
# The set-up's answer to a registry that serves a stale index, against a
# stand-in apt-get: the view it then installs from, and nothing of it when
# the registry is whole.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/bin" "$work/etc/sources.list.d" "$work/etc/preferences.d"
cat >"$work/etc/sources.list.d/debian.sources" <<'SOURCES'
Types: deb
URIs: http://deb.example/debian
Suites: bookworm bookworm-updates
Components: main

Types: deb
URIs: http://deb.example/debian-security
Suites: bookworm-security
Components: main
SOURCES
cp -r "$work/etc" "$work/etc.before"
cat >"$work/bin/dpkg" <<'STANDIN'
#!/bin/sh
case $1 in --print-architecture) echo amd64 ;; --print-foreign-architectures) echo i386 ;; esac
STANDIN
cat >"$work/bin/apt-get" <<'STANDIN'
#!/bin/sh
echo "$*" >>"$STANDIN_CALLS"
case "$*" in *Dir::Etc::SourceParts*) exit 0 ;; esac
[ "$STANDIN_BROKEN" = 1 ] || exit 0
url=http://deb.example/debian-security/dists/bookworm-security/main/binary-i386/Packages.xz
echo "E: Failed to fetch $url  File has unexpected size (374820 != 376004). Mirror sync in progress? [IP: 203.0.113.80 80]" >&2
echo "E: Some index files failed to download. They have been ignored, or old ones used instead." >&2
exit 100
STANDIN
chmod +x "$work/bin/"*
export PATH="$work/bin:$PATH" QEL_APT_ETC="$work/etc" QEL_APT_PAUSE=0 STANDIN_CALLS="$work/calls"
fail() { echo "FAIL: $*" >&2; exit 1; }

# A whole registry: one update, no options, no warning.
source "$root/scripts/apt-view.sh"
STANDIN_BROKEN=0 apt_view_update "$work/view" 2>"$work/err"
[ "$(wc -l <"$work/calls")" = 1 ] && [ ${#apt_view_opts[@]} = 0 ] && [ ! -s "$work/err" ] ||
    fail "a whole registry: $(cat "$work/calls" "$work/err")"

# A stale i386 index of the security suite: retried, then a view without it.
: >"$work/calls"
STANDIN_BROKEN=1 apt_view_update "$work/view" 2>"$work/err"
grep -q 'broken index for bookworm-security (i386)' "$work/err" || fail "no warning naming the index: $(cat "$work/err")"
[ "$(grep -vc Dir:: "$work/calls")" = 3 ] || fail "expected three plain attempts: $(cat "$work/calls")"
tail -1 "$work/calls" | grep -q "Dir::Etc::SourceParts=$work/view/sources.list.d .*update" ||
    fail "the last update is not in the view: $(tail -1 "$work/calls")"
[[ " ${apt_view_opts[*]} " == *" Dir::Etc::PreferencesParts=$work/view/preferences.d "* ]] || fail "no pin in the options"
view=$work/view/sources.list.d/debian.sources
expected=$'Suites: bookworm bookworm-updates\nSuites: bookworm-security\nArchitectures: amd64'
[ "$(grep -E '^(Suites|Architectures):' "$view")" = "$expected" ] || fail "view: $(cat "$view")"
grep -A1 -x 'Pin: release n=bookworm-security' "$work/view/preferences.d/"*.pref | grep -qx 'Pin-Priority: 100' ||
    fail "the partial suite is not held below the others"
diff -r "$work/etc.before" "$work/etc" >/dev/null || fail "the machine's sources were changed"
echo "registry fallback: ok"
