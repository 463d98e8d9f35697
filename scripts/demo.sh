#!/usr/bin/env bash
# demo.sh <zulftp executable>: starts the program on a ready local demo site.
# A local FTP server (scripts/demo-server.py) serves a fresh copy of data/demo/remote from
# <build>/demo/remote; the program runs with its own data folder <build>/demo-home, whose site
# "Local demo" points at that server and connects at start, with <build>/demo/local (a fresh
# copy of data/demo/local) as the local folder. <build> is the build tree the executable
# belongs to (build/ for ./run). The user's own data folder is never touched.
# The server stops when the program exits.
set -euo pipefail
exe=$(realpath "${1:?usage: demo.sh <zulftp executable>}")
root=$(cd "$(dirname "$0")/.." && pwd)
python=${ZULFTP_PYTHON:-/usr/bin/python3}
build=$(dirname "$(dirname "$exe")")
[ -f "$build/CMakeCache.txt" ] || build="$root/build"
demo="$build/demo"
export ZULFTP_HOME="$build/demo-home"

# Each run starts from the sample trees, so earlier uploads and deletes are gone.
rm -rf "$demo/remote" "$demo/local"
mkdir -p "$demo" "$ZULFTP_HOME"
cp -R "$root/data/demo/remote" "$demo/remote"
cp -R "$root/data/demo/local" "$demo/local"

# The server reads its standard input from this script: when the script ends for any
# reason the pipe closes and the server ends too. The trap covers the ordinary ways.
coproc SERVER { exec "$python" "$root/scripts/demo-server.py" --root "$demo/remote" \
    --home "$ZULFTP_HOME" --local "$demo/local"; }
server_pid=$SERVER_PID
trap 'kill "$server_pid" 2>/dev/null || true' EXIT
port=
read -r -t 20 port <&"${SERVER[0]}" || true
if [[ ! "$port" =~ ^[0-9]+$ ]]; then
    echo "demo.sh: the demo FTP server did not start (is python3-pyftpdlib installed?)" >&2
    exit 1
fi
echo "Demo site \"Local demo\": ftp://127.0.0.1:$port/ (anonymous)"
status=0
"$exe" || status=$?
exit $status
