#!/usr/bin/env bash
# A calibration of sensor 1 from end to end: the real program under Xvfb
# against zorm5816-sim, whose reading changes between the points. Five points
# are collected, fitted, committed and exported, and the constants view is
# opened. Parametry.par, ZORM5816.par and ZORM5816.txt must hold the
# coefficients that fit_oracle.py, a model of the arithmetic in exact
# fractions, computes for the same points.
#
# usage: calibration_e2e.sh PROGRAM SIMULATOR XSESSION ORACLE
set -euo pipefail
[[ $# -eq 4 ]] || { echo "usage: $0 PROGRAM SIMULATOR XSESSION ORACLE" >&2; exit 2; }
XS_NAME=calibration-e2e
XS_PROGRAM=$1
XS_SIM=$2
# shellcheck source=SCRIPTDIR/../../scripts/xsession.sh
source "$3"
oracle=$4
xs_scratch_work
work=$XS_WORK

points=(12000:-5.25 18000:20.5 25000:48.75 33000:80.25 41000:111.5)

# Bytes $2.. (count $3) of file $1 in hex.
hex_at() {
    od -An -v -tx1 -j "$2" -N "$3" "$1" | tr -d ' \n'
}

# Port 1, address 1, RTS set while transmitting, filter off, raw display.
printf '\x01\x01\x01\x00\x00' >"$work/Parametry.par"
head -c 1648 /dev/zero >>"$work/Parametry.par"
echo "21500,22500,23500" >"$work/raw"

xs_start_xvfb
xs_start_sim --dir "$work" --port 1 --raw-file "$work/raw" --log "$work/frames.log"
xs_start_program "$work"
main=$(xs_wait_window "$XS_MAIN_TITLE")
xs_close_box "$(xs_wait_window '^Information$')"
cal=$(xs_open_calibration "$main")
xs_collect "$cal" "$work/raw" "${points[@]}"
xs_click "$cal" "${XS_CAL_FIT[@]}"
sleep 0.3
xs_click "$cal" "${XS_CAL_COMMIT[@]}"
sleep 0.3
xs_click "$cal" "${XS_CAL_EXPORT[@]}"
sleep 0.3
xs_click "$cal" "${XS_CAL_VIEW[@]}"
view=$(xs_wait_window '^Kontrola kalibra')
xs_keys "$view" Escape
xs_wait_gone "$view"
xs_keys "$cal" Escape
xs_wait_gone "$cal"
xs_keys "$main" alt+k
xs_wait_program 10 || xs_fail "the program still runs 10 s after Alt+K"
xs_stop_sim

mapfile -t expected < <(python3 "$oracle" "${points[@]}")
((${#expected[@]} == 4)) || xs_fail "the oracle gave no coefficients: ${expected[*]}"

# The user set of Parametry.par: five points of sensor 1, calibrated, with
# the raw readings the simulator gave and the oracle's coefficients.
params=$work/Parametry.par
user=5
[[ $(hex_at "$params" $((user + 816)) 1) == 05 ]] || xs_fail "Count[1] is not 5"
[[ $(hex_at "$params" $((user + 819)) 1) == 01 ]] || xs_fail "Calibrated[1] is not 1"
raws=$(od -An -v -td4 -j $((user + 360)) -N 20 "$params" | xargs)
[[ $raws == "12000 18000 25000 33000 41000" ]] || xs_fail "the raw readings are $raws"
for i in 0 1 2 3; do
    want=${expected[$i]%% *}
    got=$(hex_at "$params" $((user + 720 + 24 * i)) 8)
    [[ $got == "$want" ]] || xs_fail "coefficient $i of Parametry.par is $got, the oracle says $want"
    got=$(hex_at "$work/ZORM5816.par" $((24 * i)) 8)
    [[ $got == "$want" ]] || xs_fail "coefficient $i of ZORM5816.par is $got, the oracle says $want"
done
line=$(sed -n 3p "$work/ZORM5816.txt")
want="K1A3=${expected[0]#* },  K1A2=${expected[1]#* },  K1A1=${expected[2]#* },  K1A0=${expected[3]#* }"$'\r'
[[ $line == "$want" ]] || xs_fail "ZORM5816.txt line 3 reads '$line' instead of '$want'"
measured=$(grep -c '^[0-9]* ms: 2a 31 31 0d -> reply$' "$work/frames.log" || true)
((measured >= 10)) || xs_fail "only $measured readings of channel 1 reached the simulator"

echo "calibration-e2e: passed (${expected[*]})"
