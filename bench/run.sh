#!/usr/bin/env bash
# Benchmark: built-in H.264 encoder against ffmpeg libx264 (ultrafast, veryfast), one thread each, on a
# screen-like and a full-motion 1920x1080 sequence. Prints figures only; nothing here passes or fails.
set -euo pipefail

ROOT="$(cd "$(dirname "$0")/.." && pwd)"
BUILD="$ROOT/build-bench"
DATA="$BUILD/data"
FRAMES="${FRAMES:-300}"
W=1920
H=1080
BITRATE=4000000

mkdir -p "$DATA"
trap 'rm -f "$DATA"/*.bgra "$DATA"/*.yuv' EXIT

cmake -S "$ROOT/bench" -B "$BUILD" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$BUILD" -j2 >/dev/null

ff() { ffmpeg -nostdin -hide_banner -y "$@"; }

echo "Generating $FRAMES frames of each sequence in $DATA ..." >&2
"$BUILD/generate_screen" "$DATA/screen.bgra" "$FRAMES"
ff -v error -f lavfi -i "testsrc2=size=${W}x${H}:rate=30" -frames:v "$FRAMES" -vf vflip -pix_fmt bgra \
   -f rawvideo "$DATA/motion.bgra"
# The same yuv420p conversion for x264 and as the PSNR reference (frames arrive bottom-up, hence vflip).
for seq in screen motion; do
  ff -v error -f rawvideo -pix_fmt bgra -s ${W}x${H} -r 30 -i "$DATA/$seq.bgra" -vf vflip -pix_fmt yuv420p \
     -f rawvideo "$DATA/$seq.yuv"
done

psnr_y() {  # decoded stream vs yuv420p reference -> luma PSNR
  # Decode to raw first: raw H.264 carries no timestamps and the psnr filter would pair frames by guessed ones.
  ffmpeg -nostdin -v error -i "$1" -f rawvideo -pix_fmt yuv420p - |
    ff -f rawvideo -pix_fmt yuv420p -s ${W}x${H} -r 30 -i - -f rawvideo -pix_fmt yuv420p -s ${W}x${H} -r 30 -i "$2" \
       -lavfi psnr -f null - 2>&1 | sed -n 's/.*PSNR y:\([0-9.inf]*\).*/\1/p' | tail -1
}
kbps() { echo "$(stat -c %s "$1") $FRAMES" | awk '{printf "%.0f", $1 * 8 / ($2 / 30) / 1000}'; }

rows=()
details=()
for seq in screen motion; do
  out="$DATA/$seq-builtin.h264"
  line=$("$BUILD/encode_bench" "$DATA/$seq.bgra" $W $H "$FRAMES" $BITRATE "$out")
  fps=$(sed -n 's/.* fps=\([0-9.]*\).*/\1/p' <<<"$line")
  window=$(sed -n 's/.*max10s_kbps=\([0-9]*\).*/\1/p' <<<"$line")
  details+=("$seq: $line")
  rows+=("$(printf '%-8s %-18s %8s %9s %8s %12s' "$seq" "built-in" "$fps" "$(kbps "$out")" "$(psnr_y "$out" "$DATA/$seq.yuv")" "$window")")
  for preset in ultrafast veryfast; do
    out="$DATA/$seq-x264-$preset.h264"
    utime=$(ff -benchmark -f rawvideo -pix_fmt yuv420p -s ${W}x${H} -r 30 -i "$DATA/$seq.yuv" -c:v libx264 \
              -preset $preset -threads 1 -b:v 4M -f h264 "$out" 2>&1 | sed -n 's/.*utime=\([0-9.]*\)s.*/\1/p')
    fps=$(awk -v f="$FRAMES" -v t="$utime" 'BEGIN{printf "%.1f", f / t}')
    rows+=("$(printf '%-8s %-18s %8s %9s %8s %12s' "$seq" "x264 $preset" "$fps" "$(kbps "$out")" "$(psnr_y "$out" "$DATA/$seq.yuv")" "-")")
  done
  # For reference: x264 fed BGRA like the built-in encoder, ffmpeg's conversion included in its time.
  out="$DATA/$seq-x264-bgra.h264"
  utime=$(ff -benchmark -f rawvideo -pix_fmt bgra -s ${W}x${H} -r 30 -i "$DATA/$seq.bgra" -vf vflip -pix_fmt yuv420p \
            -filter_threads 1 -c:v libx264 -preset ultrafast -threads 1 -b:v 4M -f h264 "$out" 2>&1 |
          sed -n 's/.*utime=\([0-9.]*\)s.*/\1/p')
  fps=$(awk -v f="$FRAMES" -v t="$utime" 'BEGIN{printf "%.1f", f / t}')
  rows+=("$(printf '%-8s %-18s %8s %9s %8s %12s' "$seq" "x264 uf, bgra in" "$fps" "$(kbps "$out")" "$(psnr_y "$out" "$DATA/$seq.yuv")" "-")")
done

echo
echo "1920x1080, $FRAMES frames at 30 fps, target 4 Mbit/s, one thread"
echo "built-in: BGRA input, thread CPU time of encode() incl. conversion; x264: yuv420p input, ffmpeg -benchmark utime"
echo "(x264 uf, bgra in: ultrafast fed the BGRA frames, ffmpeg's flip and conversion inside its utime)"
printf '%-8s %-18s %8s %9s %8s %12s\n' sequence encoder fps kbit/s PSNR-Y max10s-kbit/s
for r in "${rows[@]}"; do echo "$r"; done
echo
echo "built-in details (key_ms / other_ms: CPU time per IDR / per other frame):"
for d in "${details[@]}"; do echo "  $d"; done
