#!/usr/bin/env bash
# Includes run only downward. The core's rooms stand in one order, from the bottom up:
#   timecode < base < io < riff < meta < recording < audio < copy
# and above them trim < gui < app, and trim < cli. A folder may include from itself and
# from folders below it, never from one above or beside it, so no two folders can form a
# cycle. Prints each include that breaks this and fails on any.
set -euo pipefail
cd "$(dirname "$0")/.."

core=(timecode base io riff meta recording audio copy)
declare -A allowed=()
below=""
for room in "${core[@]}"; do
    below="$below $room"
    allowed[$room]="$below"
done
allowed[trim]="$below trim"
allowed[gui]="$below trim gui"
allowed[app]="$below trim gui app"
allowed[cli]="$below trim cli"
allowed[fuzz]="$below fuzz"

status=0
for folder in "${!allowed[@]}"; do
    [ -d "$folder" ] || { echo "check-layers: no folder $folder/" >&2; status=1; continue; }
    while IFS=: read -r file line target; do
        top=${target%%/*}
        case " ${allowed[$folder]} " in *" $top "*) ;; *)
            echo "$file:$line: $folder/ includes $target, which is not below it" >&2
            status=1 ;;
        esac
    done < <(grep -rnoE '^#include "[a-z]+/[^"]+"' "$folder" | sed -E 's/#include "([^"]+)"/\1/')
done
# Every folder of sources is in the order above, so a new room cannot slip past the check.
for dir in */; do
    dir=${dir%/}
    case "$dir" in tests|bench|examples|build*|docs|man|completion|packaging|scripts|node_modules) continue ;; esac
    if compgen -G "$dir/*.[ch]pp" >/dev/null && [ -z "${allowed[$dir]+x}" ]; then
        echo "check-layers: $dir/ holds sources but has no place in the order" >&2
        status=1
    fi
done
# Only io/ talks to the operating system: no other room of the core includes a system header.
for room in "${core[@]}"; do
    [ "$room" = io ] && continue
    while IFS= read -r hit; do
        echo "$hit: only io/ may call the operating system" >&2
        status=1
    done < <(grep -rnE '^#include <(unistd|fcntl|dirent|dlfcn|linux/[^>]+|sys/[^>]+|mach/[^>]+|windows)\.h>' "$room" || true)
done
[ $status -eq 0 ] && echo "Includes run only downward."
exit $status
