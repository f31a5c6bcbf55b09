#!/usr/bin/env bash
# Every window of the real program on a small screen: Xvfb of SIZE pixels,
# Qt scaled by FACTOR (QT_SCALE_FACTOR), against zorm5816-sim on COM1 in a
# scratch working directory. The main window, the box reporting the
# converter, the information window, the calibration window, the constants
# view, the register window (--service) and its warning are opened one after
# the other, and so is the history window; each must lie fully on the
# screen. Without a window manager
# a window is exactly where the program put it.
#
# usage: screen_test.sh PROGRAM SIMULATOR XSESSION SIZE FACTOR
set -euo pipefail
[[ $# -eq 5 ]] || { echo "usage: $0 PROGRAM SIMULATOR XSESSION SIZE FACTOR" >&2; exit 2; }
XS_NAME=e2e-screen
XS_PROGRAM=$1
XS_SIM=$2
XS_SCREEN=$4
factor=$5
# shellcheck source=SCRIPTDIR/../../scripts/xsession.sh
source "$3"
xs_scratch_work
work=$XS_WORK
export QT_SCALE_FACTOR=$factor

# A point of a window's design, in the screen's pixels.
scaled() {
    awk -v v="$1" -v f="$factor" 'BEGIN { printf "%d", v * f + 0.5 }'
}
click() {
    xs_click "$1" "$(scaled "$2")" "$(scaled "$3")"
}

# Window $1, called $2 in messages, lies fully on the screen; its place is
# left in `place` as X,Y.
on_screen() {
    local info x y width height
    info=$(xwininfo -id "$1")
    x=$(sed -n 's/^ *Absolute upper-left X: *//p' <<<"$info")
    y=$(sed -n 's/^ *Absolute upper-left Y: *//p' <<<"$info")
    width=$(sed -n 's/^ *Width: *//p' <<<"$info")
    height=$(sed -n 's/^ *Height: *//p' <<<"$info")
    ((x >= 0 && y >= 0 && x + width <= screen_width && y + height <= screen_height)) ||
        xs_fail "$2 at $x,$y (${width}x$height) is not fully on the ${XS_SCREEN} screen (scale $factor)"
    echo "e2e-screen: $XS_SCREEN, scale $factor: $2 at $x,$y (${width}x$height)"
    place=$x,$y
}

# Port 1, address 1, RTS set while transmitting, filter off, raw display.
printf '\x01\x01\x01\x00\x00' >"$work/Parametry.par"
head -c 1648 /dev/zero >>"$work/Parametry.par"

xs_start_xvfb
screen_width=${XS_SCREEN%x*}
screen_height=${XS_SCREEN#*x}
xs_start_sim --dir "$work" --port 1
xs_start_program "$work" --service
main=$(xs_wait_window "$XS_MAIN_TITLE")
box=$(xs_wait_window '^Information$')
on_screen "$box" "the box that reports the converter"
xs_close_box "$box"
on_screen "$main" "the main window"

xs_keys "$main" alt+i
info=$(xs_wait_window '^Informace$')
on_screen "$info" "the information window"
xs_close_box "$info" alt+z

click "$main" 30 8 # the menu "Kalibrace"
cal=$(xs_wait_window '^Kalibrace sn')
on_screen "$cal" "the calibration window"
click "$cal" 580 460 # "Export kalibračních konstant"
click "$cal" 580 500 # "Kontrola kalibračních konstant"
view=$(xs_wait_window '^Kontrola kalibra')
on_screen "$view" "the constants view"
xs_close_box "$view" Escape
xs_close_box "$cal" Escape

xs_keys "$main" alt+h
history=$(xs_wait_window '^Historie kalibrac')
on_screen "$history" "the history window"
xs_close_box "$history" Escape

click "$main" 451 36 # the register window's picture button
registers=$(xs_wait_window '^Testov')
box=$(xs_wait_window '^Warning$')
on_screen "$box" "the register window's warning"
xs_close_box "$box"
on_screen "$registers" "the register window"
# Its designed place, 612, 186, leaves it off a small screen.
[[ $place != "$(scaled 612),$(scaled 186)" ]] ||
    xs_fail "the register window stayed at its designed place"
xs_close_box "$registers" Escape

xs_keys "$main" alt+k
xs_wait_program 10 || xs_fail "the program still runs 10 s after Alt+K"
((XS_STATUS == 0)) || xs_fail "the program ended with status $XS_STATUS"
echo "e2e-screen: every window on the $XS_SCREEN screen at scale $factor"
