#!/bin/bash
# Keeping the address: the start-up method sequence against our EtherNet/IP device in each of
# its modes, each device in a namespace of its own behind the PC's bridge, all at once. The
# exchange with the device that keeps is captured and decoded by tshark, a peer we did not
# write: our request must be Set Attribute Single to the TCP/IP Interface object, attribute 3.
# Usage: enip_keep.sh <e2e_enip_keep>
# shellcheck source=netns_lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/netns_lib.sh"

TOOL="${1:?usage: $0 <e2e_enip_keep>}"
[[ -x "$TOOL" ]] || qnt_fail "not an executable: $TOOL"
command -v python3 >/dev/null || qnt_fail "python3 is not installed"
command -v tshark >/dev/null || qnt_fail "tshark is not installed (Debian package tshark)"
DEVICE="$(dirname "${BASH_SOURCE[0]}")/enip_device.py"
qnt_init

readonly NET=10.80.0
qnt_pc_bridge PC "$NET.1/24"
# mode:host; the sequences also go to .20, where nobody answers.
readonly DEVICES=(keeps:11 refuses:12 never:13 late:14 other:15 readback:16 dhcp:17)
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

# The capture of the exchange with the device that keeps, decoded as it arrives.
qnt_bg "$PC" "$QNT_TMP/capture.out" "$QNT_TMP/capture.err" \
  tshark -l -n -i br0 -f "tcp port 44818 and host $NET.11" -d tcp.port==44818,enip \
  -Y "enip.command == 0x0066 || cip.rr == 0" -T fields -E separator=, \
  -e enip.command -e cip.sc -e cip.class -e cip.instance -e cip.attribute \
  -e cip.tcpip.config_control
qnt_wait_for 30 qnt_file_has "$QNT_TMP/capture.err" "Capturing on" ||
  qnt_fail "tshark did not start: $(cat "$QNT_TMP/capture.err")"

# Every device but the late one is up before the sequences start; the late one opens 3 s
# after its start, and the sequence waits for it.
for entry in "${DEVICES[@]}"; do
  mode="${entry%%:*}"
  [[ "$mode" == late ]] && continue
  line=listening
  [[ "$mode" == never ]] && line="not listening"
  qnt_wait_for 30 qnt_file_has "$QNT_TMP/$mode.device.out" "$line" ||
    qnt_fail "device $mode did not start: $(cat "$QNT_TMP/$mode.device.err")"
done

# run <label> <args...>: the tool in the PC's namespace, in the background; its pid in PIDS.
declare -A PIDS
run() {
  local label="$1"
  shift
  qnt_bg "$PC" "$QNT_TMP/$label.out" "$QNT_TMP/$label.err" "$TOOL" "$@"
  PIDS[$label]=$QNT_LAST_PID
}
BR0_INDEX="$(ip netns exec "$PC" cat /sys/class/net/br0/ifindex)"
run keeps keep "$NET.11" --from "$NET.1" --interface "$BR0_INDEX"
run refuses keep "$NET.12"
run never keep "$NET.13"
run late keep "$NET.14"
run other keep "$NET.15"
run readback keep "$NET.16"
run dhcp keep "$NET.17"
run silent keep "$NET.20"

# expect <label> <word> <text>: the tool ended, printed the outcome's word and exactly the text.
expect() {
  qnt_wait_exit "${PIDS[$1]}" 60
  ((QNT_RC == 0)) || qnt_fail "$1: exit $QNT_RC: $(cat "$QNT_TMP/$1.out" "$QNT_TMP/$1.err")"
  qnt_expect_eq "$1: outcome" "$2" "$(sed -n 1p "$QNT_TMP/$1.out")"
  qnt_expect_eq "$1: text" "$3" "$(sed -n 2p "$QNT_TMP/$1.out")"
}
readonly AGAIN="it will ask for an address again at its next start-up."
readonly MAYBE="it may ask for an address again at its next start-up."
expect keeps kept "The device keeps $NET.11: it now starts with its stored configuration, not BOOTP."
expect refuses refused \
  "The device at $NET.12 refused to set its start-up method: attribute not settable (general status 0x0E): $AGAIN"
expect late kept "The device keeps $NET.14: it now starts with its stored configuration, not BOOTP."
expect other "another address" \
  "The device at $NET.15 reports another address, 10.99.0.99, in its TCP/IP Interface object: its start-up method was left as it is: $MAYBE"
expect readback "read-back differs" \
  "The device at $NET.16 took the start-up method stored configuration but reads back BOOTP: $MAYBE"
expect dhcp kept "The device keeps $NET.17: it now starts with its stored configuration, not DHCP."
expect never "no device" "No EtherNet/IP device answers at $NET.13 (connection refused): $AGAIN"
expect silent "no device" "No EtherNet/IP device answers at $NET.20 (no answer in 10 s): $AGAIN"

# What each device was told: DNS (bit 4) kept as read, the method 0; nothing to the device
# that names another address; and no request that a device would not take.
qnt_expect_eq "keeps: control written" "control 0x00000010" \
  "$(grep control "$QNT_TMP/keeps.device.out")"
qnt_expect_eq "dhcp: control written" "control 0x00000000" \
  "$(grep control "$QNT_TMP/dhcp.device.out")"
! grep -q control "$QNT_TMP/other.device.out" || qnt_fail "other: the start-up method was set"
for entry in "${DEVICES[@]}"; do
  mode="${entry%%:*}"
  ! grep . "$QNT_TMP/$mode.device.err" || qnt_fail "device $mode: $(cat "$QNT_TMP/$mode.device.err")"
  [[ "$mode" == never || "$mode" == other ]] && continue
  qnt_file_has "$QNT_TMP/$mode.device.out" unregistered || qnt_fail "$mode: session not closed"
done

# The start-up method of the device that started with DHCP, read and put back to BOOTP.
startup() {
  local out="$QNT_TMP/startup.out" rc=0
  ip netns exec "$PC" "$TOOL" "$@" >"$out" 2>&1 || rc=$?
  ((rc == 0)) || qnt_fail "$*: exit $rc: $(cat "$out")"
  sed -n 2p "$out"
}
qnt_expect_eq "read" "The device at $NET.17 starts with stored configuration." \
  "$(startup read "$NET.17")"
qnt_expect_eq "set bootp" "The device at $NET.17 now starts with BOOTP." \
  "$(startup set "$NET.17" bootp)"
qnt_expect_eq "read again" "The device at $NET.17 starts with BOOTP." \
  "$(startup read "$NET.17")"

# tshark's reading of the requests to the device that keeps, once the last has arrived: Get
# attribute 3, Get attribute 5, Set attribute 3 to 0x10, Get attribute 3.
qnt_wait_for 30 qnt_file_has "$QNT_TMP/capture.out" "0x0066" ||
  qnt_fail "tshark saw no UnRegisterSession: $(cat "$QNT_TMP/capture.out" "$QNT_TMP/capture.err")"
qnt_expect_eq "tshark" "0x006f,0x0e,0xf5,0x01,3,
0x006f,0x0e,0xf5,0x01,5,
0x006f,0x10,0xf5,0x01,3,0x00000010
0x006f,0x0e,0xf5,0x01,3," "$(grep '^0x006f' "$QNT_TMP/capture.out")"

qnt_log "PASS"
