#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs the Debian packages Qel needs that are missing. Usage:
#   scripts/install-deps.sh [build] [run] [test] [bench] [fresh]   (default: build run test)
# build and run are what the player needs; test, bench and fresh (the fresh
# install check) add the servers and tools of those commands only.
set -euo pipefail

build_packages=(
    cmake
    make
    g++
    pkg-config
    qt6-base-dev
    qt6-base-dev-tools
    libgl-dev
    libegl-dev
    libqt6opengl6-dev
    libmpv-dev
    libpulse-dev
    libxkbcommon-x11-dev
)
# Playing needs only the sound server's client library, which the build group
# brings: the desktop's own server (PipeWire or PulseAudio) plays the sound.
# ffmpeg makes the sample clips.
run_packages=(
    fonts-vlgothic
    fonts-ipafont-gothic
    libgl1-mesa-dri
    ffmpeg
)
# The suite also builds and smoke-tests the benchmarks.
test_packages=(
    libbenchmark-dev
    libxcb1-dev
    pulseaudio
    weston
    qt6-wayland
    lintian
    xdg-utils
    googletest
    libgtest-dev
    clang-format
    xvfb
    xauth
    xdotool
    imagemagick
    openbox
    x11-utils
    pulseaudio-utils
    pipewire
    pipewire-bin
    pipewire-pulse
    wireplumber
    mpv
    dbus-daemon
    desktop-file-utils
    appstream
    dpkg-dev
    file
    groff-base
    at-spi2-core
    fuse3
    python3-fusepy
    python3-pyatspi
)
bench_packages=(
    libbenchmark-dev
    libxcb1-dev
    mpv
    xvfb
    xauth
    xdotool
    x11-utils
    pulseaudio
    pulseaudio-utils
    pipewire
    pipewire-bin
    pipewire-pulse
    wireplumber
    ffmpeg
)
fresh_packages=(
    debootstrap
    xvfb
    xdotool
)

groups=("$@")
[ ${#groups[@]} -eq 0 ] && groups=(build run test)

wanted=()
for group in "${groups[@]}"; do
    case "$group" in
        build) wanted+=("${build_packages[@]}") ;;
        run) wanted+=("${run_packages[@]}") ;;
        test) wanted+=("${test_packages[@]}") ;;
        bench) wanted+=("${bench_packages[@]}") ;;
        fresh) wanted+=("${fresh_packages[@]}") ;;
        *) echo "install-deps: unknown group '$group' (build, run, test, bench, fresh)" >&2; exit 2 ;;
    esac
done

missing=()
for package in "${wanted[@]}"; do
    status=$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true)
    [ "$status" = "install ok installed" ] || missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo=""
if [ "$(id -u)" -ne 0 ]; then
    command -v sudo >/dev/null || { echo "install-deps: run as root or install sudo" >&2; exit 1; }
    sudo=sudo
fi
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -q
$sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
