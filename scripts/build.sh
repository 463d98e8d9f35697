#!/usr/bin/env bash
# build.sh <build-dir> [extra cmake arguments...]: configures once, then builds.
# Our own builds treat warnings as errors (ZUL_WERROR=OFF in the environment turns that off).
# ZUL_BUILD_TARGETS names the targets to build (default: all of them).
set -euo pipefail
dir=$1
shift
root=$(cd "$(dirname "$0")/.." && pwd)
export CCACHE_BASEDIR="$root" CCACHE_NOHASHDIR=1
werror=${ZUL_WERROR:-ON}
if [ ! -f "$dir/build.ninja" ]; then
    launcher=()
    command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
    cmake -S "$root" -B "$dir" -G Ninja "${launcher[@]}" -DZUL_WERROR="$werror" "$@"
elif ! grep -qx "ZUL_WERROR:BOOL=$werror" "$dir/CMakeCache.txt"; then
    # A tree configured before the option existed, or with the other setting.
    cmake -S "$root" -B "$dir" -DZUL_WERROR="$werror"
fi
targets=()
for target in ${ZUL_BUILD_TARGETS:-}; do
    targets+=(--target "$target")
done
cmake --build "$dir" -j "$(nproc)" "${targets[@]}"
