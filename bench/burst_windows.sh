#!/bin/bash
# The Win32 wizard's Listen page under a steady flow of requests, as bench/burst.sh's page mode
# measures the Qt page: the real Quillnet.exe under Wine on a virtual display, in a pc
# namespace, hears RATE requests/s round-robin over DEVICES devices (bench/burst_client.py in
# a device namespace) for SECONDS, while wizard_driver.exe presses a key (Down or Up) in its
# device list every 100 ms from another process. Prints the requests the page counted against
# those sent, and how long each key took to move the selection.
#
#   bench/burst_windows.sh BUILD_DIR [RATE [DEVICES [SECONDS]]]    (default 5000 300 60)
#
# BUILD_DIR is the Windows build (scripts/build-windows.sh). Needs root, wine, Xvfb, python3.
# shellcheck source=../tests/e2e_windows/wine_lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/../tests/e2e_windows/wine_lib.sh"

BUILD="${1:?usage: $0 BUILD_DIR [RATE [DEVICES [SECONDS]]]}"
RATE="${2:-5000}"
DEVICES="${3:-300}"
SECONDS_="${4:-60}"
WIZARD="$BUILD/gui/Quillnet.exe"
DRIVER="$BUILD/tests/e2e_windows/wizard_driver.exe"
CLIENT="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)/burst_client.py"
[[ -f "$WIZARD" && -f "$DRIVER" ]] || qnt_fail "no Quillnet.exe or wizard_driver.exe in $BUILD"
qnw_cli_test "$BUILD/cli/quillnet-cli.exe"

# The client's devices have MACs 02:00:5e:93:xx:xx in their requests' chaddr.
qnt_pc_and_device PC DEV 10.93.0.1/16 02:00:5e:94:00:01
qnt_log "load average: $(cut -d' ' -f1-3 /proc/loadavg)"
qnw_start_display "$PC"
qnw_start_wine "$PC"

qnt_bg "$PC" "$QNT_TMP/wizard.out" "$QNT_TMP/wizard.err" wine "$WIZARD"
wizard=$QNT_LAST_PID
timeout 120 ip netns exec "$PC" wine "$DRIVER" "page welcome 60" "enabled next 10" next \
  "page listen 20" </dev/null >/dev/null 2>"$QNT_TMP/driver.err" ||
  qnt_fail "the Listen page: $(cat "$QNT_TMP/driver.err")"

stop="$QNT_TMP/load.stop"
qnt_bg "$PC" "$QNT_TMP/load.out" "$QNT_TMP/load.err" wine "$DRIVER" "load $(qnw_windows_path "$stop")"
loader=$QNT_LAST_PID
# Two devices first, so the driver has rows to move between; then the steady flow.
ip netns exec "$DEV" python3 "$CLIENT" steady 100 2 1 >"$QNT_TMP/warm.json"
qnt_wait_for 60 qnt_file_has "$QNT_TMP/load.out" LOADING ||
  qnt_fail "the driver did not start: $(tr -d '\r' <"$QNT_TMP/load.err")"
ip netns exec "$DEV" python3 "$CLIENT" steady "$RATE" "$DEVICES" "$SECONDS_" --server-pid "$wizard" \
  >"$QNT_TMP/page.json" || qnt_fail "the client failed"
touch "$stop"
qnt_wait_exit "$loader" 60
((QNT_RC == 0)) || qnt_fail "the driver: $(tr -d '\r' <"$QNT_TMP/load.err")"
tr -d '\r' <"$QNT_TMP/load.out" >"$QNT_TMP/load.txt"
# The two warm-up devices' requests were counted too, but not sent in the measured run.
python3 - "$QNT_TMP/load.txt" "$QNT_TMP/warm.json" <<'PY'
import json, sys
lines = open(sys.argv[1]).read().splitlines()
words = next(l for l in lines if l.startswith("COUNTED ")).split()
words[1] = str(int(words[1]) - json.loads(open(sys.argv[2]).read().splitlines()[0])["sent"])
open(sys.argv[1], "w").write(" ".join(words) + "\n")
PY
python3 "$CLIENT" report page "$QNT_TMP/page.json" "$QNT_TMP/load.txt"
