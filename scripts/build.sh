#!/bin/bash
# Configures and builds both halves of the tree:
#   build/host  native, platform-free logic and its tests under ASan/UBSan
#   build/win   MinGW-w64 cross build: Zentrovia.exe, Windows-side and end-to-end tests
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
jobs=${ZV_JOBS:-$(nproc)}

cmake -S "$root" -B "$root/build/host" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$root/build/host" -j "$jobs"
cmake -S "$root" -B "$root/build/win" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    --toolchain "$root/cmake/mingw-w64.cmake" >/dev/null
cmake --build "$root/build/win" -j "$jobs"
