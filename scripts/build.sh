#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Configures and builds Qel. Usage: scripts/build.sh BUILD_DIR BUILD_TYPE [cmake options...]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build_dir=${1:?usage: build.sh BUILD_DIR BUILD_TYPE}
build_type=${2:?usage: build.sh BUILD_DIR BUILD_TYPE}
shift 2
# Quiet when it works; the whole output, and what failed, when it does not.
if ! log=$(cmake -S "$root" -B "$build_dir" -DCMAKE_BUILD_TYPE="$build_type" "$@" 2>&1); then
    printf '%s\n' "$log" >&2
    echo "build.sh: configuring $build_dir failed (cmake output above)" >&2
    exit 1
fi
cmake --build "$build_dir" -j"$(nproc)" || { echo "build.sh: building $build_dir failed" >&2; exit 1; }
