#!/usr/bin/env bash
# demo.sh <zulftp executable>: starts the program with its own data folder under build/.
set -euo pipefail
exe=$1
root=$(cd "$(dirname "$0")/.." && pwd)
export ZULFTP_HOME="$root/build/demo-home"
mkdir -p "$ZULFTP_HOME"
exec "$exe"
