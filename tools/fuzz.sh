#!/usr/bin/env bash
# fuzz.sh [seconds] [target...]: builds the libFuzzer targets of tools/fuzz with clang and runs
# each for the given time (default 10 s) on its seed corpus plus what earlier runs found.
# Inputs that crash or break a check land in build-fuzz/findings/<target>/; each becomes a
# regression test. Run long sessions with `nice -n 19`.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-10}
shift || true
build=${ZUL_FUZZ_BUILD:-$root/build-fuzz}
if [ ! -f "$build/build.ninja" ]; then
    launcher=()
    command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
    CXX=${ZUL_FUZZ_CXX:-clang++} cmake -S "$root/tools/fuzz" -B "$build" -G Ninja \
        "${launcher[@]}" >/dev/null
fi
if ! cmake --build "$build" -j "$(nproc)" >"$build/build.log" 2>&1; then
    tail -n 40 "$build/build.log"
    exit 1
fi
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
    targets=(reply pwd passive mlsd list ini reg mdtm sftp)
fi
status=0
for target in "${targets[@]}"; do
    corpus=$build/corpus/$target
    findings=$build/findings/$target
    log=$build/fuzz_$target.log
    mkdir -p "$corpus" "$findings"
    # New inputs go to the first folder only, so the seeds in the tree stay as they are.
    if "$build/fuzz_$target" -max_total_time="$seconds" -print_final_stats=1 -timeout=60 -max_len=16384 \
        -rss_limit_mb=2048 -artifact_prefix="$findings/" "$corpus" \
        "$root/tools/fuzz/corpus/$target" >"$log" 2>&1; then
        runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
        echo "fuzz_$target: ${runs:-?} executions in $seconds s, no findings"
    else
        echo "fuzz_$target: FINDING (log: $log, inputs: $findings)"
        tail -n 40 "$log"
        status=1
    fi
done
exit $status
