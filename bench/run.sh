#!/usr/bin/env bash
# Benchmark: the built-in H.264 encoder against ffmpeg's libx264 ultrafast, one thread each, on generated
# desktop sequences. Each encoder runs at 1, 2 and 4 Mbit/s; the table gives the BD-rate (luma PSNR) of the
# built-in encoder against x264 and the speed of both. Prints figures only; nothing here passes or fails.
#   FRAMES=300 SEQUENCES="drag:1920x1080 noise:1280x720" bench/run.sh
set -euo pipefail

ROOT="$(cd "$(dirname "$0")/.." && pwd)"
BUILD="$ROOT/build-bench"
DATA="$BUILD/data"
FRAMES="${FRAMES:-300}"
SEQUENCES="${SEQUENCES:-textdrag:1920x1080 textscroll2:1920x1080 textscroll6:1920x1080 textscroll15:1920x1080 textvideo:1920x1080 screen:1920x1080 drag:1920x1080 drag:1366x768 scroll:1920x1080 scroll:1366x768 video:1280x720 video:1920x1080 fade:1920x1080 noise:1920x1080 noise:1280x720}"
RATES="1000000 2000000 4000000"

mkdir -p "$DATA"
trap 'rm -f "$DATA"/*.bgra "$DATA"/*.yuv' EXIT

cmake -S "$ROOT/bench" -B "$BUILD" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$BUILD" -j2 >/dev/null

ff() { ffmpeg -nostdin -hide_banner -y "$@"; }
utime_fps() { sed -n 's/.*utime=\([0-9.]*\)s.*/\1/p' | awk -v f="$FRAMES" '{printf "%.0f", f / $1}'; }
kbps() { echo "$(stat -c %s "$1") $FRAMES" | awk '{printf "%.0f", $1 * 8 / ($2 / 30) / 1000}'; }

psnr_y() {  # decoded stream vs yuv420p reference -> luma PSNR; the decoder must not complain
  # Decode to raw first: raw H.264 carries no timestamps and the psnr filter would pair frames by guessed ones.
  local errors="$DATA/decode-errors.txt"
  ffmpeg -nostdin -v error -i "$1" -f rawvideo -pix_fmt yuv420p - 2>"$errors" |
    ff -f rawvideo -pix_fmt yuv420p -s "$SIZE" -r 30 -i - -f rawvideo -pix_fmt yuv420p -s "$SIZE" -r 30 -i "$2" \
       -lavfi psnr -f null - 2>&1 | sed -n 's/.*PSNR y:\([0-9.inf]*\).*/\1/p' | tail -1
  if [ -s "$errors" ]; then echo "DECODE ERRORS in $1:" >&2; head -5 "$errors" >&2; fi
}

rows=()
details=()
for entry in $SEQUENCES; do
  seq=${entry%%:*}
  SIZE=${entry#*:}
  W=${SIZE%x*}
  H=${SIZE#*x}
  name="$seq-$SIZE"
  echo "$name: generating $FRAMES frames, encoding at 1/2/4 Mbit/s ..." >&2
  "$BUILD/generate_sequence" "$seq" "$W" "$H" "$FRAMES" "$DATA/$name.bgra"
  # The same yuv420p for x264 and as the PSNR reference (frames arrive bottom-up, hence vflip).
  ff -v error -f rawvideo -pix_fmt bgra -s "$SIZE" -r 30 -i "$DATA/$name.bgra" -vf vflip -pix_fmt yuv420p \
     -f rawvideo "$DATA/$name.yuv"
  ours="" theirs="" ours_fps="" x264_fps="" window=0
  for rate in $RATES; do
    out="$DATA/$name-builtin-$rate.h264"
    line=$("$BUILD/encode_bench" "$DATA/$name.bgra" "$W" "$H" "$FRAMES" "$rate" "$out")
    ours+="$(kbps "$out"):$(psnr_y "$out" "$DATA/$name.yuv"),"
    ours_fps+="$(sed -n 's/.* fps=\([0-9.]*\).*/\1/p' <<<"$line") "
    window=$(sed -n 's/.*max10s_kbps=\([0-9]*\).*/\1/p' <<<"$line" | awk -v w="$window" -v r="$rate" '{p = $1 * 100000 / r; printf "%.0f", (p > w ? p : w)}')
    out="$DATA/$name-x264-$rate.h264"
    x264_fps+="$(ff -benchmark -f rawvideo -pix_fmt yuv420p -s "$SIZE" -r 30 -i "$DATA/$name.yuv" -c:v libx264 \
                  -preset ultrafast -threads 1 -g 60 -b:v "$rate" -f h264 "$out" 2>&1 | utime_fps) "
    theirs+="$(kbps "$out"):$(psnr_y "$out" "$DATA/$name.yuv"),"
    details+=("$name @$((rate / 1000))k: x264_kbps=$(kbps "$out") $line")
  done
  # x264 fed BGRA like the built-in encoder, ffmpeg's flip and conversion inside its time (at 4 Mbit/s).
  bgra_fps=$(ff -benchmark -f rawvideo -pix_fmt bgra -s "$SIZE" -r 30 -i "$DATA/$name.bgra" -vf vflip -pix_fmt yuv420p \
               -filter_threads 1 -c:v libx264 -preset ultrafast -threads 1 -g 60 -b:v 4M -f null - 2>&1 | utime_fps)
  bd=$(python3 "$ROOT/bench/bdrate.py" "${theirs%,}" "${ours%,}")
  mean() { awk '{s = 0; for (i = 1; i <= NF; ++i) s += $i; printf "%.0f", s / NF}' <<<"$1"; }
  points() { awk -v RS=, -F: 'NF == 2 {printf "%s%.2f", (NR > 1 ? " / " : ""), $2}' <<<"$1"; }
  rows+=("| $seq | $SIZE | $bd | $(points "$ours") | $(points "$theirs") | $(mean "$ours_fps") | $(mean "$x264_fps") | $bgra_fps | $window% |")
  rm -f "$DATA/$name.bgra" "$DATA/$name.yuv"
done

echo
echo "$FRAMES frames at 30 fps; each encoder at 1, 2 and 4 Mbit/s, one thread."
echo "BD-rate: built-in against x264 ultrafast on luma PSNR (negative = fewer bits for the same quality)."
echo "fps: CPU time on one core, mean over the three rates. built-in: BGRA in, conversion included;"
echo "x264: yuv420p in (ffmpeg utime); x264 BGRA: fed the BGRA frames, ffmpeg's flip and conversion included."
echo "dB: PSNR-Y at the 1 / 2 / 4 Mbit/s targets (kbit/s reached: below the table);"
echo "max 10 s: the built-in encoder's highest 10 s window, in % of its target, over the three rates."
echo
echo "| sequence | size | BD-rate | built-in dB | x264 dB | built-in fps | x264 fps | x264 BGRA fps | max 10 s |"
echo "|---|---|---:|---:|---:|---:|---:|---:|---:|"
for r in "${rows[@]}"; do echo "$r"; done
echo
echo "built-in details (key_ms / other_ms: CPU time per IDR / per other frame; empty: P frames under 64 bytes):"
for d in "${details[@]}"; do echo "  $d"; done
