#!/usr/bin/env bash
# cmake --install into a scratch prefix: the files are where a desktop looks
# for them and pass desktop-file-validate and appstreamcli; the desktop
# entry's switch picks $XDG_DATA_HOME/zorm5816; the installed program, run
# under Xvfb with --data-dir naming a folder that holds a COM1 link to the
# installed zorm5816-sim, finds the converter and saves Parametry.par there
# and nowhere else; a data folder that cannot be made or written gives an
# error box and status 1, and nothing is written. The installed zorm5816-cli
# with its manual page and bash completion scans a line of two converters of
# the installed simulator and identifies one; nothing is written then. The
# installed program opens its chart window (Qt Charts) and its history
# window (Qt SQL with its SQLite driver).
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
for file in bin/zorm5816 bin/zorm5816-sim bin/zorm5816-cli share/icons/hicolor/scalable/apps/zorm5816.svg \
    share/man/man1/zorm5816-cli.1.gz share/bash-completion/completions/zorm5816-cli; do
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
# The history window lists through the SQLite driver, a plugin.
xs_keys "$main" alt+h
history=$(xs_wait_window '^Historie kalibrac')
xs_close_box "$history" Escape
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
# The command line program: its manual page and completion, then a scan and
# an identification against the installed simulator, from the working
# directory, in a data folder that stays empty.
cli=$prefix/bin/zorm5816-cli
zcat "$prefix/share/man/man1/zorm5816-cli.1.gz" | grep -q '^\.TH "zorm5816-cli" "1"' ||
    xs_fail "the manual page of zorm5816-cli is no manual page"
offered=$(bash -c 'source "$1"; COMP_WORDS=(zorm5816-cli sc); COMP_CWORD=1; _zorm5816_cli
    echo "${COMPREPLY[*]}"' _ "$prefix/share/bash-completion/completions/zorm5816-cli")
[[ $offered == scan ]] || xs_fail "the completion offers '$offered' for 'sc'"
mkdir "$work/cli"
xs_start_sim --dir "$work/cli" --port 1 --address 2,5 --type 5816,5817 --pace
scanned=$(cd "$cwd" && "$cli" scan --port 1 --data-dir "$work/cli" --json 2>/dev/null) ||
    xs_fail "zorm5816-cli scan ended with status $?"
[[ $(python3 -c 'import json, sys; print(json.load(sys.stdin)["found"])' <<<"$scanned") == "[2, 5]" ]] ||
    xs_fail "zorm5816-cli scan found: $scanned"
identified=$(cd "$cwd" && "$cli" identify --port 1 --address 5 --data-dir "$work/cli" 2>/dev/null) ||
    xs_fail "zorm5816-cli identify ended with status $?"
[[ $identified == "Připojeno zařízení ZORM5817A na portu COM1" ]] ||
    xs_fail "zorm5816-cli identify printed: $identified"
status=0
(cd "$cwd" && "$cli" measure --celsius --port 1 --data-dir "$work/cli" 2>/dev/null) || status=$?
((status == 3)) || xs_fail "zorm5816-cli measure --celsius without Parametry.par: status $status, not 3"
xs_stop_sim
[[ -z $(ls -A "$work/cli") ]] || xs_fail "zorm5816-cli wrote $(ls -A "$work/cli")"
expect_empty_cwd "zorm5816-cli"

[[ $(ls -A "$work") == $'appstream.log\ncli\ncwd\ndata\nfile\nprefix\nsim.log\nxdg' ]] ||
    xs_fail "unexpected files in the scratch folder: $(ls -A "$work")"

echo "install: installed files, desktop entry, data folder and zorm5816-cli passed"
