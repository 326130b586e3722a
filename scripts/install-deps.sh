#!/bin/bash
# Installs what building, running and testing Zentrovia needs on Debian 12, and nothing when
# it is all there already. Runs as root (or through sudo when it is available).
set -euo pipefail

packages=(
    cmake ninja-build g++ python3
    g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 mingw-w64-x86-64-dev
    googletest libgtest-dev libgmock-dev
    wine wine64 fonts-wine xvfb xauth x11-utils xdotool imagemagick
    ffmpeg
    clang-14 libclang-rt-14-dev nsis openssl ca-certificates
    libfreetype-dev fonts-dejavu-core  # the encoder benchmark's real text (bench/generate_sequence.cpp)
)

missing=()
for package in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$package")
    fi
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

echo "install-deps: installing ${missing[*]}"
sudo_cmd=()
[[ $(id -u) -ne 0 ]] && sudo_cmd=(sudo)
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -qq
"${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
