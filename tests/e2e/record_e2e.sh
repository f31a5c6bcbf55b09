#!/usr/bin/env bash
# The calibration record of one commit from end to end: the real program
# under Xvfb against zorm5816-sim commits a fit of six points of sensor 1,
# which had a calibration in force. The record in Historie.sqlite must hold
# what record_oracle.py, an exact model of the arithmetic, computes for the
# same points and the same calibration before: the points, the fitted values
# and deviations, the coefficients as left and as found to the bit, the
# as-found deviations, the largest deviation and s; and the station's
# operator, reference and tag, the converter's type, port and address. The
# history window then opens from the main window's menu.
#
# usage: record_e2e.sh PROGRAM SIMULATOR XSESSION ORACLE
set -euo pipefail
[[ $# -eq 4 ]] || { echo "usage: $0 PROGRAM SIMULATOR XSESSION ORACLE" >&2; exit 2; }
XS_NAME=record-e2e
XS_PROGRAM=$1
XS_SIM=$2
# shellcheck source=SCRIPTDIR/../../scripts/xsession.sh
source "$3"
oracle=$4
xs_scratch_work
work=$XS_WORK

points=(12000:-11.95 18000:12.07 25000:40.03 33000:71.96 41000:104.1 47000:128.02)
# The calibration in force before: t = 0.004 raw - 60 for sensor 1.
before=0.0,0.0,0.004,-60.0

# Port 1, address 1, RTS set while transmitting, filter off, raw display;
# sensor 1 of the user set calibrated with the cubic above.
python3 - "$work/Parametry.par" "$before" <<'PY'
import struct, sys
image = bytearray(1653)
image[0:5] = bytes([1, 1, 1, 0, 0])
for power, value in enumerate(float(v) for v in sys.argv[2].split(",")):
    struct.pack_into("<d", image, 5 + 720 + 24 * power, value)
image[5 + 819] = 1
open(sys.argv[1], "wb").write(image)
PY
cat >"$work/Stanice.ini" <<'INI'
Operator=Jana Nováková
ReferenceDescription=Pt100 referenční teploměr
ReferenceSerialNumber=12345
ReferenceCertificateNumber=K-2024/117
Tag.COM1.1=TT-101
INI
echo "21500,22500,23500" >"$work/raw"

xs_start_xvfb
xs_start_sim --dir "$work" --port 1 --raw-file "$work/raw"
xs_start_program "$work"
main=$(xs_wait_window "$XS_MAIN_TITLE")
xs_close_box "$(xs_wait_window '^Information$')"
cal=$(xs_open_calibration "$main")
xs_collect "$cal" "$work/raw" "${points[@]}"
xs_click "$cal" "${XS_CAL_FIT[@]}"
sleep 0.3
xs_click "$cal" "${XS_CAL_COMMIT[@]}"
sleep 0.3
xs_keys "$cal" Escape
xs_wait_gone "$cal"
xs_keys "$main" alt+h
history=$(xs_wait_window '^Historie kalibrac')
xs_keys "$history" Escape
xs_wait_gone "$history"
xs_keys "$main" alt+k
xs_wait_program 10 || xs_fail "the program still runs 10 s after Alt+K"
((XS_STATUS == 0)) || xs_fail "the program ended with status $XS_STATUS"
xs_stop_sim

uuid=$(python3 "$oracle" "$work/Historie.sqlite" "$before" "${points[@]}") ||
    xs_fail "the record differs from the oracle's"
stamped=$(python3 - "$work/Historie.sqlite" <<'PY'
import sqlite3, sys
row = sqlite3.connect(sys.argv[1]).execute(
    "SELECT operator, reference_description, reference_serial, reference_certificate,"
    " converter_type, port, address, tag FROM calibration_record").fetchone()
print("|".join(str(v) for v in row))
PY
)
want="Jana Nováková|Pt100 referenční teploměr|12345|K-2024/117|ZORM5816A|1|1|TT-101"
[[ $stamped == "$want" ]] || xs_fail "the record names '$stamped' instead of '$want'"
echo "record-e2e: passed (record $uuid)"
