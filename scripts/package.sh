#!/usr/bin/env bash
# package.sh [build-dir]: builds the program for release and makes the Debian package
# zulftp_<version>_<arch>.deb in the build folder (default build-package/). Install it with
# `sudo apt install ./build-package/zulftp_*.deb`.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
dir=$(realpath -m "${1:-$root/build-package}")
"$root/scripts/install-deps.sh" package
if [ ! -f "$dir/CMakeCache.txt" ]; then
    cmake -S "$root" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DZUL_BUILD_TESTS=OFF \
        -DZUL_BUILD_BENCH=OFF
fi
cmake --build "$dir" -j "$(nproc)"
(cd "$dir" && cpack -G DEB)
ls "$dir"/zulftp_*.deb
