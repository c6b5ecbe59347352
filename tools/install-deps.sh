#!/usr/bin/env bash
# Installs everything the build, the tests and the OBS run need on Debian 12.
# Run as root (or with sudo available).
set -euo pipefail

packages=(
    # build
    cmake ninja-build g++ pkg-config clang-format
    libobs-dev qtbase5-dev qt6-base-dev libx11-dev
    libgtest-dev libgmock-dev libbenchmark-dev
    # the service link: HTTP over libcurl; the loopback test service (HTTP and HTTPS)
    libcurl4-openssl-dev libssl-dev libcpp-httplib-dev openssl
    # sanitizers and libFuzzer
    clang
    # the Windows parts: mingw cross compiler, GoogleTest's sources, Wine to run them
    g++-mingw-w64-x86-64 googletest wine64
    # the real OBS under a virtual display
    obs-studio obs-plugins xvfb xauth libgl1-mesa-dri imagemagick
    # Japanese, Korean and Chinese glyphs for the dock (Qt's font fallback);
    # Debian's default fonts cover Latin and Cyrillic only
    fonts-noto-cjk
    # tools/dock-shots.sh presses the dock's link button for its link-code picture
    xdotool
)

sudo=""
if [ "$(id -u)" -ne 0 ]; then
    sudo="sudo"
fi

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
    exit 0
fi
echo "Installing: ${missing[*]}"
$sudo apt-get update -q
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
