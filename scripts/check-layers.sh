#!/usr/bin/env bash
# check-layers.sh <src-dir> <QtCore-include-dir> [<stamp-file>]
# Fails when an #include crosses the layers, which include paths alone cannot stop: a quoted
# include is looked up in the including file's own folder first, and Qt's include root holds
# every module, so a core file could reach a ui/ header or a widget header and still compile.
#   - core (every subsystem folder but its ui/): no ui/ header, no Qt header outside QtCore,
#     only the platform libraries' public headers;
#   - platform: no Qt at all (other programs link those libraries alone);
#   - wininet: none of winsys's headers (the FTP engine does not need the system layer).
set -euo pipefail
src=$1
qtcore=$2
stamp=${3:-}
failures=0

# Prints "file:line:header" for every include of the given files.
includes() {
    grep -nE '^[[:space:]]*#[[:space:]]*include[[:space:]]*[<"]' "$@" /dev/null |
        sed -E 's/^([^:]*):([0-9]+):[[:space:]]*#[[:space:]]*include[[:space:]]*[<"]([^>"]*)[>"].*/\1:\2:\3/'
}

fail() {
    echo "$1: $2" >&2
    failures=$((failures + 1))
}

mapfile -t core_files < <(find "$src" -mindepth 2 -maxdepth 2 -type f \( -name '*.h' -o -name '*.cpp' \) \
    -not -path "$src/platform/*" -not -path "$src/app/main.cpp" | sort)
mapfile -t platform_files < <(find "$src/platform" -type f \( -name '*.h' -o -name '*.cpp' \) | sort)
mapfile -t wininet_files < <(find "$src/platform/wininet" -type f \( -name '*.h' -o -name '*.cpp' \) | sort)
mapfile -t winsys_headers < <(find "$src/platform/winsys" -type f -name '*.h' -printf '%f\n' | sort)

while IFS=: read -r file line header; do
    if [[ $header =~ (^|/)ui/ ]]; then
        fail "$file:$line" "the core includes the window header $header (core must build without ui)"
    elif [[ $header =~ (^|/)(platform|winbase|wininet|winsys)/ ]]; then
        fail "$file:$line" "the core reaches into the platform's own files: $header"
    elif [[ $header =~ ^Q ]]; then
        name=${header#QtCore/}
        if [[ $header == */* && $header != QtCore/* ]] || [[ ! -e $qtcore/$name ]]; then
            fail "$file:$line" "the core includes $header, which is not part of QtCore"
        fi
    fi
done < <(includes "${core_files[@]}")

while IFS=: read -r file line header; do
    if [[ $header =~ ^Q ]]; then
        fail "$file:$line" "the platform layer includes the Qt header $header (it is Qt-free)"
    fi
done < <(includes "${platform_files[@]}")

while IFS=: read -r file line header; do
    for own in "${winsys_headers[@]}"; do
        if [[ ${header##*/} == "$own" ]]; then
            fail "$file:$line" "wininet includes the winsys header $header (wininet links winbase only)"
        fi
    done
done < <(includes "${wininet_files[@]}")

if ((failures > 0)); then
    echo "$failures include(s) cross the layers" >&2
    exit 1
fi
if [[ -n $stamp ]]; then
    touch "$stamp"
fi
