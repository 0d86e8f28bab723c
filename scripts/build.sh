#!/usr/bin/env bash
# Configures and builds Qel. Usage: scripts/build.sh BUILD_DIR BUILD_TYPE [cmake options...]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build_dir=${1:?usage: build.sh BUILD_DIR BUILD_TYPE}
build_type=${2:?usage: build.sh BUILD_DIR BUILD_TYPE}
shift 2
cmake -S "$root" -B "$build_dir" -DCMAKE_BUILD_TYPE="$build_type" "$@" >/dev/null
cmake --build "$build_dir" -j"$(nproc)"
