#!/bin/bash
# Builds Zentrovia and starts it under Wine: on $DISPLAY when there is one, otherwise on a
# private Xvfb display that this script starts (and stops again when Zentrovia ends).
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

"$root/scripts/install-deps.sh" || exit 1
cmake -S "$root" -B "$root/build/win" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    --toolchain "$root/cmake/mingw-w64.cmake" >/dev/null || exit 1
cmake --build "$root/build/win" --target Zentrovia || exit 1

export WINEPREFIX=${WINEPREFIX:-$root/build/run-prefix}
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"

xvfb_pid=""
cleanup() {
    wineserver -k 2>/dev/null
    [[ -n "$xvfb_pid" ]] && kill "$xvfb_pid" 2>/dev/null
}
trap cleanup EXIT
trap 'exit 130' INT TERM

if [[ -z "${DISPLAY:-}" ]]; then
    for n in $(seq 60 99); do
        [[ -e /tmp/.X$n-lock || -e /tmp/.X11-unix/X$n ]] && continue
        Xvfb ":$n" -screen 0 1920x1080x24 -nolisten tcp >/dev/null 2>&1 &
        xvfb_pid=$!
        export DISPLAY=":$n"
        break
    done
    [[ -n "$xvfb_pid" ]] || { echo "run: no free X display number" >&2; exit 1; }
    for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.2; done
    echo "run: no \$DISPLAY, so Zentrovia runs on a private Xvfb display $DISPLAY (e.g. x11vnc -display $DISPLAY to see it)"
fi

[[ -d "$WINEPREFIX" ]] || timeout 180 wineboot -i >/dev/null 2>&1
profile=$(wine cmd /c 'echo %USERPROFILE%' 2>/dev/null | tr -d '\r')
# Wine may link the profile's Pictures folder to a folder of the Linux home.
pictures=$(realpath -m "$WINEPREFIX/drive_c/users/$(whoami)/Pictures")
echo "run: recordings land in $pictures/Zentrovia (in Windows terms ${profile}\\Pictures\\Zentrovia)"
wine "$root/build/win/Zentrovia.exe"
