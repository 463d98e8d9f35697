#!/usr/bin/env bash
# install-deps.sh [test|package|screenshot]: installs the Debian packages that are missing;
# quick when all are there. Without an argument only what building and running the program
# (with its demo site) needs, so `./run` leaves nothing else on the user's machine.
#   test        adds what ./test and CI need: formatting, keyring and D-Bus daemons, curl, lftp,
#               clang's fuzzer, the Python test servers, and the stock FTP servers and
#               OpenSSH's sshd the real-server suites start (see test_servers below)
#   package     adds what scripts/package.sh needs
#   screenshot  adds what scripts/screenshot.sh needs
set -euo pipefail
mode=${1:-}
packages=(
    build-essential cmake ninja-build pkg-config
    qt6-base-dev qt6-base-dev-tools qt6-svg-dev libgl-dev libssl-dev
    qtkeychain-qt6-dev libsecret-1-0
    fonts-dejavu-core
    python3 python3-pyftpdlib
    openssh-client
)
# The libraries vsftpd, proftpd (with its TLS module), pure-ftpd and sshd link: installed normally,
# while the servers themselves are only unpacked (see test_servers).
server_libraries=(
    libacl1 libcap2 libcrypt1 libhiredis0.14 libidn2-0 libmemcached11 libmemcachedutil2
    libncursesw6 libpam0g libpcre2-8-0 libpcre2-posix3 libsodium23 libssl3 libtinfo6
    libwrap0 zlib1g
    libaudit1 libcom-err2 libgssapi-krb5-2 libkrb5-3 libselinux1 libsystemd0
)
case "$mode" in
    "") ;;
    test)
        packages+=(
            clang-format gnome-keyring dbus-daemon curl lftp clang libclang-rt-14-dev
            python3-openssl python3-cryptography python3-paramiko
            "${server_libraries[@]}"
        )
        ;;
    package) packages+=(file) ;;
    screenshot) packages+=(xvfb openbox xdotool imagemagick) ;;
    *)
        echo "usage: $0 [test|package|screenshot]" >&2
        exit 2
        ;;
esac

sudo_cmd=()
[ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
updated=
# One query for all: a package dpkg knows nothing of is missing as well.
installed=$(dpkg-query -W -f='${Package} ${Status}\n' "${packages[@]}" 2>/dev/null |
    awk '$NF == "installed" { print $1 }' || true)
missing=()
for p in "${packages[@]}"; do
    grep -qxF "$p" <<<"$installed" || missing+=("$p")
done
if ((${#missing[@]})); then
    echo "Installing: ${missing[*]}"
    "${sudo_cmd[@]}" apt-get update -qq
    updated=1
    DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# The stock FTP servers for the real-server suite. Debian's packages conflict with each other
# (all provide ftp-server) and their maintainer scripts start system daemons on port 21, so
# they are never installed: their .debs are unpacked into a cache folder, from which the test
# fixture runs each binary in the foreground with a configuration of its own. The folder is
# made anew only when the package versions change.
test_servers() {
    local cache=${ZULFTP_SERVERS_DIR:-${XDG_CACHE_HOME:-$HOME/.cache}/zulftp/ftp-servers}
    # sshd is unpacked the same way, so no SSH service is ever started on the machine.
    local debs=(vsftpd proftpd-core proftpd-mod-crypto pure-ftpd openssh-server)
    # Nothing to look up while apt's package lists are older than what we unpacked.
    if [ -f "$cache/versions" ] && [ -x "$cache/root/usr/sbin/vsftpd" ] &&
        [ -x "$cache/root/usr/sbin/sshd" ] &&
        [ -z "$(find /var/lib/apt/lists -maxdepth 1 -newer "$cache/versions" -print -quit)" ]; then
        return 0
    fi
    local versions
    versions=$(apt-cache policy "${debs[@]}" 2>/dev/null | grep -E '^[a-z]|Candidate' || true)
    if ! grep -q 'Candidate: [0-9]' <<<"$versions" && [ -z "$updated" ]; then
        "${sudo_cmd[@]}" apt-get update -qq
        versions=$(apt-cache policy "${debs[@]}" | grep -E '^[a-z]|Candidate')
    fi
    if [ -f "$cache/versions" ] && [ "$(cat "$cache/versions")" = "$versions" ] &&
        [ -x "$cache/root/usr/sbin/vsftpd" ] && [ -x "$cache/root/usr/sbin/sshd" ]; then
        touch "$cache/versions"
        return 0
    fi
    echo "Unpacking the test FTP servers into $cache"
    mkdir -p "$(dirname "$cache")"
    local work
    work=$(mktemp -d "$(dirname "$cache")/ftp-servers.XXXXXX")
    mkdir "$work/debs" "$work/root"
    # apt's download helper drops to its own user, which can't reach into root's private home
    # folder; it would fall back to root with a warning.
    local sandbox=()
    [ "$(id -u)" -ne 0 ] || sandbox=(-o APT::Sandbox::User=root)
    (cd "$work/debs" && apt-get download -q "${sandbox[@]}" "${debs[@]}")
    for deb in "$work"/debs/*.deb; do
        dpkg-deb -x "$deb" "$work/root"
    done
    rm -rf "$work/debs"
    printf '%s\n' "$versions" >"$work/versions"
    # Only a complete folder takes the cache's name; an earlier one is moved aside first.
    if [ -e "$cache" ]; then
        if [ ! -f "$cache/versions" ]; then
            echo "$cache is not a folder this script made; leaving it alone" >&2
            rm -rf "$work"
            return 1
        fi
        mv "$cache" "$work.old"
        rm -rf "$work.old"
    fi
    mv "$work" "$cache"
}

if [ "$mode" = test ]; then
    test_servers
fi
