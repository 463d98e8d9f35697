#!/usr/bin/env bash
# Fails when a source outside src/remote and src/platform speaks to the FTP engine directly
# (its header or its handle, find-record and time types) instead of through ServerSession.
# Files not yet moved onto the session are listed below; the list only shrinks: a listed file
# that no longer needs its place fails the check too, so it is taken off.
set -euo pipefail
cd "$(dirname "$0")/.."
still_allowed=(
    src/editor/RemoteEdit.cpp
    src/ftp/RemoteDelete.cpp
    src/ftp/RemoteTreeWalk.cpp
    src/ftp/RemoteTreeWalk.h
    src/transfer/BatchHost.h
    src/transfer/FolderTransfer.cpp
    src/transfer/TransferBatch.cpp
    src/transfer/TransferEngine.cpp
    src/transfer/TransferHost.h
    src/transfer/UploadResume.cpp
    src/transfer/ui/MainTransferHost.cpp
    src/transfer/ui/MainTransferHost.h
)
pattern='#include "wininet.h"|\bHINTERNET\b|\bWIN32_FIND_DATAA\b|\bFILETIME\b'
mapfile -t using < <(git ls-files -co --exclude-standard -- 'src/*.cpp' 'src/*.h' |
    grep -v -e '^src/remote/' -e '^src/platform/' | xargs -r grep -lE "$pattern" | sort -u)
status=0
for file in "${using[@]}"; do
    if [[ ! " ${still_allowed[*]} " =~ " $file " ]]; then
        echo "$file: uses the FTP engine directly; go through ServerSession (src/remote)"
        grep -nE "$pattern" "$file" | head -5
        status=1
    fi
done
for file in "${still_allowed[@]}"; do
    if [[ ! " ${using[*]} " =~ " $file " ]]; then
        echo "$file no longer uses the FTP engine: take it off the list in $0"
        status=1
    fi
done
((status == 0)) && echo "protocol seam: ${#using[@]} files still on the engine, all listed"
exit $status
