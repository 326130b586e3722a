#!/bin/bash
# Configures and builds both halves of the tree:
#   build/host  native, platform-free logic and its tests under ASan/UBSan
#   build/win   MinGW-w64 cross build: Zentrovia.exe, Windows-side and end-to-end tests
#   build/ffmpeg-mingw  FFmpeg's sound libraries cross-built for it (scripts/build-ffmpeg.sh)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
jobs=${ZV_JOBS:-$(nproc)}

cmake -S "$root" -B "$root/build/host" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$root/build/host" -j "$jobs"
# FFmpeg's sound libraries for Windows, built once and cached in the build tree.
"$root/scripts/build-ffmpeg.sh" "$root/build/ffmpeg-mingw"
cmake -S "$root" -B "$root/build/win" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    --toolchain "$root/cmake/mingw-w64.cmake" -DZV_FFMPEG_MINGW="$root/build/ffmpeg-mingw" >/dev/null
cmake --build "$root/build/win" -j "$jobs"
