#!/bin/bash
# Starts or stops one hermetic Wine session: a private Xvfb display, a Wine
# prefix inside the build tree and a persistent wineserver, all stopped by PID.
#
#   wine-session.sh start SESSION_DIR   -> writes SESSION_DIR/{env,display,xvfb.pid,wineserver.pid,pictures}
#   wine-session.sh stop  SESSION_DIR
#
# The prefix lives in SESSION_DIR/../wineprefix and is kept between runs
# (creating it costs ~11 s); HOME points at SESSION_DIR/../winehome so Wine
# links no profile folder (Pictures, Documents) to the real user's home.
set -u

readonly XVFB_READY_SECONDS=10
readonly WINEBOOT_SECONDS=120
readonly WINESERVER_READY_SECONDS=10
readonly STOP_GRACE_SECONDS=5
readonly FIRST_DISPLAY=50
readonly LAST_DISPLAY=250

die() {
    echo "wine-session: $*" >&2
    [[ "${starting:-0}" == 1 ]] && stop_session
    exit 1
}
log() { echo "wine-session: $*" >&2; }

usage() {
    echo "usage: $0 start|stop SESSION_DIR" >&2
    exit 2
}

[[ $# -eq 2 ]] || usage
action=$1
session_dir=$(realpath -m -- "$2")
work_dir=$(dirname -- "$session_dir")
prefix_dir=$work_dir/wineprefix
home_dir=$work_dir/winehome

session_env() {
    export WINEPREFIX=$prefix_dir
    export WINEARCH=win64
    export WINEDEBUG=-all
    # No Mono/Gecko install prompts, no desktop menu entries written outside the prefix.
    export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
    export HOME=$home_dir
    export XDG_CONFIG_HOME=$home_dir/.config
    export XDG_DATA_HOME=$home_dir/.local/share
    export XDG_CACHE_HOME=$home_dir/.cache
    unset XDG_PICTURES_DIR XDG_DOCUMENTS_DIR XDG_DESKTOP_DIR XDG_VIDEOS_DIR
}

pid_alive() { [[ -n "$1" ]] && kill -0 "$1" 2>/dev/null; }

# A stale pid file may name a PID the system has since given to another program.
pid_runs() {
    local pid=$1 program=$2 comm
    pid_alive "$pid" || return 1
    comm=$(cat "/proc/$pid/comm" 2>/dev/null) || return 1
    [[ "$comm" == "$program"* ]]
}

# Ends one recorded process: TERM, then KILL after a bound. Only the PID we recorded.
stop_pid_file() {
    local file=$1 program=$2 pid
    [[ -f "$file" ]] || return 0
    pid=$(<"$file")
    if pid_runs "$pid" "$program"; then
        kill -TERM "$pid" 2>/dev/null
        for _ in $(seq $((STOP_GRACE_SECONDS * 10))); do
            pid_alive "$pid" || break
            sleep 0.1
        done
        if pid_alive "$pid"; then
            log "pid $pid ignored TERM, sending KILL"
            kill -KILL "$pid" 2>/dev/null
            sleep 0.2
        fi
    fi
    rm -f -- "$file"
}

# Processes of this prefix that outlived their wineserver (seen when the server
# was gone before `wineserver -k` reached them). Matched by PID through their
# exact WINEPREFIX, so other sessions on the machine are left alone.
prefix_process_ids() {
    local entry pid
    for entry in /proc/[0-9]*; do
        pid=${entry#/proc/}
        [[ "$pid" == "$$" || "$pid" == "$BASHPID" ]] && continue
        tr '\0' '\n' 2>/dev/null <"$entry/environ" | grep -qxF "WINEPREFIX=$prefix_dir" && echo "$pid"
    done
}

stop_prefix_processes() {
    local pids
    pids=$(prefix_process_ids)
    [[ -n "$pids" ]] || return 0
    log "ending processes left over in $prefix_dir: $(echo $pids)"
    # shellcheck disable=SC2086
    kill -TERM $pids 2>/dev/null
    for _ in $(seq $((STOP_GRACE_SECONDS * 10))); do
        pids=$(prefix_process_ids)
        [[ -n "$pids" ]] || return 0
        sleep 0.1
    done
    # shellcheck disable=SC2086
    kill -KILL $pids 2>/dev/null
}

# Removes the display's lock and socket only when they are ours and the server is gone.
remove_display_files() {
    local display_file=$session_dir/display n lock_pid
    [[ -f "$display_file" ]] || return 0
    n=$(<"$display_file")
    n=${n#:}
    if [[ -f /tmp/.X$n-lock ]]; then
        lock_pid=$(tr -d ' \n' < "/tmp/.X$n-lock")
        if [[ "$lock_pid" == "${xvfb_pid:-}" ]] && ! pid_alive "$lock_pid"; then
            rm -f -- "/tmp/.X$n-lock" "/tmp/.X11-unix/X$n"
        fi
    fi
    rm -f -- "$display_file"
}

stop_session() {
    [[ -d "$session_dir" ]] || return 0
    xvfb_pid=""
    [[ -f "$session_dir/xvfb.pid" ]] && xvfb_pid=$(<"$session_dir/xvfb.pid")
    if [[ -f "$session_dir/wineserver.pid" ]] && pid_runs "$(<"$session_dir/wineserver.pid")" wineserver; then
        session_env
        # -k ends every Wine process of this prefix (and the server); bounded in case it hangs.
        timeout "$STOP_GRACE_SECONDS" wineserver -k 2>/dev/null
        timeout "$STOP_GRACE_SECONDS" wineserver -w 2>/dev/null
    fi
    stop_pid_file "$session_dir/wineserver.pid" wineserver
    stop_pid_file "$session_dir/xvfb.pid" Xvfb
    stop_prefix_processes
    remove_display_files
    rm -f -- "$session_dir/env" "$session_dir/pictures" "$session_dir"/*.log
}

display_taken() {
    [[ -e /tmp/.X$1-lock || -e /tmp/.X11-unix/X$1 ]]
}

start_xvfb() {
    local n pid
    for ((n = FIRST_DISPLAY; n <= LAST_DISPLAY; n++)); do
        display_taken "$n" && continue
        Xvfb ":$n" -screen 0 1920x1080x24 -nolisten tcp -noreset >"$session_dir/xvfb.log" 2>&1 &
        pid=$!
        echo "$pid" >"$session_dir/xvfb.pid"
        echo ":$n" >"$session_dir/display"
        for _ in $(seq $((XVFB_READY_SECONDS * 10))); do
            # Another session may have raced us to this number: Xvfb then exits.
            pid_alive "$pid" || break
            if DISPLAY=:$n timeout 2 xdpyinfo >/dev/null 2>&1; then
                export DISPLAY=:$n
                return 0
            fi
            sleep 0.1
        done
        if pid_alive "$pid"; then
            kill -KILL "$pid" 2>/dev/null
            die "Xvfb :$n did not accept connections within ${XVFB_READY_SECONDS}s"
        fi
        rm -f -- "$session_dir/xvfb.pid" "$session_dir/display"
    done
    die "no free X display between :$FIRST_DISPLAY and :$LAST_DISPLAY"
}

wineserver_ready() {
    # The server chdirs into its socket directory (server-DEV-INODE) before listening.
    [[ -S /proc/$1/cwd/socket ]]
}

start_wineserver() {
    local pid
    mkdir -p -- "$prefix_dir"
    # -f keeps it in the foreground so $! is the server itself; -p keeps it alive between programs.
    wineserver -f -p >"$session_dir/wineserver.log" 2>&1 &
    pid=$!
    echo "$pid" >"$session_dir/wineserver.pid"
    for _ in $(seq $((WINESERVER_READY_SECONDS * 10))); do
        pid_alive "$pid" || die "wineserver exited at start (see $session_dir/wineserver.log)"
        wineserver_ready "$pid" && return 0
        sleep 0.1
    done
    die "wineserver socket did not appear within ${WINESERVER_READY_SECONDS}s"
}

# Boots the prefix (creating it the first time). Wine's services and desktop
# process start here, with their output in a log: started later by the first
# test program, they would inherit its pipes and CTest would wait on them.
prefix_exists() {
    [[ -f "$prefix_dir/system.reg" && -d "$prefix_dir/drive_c/users" ]]
}

restart_wineserver() {
    timeout "$STOP_GRACE_SECONDS" wineserver -k 2>/dev/null
    stop_pid_file "$session_dir/wineserver.pid" wineserver
    start_wineserver
}

boot_prefix() {
    local mode=()
    if ! prefix_exists; then
        log "creating Wine prefix $prefix_dir (takes a few seconds)"
        mode=(-i)
    fi
    timeout "$WINEBOOT_SECONDS" wineboot "${mode[@]}" </dev/null >>"$session_dir/wineboot.log" 2>&1 ||
        die "wineboot ${mode[*]} failed or timed out (see $session_dir/wineboot.log)"
}

# Xvfb has no window manager: with Wine's managed windows every hide waits ~2 s for a
# manager that never answers (a main window's destruction, minimising). Unmanaged windows
# get Wine's own caption and frame instead (drawn with Marlett from fonts-wine).
unmanaged_windows() {
    # Debian's Wine does not pick fonts-wine's Marlett up by itself: without it the caption
    # buttons show letters.
    local marlett=/usr/share/wine/fonts/marlett.ttf
    [[ -f "$marlett" ]] && cp -f -- "$marlett" "$prefix_dir/drive_c/windows/Fonts/"
    timeout "$WINEBOOT_SECONDS" wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f \
        </dev/null >>"$session_dir/wineboot.log" 2>&1 || die "could not switch Wine to unmanaged windows"
}

user_profile_dir() {
    find "$prefix_dir/drive_c/users" -mindepth 1 -maxdepth 1 -type d ! -name Public | head -n 1
}

# Wine links Desktop, Documents, Pictures... to $HOME (all to the same folder when
# no XDG dirs exist). Plain folders inside the prefix keep each one apart and known.
unlink_profile_folders() {
    local user_dir=$1 link
    for link in "$user_dir"/*; do
        [[ -L "$link" ]] || continue
        rm -f -- "$link"
        mkdir -p -- "$link"
    done
}

find_pictures_dir() {
    local user_dir
    user_dir=$(user_profile_dir)
    [[ -n "$user_dir" ]] || die "no user profile under $prefix_dir/drive_c/users"
    unlink_profile_folders "$user_dir"
    mkdir -p -- "$user_dir/Pictures"
    realpath -- "$user_dir/Pictures"
}

write_env_file() {
    {
        echo "DISPLAY=$DISPLAY"
        echo "WINEPREFIX=$WINEPREFIX"
        echo "WINEARCH=$WINEARCH"
        echo "WINEDEBUG=$WINEDEBUG"
        echo "WINEDLLOVERRIDES=$WINEDLLOVERRIDES"
        echo "HOME=$HOME"
        echo "XDG_CONFIG_HOME=$XDG_CONFIG_HOME"
        echo "XDG_DATA_HOME=$XDG_DATA_HOME"
        echo "XDG_CACHE_HOME=$XDG_CACHE_HOME"
    } >"$session_dir/env"
}

# The first program of a session starts Wine's own services and desktop process; they
# inherit that program's stdout/stderr. Started here with /dev/null, no test's pipe is held
# open by them (CTest waits for its pipes to close, and would time the test out).
warm_up_services() {
    timeout "$WINEBOOT_SECONDS" wine cmd /c exit </dev/null >/dev/null 2>&1 ||
        die "Wine did not run a first program within ${WINEBOOT_SECONDS}s"
}

start_session() {
    command -v Xvfb >/dev/null || die "Xvfb not found (apt-get install xvfb)"
    command -v xdpyinfo >/dev/null || die "xdpyinfo not found (apt-get install x11-utils)"
    command -v wineserver >/dev/null || die "wineserver not found (apt-get install wine64)"
    stop_session
    starting=1
    mkdir -p -- "$session_dir" "$home_dir"
    session_env
    start_xvfb
    start_wineserver
    if ! prefix_exists; then
        # Wine's desktop process reads the window settings when it starts: a new prefix is
        # booted, switched to unmanaged windows, and booted again under a fresh server.
        boot_prefix
        unmanaged_windows
        restart_wineserver
    fi
    boot_prefix
    warm_up_services
    unmanaged_windows
    pictures=$(find_pictures_dir) || die "could not prepare the user profile"
    echo "$pictures" >"$session_dir/pictures"
    write_env_file
    echo "session $session_dir: DISPLAY=$DISPLAY WINEPREFIX=$WINEPREFIX" \
        "xvfb=$(<"$session_dir/xvfb.pid") wineserver=$(<"$session_dir/wineserver.pid")"
    echo "pictures: $(<"$session_dir/pictures")"
}

case "$action" in
start) start_session ;;
stop) stop_session ;;
*) usage ;;
esac
