#!/usr/bin/env bash
# The measurement log of the real program under Xvfb against zorm5816-sim on
# COM1: periodic measurement of the three sensors for some seconds with the
# log on (menu "Záznam", the file the save dialog offers), while this script
# changes the simulator's readings every half second (--raw-file). Sensor 1
# has the calibration t = raw / 16 - 1000, the others none. Every line of
# the file must hold readings the simulator was giving, in the order it gave
# them, sensor 1's temperature from its reading, local time stamps a period
# apart with this machine's UTC offset; as many passes as the simulator saw
# measure frames for channel 1 at most.
#
# usage: log_e2e.sh PROGRAM SIMULATOR XSESSION
set -euo pipefail
[[ $# -eq 3 ]] || { echo "usage: $0 PROGRAM SIMULATOR XSESSION" >&2; exit 2; }
XS_NAME=e2e.log
XS_PROGRAM=$1
XS_SIM=$2
# shellcheck source=SCRIPTDIR/../../scripts/xsession.sh
source "$3"
xs_scratch_work
work=$XS_WORK
# The decimal point and ',' between the fields, whatever the caller's locale.
# (Window titles are matched by their ASCII start: xdotool compares the bytes
# of a title that Qt may have set in Latin-1.)
export LC_ALL=C.UTF-8

# Port 1, address 1, RTS on transmit, filter off, °C shown; A1 = 1/16 and
# A0 = -1000 for sensor 1 of the user set (coefficient table at 720, A1[1]
# in its seventh and A0[1] in its tenth double).
head -c 1653 /dev/zero >"$work/Parametry.par"
printf '\x01\x01\x01\x00\x01' | dd of="$work/Parametry.par" conv=notrunc status=none
printf '\x00\x00\x00\x00\x00\x00\xb0\x3f' |
    dd of="$work/Parametry.par" bs=1 seek=$((5 + 720 + 8 * 6)) conv=notrunc status=none
printf '\x00\x00\x00\x00\x00\x40\x8f\xc0' |
    dd of="$work/Parametry.par" bs=1 seek=$((5 + 720 + 8 * 9)) conv=notrunc status=none

raw=$work/raw
readings() {
    echo "$((20000 + 16 * $1)),$((30000 + $1)),$((40000 + $1))"
}
readings 0 >"$raw"

xs_start_xvfb
xs_start_sim --dir "$work" --port 1 --raw-file "$raw" --log "$work/sim.log"
xs_start_program "$work"
main=$(xs_wait_window "$XS_MAIN_TITLE")
xs_expect_box "start" Information
# Tick "Snímač 2" and "Snímač 3", start the periodic measurement (1 s).
xs_keys "$main" Tab Tab space Tab space Tab Tab space
xs_keys "$main" alt+z s
# Assigned first, so that a dialog that never comes ends the test here.
dialog=$(xs_wait_window '^Spustit z')
xs_close_box "$dialog" Return
for ((step = 1; step <= 12; step++)); do
    sleep 0.5
    readings "$step" >"$raw.new"
    mv "$raw.new" "$raw"
done
sleep 0.5
xs_keys "$main" alt+z z
xs_keys "$main" alt+k
xs_wait_program 10 || xs_fail "the program still runs 10 s after Alt+K"
((XS_STATUS == 0)) || xs_fail "the program ended with status $XS_STATUS"
xs_stop_sim

logs=("$work"/zaznam-*.csv)
[[ ${#logs[@]} -eq 1 && -f ${logs[0]} ]] || xs_fail "no single zaznam-*.csv in $work: $(ls "$work")"
log=${logs[0]}
[[ $(basename "$log") =~ ^zaznam-[0-9]{8}-[0-9]{6}\.csv$ ]] || xs_fail "file name $(basename "$log")"
header=$'\xef\xbb\xbf''Čas,Snímač 1 [bit],Snímač 1 [°C],Snímač 2 [bit],Snímač 2 [°C],Snímač 3 [bit],Snímač 3 [°C]'$'\r'
[[ $(head -n 1 "$log") == "$header" ]] || xs_fail "header: $(head -n 1 "$log" | od -c | head -3)"

offset=$(date +%:z)
lines=0 last=-1 previous_ms=
while IFS= read -r line; do
    [[ $line =~ ^([0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9]{2}:[0-9]{2}:[0-9]{2}\.[0-9]{3})([+-][0-9]{2}:[0-9]{2}),([0-9]+),([0-9.]+),([0-9]+),,([0-9]+),$'\r'$ ]] ||
        xs_fail "line $((lines + 2)) has not the form of a pass: $line"
    [[ ${BASH_REMATCH[2]} == "$offset" ]] || xs_fail "offset ${BASH_REMATCH[2]}, not $offset: $line"
    r1=${BASH_REMATCH[3]} t1=${BASH_REMATCH[4]} r2=${BASH_REMATCH[5]} r3=${BASH_REMATCH[6]}
    step=$(((r1 - 20000) / 16))
    (((r1 - 20000) % 16 == 0 && step >= 0 && step <= 12)) ||
        xs_fail "sensor 1 read $r1, which the simulator never gave: $line"
    ((step >= last)) || xs_fail "sensor 1 went back from step $last to $step: $line"
    # The simulator reads its file at each request: the later sensors of a
    # pass may see the next readings.
    ((r2 - 30000 >= step && r2 - 30000 <= step + 1 && r3 - 40000 >= r2 - 30000 && r3 - 40000 <= step + 1)) ||
        xs_fail "sensors 2 and 3 read $r2 and $r3 beside step $step: $line"
    [[ $t1 == "$((250 + step)).00" ]] || xs_fail "sensor 1's temperature $t1, not $((250 + step)).00: $line"
    ms=$(date -d "${BASH_REMATCH[1]}${BASH_REMATCH[2]}" +%s%3N)
    if [[ -n $previous_ms ]]; then
        gap=$((ms - previous_ms))
        ((gap >= 700 && gap <= 1600)) || xs_fail "passes $gap ms apart, not a period: $line"
    fi
    previous_ms=$ms last=$step
    lines=$((lines + 1))
done < <(tail -n +2 "$log")

((lines >= 4)) || xs_fail "only $lines passes in the log"
((last >= 4)) || xs_fail "the log never saw the readings move: last step $last"
frames=$(grep -c ': 2a 31 31 0d -> reply' "$work/sim.log" || true)
((lines <= frames)) || xs_fail "$lines passes logged, but the simulator answered only $frames for sensor 1"
echo "e2e.log: $lines passes logged, readings as the simulator gave them (of $frames measure frames for sensor 1)"
