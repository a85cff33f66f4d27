# shellcheck shell=bash
# Sourced by the demo, the benchmarks and the install test: runs the stand-in
# SSTP server (STANDIN, or build/bin/sstp-standin) on a free loopback port.
#   start_standin WORKDIR [server options...]  sets standin_port
#   stop_standin                               stops it and removes WORKDIR
# The caller owns its EXIT trap and calls stop_standin from it.

standin_pid=""
standin_workdir=""

stop_standin() {
    if [ -n "$standin_pid" ]; then
        kill "$standin_pid" 2>/dev/null && wait "$standin_pid" 2>/dev/null
    fi
    [ -n "$standin_workdir" ] && rm -rf "$standin_workdir"
    return 0
}

start_standin() {
    standin_workdir=$1
    shift
    "${STANDIN:-build/bin/sstp-standin}" --port 0 "$@" >"$standin_workdir/server.log" &
    standin_pid=$!
    for _ in $(seq 100); do
        grep -q '^listening' "$standin_workdir/server.log" && break
        sleep 0.05
    done
    standin_port=$(sed -n 's/^listening on .* port \([0-9]*\)$/\1/p' "$standin_workdir/server.log")
    [ -n "$standin_port" ] || { echo "the stand-in server did not start" >&2; exit 1; }
}
