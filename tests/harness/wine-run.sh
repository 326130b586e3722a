#!/bin/bash
# Runs one Windows program in the session $ZV_SESSION_DIR (see wine-session.sh), bounded in time;
# exits with its exit code (124 when the bound hit).   wine-run.sh [--timeout SECONDS] PROGRAM.exe [ARGS...]
set -u
bound=300
[[ ${1:-} == --timeout ]] && { bound=$2; shift 2; }
[[ $# -ge 1 && -f ${ZV_SESSION_DIR:-}/env ]] || { echo "wine-run: no program or no session at '${ZV_SESSION_DIR:-}'" >&2; exit 2; }
while IFS='=' read -r key value; do export "$key=$value"; done <"$ZV_SESSION_DIR/env"
# Output goes to files, shown when the program ends: Wine services started on demand inherit
# the program's output and outlive it, and a pipe they held would keep our caller waiting.
out=$(mktemp) err=$(mktemp)
trap 'cat -- "$out"; cat -- "$err" >&2; rm -f -- "$out" "$err"' EXIT
timeout --kill-after=5 "$bound" wine "$@" </dev/null >"$out" 2>"$err" &
child=$!
trap 'kill -TERM $child 2>/dev/null' TERM INT  # passed on, as if the program had been exec'd
wait $child
status=$?
# A trapped signal ends the first wait early; the second one gives the program's own status.
kill -0 $child 2>/dev/null && { wait $child; status=$?; }
exit $status
