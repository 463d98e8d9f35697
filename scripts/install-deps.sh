#!/usr/bin/env bash
# Installs the Debian packages that building, running, testing and packaging need; quick when
# all are there. `install-deps.sh screenshot` adds what scripts/screenshot.sh needs.
set -euo pipefail
packages=(
    build-essential cmake ninja-build pkg-config clang-format file
    qt6-base-dev qt6-base-dev-tools qt6-svg-dev libgl-dev libssl-dev
    qtkeychain-qt6-dev libsecret-1-0 gnome-keyring dbus-daemon
    fonts-dejavu-core
    python3 python3-pyftpdlib python3-openssl curl lftp
    clang libclang-rt-14-dev
)
if [ "${1:-}" = screenshot ]; then
    packages+=(xvfb openbox xdotool imagemagick)
fi
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
    echo "Installing: ${missing[*]}"
    sudo_cmd=()
    [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
    "${sudo_cmd[@]}" apt-get update -qq
    DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
