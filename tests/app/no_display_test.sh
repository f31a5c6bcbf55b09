#!/usr/bin/env bash
# The program where no window system can be reached: without a display, and
# with a display that nobody serves, it ends with status 1 and one line on
# standard error (no abort, no lines of Qt's own); two data folders on the
# command line, or a shared database whose address holds a password, are a
# usage error (status 2) before anything is made.
#
# usage: no_display_test.sh PROGRAM
set -euo pipefail
[[ $# -eq 1 ]] || { echo "usage: $0 PROGRAM" >&2; exit 2; }
program=$(realpath "$1")
work=$(mktemp -d "${TMPDIR:-/tmp}/zorm5816-no-display.XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work"

fail() {
    echo "no-display: $*" >&2
    exit 1
}

# Runs the program with "$@" as environment settings and no arguments; sets
# `status` and `errors` (its standard error).
run() {
    status=0
    errors=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$@" "$program" 2>&1 >/dev/null) ||
        status=$?
}

for display in "" "DISPLAY=:4093"; do
    # shellcheck disable=SC2086 # an empty setting is no argument
    run $display XDG_RUNTIME_DIR="$work"
    ((status == 1)) || fail "${display:-no display}: status $status, not 1: $errors"
    [[ $(wc -l <<<"$errors") -eq 1 && $errors == *"needs a graphical session"* ]] ||
        fail "${display:-no display}: standard error is not the one line:"$'\n'"$errors"
done
[[ -z $(ls -A "$work") ]] || fail "it left files behind: $(ls -A "$work")"

status=0
errors=$("$program" --data-dir "$work/a" --user-data 2>&1 >/dev/null) || status=$?
((status == 2)) || fail "two data folders: status $status, not 2"
[[ $errors == *"give one of them, once"* ]] || fail "two data folders: $errors"
[[ ! -e $work/a ]] || fail "two data folders: the folder was made all the same"
status=0
errors=$("$program" --data-dir "$work/b" --history postgresql://kalibrace:heslo@db/zorm 2>&1 \
    >/dev/null) || status=$?
((status == 2)) || fail "a password in --history: status $status, not 2"
[[ $errors == "zorm5816: --history: "*"kalibrace:****@db"*PGPASSWORD* && $errors != *heslo@* ]] ||
    fail "a password in --history: $errors"
[[ ! -e $work/b ]] || fail "a password in --history: the folder was made all the same"
echo "no-display: one line and status 1 without a display; two data folders and a password" \
    "in --history refused"
