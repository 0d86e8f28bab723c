#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Makes a small folder of sample clips, one of each kind Qel lists. Usage:
#   scripts/make-samples.sh FOLDER
set -euo pipefail
folder=${1:?usage: make-samples.sh FOLDER}
mkdir -p "$folder"
make_clip() { # name, seconds, video codec, audio codec, extra ffmpeg options...
    local name=$1 seconds=$2 vcodec=$3 acodec=$4
    shift 4
    [ -s "$folder/$name" ] && return 0
    ffmpeg -loglevel error -nostdin -y \
        -f lavfi -i "testsrc=size=320x240:rate=25" -f lavfi -i "sine=frequency=440" \
        -t "$seconds" -c:v "$vcodec" -c:a "$acodec" "$@" "$folder/$name"
}
make_clip "Colour bars (MPEG-1).mpg" 10 mpeg1video mp2
make_clip "Colour bars (MPEG-2).mpeg" 10 mpeg2video mp2
make_clip "Colour bars (WMV).wmv" 10 wmv2 wmav2 -f asf
make_clip "Colour bars (ASF).asf" 10 wmv2 wmav2 -f asf
echo "$folder"
