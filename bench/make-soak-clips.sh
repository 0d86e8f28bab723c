#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Makes the soak's twenty one-second clips, each its own colour and tone, in
# the four containers in turn. Usage: bench/make-soak-clips.sh FOLDER
set -euo pipefail
folder=${1:?usage: make-soak-clips.sh FOLDER}
mkdir -p "$folder"
colours=(red lime blue yellow cyan magenta white gray orange purple)
formats=("mpg mpeg1video mp2 mpeg" "mpeg mpeg2video mp2 mpeg" "wmv wmv2 wmav2 asf" "asf wmv2 wmav2 asf")
for i in $(seq 0 19); do
    read -r extension video audio container <<<"${formats[i % 4]}"
    name=$(printf 'soak-%02d.%s' "$i" "$extension")
    [ -s "$folder/$name" ] && continue
    ffmpeg -loglevel error -nostdin -y \
        -f lavfi -i "color=c=${colours[i % 10]}:size=320x240:rate=25" \
        -f lavfi -i "sine=frequency=$((300 + 20 * i)):sample_rate=44100" -t 1 \
        -c:v "$video" -c:a "$audio" -f "$container" "$folder/$name.part"
    mv "$folder/$name.part" "$folder/$name"
done
