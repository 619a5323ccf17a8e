#!/usr/bin/env bash
# Includes run only downward: app -> gui -> trim -> core (bwf, timecode), and
# cli -> trim -> core. Prints each include that runs upward and fails on any.
set -euo pipefail
cd "$(dirname "$0")/.."

# Folder: the project folders its files may include from.
declare -A allowed=(
    [bwf]="bwf timecode" [timecode]="bwf timecode"
    [trim]="trim bwf timecode"
    [gui]="gui trim bwf timecode"
    [app]="app gui trim bwf timecode"
    [cli]="cli trim bwf timecode"
)
status=0
for folder in "${!allowed[@]}"; do
    [ -d "$folder" ] || continue
    while IFS=: read -r file line target; do
        top=${target%%/*}
        case " ${allowed[$folder]} " in *" $top "*) ;; *)
            echo "$file:$line: $folder/ includes $target, which is not below it" >&2
            status=1 ;;
        esac
    done < <(grep -rnoE '^#include "[a-z]+/[^"]+"' "$folder" | sed -E 's/#include "([^"]+)"/\1/')
done
[ $status -eq 0 ] && echo "Includes run only downward."
exit $status
