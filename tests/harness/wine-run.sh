#!/bin/bash
# Runs one Windows program inside a session started by wine-session.sh, bounded
# in time, and exits with the program's exit code (124 when the bound hit).
#
#   wine-run.sh [--timeout SECONDS] [--stream] PROGRAM.exe [ARGS...]
#
# The session is $ZV_SESSION_DIR; the CMake build sets it for its tests and
# generates <build>/zv-wine-run, which fills it in for manual runs.
set -u

timeout_seconds=${ZV_WINE_RUN_TIMEOUT:-300}
stream=0
while [[ $# -gt 0 ]]; do
    case "$1" in
    --timeout) timeout_seconds=$2; shift 2 ;;
    --stream) stream=1; shift ;;  # keep stdin and stdout live (a program talked to while it runs)
    *) break ;;
    esac
done
if [[ $# -lt 1 ]]; then
    echo "usage: $0 [--timeout SECONDS] [--stream] PROGRAM.exe [ARGS...]" >&2
    exit 2
fi

session_dir=${ZV_SESSION_DIR:-}
if [[ -z "$session_dir" || ! -f "$session_dir/env" ]]; then
    echo "wine-run: no running session at '${session_dir}' (run wine-session.sh start, or the wine_session_start test)" >&2
    exit 2
fi

# KEY=VALUE lines, values taken verbatim (no shell quoting, so Python reads them too).
while IFS='=' read -r key value; do
    [[ -n "$key" ]] && export "$key=$value"
done <"$session_dir/env"

# The program writes to a file, not to our caller's pipe: Wine services it starts on
# demand (rpcss for COM, for one) inherit its output and outlive it, and a pipe they hold
# open keeps CTest waiting until its time-out. The files are shown once the program ends.
if [[ $stream -eq 1 ]]; then
    exec timeout --kill-after=5 "$timeout_seconds" wine "$@"
fi
output=$(mktemp "${TMPDIR:-/tmp}/wine-run.XXXXXX")
errors=$(mktemp "${TMPDIR:-/tmp}/wine-run.XXXXXX")
trap 'cat -- "$output"; cat -- "$errors" >&2; rm -f -- "$output" "$errors"' EXIT
# A program that ignores TERM is killed a few seconds later. A TERM sent to this script
# is passed on, as it reached the program itself when this script exec'd it.
timeout --kill-after=5 "$timeout_seconds" wine "$@" </dev/null >"$output" 2>"$errors" &
child=$!
trap 'kill -TERM "$child" 2>/dev/null' TERM INT
wait "$child"
status=$?
# A trapped signal ends the first wait early; the second one gives the program's own status.
kill -0 "$child" 2>/dev/null && { wait "$child"; status=$?; }
exit "$status"
