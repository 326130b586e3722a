#!/bin/bash
# Records the full 1920x1080 screen under Wine on Xvfb for a few seconds while a box moves,
# and prints how the recorder keeps up with its 33 ms frame grid. Figures only.
#   bench/recorder.sh [SECONDS]
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-10}
build=$root/build/win
session=$build/bench-wine/session

"$root/scripts/install-deps.sh" || exit 1
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release --toolchain "$root/cmake/mingw-w64.cmake" >/dev/null || exit 1
cmake --build "$build" --target recorder_bench || exit 1

"$root/tests/harness/wine-session.sh" start "$session" >/dev/null || exit 1
trap '"$root/tests/harness/wine-session.sh" stop "$session" >/dev/null' EXIT
export ZV_SESSION_DIR=$session
prefix=$(dirname "$session")/wineprefix
rm -f "$prefix/drive_c/zv-bench.mp4"
out=$("$root/tests/harness/wine-run.sh" --timeout $((seconds + 60)) "$build/bench/recorder_bench.exe" 'C:\zv-bench.mp4' "$seconds") || {
    echo "recorder_bench failed"; exit 1; }
file=$prefix/drive_c/zv-bench.mp4
value() { sed -n "s/^$1=//p" <<<"$out" | tr -d '\r'; }
frames=$(ffprobe -v error -count_frames -select_streams v:0 -show_entries stream=nb_read_frames -of csv=p=0 "$file")
duration=$(ffprobe -v error -show_entries format=duration -of csv=p=0 "$file")
size=$(stat -c %s "$file")
printf '%-36s %16s %20s\n' "1920x1080 full screen, under Wine" "measured" "anchor"
printf '%-36s %16s %20s\n' "grab (copy + cursor + read-back)" "$(value grab_ms_mean) ms" "18-20 ms"
printf '%-36s %16s %20s\n' "frames per second in the file" "$(awk -v f="$frames" -v d="$duration" 'BEGIN{printf "%.1f", f/d}')" "30.3 (33 ms grid)"
printf '%-36s %16s %20s\n' "bit rate" "$(awk -v s="$size" -v d="$duration" 'BEGIN{printf "%.0f kbit/s", s*8/d/1000}')" "<= 4400 kbit/s"
printf '%-36s %16s %20s\n' "stop (drain + finalize)" "$(value stop_ms) ms" ""

# The CPU that sound adds: the same recording without sound and with the session's test source
# playing a tone (fed in real time by ffmpeg), one run each. Figures only.
sound_cpu() {
    local fifo=$session/pulse/source feeder run
    ffmpeg -v error -re -f lavfi -i "sine=frequency=440:sample_rate=48000:duration=$((2 * seconds + 60))" \
        -f s16le -ac 1 -y "$fifo" &
    feeder=$!
    for run in off on; do
        local args=('C:\zv-bench-sound.mp4' "$seconds")
        [[ $run == on ]] && args+=("Zentrovia test source")
        out=$("$root/tests/harness/wine-run.sh" --timeout $((seconds + 60)) "$build/bench/recorder_bench.exe" \
            "${args[@]}") || { echo "recorder_bench failed"; break; }
        printf '%-36s %16s %20s\n' "CPU, recording with sound $(value sound)" "$(value cpu_percent) % of a core" \
            "$([[ $run == on ]] && echo "off + AAC, a few %")"
    done
    kill "$feeder" 2>/dev/null
}
sound_cpu
