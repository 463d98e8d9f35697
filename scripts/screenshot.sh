#!/usr/bin/env bash
# screenshot.sh [output.png]: makes the README's screenshot (default docs/screenshot.png).
# Builds the program if needed (or takes the executable named by $ZULFTP_EXE), starts it on
# the demo site (scripts/demo.sh) inside a private virtual X display with a plain window
# manager, and captures the main window with its frame once the remote folder is listed.
# Nothing is shown on the real desktop.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
out=$(realpath -m "${1:-$root/docs/screenshot.png}")
cd "$root"
scripts/install-deps.sh screenshot
exe=${ZULFTP_EXE:-}
if [ -z "$exe" ]; then
    ZUL_BUILD_TARGETS=zulftp scripts/build.sh build -DCMAKE_BUILD_TYPE=RelWithDebInfo
    exe=build/src/zulftp
fi

pids=()
cleanup() {
    for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
        kill "${pids[i]}" 2>/dev/null || true
    done
}
trap cleanup EXIT

# Xvfb picks a free display number and writes it to the descriptor it is given.
exec {displayfd}<> <(:)
Xvfb -displayfd "$displayfd" -screen 0 1280x960x24 -nolisten tcp >/dev/null 2>&1 &
pids+=($!)
read -r -t 20 -u "$displayfd" number
export DISPLAY=":$number"
openbox >/dev/null 2>&1 &
pids+=($!)

# A fixed look whatever the machine's settings are.
export QT_QPA_PLATFORMTHEME= QT_STYLE_OVERRIDE=Fusion QT_SCALE_FACTOR=1 LANG=C.UTF-8
scripts/demo.sh "$exe" >/dev/null &
pids+=($!)

window=$(xdotool search --sync --onlyvisible --name '^ZUL-FTP - Local demo$' | head -n 1)
# Connecting and listing show the progress dialog; the picture is taken once it has gone.
for _ in $(seq 1 100); do
    sleep 0.3
    xdotool search --onlyvisible --name '^(Connecting|Authenticating|Retrieving)' >/dev/null ||
        break
done
sleep 2
mkdir -p "$(dirname "$out")"
import -window "$window" -frame "$out"
# When the program ends, demo.sh stops its server and ends too.
kill "$(xdotool getwindowpid "$window")" 2>/dev/null || true
wait "${pids[2]}" 2>/dev/null || true
echo "$out"
