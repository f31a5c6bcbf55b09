# Shell functions that run the program under Xvfb against zorm5816-sim and
# drive it with xdotool. Sourced (not run) by tests/e2e/e2e_test.sh,
# tests/install/install_test.sh, scripts/screenshot and scripts/startup-time,
# which set beforehand:
#
#   XS_NAME     name for messages
#   XS_PROGRAM  the program, build/bin/zorm5816
#   XS_SIM      the simulator, build/bin/zorm5816-sim
#   XS_SCREEN   optional: the screen's size, WIDTHxHEIGHT (default 1440x900)
#
# and install `trap xs_cleanup EXIT` (plus their own cleaning) right after
# sourcing, or call xs_test_folder. Every wait has a time-out; a failure prints a message and exits.
# Without a window manager nothing moves the input focus, so the keys go to a
# window only after xs_keys has focused it.
# shellcheck shell=bash disable=SC2034  # the XS_ variables are the interface

XS_MAIN_TITLE='^ZORM5816A: p'   # "ZORM5816A: převodník teploty"
XS_TMP=$(mktemp -d "${TMPDIR:-/tmp}/zorm5816-xsession.XXXXXX")
XS_XVFB_PID=
XS_SIM_PID=
XS_APP_PID=
XS_STATUS=

xs_fail() {
    echo "${XS_NAME:-xsession}: $*" >&2
    exit 1
}

xs_require() {
    local tool
    for tool in "$@"; do
        command -v "$tool" >/dev/null || xs_fail "$tool is missing (scripts/setup installs it)"
    done
}

# True while process $1 runs (a child that ended but was not waited for does
# not count).
xs_running() {
    local stat
    { read -r stat <"/proc/$1/stat"; } 2>/dev/null || return 1
    stat=${stat##*) }
    [[ ${stat%% *} != Z ]]
}

# Waits up to $2 seconds for process $1 to end; then its exit status is in
# XS_STATUS. Returns 1 when it still runs.
xs_wait_exit() {
    local pid=$1 deadline=$((SECONDS + $2))
    while xs_running "$pid"; do
        ((SECONDS < deadline)) || return 1
        sleep 0.01
    done
    XS_STATUS=0
    wait "$pid" 2>/dev/null || XS_STATUS=$?
}

# Ends process $1: SIGTERM, after three seconds SIGKILL.
xs_stop() {
    local pid=$1
    [[ -n $pid ]] || return 0
    kill -TERM "$pid" 2>/dev/null || true
    if ! xs_wait_exit "$pid" 3; then
        kill -KILL "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    fi
}

# Starts Xvfb on a free display and points DISPLAY at it, with the program's
# Qt on X11 and a runtime directory of its own. The screen is XS_SCREEN
# (WIDTHxHEIGHT) pixels, or 1440x900: wide enough for the register window at
# its designed place (612, 186).
xs_start_xvfb() {
    xs_require Xvfb xdotool xwininfo
    [[ ${XS_SCREEN:-1440x900} =~ ^[0-9]+x[0-9]+$ ]] || xs_fail "XS_SCREEN '$XS_SCREEN' is not WIDTHxHEIGHT"
    Xvfb -displayfd 3 -screen 0 "${XS_SCREEN:-1440x900}x24" -nolisten tcp -noreset \
        3>"$XS_TMP/display" >"$XS_TMP/xvfb.log" 2>&1 &
    XS_XVFB_PID=$!
    local number tries
    for ((tries = 0; tries < 1000; tries++)); do
        # Xvfb writes the display number and a newline once it accepts clients.
        if { read -r number <"$XS_TMP/display"; } 2>/dev/null && [[ $number =~ ^[0-9]+$ ]]; then
            export DISPLAY=":$number" QT_QPA_PLATFORM=xcb XDG_RUNTIME_DIR="$XS_TMP/runtime"
            mkdir -m 700 "$XDG_RUNTIME_DIR"
            return 0
        fi
        xs_running "$XS_XVFB_PID" || xs_fail "Xvfb did not start: $(cat "$XS_TMP/xvfb.log")"
        sleep 0.01
    done
    xs_fail "Xvfb gave no display within 10 s"
}

# Starts the simulator with arguments "$@" (--dir, --port, ...) and waits for
# the line it prints when its link is ready.
xs_start_sim() {
    "$XS_SIM" "$@" >"$XS_TMP/sim.out" 2>"$XS_TMP/sim.err" &
    XS_SIM_PID=$!
    local tries
    for ((tries = 0; tries < 500; tries++)); do
        [[ -s $XS_TMP/sim.out ]] && return 0
        xs_running "$XS_SIM_PID" || xs_fail "the simulator did not start: $(cat "$XS_TMP/sim.err")"
        sleep 0.01
    done
    xs_fail "the simulator was not ready within 5 s"
}

# Waits up to $1 seconds for the program to end (its status then in
# XS_STATUS); returns 1 when it still runs.
xs_wait_program() {
    xs_wait_exit "$XS_APP_PID" "$1" || return 1
    XS_APP_PID=
}

# Stops the simulator, which then writes its frame log (--log).
xs_stop_sim() {
    xs_stop "$XS_SIM_PID"
    XS_SIM_PID=
}

# Starts the program in working directory $1 with the arguments "${@:2}". The
# wall-clock time just before it is executed goes to $XS_TMP/program.start
# (seconds, microseconds).
xs_start_program() {
    local program
    program=$(realpath "$XS_PROGRAM")
    (
        cd "$1" || exit 1
        printf '%s\n' "$EPOCHREALTIME" >"$XS_TMP/program.start"
        exec "$program" "${@:2}"
    ) >>"$XS_TMP/program.log" 2>&1 &
    XS_APP_PID=$!
}

# Waits up to ${2:-10} seconds for a visible window whose title matches the
# regular expression $1 and prints its id. Fails at once when the program
# has ended.
xs_wait_window() {
    local pattern=$1 deadline=$((SECONDS + ${2:-10})) id
    while ((SECONDS < deadline)); do
        if id=$(xdotool search --onlyvisible --name "$pattern" 2>/dev/null); then
            echo "${id%%$'\n'*}"
            return 0
        fi
        [[ -z $XS_APP_PID ]] || xs_running "$XS_APP_PID" ||
            xs_fail "the program ended while a window '$pattern' was awaited: $(cat "$XS_TMP/program.log")"
        sleep 0.01
    done
    xs_fail "no window '$pattern' within ${2:-10} s"
}

xs_window_name() {
    xdotool getwindowname "$1"
}

# Focuses window $1 and types the keys "${@:2}" (xdotool key names).
xs_keys() {
    local id=$1
    shift
    timeout 5 xdotool windowfocus --sync "$id" || xs_fail "window $id did not take the focus"
    xdotool key --delay 30 "$@"
}

# Clicks at $2, $3 (pixels from the top left corner) in window $1.
xs_click() {
    xdotool mousemove --window "$1" "$2" "$3" click 1
}

# Focuses window $1 and types the text $2.
xs_type() {
    timeout 5 xdotool windowfocus --sync "$1" || xs_fail "window $1 did not take the focus"
    xdotool type --delay 30 -- "$2"
}

# Waits up to 5 seconds until window $1 is gone.
xs_wait_gone() {
    local tries
    for ((tries = 0; tries < 500; tries++)); do
        xwininfo -id "$1" 2>/dev/null | grep -q IsViewable || return 0
        sleep 0.01
    done
    xs_fail "the window '$(xs_window_name "$1")' is still there"
}

# Waits for the next message box, checks that its title is $2 (the run's
# name $1 goes into the message otherwise) and closes it.
xs_expect_box() {
    local run=$1 title=$2 box
    box=$(xs_wait_window '^(Error|Information|Warning)$')
    [[ $(xs_window_name "$box") == "$title" ]] ||
        xs_fail "$run: expected the box '$title', got '$(xs_window_name "$box")'"
    xs_close_box "$box"
}

# Presses Return (or the key $2) in message box or window $1 and waits until
# it is gone.
xs_close_box() {
    xs_keys "$1" "${2:-Return}"
    xs_wait_gone "$1"
}

# The calibration window's buttons, at their centres.
XS_CAL_START=(572 224)   # "Kalibrace"
XS_CAL_ENTER=(572 292)   # "Zapiš teplotu" / "Potvrď zápis"
XS_CAL_FIT=(572 336)     # "Regresní výpočet"
XS_CAL_COMMIT=(572 376)  # "Uložit na disk"
XS_CAL_EXPORT=(580 460)  # "Export kalibračních konstant"
XS_CAL_VIEW=(580 500)    # "Kontrola kalibračních konstant"

# Opens the calibration window from the menu of main window $1 and prints
# its id.
xs_open_calibration() {
    xs_click "$1" 30 8
    xs_wait_window '^Kalibrace sn'
}

# The calibration window's sensor options, at their centres.
XS_CAL_SENSOR=(0 "530 80" "530 106" "530 132")

# Starts a collection in calibration window $1 and collects the points
# "${@:3}", each RAW:TEMP: the simulator started with --raw-file $2 reads RAW
# on channel 1, and once the window's tick has taken it, TEMP is typed in.
xs_collect() {
    xs_collect_on "$1" "$2" 1 "${@:3}"
}

# The same for sensor $3 (1 to 3), which it selects first.
xs_collect_sensor() {
    # shellcheck disable=SC2086  # the option's centre is "X Y"
    xs_click "$1" ${XS_CAL_SENSOR[$3]}
    xs_collect_on "$@"
}

# Collects on the sensor selected, $3: RAW is read on its channel, the
# others read 21500, 22500 and 23500.
xs_collect_on() {
    local window=$1 rawfile=$2 sensor=$3 point
    local -a raws=(21500 22500 23500)
    shift 3
    xs_click "$window" "${XS_CAL_START[@]}"
    for point in "$@"; do
        raws[sensor - 1]=${point%%:*}
        echo "${raws[0]},${raws[1]},${raws[2]}" >"$rawfile.new"
        mv "$rawfile.new" "$rawfile"
        sleep 0.8 # two ticks of 333 ms
        xs_click "$window" "${XS_CAL_ENTER[@]}"
        sleep 0.2
        xs_type "$window" "${point##*:}"
        xs_click "$window" "${XS_CAL_ENTER[@]}"
    done
}

# For a test: makes its scratch folder XS_WORK and, when the test ends, stops
# what was started and removes the folder, or keeps it and says where when
# the test failed (this trap takes the place of xs_cleanup).
xs_scratch_work() {
    XS_WORK=$(mktemp -d "${TMPDIR:-/tmp}/zorm5816-$XS_NAME.XXXXXX")
    trap xs_finish_work EXIT
}

xs_finish_work() {
    local status=$?
    xs_cleanup
    if ((status == 0)); then
        rm -rf "$XS_WORK"
    else
        echo "$XS_NAME: FAILED; the working directory is kept: $XS_WORK" >&2
    fi
}


# Stops whatever these functions started and removes their scratch directory.
xs_cleanup() {
    xs_stop "$XS_APP_PID"
    xs_stop "$XS_SIM_PID"
    xs_stop "$XS_XVFB_PID"
    XS_APP_PID='' XS_SIM_PID='' XS_XVFB_PID=''
    rm -rf "$XS_TMP"
}
