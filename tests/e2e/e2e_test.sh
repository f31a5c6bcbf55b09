#!/usr/bin/env bash
# The real program under Xvfb against zorm5816-sim on COM1 in a scratch
# working directory: a first start without Parametry.par and a second start
# with one. What the program sent is read from the simulator's frame log,
# what it saved from Parametry.par. The simulator answers on COM1 and the
# search starts at port 1, so no other port is ever opened; a run whose log
# does not hold exactly the expected frames fails.
#
# usage: e2e_test.sh PROGRAM SIMULATOR XSESSION
set -euo pipefail
[[ $# -eq 3 ]] || { echo "usage: $0 PROGRAM SIMULATOR XSESSION" >&2; exit 2; }
XS_NAME=e2e
XS_PROGRAM=$1
XS_SIM=$2
# shellcheck source=SCRIPTDIR/../../scripts/xsession.sh
source "$3"
xs_scratch_work
work=$XS_WORK

params=$work/Parametry.par

# The frames of a simulator log without their times, one per line.
frames() {
    sed 's/^[0-9]* ms: //' "$1"
}

expect_frames() {
    local run=$1 log=$2 expected=$3 actual
    [[ -f $log ]] || xs_fail "$run: the simulator wrote no frame log"
    actual=$(frames "$log")
    [[ -n $actual ]] || xs_fail "$run: the simulator received no frame (did the program open another port?)"
    [[ $actual == "$expected" ]] ||
        xs_fail "$run: the simulator received"$'\n'"$actual"$'\n'"instead of"$'\n'"$expected"
}

# Bytes $2.. (count $3) of file $1 as unsigned decimals separated by blanks.
bytes_at() {
    od -An -v -tu1 -j "$2" -N "$3" "$1" | xargs
}

# "&K o n e c" (Alt+K) on the main window: the program saves and ends.
quit_by_button() {
    local run=$1 main=$2
    xs_keys "$main" alt+k
    xs_wait_program 10 || xs_fail "$run: the program still runs 10 s after Alt+K"
    ((XS_STATUS == 0)) || xs_fail "$run: the program ended with status $XS_STATUS"
}

xs_start_xvfb

# First start: no Parametry.par. The read error comes first, then the search
# from port 1 with address 0 finds the simulator (which answers address 0).
xs_start_sim --dir "$work" --port 1 --log "$work/first.log"
xs_start_program "$work"
main=$(xs_wait_window "$XS_MAIN_TITLE")
xs_expect_box "first start" Error
xs_expect_box "first start" Information
quit_by_button "first start" "$main"
xs_stop_sim
expect_frames "first start" "$work/first.log" "25 30 0d -> reply"
[[ -f $params ]] || xs_fail "first start: Alt+K saved no Parametry.par"
size=$(stat -c %s "$params")
((size == 1653)) || xs_fail "first start: Parametry.par has $size bytes, not 1653"
# Port 1, address 0, RTS set while transmitting, filter on, raw display.
settings=$(bytes_at "$params" 0 5)
[[ $settings == "1 0 1 1 0" ]] || xs_fail "first start: settings saved as $settings, not 1 0 1 1 0"
# Both parameter sets are still all zero.
cmp -s -n 1648 <(tail -c +6 "$params") /dev/zero ||
    xs_fail "first start: the parameter sets in Parametry.par are not all zero"

# Second start with a Parametry.par of address 1, filter off and the °C
# display, and marks in both parameter sets (a point counter of the user set
# and the last padding byte of the factory set). No error box; the search
# finds COM1 at once; "Snímač 2" is ticked and "Jednorázové měření" pressed
# (tab order from "&K o n e c": Snímač 1, Snímač 2, Snímač 3, the button),
# so sensors 1 and 2 are measured with the unfiltered command. Nothing the
# program does here changes the settings, so it saves the file as it found it.
printf '\x01\x01\x01\x00\x01' | dd of="$params" conv=notrunc status=none
printf '\x07' | dd of="$params" bs=1 seek=$((5 + 816)) conv=notrunc status=none
printf '\x5a' | dd of="$params" bs=1 seek=1652 conv=notrunc status=none
cp "$params" "$work/before-second.par"
xs_start_sim --dir "$work" --port 1 --log "$work/second.log"
xs_start_program "$work"
main=$(xs_wait_window "$XS_MAIN_TITLE")
xs_expect_box "second start" Information
xs_keys "$main" Tab Tab space Tab Tab space
quit_by_button "second start" "$main"
xs_stop_sim
expect_frames "second start" "$work/second.log" "25 31 0d -> reply
2a 31 31 0d -> reply
2a 31 32 0d -> reply"
cmp -s "$work/before-second.par" "$params" ||
    xs_fail "second start: Parametry.par differs from the loaded one: $(cmp "$work/before-second.par" "$params" || true)"

echo "e2e: first and second start passed"
