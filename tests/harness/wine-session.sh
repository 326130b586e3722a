#!/bin/bash
# Starts or stops one private Wine session: an Xvfb display, a prefix kept in the build tree
# (SESSION_DIR/../wineprefix), a persistent wineserver and a private PulseAudio server (a null
# sink and a source "Zentrovia test source" that plays what tests write into SESSION_DIR/pulse/source,
# 48 kHz mono s16le), each stopped by its recorded PID.
# The screen is 1920x1080 unless ZV_SCREEN_SIZE says otherwise (e.g. 2560x1440).
#   wine-session.sh start|stop SESSION_DIR   (start writes env, display, *.pid and pictures there)
set -u
[[ $# -eq 2 && $1 =~ ^(start|stop)$ ]] || { echo "usage: $0 start|stop SESSION_DIR" >&2; exit 2; }
session=$(realpath -m -- "$2")
export WINEPREFIX=${session%/*}/wineprefix WINEARCH=win64 WINEDEBUG=-all HOME=${session%/*}/winehome
# No Mono/Gecko prompts, no menu entries written outside the prefix.
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
export XDG_CONFIG_HOME=$HOME/.config XDG_DATA_HOME=$HOME/.local/share XDG_CACHE_HOME=$HOME/.cache

die() { echo "wine-session: $*" >&2; stop; exit 1; }
# Retries the command that follows every 0.1 s for up to $1 seconds.
within() { local n; for ((n = $1 * 10; n > 0; n--)); do "${@:2}" && return 0; sleep 0.1; done; return 1; }

# A recorded PID is ended only while it still names the program we started (PIDs are reused).
stop_pid() {
    local pid
    pid=$(cat "$session/$1.pid" 2>/dev/null) || return 0
    if [[ $(cat "/proc/$pid/comm" 2>/dev/null) == "$2"* ]]; then
        kill -TERM "$pid"
        within 5 test ! -e "/proc/$pid" || kill -KILL "$pid"
    fi
    rm -f -- "$session/$1.pid"
}

stop() {
    # -k ends every Wine process of this prefix and the server, bounded in case it hangs.
    [[ -f $session/wineserver.pid ]] && timeout 5 wineserver -k 2>/dev/null && timeout 5 wineserver -w 2>/dev/null
    stop_pid wineserver wineserver
    stop_pid xvfb Xvfb
    stop_pid pulse pulseaudio
    rm -f -- "$session/env" "$session/display" "$session/pictures"
}

start_xvfb() {
    # -displayfd: Xvfb takes a free display itself and writes its number once it accepts clients.
    Xvfb -displayfd 3 -screen 0 "${ZV_SCREEN_SIZE:-1920x1080}x24" -nolisten tcp -noreset 3>"$session/display" >"$session/xvfb.log" 2>&1 &
    echo $! >"$session/xvfb.pid"
    within 10 test -s "$session/display" || die "Xvfb did not start (see $session/xvfb.log)"
    export DISPLAY=:$(<"$session/display")
}

# A user-mode server with its own runtime folder: no autospawn, no system or user configuration,
# so Wine's winepulse driver (through PULSE_SERVER in env) sees only the sources tests control. A
# pipe source passes data on as it is written; module-sine-source runs at 2 s latency under Wine.
start_pulse() {
    command -v pulseaudio >/dev/null || { echo "wine-session: no pulseaudio, recordings get no sound devices" >&2; return 0; }
    export XDG_RUNTIME_DIR=$session/pulse PULSE_RUNTIME_PATH=$session/pulse PULSE_SERVER=unix:$session/pulse/native
    mkdir -p -m 700 -- "$XDG_RUNTIME_DIR"
    printf '%s\n' "load-module module-native-protocol-unix socket=$XDG_RUNTIME_DIR/native auth-anonymous=1" \
        'load-module module-null-sink sink_name=zv_null' \
        "load-module module-pipe-source source_name=zv_test file=$XDG_RUNTIME_DIR/source format=s16le rate=48000 channels=1 source_properties=\"device.description='Zentrovia test source'\"" \
        'set-default-source zv_test' 'set-default-sink zv_null' >"$session/pulse.pa"
    # Real-time where allowed, so a loaded machine does not hold the source up (a hole in the sound).
    pulseaudio -n -F "$session/pulse.pa" --daemonize=no --exit-idle-time=-1 --use-pid-file=no \
        --disable-shm=yes --realtime=yes --high-priority=yes >"$session/pulse.log" 2>&1 </dev/null &
    echo $! >"$session/pulse.pid"
    within 10 test -S "$XDG_RUNTIME_DIR/native" || die "pulseaudio did not start (see $session/pulse.log)"
}

start_wineserver() {
    # -f: in the foreground, so $! is the server itself; -p: alive between programs. It listens
    # once it has changed into its socket directory.
    wineserver -f -p >"$session/wineserver.log" 2>&1 &
    echo $! >"$session/wineserver.pid"
    within 10 test -S "/proc/$!/cwd/socket" || die "wineserver did not start (see $session/wineserver.log)"
}

# Xvfb has no window manager: managed windows would wait ~2 s for one at every hide. Unmanaged
# windows get Wine's own frame, whose caption buttons need fonts-wine's Marlett in the prefix.
boot() {
    timeout 120 wineboot "$@" </dev/null >>"$session/wineboot.log" 2>&1 || die "wineboot $* failed (see wineboot.log)"
    cp -f /usr/share/wine/fonts/marlett.ttf "$WINEPREFIX/drive_c/windows/Fonts/" 2>/dev/null
    timeout 120 wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f </dev/null \
        >>"$session/wineboot.log" 2>&1 || die "could not switch Wine to unmanaged windows"
}

start() {
    stop
    mkdir -p -- "$session" "$HOME" "$WINEPREFIX"
    start_xvfb
    start_pulse
    start_wineserver
    if [[ ! -f $WINEPREFIX/system.reg ]]; then
        boot -i  # Wine's desktop process reads the window settings at its start: restart it
        timeout 5 wineserver -k 2>/dev/null
        stop_pid wineserver wineserver
        start_wineserver
    fi
    boot
    # Wine's services start with the first program and inherit its output: started here on
    # /dev/null, they hold no test's pipe open (CTest would wait for it).
    timeout 120 wine cmd /c exit </dev/null >/dev/null 2>&1 || die "Wine did not run a first program"
    # Profile folders are links to $HOME; plain folders keep Pictures apart and known.
    local user=$WINEPREFIX/drive_c/users/$(id -un)
    find "$user" -maxdepth 1 -type l -exec sh -c 'rm -f -- "$1" && mkdir -- "$1"' _ {} \;
    mkdir -p -- "$user/Pictures" && realpath -- "$user/Pictures" >"$session/pictures"
    env | grep -E '^(DISPLAY|WINE[A-Z]*|HOME|XDG_[A-Z]*_(HOME|DIR)|PULSE_[A-Z_]*)=' >"$session/env"
}

"$1"
