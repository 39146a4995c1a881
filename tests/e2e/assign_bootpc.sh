#!/bin/bash
# quillnet-cli assign answers the real BOOTP client bootpc: the device takes the address, mask
# and gateway it was given, and a run without a gateway hands out 0.0.0.0 as the gateway. A
# device that asks again during the check is answered again. With no interface address to send
# from, the request is heard but assign reports the reply as not sent. Each run leaves its line
# in the commissioning record, which `history` prints.
# Usage: assign_bootpc.sh <quillnet-cli>
# shellcheck source=netns_lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/netns_lib.sh"

qnt_cli_test "${1:-}" bootpc
qnt_init

readonly MAC="02:00:5e:10:20:30"
qnt_pc_and_device PC DEV 10.77.0.1/24 "$MAC"

# start_assign <label> <cli arguments after the MAC...>: assign in the background, waiting;
# its pid in $QNT_LAST_PID. bootpc does not set the address it gets, so nothing could confirm
# it.
start_assign() {
  local label="$1"
  shift
  local out="$QNT_TMP/$label.cli.out" err="$QNT_TMP/$label.cli.err"
  qnt_bg "$PC" "$out" "$err" "$CLI" assign "$MAC" "$@" --timeout 20 --confirm 0
  qnt_wait_for 10 qnt_file_has "$out" "Waiting for a BOOTP or DHCP request" ||
    qnt_fail "$label: the server did not start: $(cat "$out" "$err")"
}

# run_assign <label> <cli arguments after the MAC...>: one assign run answered by one bootpc
# run; bootpc's shell lines end up in $QNT_TMP/<label>.bootpc.
run_assign() {
  local label="$1"
  shift
  local out="$QNT_TMP/$label.cli.out" err="$QNT_TMP/$label.cli.err"
  start_assign "$label" "$@"
  local cli=$QNT_LAST_PID

  local rc=0
  ip netns exec "$DEV" bootpc --dev dev0 --returniffail --timeoutwait 5 \
    >"$QNT_TMP/$label.bootpc" 2>"$QNT_TMP/$label.bootpc.err" || rc=$?
  ((rc == 0)) || qnt_fail "$label: bootpc got no answer (exit $rc): $(cat "$QNT_TMP/$label.bootpc.err")"

  qnt_wait_exit "$cli" 10
  ((QNT_RC == 0)) || qnt_fail "$label: assign exited $QNT_RC: $(cat "$err")"
  qnt_file_has "$out" "Sent to $MAC" || qnt_fail "$label: assign did not report the reply: $(cat "$out")"
}

# With a gateway.
run_assign gw 10.77.0.50 255.255.255.0 10.77.0.1
B="$QNT_TMP/gw.bootpc"
qnt_expect_eq "IPADDR" 10.77.0.50 "$(qnt_bootpc_value "$B" IPADDR)"
qnt_expect_eq "NETMASK" 255.255.255.0 "$(qnt_bootpc_value "$B" NETMASK)"
qnt_expect_eq "GATEWAYS" 10.77.0.1 "$(qnt_bootpc_value "$B" GATEWAYS)"

# Without a gateway, and another address and mask, so nothing of the first run is reused.
run_assign nogw 10.77.0.99 255.255.255.128
B="$QNT_TMP/nogw.bootpc"
qnt_expect_eq "IPADDR" 10.77.0.99 "$(qnt_bootpc_value "$B" IPADDR)"
qnt_expect_eq "NETMASK" 255.255.255.128 "$(qnt_bootpc_value "$B" NETMASK)"
qnt_expect_eq "GATEWAYS" 0.0.0.0 "$(qnt_bootpc_value "$B" GATEWAYS)"
qnt_expect_eq "GATEWAY" 0.0.0.0 "$(qnt_bootpc_value "$B" GATEWAY)"
if grep -q "255\.255\.255\.255" "$B"; then
  qnt_fail "a gateway of 255.255.255.255 reached the device: $(cat "$B")"
fi
grep -qF "default gateway 0.0.0.0" "$QNT_TMP/nogw.cli.out" ||
  qnt_fail "assign did not report gateway 0.0.0.0: $(cat "$QNT_TMP/nogw.cli.out")"
# Unchecked (--confirm 0), each is recorded as not confirmed.
readonly MAKER="locally administered"
qnt_expect_recorded "$CLI" "quillnet-cli assign" "$MAC" "$MAKER" 10.77.0.50 "not confirmed" "" \
  BOOTP pc0
qnt_expect_recorded "$CLI" "quillnet-cli assign" "$MAC" "$MAKER" 10.77.0.99 "not confirmed" "" \
  BOOTP pc0

# A device that restarts while it is checked asks again: bootpc twice against one arming, each
# run given the same addresses. bootpc configures nothing, so Ctrl+C ends the check.
qnt_bg "$PC" "$QNT_TMP/reboot.cli.out" "$QNT_TMP/reboot.cli.err" "$CLI" assign "$MAC" \
  10.77.0.51 255.255.255.0 10.77.0.1 --timeout 20 --confirm 60
CLI_PID=$QNT_LAST_PID
qnt_wait_for 10 qnt_file_has "$QNT_TMP/reboot.cli.out" "Waiting for a BOOTP or DHCP request" ||
  qnt_fail "reboot: the server did not start: $(cat "$QNT_TMP/reboot.cli.err")"
for run in first second; do
  rc=0
  ip netns exec "$DEV" bootpc --dev dev0 --returniffail --timeoutwait 5 \
    >"$QNT_TMP/reboot.$run.bootpc" 2>&1 || rc=$?
  ((rc == 0)) || qnt_fail "reboot: the $run bootpc run got no answer (exit $rc): $(cat "$QNT_TMP/reboot.$run.bootpc" "$QNT_TMP/reboot.cli.out")"
  qnt_expect_eq "reboot: the $run run's IPADDR" 10.77.0.51 \
    "$(qnt_bootpc_value "$QNT_TMP/reboot.$run.bootpc" IPADDR)"
done
qnt_running "$CLI_PID" || qnt_fail "reboot: assign ended during the check: $(cat "$QNT_TMP/reboot.cli.err")"
kill -INT "$CLI_PID"
qnt_wait_exit "$CLI_PID" 10
qnt_expect_eq "reboot: assign's exit status after Ctrl+C in the check" 7 "$QNT_RC"
qnt_expect_eq "reboot: replies reported" 2 "$(grep -c "^Sent to $MAC: IP address 10.77.0.51" "$QNT_TMP/reboot.cli.out")"
qnt_file_has "$QNT_TMP/reboot.cli.err" "Not confirmed: interrupted before $MAC answered at 10.77.0.51." ||
  qnt_fail "reboot: $(cat "$QNT_TMP/reboot.cli.err")"
qnt_expect_recorded "$CLI" "quillnet-cli assign" "$MAC" "$MAKER" 10.77.0.51 "not confirmed" "" \
  BOOTP pc0

# The PC's interface loses its address: the request still arrives, but no interface can send
# the reply, and assign must say so rather than report it sent.
ip -n "$PC" addr flush dev pc0
start_assign noaddr 10.77.0.60 255.255.255.0 10.77.0.1
CLI_PID=$QNT_LAST_PID
ip netns exec "$DEV" python3 "$PEER" send "$MAC:300"
qnt_wait_exit "$CLI_PID" 10
qnt_expect_eq "assign exit status without an interface address" 5 "$QNT_RC"
qnt_file_has "$QNT_TMP/noaddr.cli.err" "No network interface could send the reply" ||
  qnt_fail "assign did not say why the reply was not sent: $(cat "$QNT_TMP/noaddr.cli.err")"
qnt_file_has "$QNT_TMP/noaddr.cli.out" "Sent to" && qnt_fail "assign reported the reply as sent"
# No reply reached the device: the line names no protocol.
qnt_expect_recorded "$CLI" "quillnet-cli assign" "$MAC" "$MAKER" 10.77.0.60 "not sent" "" "" pc0
qnt_expect_eq "lines in the record" 4 "$(grep -c "quillnet-cli assign" "$QNT_RECORD")"

qnt_log "PASS"
