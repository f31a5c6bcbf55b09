#!/usr/bin/env bash
# cmake --install into a scratch prefix: the files are where a desktop looks
# for them and pass desktop-file-validate and appstreamcli; the desktop
# entry's switch picks $XDG_DATA_HOME/zorm5816; the installed program, run
# under Xvfb with --data-dir naming a folder that holds a COM1 link to the
# installed zorm5816-sim, finds the converter and saves Parametry.par there
# and nowhere else; a data folder that cannot be made or written gives an
# error box and status 1, and nothing is written. The installed program opens
# its chart window (Qt Charts).
#
# usage: install_test.sh BUILD_DIR XSESSION
set -euo pipefail
[[ $# -eq 2 ]] || { echo "usage: $0 BUILD_DIR XSESSION" >&2; exit 2; }
build=$1
XS_NAME=install
# shellcheck source=SCRIPTDIR/../../scripts/xsession.sh
source "$2"
xs_scratch_work
work=$XS_WORK

prefix=$work/prefix
cwd=$work/cwd
mkdir "$cwd"
expect_empty_cwd() {
    [[ -z $(ls -A "$cwd") ]] || xs_fail "$1: files in the working directory: $(ls -A "$cwd")"
}

cmake --install "$build" --prefix "$prefix" >/dev/null
desktop=$prefix/share/applications/cz.zorm.zorm5816.desktop
metainfo=$prefix/share/metainfo/cz.zorm.zorm5816.metainfo.xml
for file in bin/zorm5816 bin/zorm5816-sim share/icons/hicolor/scalable/apps/zorm5816.svg; do
    [[ -s $prefix/$file ]] || xs_fail "not installed: $file"
done
desktop-file-validate "$desktop" || xs_fail "desktop-file-validate refused $desktop"
appstreamcli validate --no-net "$metainfo" >"$work/appstream.log" 2>&1 ||
    xs_fail "appstreamcli refused $metainfo: $(cat "$work/appstream.log")"
grep -qx 'Icon=zorm5816' "$desktop" || xs_fail "the desktop entry names another icon"

XS_PROGRAM=$prefix/bin/zorm5816
XS_SIM=$prefix/bin/zorm5816-sim
[[ $("$XS_PROGRAM" --version) == "zorm5816 "[0-9]* ]] || xs_fail "--version: $("$XS_PROGRAM" --version)"

# The desktop entry runs the program with the per-user folder, which is made.
exec_line=$(sed -n 's/^Exec=//p' "$desktop")
[[ $exec_line == "zorm5816 --user-data" ]] || xs_fail "Exec=$exec_line"
read -ra words <<<"$exec_line"
listing=$(cd "$cwd" && XDG_DATA_HOME=$work/xdg "$prefix/bin/${words[0]}" "${words[@]:1}" --list-ports)
[[ $listing == "Data folder: $work/xdg/zorm5816"$'\n'* ]] || xs_fail "--user-data listed: $listing"
[[ -d $work/xdg/zorm5816 ]] || xs_fail "--user-data made no folder"
expect_empty_cwd "--user-data"

xs_start_xvfb

# The data folder holds the simulator's COM1 link; the program starts in an
# empty working directory. First start: no Parametry.par, then found.
data=$work/data
mkdir "$data"
xs_start_sim --dir "$data" --port 1 --log "$work/sim.log"
xs_start_program "$cwd" --data-dir "$data"
main=$(xs_wait_window "$XS_MAIN_TITLE")
xs_expect_box "--data-dir" Error
xs_expect_box "--data-dir" Information
# The chart window draws with Qt Charts, which the package depends on.
xs_keys "$main" alt+z g
xs_wait_window '^Graf m' >/dev/null
xs_keys "$main" alt+k
xs_wait_program 10 || xs_fail "--data-dir: the program still runs 10 s after Alt+K"
((XS_STATUS == 0)) || xs_fail "--data-dir: the program ended with status $XS_STATUS"
xs_stop_sim
[[ $(sed 's/^[0-9]* ms: //' "$work/sim.log") == "25 30 0d -> reply" ]] ||
    xs_fail "--data-dir: the simulator received $(cat "$work/sim.log")"
[[ $(stat -c %s "$data/Parametry.par") == 1653 ]] || xs_fail "--data-dir: no Parametry.par in $data"
expect_empty_cwd "--data-dir"

# A data folder under a file cannot be made, and sysfs takes no files even
# from root: the error box, status 1, nothing written.
touch "$work/file"
for unusable in "$work/file/zorm5816" /sys/kernel; do
    xs_start_program "$cwd" --data-dir "$unusable"
    xs_expect_box "$unusable" Error
    xs_wait_program 10 || xs_fail "$unusable: the program still runs after its error box"
    ((XS_STATUS == 1)) || xs_fail "$unusable: status $XS_STATUS, not 1"
    expect_empty_cwd "$unusable"
done
[[ $(ls -A "$work") == $'appstream.log\ncwd\ndata\nfile\nprefix\nsim.log\nxdg' ]] ||
    xs_fail "unexpected files in the scratch folder: $(ls -A "$work")"

echo "install: installed files, desktop entry and data folder passed"
