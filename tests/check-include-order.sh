#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Fails on an include that points up the folder order:
#   platform <- common <- media <- ui <- playback / video / controls <- shell
# A folder may include its own headers, its siblings' and those of the folders below it.
set -euo pipefail
root=${1:-$(cd "$(dirname "$0")/.." && pwd)}
rank() {
    case "$1" in
        platform) echo 0 ;; common) echo 1 ;; media) echo 2 ;; ui) echo 3 ;;
        playback | video | controls) echo 4 ;; shell) echo 5 ;; *) echo -1 ;;
    esac
}
status=0
cd "$root"
for folder in platform common media ui playback video controls shell; do
    [ -d "$folder" ] || continue
    own=$(rank "$folder")
    while IFS=: read -r file line target; do
        wanted=$(rank "$target")
        if [ "$wanted" -gt "$own" ]; then
            echo "$file:$line: $folder/ must not include $target/ (against the folder order)"
            status=1
        fi
    done < <(grep -nE '^#include "[a-z]+/' "$folder"/*.cpp "$folder"/*.h 2>/dev/null |
        sed -E 's/^([^:]+):([0-9]+):#include "([a-z]+)\/.*/\1:\2:\3/')
done
exit $status
