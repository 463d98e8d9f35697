#!/usr/bin/env bash
# build.sh <build-dir> [extra cmake arguments...]: configures once, then builds.
set -euo pipefail
dir=$1
shift
root=$(cd "$(dirname "$0")/.." && pwd)
export CCACHE_BASEDIR="$root" CCACHE_NOHASHDIR=1
if [ ! -f "$dir/build.ninja" ]; then
    launcher=()
    command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
    cmake -S "$root" -B "$dir" -G Ninja "${launcher[@]}" "$@"
fi
cmake --build "$dir" -j "$(nproc)"
