#!/usr/bin/env bash
# The register window of the real program, started with --service, under Xvfb
# against zorm5816-sim on COM1 in a scratch working directory: the picture
# button opens it at its designed place, the warning comes first; then a write of "7F" and "0A" to
# the mode register, "RTS" cleared, the mode register read back. What the
# program sent is read from the simulator's frame log, the RTS polarity from
# the Parametry.par that Alt+K saves.
#
# usage: service_test.sh PROGRAM SIMULATOR XSESSION
set -euo pipefail
[[ $# -eq 3 ]] || { echo "usage: $0 PROGRAM SIMULATOR XSESSION" >&2; exit 2; }
XS_NAME=e2e-service
XS_PROGRAM=$1
XS_SIM=$2
# shellcheck source=SCRIPTDIR/../../scripts/xsession.sh
source "$3"
xs_scratch_work
work=$XS_WORK

# Port 1, address 1, RTS set while transmitting, filter off, raw display.
params=$work/Parametry.par
head -c 1653 /dev/zero >"$params"
printf '\x01\x01\x01\x00\x00' | dd of="$params" conv=notrunc status=none

xs_start_xvfb
xs_start_sim --dir "$work" --port 1 --log "$work/sim.log"
xs_start_program "$work" --service
main=$(xs_wait_window "$XS_MAIN_TITLE")
xs_close_box "$(xs_wait_window '^Information$')"

# The picture button at 440, 8 (23 x 22) of the client area, below the menu
# bar; it takes no focus, so it is clicked.
xdotool mousemove --window "$main" 451 36 click 1
registers=$(xs_wait_window '^Testov')
# The screen has room for the window at its designed place.
place=$(xwininfo -id "$registers" | sed -n 's/^ *Absolute upper-left [XY]: *//p' | paste -sd,)
[[ $place == 612,186 ]] || xs_fail "the register window opened at $place, not at 612,186"
box=$(xs_wait_window '^(Error|Information|Warning)$')
[[ $(xs_window_name "$box") == Warning ]] ||
    xs_fail "the register window opened with the box '$(xs_window_name "$box")', not the warning"
xs_close_box "$box"

# The focus starts in the read list. Tab: the write list, whose first item
# is "Mode registr (2)"; the two entries; past "Přečti z registru" to
# "Zapiš do registru". Then "RTS" cleared and left for the read list, whose
# third item is "Mode registr (2)"; Tab through the write list and the two
# entries to "Přečti z registru".
xs_keys "$registers" Tab space Tab ctrl+a 7 F Tab ctrl+a 0 A Tab Tab space
xs_keys "$registers" Tab space Tab Down Down space Tab Tab Tab Tab space
# A message box would block the window, and Escape would not close it.
xs_close_box "$registers" Escape
xs_keys "$main" alt+k
xs_wait_program 10 || xs_fail "the program still runs 10 s after Alt+K"
((XS_STATUS == 0)) || xs_fail "the program ended with status $XS_STATUS"
xs_stop_sim

[[ -f $work/sim.log ]] || xs_fail "the simulator wrote no frame log"
actual=$(sed 's/^[0-9]* ms: //' "$work/sim.log")
expected="25 31 0d -> reply
26 01 02 02 7f 0a 0d -> reply
24 01 12 02 0d -> reply"
[[ $actual == "$expected" ]] ||
    xs_fail "the simulator received"$'\n'"$actual"$'\n'"instead of"$'\n'"$expected"
settings=$(od -An -v -tu1 -N 5 "$params" | xargs)
[[ $settings == "1 1 0 0 0" ]] || xs_fail "settings saved as $settings, not 1 1 0 0 0"

echo "e2e-service: register write and read-back passed"
