#!/bin/bash
# How the recorder keeps up with the screen under Wine, at 1920x1080 and 2560x1440, each on its
# own Xvfb: the grab (captureFrame) beside a raw BitBlt into a DIB section of the same size, the
# limit here; the frames per second in a recording made by the real Zentrovia.exe while a box
# moves, beside the rate the raw copy allows; at 1920x1080 also the CPU of the Zentrovia.exe
# process while it records, beside ffmpeg's x11grab + libx264 ultrafast recording the same screen
# for the same time, and the CPU that sound adds (bench/recorder_sound.py). Figures from one run,
# nothing passes or fails.
#   bench/recorder.sh [SECONDS]
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-10}
frames=60  # grabs timed per size, each beside a raw copy
build=$root/build/win
session=$build/bench-wine/session
prefix=$(dirname "$session")/wineprefix
hz=$(getconf CLK_TCK)

"$root/scripts/install-deps.sh" || exit 1
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release --toolchain "$root/cmake/mingw-w64.cmake" >/dev/null || exit 1
cmake --build "$build" --target recorder_bench Zentrovia zvdriver zvhook || exit 1

export ZV_SESSION_DIR=$session
trap '"$root/tests/harness/wine-session.sh" stop "$session" >/dev/null' EXIT
run() { "$root/tests/harness/wine-run.sh" "$@"; }
# KEY=VALUE lines of the bench, tab-separated key=value records of the driver.
value() { tr '\t' '\n' <<<"$2" | sed -n "s/^$1=//p" | tr -d '\r' | head -1; }
driver() { run --timeout 40 "$build/tests/harness/zvdriver.exe" "$@"; }
ticks() { awk '{print $14 + $15}' "/proc/$1/stat" 2>/dev/null || echo 0; }  # user + system CPU
now() { date +%s.%N; }
percent() { awk -v t="$1" -v s="$2" -v hz="$hz" 'BEGIN{printf "%.0f %%", t / hz / s * 100}'; }
# The Linux process of Zentrovia.exe in this session's prefix (Wine names it after the program).
app_process() {
    local pid
    for pid in $(pgrep -x Zentrovia.exe); do
        tr '\0' '\n' <"/proc/$pid/environ" 2>/dev/null | grep -qx "WINEPREFIX=$prefix" && { echo "$pid"; return 0; }
    done
    return 1
}
within() { local n; for ((n = $1 * 10; n > 0; n--)); do "${@:2}" && return 0; sleep 0.1; done; return 1; }

# Records with Zentrovia.exe for $seconds while the box moves; sets file, cpu_app, cpu_x.
record_with_app() {
    local folder hwnd pid xpid before t0 a0 x0 wall
    folder=$(<"$session/pictures")/Zentrovia
    mkdir -p "$folder"
    before=$(ls "$folder")
    run --timeout $((seconds + 60)) "$build/bench/recorder_bench.exe" box $((seconds + 10)) >/dev/null &
    run --timeout $((seconds + 120)) "$build/Zentrovia.exe" >/dev/null 2>&1 &
    hwnd=$(value hwnd "$(driver find --title zentrovia --class ZENTROVIA --timeout-ms 30000)")
    pid=$(app_process) || { echo "no Zentrovia.exe process"; return 1; }
    xpid=$(<"$session/xvfb.pid")
    driver command --hwnd "$hwnd" --id 1001 >/dev/null
    t0=$(now) a0=$(ticks "$pid") x0=$(ticks "$xpid")
    sleep "$seconds"
    cpu_app=$(percent $(($(ticks "$pid") - a0)) "$(awk -v a="$(now)" -v b="$t0" 'BEGIN{print a - b}')")
    cpu_x=$(percent $(($(ticks "$xpid") - x0)) "$(awk -v a="$(now)" -v b="$t0" 'BEGIN{print a - b}')")
    driver command --hwnd "$hwnd" --id 1001 >/dev/null
    file=
    within 60 bash -c "comm -13 <(echo \"$before\") <(ls \"$folder\") | grep -q mp4" || { echo "no recording"; return 1; }
    file=$folder/$(comm -13 <(echo "$before") <(ls "$folder") | grep mp4 | head -1)
    within 60 ffprobe -v error "$file" || { echo "the recording was not finalized"; return 1; }
    driver close --hwnd "$hwnd" >/dev/null
    wait
}

printf '%-10s %16s %16s %9s %12s %12s %8s\n' size "raw copy ms" "grab ms" grab/raw "fps in file" "raw allows" share
printf '%-10s %16s %16s %9s %12s %12s %8s\n' "" "mean / p99" "mean / p99" "" "" "(<= 30)" ""
cpu_rows=
for size in 1920x1080 2560x1440; do
    ZV_SCREEN_SIZE=$size "$root/tests/harness/wine-session.sh" start "$session" >/dev/null || exit 1
    rm -f "$prefix/drive_c/zv-grab.mp4"
    out=$(run --timeout 600 "$build/bench/recorder_bench.exe" grab 'C:\zv-grab.mp4' "$frames") || {
        echo "recorder_bench failed at $size: $out"; exit 1; }
    [[ $(value size "$out") == "$size" ]] || { echo "the screen is $(value size "$out"), not $size"; exit 1; }
    record_with_app || exit 1
    fps=$(ffprobe -v error -count_frames -select_streams v:0 -show_entries stream=nb_read_frames:format=duration \
        -of default=nw=1 "$file" | awk -F= '/nb_read_frames/{f=$2} /duration/{d=$2} END{printf "%.1f", f / d}')
    allows=$(awk -v m="$(value raw_mean "$out")" 'BEGIN{r = 1000 / m; printf "%.1f", (r > 30 ? 30 : r)}')
    printf '%-10s %16s %16s %9s %12s %12s %8s\n' "$size" "$(value raw_mean "$out") / $(value raw_p99 "$out")" \
        "$(value grab_mean "$out") / $(value grab_p99 "$out")" \
        "$(awk -v g="$(value grab_mean "$out")" -v r="$(value raw_mean "$out")" 'BEGIN{printf "%.2f", g / r}')" \
        "$fps" "$allows" "$(awk -v f="$fps" -v a="$allows" 'BEGIN{printf "%.0f %%", f / a * 100}')"
    if [[ $size == 1920x1080 ]]; then
        display=$(<"$session/display") xpid=$(<"$session/xvfb.pid")
        run --timeout $((seconds + 60)) "$build/bench/recorder_bench.exe" box $((seconds + 10)) >/dev/null &
        sleep 2
        x0=$(ticks "$xpid")
        TIMEFORMAT='%U %S'
        cpu_ff=$({ time ffmpeg -nostdin -v error -f x11grab -framerate 30 -video_size "$size" -i ":$display" \
            -t "$seconds" -c:v libx264 -preset ultrafast -y "$build/bench-wine/x11grab.mp4" 2>/dev/null; } 2>&1 |
            awk -v s="$seconds" '{printf "%.0f %%", ($1 + $2) / s * 100}')
        cpu_ffx=$(percent $(($(ticks "$xpid") - x0)) "$seconds")
        wait
        cpu_rows=$(printf '%-44s %10s %14s\n' "CPU while recording $size for ${seconds} s" "process" "X server")
        cpu_rows+=$'\n'$(printf '%-44s %10s %14s' "Zentrovia.exe (Wine)" "$cpu_app" "$cpu_x")
        cpu_rows+=$'\n'$(printf '%-44s %10s %14s' "ffmpeg x11grab + libx264 ultrafast" "$cpu_ff" "$cpu_ffx")
        # The same recording without and with sound, one after the other in one program.
        run --timeout $((2 * seconds + 90)) "$build/bench/recorder_bench.exe" box $((2 * seconds + 60)) >/dev/null &
        cpu_rows+=$'\n'$(ZV_BUILD_DIR=$build ZV_APP_EXE=$build/Zentrovia.exe ZV_WINE_RUN=$build/zv-wine-run \
            ZV_DRIVER_EXE=$build/tests/harness/zvdriver.exe ZV_TEST_TIMEOUT=$((2 * seconds + 90)) \
            PYTHONPATH=$root/tests/harness:$root/tests/e2e python3 "$root/bench/recorder_sound.py" "$seconds" | grep %)
        wait
    fi
    "$root/tests/harness/wine-session.sh" stop "$session" >/dev/null
done
echo
echo "$cpu_rows"
