#!/usr/bin/env bash
# The simulators behind the Win32 port's tests under Wine. A Windows program
# cannot start a Linux one, so ctest runs this before and after those tests:
#
#   wine_sims.sh start RUNDIR WINEPREFIX SIMULATOR N[:FAULT]...
#   wine_sims.sh stop RUNDIR WINEPREFIX
#
# start runs one zorm5816-sim per port N (with --fault FAULT when given),
# waits until each has linked RUNDIR/COMN to its pseudo-terminal and links
# WINEPREFIX/dosdevices/comN to that, which is where Wine finds port N.
# Ports 1 to 4 are no good: Wine points com1 at /dev/ttyS0 again whenever
# its server starts. stop ends the simulators and removes the links.
set -euo pipefail

action=$1 run=$2 prefix=$3
dosdevices=$prefix/dosdevices

stop() {
    local pid link
    if [ -f "$run/pids" ]; then
        while read -r pid; do
            kill "$pid" 2>/dev/null || true
        done <"$run/pids"
        while read -r pid; do
            while kill -0 "$pid" 2>/dev/null; do sleep 0.05; done
        done <"$run/pids"
        rm -f "$run/pids"
    fi
    if [ -f "$run/links" ]; then
        while read -r link; do
            rm -f "$link"
        done <"$run/links"
        rm -f "$run/links"
    fi
}

case $action in
stop)
    stop
    ;;
start)
    simulator=$4
    shift 4
    if [ ! -x "$simulator" ]; then
        echo "wine_sims: no simulator at $simulator" >&2
        exit 1
    fi
    if [ ! -d "$dosdevices" ]; then
        echo "wine_sims: no Wine prefix at $prefix (scripts/test-windows makes it)" >&2
        exit 1
    fi
    mkdir -p "$run"
    stop # whatever an interrupted run left
    for port in "$@"; do
        n=${port%%:*}
        args=(--dir "$run" --port "$n")
        [ "$port" = "$n" ] || args+=(--fault "${port#*:}")
        # Its output goes to files: ctest would wait for a pipe held open.
        "$simulator" "${args[@]}" </dev/null >"$run/COM$n.ready" 2>"$run/COM$n.log" &
        echo $! >>"$run/pids"
    done
    for port in "$@"; do
        n=${port%%:*}
        for _ in $(seq 100); do
            [ -s "$run/COM$n.ready" ] && break
            sleep 0.05
        done
        if [ ! -s "$run/COM$n.ready" ]; then
            echo "wine_sims: the simulator on port $n did not start:" >&2
            cat "$run/COM$n.log" >&2
            stop
            exit 1
        fi
        ln -sfn "$run/COM$n" "$dosdevices/com$n"
        echo "$dosdevices/com$n" >>"$run/links"
        cat "$run/COM$n.log"
    done
    ;;
*)
    echo "usage: wine_sims.sh start|stop RUNDIR WINEPREFIX ..." >&2
    exit 2
    ;;
esac
