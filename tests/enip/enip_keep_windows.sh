#!/bin/bash
# The keep sequence over Winsock: the Windows build of the test program under Wine, against our
# EtherNet/IP device (tests/e2e/enip_device.py) in namespaces behind the PC's bridge: a device
# that keeps (reached from the PC's address and interface), one that opens its port late, one
# that refuses the set and one that never listens.
# Usage: enip_keep_windows.sh <wine prefix to copy> <e2e_enip_keep.exe>
# shellcheck source=../e2e_windows/wine_lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/../e2e_windows/wine_lib.sh"

PREFIX="${1:?usage: $0 <prefix> <e2e_enip_keep.exe>}"
EXE="${2:?usage: $0 <prefix> <e2e_enip_keep.exe>}"
[[ -f "$EXE" ]] || qnt_fail "no such program: $EXE"
command -v wine >/dev/null || qnt_fail "wine is not installed (Debian packages wine, wine64)"
command -v python3 >/dev/null || qnt_fail "python3 is not installed"
DEVICE="$(dirname "${BASH_SOURCE[0]}")/../e2e/enip_device.py"
qnt_init
trap qnw_cleanup EXIT
QNW_PREFIX="$QNT_TMP/wine"

readonly NET=10.81.0
qnt_pc_bridge PC "$NET.1/24"
readonly DEVICES=(keeps:11 refuses:12 never:13 late:14)
port=0
for entry in "${DEVICES[@]}"; do
  mode="${entry%%:*}" host="${entry#*:}"
  qnt_make_ns NS "$mode"
  qnt_bridge_port "$PC" "p$port" "$NS" dev0
  ip -n "$NS" addr add "$NET.$host/24" dev dev0
  ip -n "$NS" link set dev0 up
  qnt_bg "$NS" "$QNT_TMP/$mode.device.out" "$QNT_TMP/$mode.device.err" \
    python3 -u "$DEVICE" "$mode" --address "$NET.$host"
  port=$((port + 1))
done

# The test's own prefix, its Wine server in the PC's namespace (where it makes the sockets),
# and Wine's services started by a first run.
if [[ -f "$PREFIX/system.reg" ]]; then
  qnw_copy_prefix "$PREFIX" "$QNW_PREFIX"
else
  mkdir "$QNW_PREFIX"
fi
export WINEPREFIX="$QNW_PREFIX"
QNW_SERVER_STARTED=1
ip netns exec "$PC" wineserver -p </dev/null >"$QNT_TMP/wineserver.log" 2>&1 ||
  qnt_fail "wineserver did not start: $(cat "$QNT_TMP/wineserver.log")"
rc=0
timeout 120 ip netns exec "$PC" wine "$EXE" </dev/null >/dev/null 2>&1 || rc=$?
((rc == 2)) || qnt_fail "the program does not start under Wine: exit $rc"

for entry in "${DEVICES[@]}"; do
  mode="${entry%%:*}"
  [[ "$mode" == late ]] && continue
  line=listening
  [[ "$mode" == never ]] && line="not listening"
  qnt_wait_for 30 qnt_file_has "$QNT_TMP/$mode.device.out" "$line" ||
    qnt_fail "device $mode did not start: $(cat "$QNT_TMP/$mode.device.err")"
done

declare -A PIDS
run() {
  local label="$1"
  shift
  qnt_bg "$PC" "$QNT_TMP/$label.out" "$QNT_TMP/$label.err" wine "$EXE" "$@" </dev/null
  PIDS[$label]=$QNT_LAST_PID
}
BR0_INDEX="$(ip netns exec "$PC" cat /sys/class/net/br0/ifindex)"
run keeps keep "$NET.11" --from "$NET.1" --interface "$BR0_INDEX"
run refuses keep "$NET.12"
run never keep "$NET.13"
run late keep "$NET.14"

expect() {
  qnt_wait_exit "${PIDS[$1]}" 90
  ((QNT_RC == 0)) || qnt_fail "$1: exit $QNT_RC: $(cat "$QNT_TMP/$1.out" "$QNT_TMP/$1.err")"
  qnt_expect_eq "$1: outcome" "$2" "$(qnw_text "$QNT_TMP/$1.out" | sed -n 1p)"
  qnt_expect_eq "$1: text" "$3" "$(qnw_text "$QNT_TMP/$1.out" | sed -n 2p)"
}
readonly AGAIN="it will ask for an address again at its next start-up."
expect keeps kept "The device keeps $NET.11: it now starts with its stored configuration, not BOOTP."
expect late kept "The device keeps $NET.14: it now starts with its stored configuration, not BOOTP."
expect refuses refused \
  "The device at $NET.12 refused to set its start-up method: attribute not settable (general status 0x0E): $AGAIN"
expect never "no device" "No EtherNet/IP device answers at $NET.13 (connection refused): $AGAIN"
qnt_expect_eq "keeps: control written" "control 0x00000010" \
  "$(grep control "$QNT_TMP/keeps.device.out")"
for entry in "${DEVICES[@]}"; do
  mode="${entry%%:*}"
  ! grep . "$QNT_TMP/$mode.device.err" || qnt_fail "device $mode: $(cat "$QNT_TMP/$mode.device.err")"
done

qnt_log "PASS"
