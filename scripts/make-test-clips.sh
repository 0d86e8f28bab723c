#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Makes the clips the end-to-end tests play: two seconds of SMPTE colour bars
# with a tone in each container, three one-second clips of one colour each for
# the play list, a single frame, a file without a picture, a moving bar interlaced
# and progressive, random bytes and a playlist, each named as a video.
# Usage: scripts/make-test-clips.sh FOLDER
set -euo pipefail
folder=${1:?usage: make-test-clips.sh FOLDER}
mkdir -p "$folder"
bars() { # name, video codec, audio codec, container
    [ -s "$folder/$1" ] && return 0
    ffmpeg -loglevel error -nostdin -y -f lavfi -i "smptebars=size=320x240:rate=25" \
        -f lavfi -i "sine=frequency=440:sample_rate=44100" -t 2 \
        -c:v "$2" -c:a "$3" -f "$4" "$folder/$1.part"
    mv "$folder/$1.part" "$folder/$1"
}
bars bars.mpg mpeg1video mp2 mpeg
bars bars.mpeg mpeg2video mp2 mpeg
bars bars.wmv wmv2 wmav2 asf
bars bars.asf wmv2 wmav2 asf
# Twenty seconds of one colour, first in the list, for the keyboard tests.
if [ ! -s "$folder/a-long.mpg" ]; then
    ffmpeg -loglevel error -nostdin -y -f lavfi -i "color=c=purple:size=320x240:rate=25" \
        -f lavfi -i "sine=frequency=550:sample_rate=44100" -t 20 \
        -c:v mpeg1video -c:a mp2 -f mpeg "$folder/a-long.mpg.part"
    mv "$folder/a-long.mpg.part" "$folder/a-long.mpg"
fi
for clip in seq-1:red seq-2:lime seq-3:blue; do
    name=${clip%%:*}.mpg
    [ -s "$folder/$name" ] && continue
    ffmpeg -loglevel error -nostdin -y -f lavfi -i "color=c=${clip#*:}:size=320x240:rate=25" \
        -f lavfi -i "sine=frequency=660:sample_rate=44100" -t 1 \
        -c:v mpeg1video -c:a mp2 -f mpeg "$folder/$name.part"
    mv "$folder/$name.part" "$folder/$name"
done
# A single frame, without sound.
if [ ! -s "$folder/one-frame.mpg" ]; then
    ffmpeg -loglevel error -nostdin -y -f lavfi -i "color=c=white:size=320x240:rate=25" \
        -frames:v 1 -c:v mpeg1video -f mpeg "$folder/one-frame.mpg.part"
    mv "$folder/one-frame.mpg.part" "$folder/one-frame.mpg"
fi
if [ ! -s "$folder/sound.mpg" ]; then
    ffmpeg -loglevel error -nostdin -y -f lavfi -i "sine=frequency=440" -t 2 -c:a mp2 -f mpeg \
        "$folder/sound.mpg.part"
    mv "$folder/sound.mpg.part" "$folder/sound.mpg"
fi
if [ ! -s "$folder/cover.mpg" ]; then
    # Each input is as long as its stream: FFmpeg 7 ends the whole output when
    # one stream reaches a -frames limit, which left the song without sound.
    ffmpeg -loglevel error -nostdin -y -f lavfi -i "sine=frequency=440:duration=2" \
        -f lavfi -i "smptebars=size=64x64:rate=25:duration=0.04" \
        -map 0:a -map 1:v -c:a libmp3lame -c:v png -disposition:v attached_pic -id3v2_version 3 \
        -f mp3 "$folder/cover.mpg.part"
    mv "$folder/cover.mpg.part" "$folder/cover.mpg"
fi
# A bar crossing the picture at 600 pixels a second, one second without sound:
# woven from 50 fields into interlaced MPEG-2, top field first, as a DVD holds
# it; and shot progressive with one-line stripes that only a frame left whole keeps.
bar() { # name, frame rate, luma inside the bar, filters, encoder options...
    [ -s "$folder/$1" ] && return 0
    local name=$1 rate=$2 luma=$3 filters=$4
    shift 4
    ffmpeg -loglevel error -nostdin -y -f lavfi \
        -i "nullsrc=size=400x300:rate=$rate,format=gray,geq=lum='if(lt(mod(X-T*600\,400)\,60)\,$luma\,16)'" \
        -t 1 -vf "format=yuv420p$filters" -c:v mpeg2video -q:v 2 "$@" -f mpeg "$folder/$name.part"
    mv "$folder/$name.part" "$folder/$name"
}
bar interlaced.mpg 50 '80+Y/2' ',tinterlace=mode=interleave_top,setfield=tff' \
    -flags +ildct+ilme -top 1
bar progressive-lines.mpg 25 'if(mod(Y\,2)\,16\,235)' ''
[ -s "$folder/random.mpg" ] || head -c 65536 /dev/urandom >"$folder/random.mpg"
printf '#EXTM3U\n%s\nhttp://127.0.0.1:9/elsewhere.mpg\n' "$folder/bars.mpg" >"$folder/playlist.mpg"
