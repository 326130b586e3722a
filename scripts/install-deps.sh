#!/bin/bash
# Installs what building, running and testing Zentrovia needs on Debian 12, and nothing when
# it is all there already. Runs as root (or through sudo when it is available).
set -euo pipefail

packages=(
    cmake ninja-build g++ python3
    g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 mingw-w64-x86-64-dev
    googletest libgtest-dev libgmock-dev
    wine wine64 fonts-wine xvfb xauth x11-utils xdotool imagemagick
    ffmpeg libavcodec-dev libavutil-dev libswresample-dev pkg-config pulseaudio python3-tk
    dpkg-dev make
    clang-14 libclang-rt-14-dev nsis openssl ca-certificates
    libfreetype-dev fonts-dejavu-core  # the encoder benchmark's real text (bench/generate_sequence.cpp)
)

sudo_cmd=()
[[ $(id -u) -ne 0 ]] && sudo_cmd=(sudo)

# scripts/build-ffmpeg.sh cross-builds FFmpeg from Debian's own source package: a deb-src entry
# beside each of the system's Debian archive entries (deb822 and one-line formats).
src_list=/etc/apt/sources.list.d/zentrovia-deb-src
need_update=0
if [[ ! -f $src_list.sources && ! -f $src_list.list ]]; then
    deb822=$(awk 'BEGIN { RS = ""; ORS = "\n\n" }
                  /(^|\n)Types: deb(\n|$)/ && /URIs: [^\n]*debian\.org/ { sub(/Types: deb/, "Types: deb-src"); print }' \
             /etc/apt/sources.list.d/*.sources 2>/dev/null || true)
    oneline=$(sed -n 's|^deb \(.*debian\.org.*\)|deb-src \1|p' /etc/apt/sources.list 2>/dev/null || true)
    [[ -n $deb822 ]] && printf '%s' "$deb822" | "${sudo_cmd[@]}" tee "$src_list.sources" >/dev/null && need_update=1
    [[ -n $oneline ]] && printf '%s\n' "$oneline" | "${sudo_cmd[@]}" tee "$src_list.list" >/dev/null && need_update=1
fi

missing=()
for package in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$package")
    fi
done
[[ ${#missing[@]} -eq 0 && $need_update -eq 0 ]] && exit 0

export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -qq
[[ ${#missing[@]} -eq 0 ]] && exit 0
echo "install-deps: installing ${missing[*]}"
"${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
