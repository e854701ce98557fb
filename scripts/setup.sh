#!/usr/bin/env bash
# Installs every Debian package the build and the tests need, on a bare
# Debian 12 machine, and prepares 32-bit emulation. Safe to run again.
set -euo pipefail

need_root() { [ "$(id -u)" = 0 ] || { echo "setup: run as root" >&2; exit 1; }; }
need_root
export DEBIAN_FRONTEND=noninteractive

# qemu-user in bookworm itself cannot run wine32; backports' can. Reuse the
# machine's own Debian source rather than naming a mirror.
add_backports() {
    local deb822=/etc/apt/sources.list.d/debian.sources
    if [ -f "$deb822" ]; then
        grep -q 'bookworm-backports' "$deb822" ||
            sed -i -E '/^Suites:.*\bbookworm\b/{/bookworm-security/!s/$/ bookworm-backports/}' "$deb822"
    elif [ -f /etc/apt/sources.list ] && ! grep -q 'bookworm-backports' /etc/apt/sources.list; then
        local line
        line=$(grep -m1 -E '^deb\s+\S+\s+bookworm\s' /etc/apt/sources.list || true)
        [ -n "$line" ] && echo "$line" | sed -E 's/\sbookworm\s/ bookworm-backports /' >> /etc/apt/sources.list
    fi
}

packages=(
    cmake ninja-build g++ clang libclang-rt-14-dev
    googletest libbenchmark-dev libmcrypt-dev nlohmann-json3-dev
    g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix binutils-mingw-w64
    mingw-w64-tools libwine-dev
    wine wine64 wine32:i386
    # Wine's Schannel is GnuTLS underneath, only recommended by Wine's packages.
    libgnutls30 libgnutls30:i386
    python3-aiosmtpd python3-cryptography openssl
    wixl msitools gir1.2-libmsi-1.0 python3-gi osslsigncode zip unzip
    # A real SMTP server for the end-to-end tests; each run starts its own.
    postfix sasl2-bin libsasl2-modules
)

stamp=/var/lib/qel-setup.done
if [ ! -f "$stamp" ] || [ "$(cat "$stamp")" != "${packages[*]}" ]; then
    add_backports
    dpkg --print-foreign-architectures | grep -qx i386 || dpkg --add-architecture i386
    source "$(dirname "$0")/apt-view.sh"
    view=$(mktemp -d)
    trap 'rm -rf "$view"' EXIT
    apt_view_update "$view"
    # Installed unconfigured: no system instance to start or to collide with the tests' own.
    echo 'postfix postfix/main_mailer_type select No configuration' | debconf-set-selections
    if ! apt-get "${apt_view_opts[@]}" install -y -qq --no-install-recommends "${packages[@]}" >/dev/null ||
       ! apt-get "${apt_view_opts[@]}" install -y -qq --no-install-recommends -t bookworm-backports qemu-user-static >/dev/null; then
        echo "setup: the packages could not be installed (apt's messages above). If apt named an index that" \
             "failed to download, the package registry is mid-sync or stale: run 'bash scripts/setup.sh' again" \
             "later; otherwise check the machine's sources under /etc/apt." >&2
        exit 1
    fi
    echo "${packages[*]}" > "$stamp"
fi

# This kernel runs no 32-bit code: route i386 ELF binaries through qemu.
binfmt=/proc/sys/fs/binfmt_misc
[ -f "$binfmt/register" ] || mount -t binfmt_misc binfmt_misc "$binfmt"
if [ ! -e "$binfmt/qemu-i386" ]; then
    printf '%s' ':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:/usr/bin/qemu-i386-static:F' > "$binfmt/register"
fi
echo "setup: ready"
