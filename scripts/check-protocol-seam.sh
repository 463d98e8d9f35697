#!/usr/bin/env bash
# Fails when a source outside src/remote and src/platform speaks to the FTP engine directly
# (its header or its handle, find-record and time types) instead of through ServerSession.
set -euo pipefail
cd "$(dirname "$0")/.."
pattern='#include "wininet.h"|\bHINTERNET\b|\bWIN32_FIND_DATAA\b|\bFILETIME\b'
mapfile -t using < <(git ls-files -co --exclude-standard -- 'src/*.cpp' 'src/*.h' |
    grep -v -e '^src/remote/' -e '^src/platform/' | xargs -r grep -lE "$pattern" | sort -u)
for file in "${using[@]}"; do
    echo "$file: uses the FTP engine directly; go through ServerSession (src/remote)"
    grep -nE "$pattern" "$file" | head -5
done
((${#using[@]} == 0)) && echo "protocol seam: only src/remote and src/platform use the FTP engine"
