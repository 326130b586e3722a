#!/bin/bash
# Runs one Windows program inside a session started by wine-session.sh, bounded
# in time, and exits with the program's exit code (124 when the bound hit).
#
#   wine-run.sh [--timeout SECONDS] PROGRAM.exe [ARGS...]
#
# The session is $ZV_SESSION_DIR; the CMake build sets it for its tests and
# generates <build>/zv-wine-run, which fills it in for manual runs.
set -u

timeout_seconds=${ZV_WINE_RUN_TIMEOUT:-300}
if [[ "${1:-}" == "--timeout" ]]; then
    timeout_seconds=$2
    shift 2
fi
if [[ $# -lt 1 ]]; then
    echo "usage: $0 [--timeout SECONDS] PROGRAM.exe [ARGS...]" >&2
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

# A program that ignores TERM is killed a few seconds later.
exec timeout --kill-after=5 "$timeout_seconds" wine "$@"
