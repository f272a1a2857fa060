#!/usr/bin/env bash
# Installs everything Oxlip needs to build, run and test on Debian 12 (run as root or with sudo).
set -euo pipefail

packages=(
    # build
    build-essential cmake pkg-config clang-format
    # FTPS (OpenSSL 3) and the authorities certificates are verified against
    libssl-dev ca-certificates
    # the window
    qt6-base-dev qt6-base-dev-tools libgl-dev qt6-gtk-platformtheme qt6-translations-l10n
    fonts-ipafont-gothic
    # tests
    googletest libgtest-dev python3 python3-pyftpdlib python3-openssl vsftpd xvfb xauth imagemagick xdotool
    # sanitizers and fuzzers
    clang libclang-rt-14-dev
    # the Debian package and its checks; rsvg-convert for scripts/make-icons.sh
    dpkg-dev fakeroot lintian desktop-file-utils appstream librsvg2-bin
)

SUDO=""
if [ "$(id -u)" -ne 0 ]; then
    SUDO="sudo"
fi

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$p")
    fi
done
if [ "${#missing[@]}" -gt 0 ]; then
    echo "Installing: ${missing[*]}"
    $SUDO apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# vsftpd is only ever started by the tests, by hand, on a loopback port: never as a service.
if command -v systemctl >/dev/null 2>&1 && [ -d /run/systemd/system ]; then
    $SUDO systemctl disable --now vsftpd >/dev/null 2>&1 || true
fi
if [ -x /etc/init.d/vsftpd ]; then
    $SUDO /etc/init.d/vsftpd stop >/dev/null 2>&1 || true
    $SUDO update-rc.d vsftpd disable >/dev/null 2>&1 || true
fi
