#!/bin/bash
# Cross-builds the part of FFmpeg the built-in writer uses (libavcodec with only the AAC
# encoder, libavutil, libswresample) for 64-bit Windows, static, from Debian's own ffmpeg
# source package. Debian ships no MinGW build of it.
#   scripts/build-ffmpeg.sh [OUT]   default OUT: build/ffmpeg-mingw (include/, lib/)
# Does nothing when OUT holds a build made with the same options; delete OUT to rebuild.
# The deb-src entry apt-get needs comes from scripts/install-deps.sh.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
out=${1:-$root/build/ffmpeg-mingw}
work=$out-src
jobs=${ZV_JOBS:-$(nproc)}

options=(
    --target-os=mingw32 --arch=x86_64 --cross-prefix=x86_64-w64-mingw32- --enable-cross-compile
    --enable-static --disable-shared --disable-debug
    --disable-everything --enable-encoder=aac
    --disable-programs --disable-doc --disable-network --disable-autodetect
    --disable-avformat --disable-avdevice --disable-avfilter --disable-swscale --disable-postproc
    --disable-pthreads --disable-x86asm
)
stamp="$out/.built-with"
if [[ -f $stamp && $(cat "$stamp") == "${options[*]}" ]]; then
    exit 0
fi

rm -rf "$work" "$out"
mkdir -p "$work"
cd "$work"
echo "build-ffmpeg: fetching Debian's ffmpeg source package"
if ! apt-get source -qq ffmpeg >/dev/null 2>apt.log; then
    cat apt.log >&2
    echo "build-ffmpeg: apt-get source failed; scripts/install-deps.sh adds the deb-src entry it needs" >&2
    exit 1
fi
src=$(find . -mindepth 1 -maxdepth 1 -type d -name 'ffmpeg-*' | head -n 1)
mkdir build
cd build
echo "build-ffmpeg: configuring $src"
"../$src/configure" --prefix="$out" "${options[@]}" >configure.log 2>&1 || { tail -n 30 configure.log >&2; exit 1; }
echo "build-ffmpeg: building"
make -j "$jobs" >make.log 2>&1 || { tail -n 30 make.log >&2; exit 1; }
make install >>make.log 2>&1
cp "../$src/COPYING.LGPLv2.1" "$out/"
printf '%s' "${options[*]}" >"$stamp"
rm -rf "$work"
echo "build-ffmpeg: done, $out"
