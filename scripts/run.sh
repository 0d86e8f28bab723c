#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs what is missing, builds Qel (Release) and starts it. On the first run it
# makes a folder of sample clips and opens the browser there. Usage:
#   scripts/run.sh            the sample folder
#   scripts/run.sh FOLDER     your own folder of videos
#   scripts/run.sh FILE       a video, with the browser on its folder
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh" build run
"$root/scripts/build.sh" "$root/build-release" Release -DQEL_BUILD_TESTS=OFF -DQEL_BUILD_BENCH=OFF
if [ $# -eq 0 ]; then
    "$root/scripts/make-samples.sh" "$root/samples" >/dev/null
    set -- "$root/samples"
fi
exec "$root/build-release/qel" "$@"
