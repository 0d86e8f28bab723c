#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Makes the media the benchmarks play: 1280x720 at 30 fps with a tone, as MPEG-2
# in an MPEG program stream and as WMV2 in ASF, and 576i MPEG-2 (interlaced).
# Usage: make-bench-media.sh FOLDER SECONDS
set -euo pipefail
folder=${1:?usage: make-bench-media.sh FOLDER SECONDS}
seconds=${2:-20}
mkdir -p "$folder/mpeg2" "$folder/wmv2"
make() { # file, video codec, audio codec, container, extra options
    [ -s "$1" ] && return 0
    local file=$1 video=$2 audio=$3 container=$4
    shift 4
    ffmpeg -loglevel error -nostdin -y -f lavfi -i "${source:-testsrc2=size=1280x720:rate=30}" \
        -f lavfi -i "sine=frequency=440:sample_rate=48000" -t "$seconds" \
        -c:v "$video" -b:v 6M -c:a "$audio" -b:a 192k "$@" -f "$container" "$file.part"
    mv "$file.part" "$file"
}
make "$folder/mpeg2/clip-720p.mpg" mpeg2video mp2 mpeg
make "$folder/wmv2/clip-720p.wmv" wmv2 wmav2 asf
# As a DVD holds it: 720x576, 50 fields a second woven into 25 interlaced frames.
mkdir -p "$folder/mpeg2i"
source="testsrc2=size=720x576:rate=50" make "$folder/mpeg2i/clip-576i.mpg" mpeg2video mp2 mpeg \
    -vf "tinterlace=mode=interleave_top,setfield=tff" -flags +ildct+ilme -top 1
# Three short files to switch between, whatever the length of the others.
mkdir -p "$folder/switch"
seconds=4 make "$folder/switch/a.mpg" mpeg2video mp2 mpeg
for name in b c; do
    [ -s "$folder/switch/$name.mpg" ] || cp "$folder/switch/a.mpg" "$folder/switch/$name.mpg"
done
