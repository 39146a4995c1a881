#!/bin/bash
# quillnet-cli.exe assign under Wine answers a device behind a router through its relay agent
# (ISC dhcrelay in a namespace between the PC's network and the device's): ISC dhclient is
# offered and acked its address by unicast to the relay, and assign then finds it answering
# there with ICMP echo (IcmpSendEcho2), since ARP does not pass the router.
# Usage: relay_agent.sh <quillnet-cli.exe>
# shellcheck source=wine_lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/wine_lib.sh"

qnw_cli_test "${1:-}" dhclient
command -v dhcrelay >/dev/null || qnt_fail "dhcrelay is not installed (Debian package isc-dhcp-relay)"

HERE="$(cd "$(dirname "${BASH_SOURCE[0]}")/../e2e" && pwd)"
readonly HERE
readonly MAC="02:00:5e:94:00:02"
readonly PC_IP=10.94.0.2 RELAY_UP=10.94.0.1 RELAY=10.95.0.1 MASK=255.255.255.0 D_IP=10.95.0.50

# PC pc0 -- r0 RELAY r1 -- the device's network, with DEV (dhclient).
qnt_relay_network "$PC_IP" "$RELAY_UP" "$RELAY" DEV:"$MAC"
qnw_start_wine "$PC"

qnw_bg "$PC" assign assign "$MAC" "$D_IP" "$MASK" "$RELAY" --timeout 40 --confirm 20
assign=$QNT_LAST_PID
qnt_wait_for 20 qnt_file_has "$QNT_TMP/assign.out" "Waiting for a BOOTP or DHCP request" ||
  qnt_fail "assign did not start waiting: $(qnw_text "$QNT_TMP/assign.out") $(qnw_text "$QNT_TMP/assign.err")"
qnt_bg "$DEV" "$QNT_TMP/dhclient.out" "$QNT_TMP/dhclient.err" dhclient -d -v -1 \
  -cf /dev/null -lf "$QNT_TMP/leases" -pf "$QNT_TMP/dhclient.pid" \
  -sf "$HERE/dhclient_set_address.sh" dev0
dhclient=$QNT_LAST_PID
qnt_wait_exit "$assign" 45
((QNT_RC == 0)) || qnt_fail "assign exited $QNT_RC: $(qnw_text "$QNT_TMP/assign.out") \
$(qnw_text "$QNT_TMP/assign.err") $(cat "$QNT_TMP/dhclient.err" "$QNT_TMP/relay.err")"
for line in \
  "Sent DHCPACK to $MAC: IP address $D_IP, subnet mask $MASK, default gateway $RELAY (through relay agent $RELAY, pc0)" \
  "Accepted: $MAC took $D_IP (DHCP)" "Confirmed: $MAC answers at $D_IP"; do
  qnw_expect_line "$QNT_TMP/assign.out" "$line"
done
kill "$dhclient"
qnt_wait_exit "$dhclient" 10

qnt_log "PASS"
