#!/usr/bin/env bash
# build.sh <build-dir> [extra cmake arguments...]: configures once, then builds.
set -euo pipefail
dir=$1
shift
root=$(cd "$(dirname "$0")/.." && pwd)
if [ ! -f "$dir/build.ninja" ]; then
    cmake -S "$root" -B "$dir" -G Ninja "$@"
fi
cmake --build "$dir" -j "$(nproc)"
