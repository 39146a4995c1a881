#!/bin/bash
# A device behind a router, its requests relayed to this PC by ISC dhcrelay: the real wizard
# names the relay agent on the Listen page, shows the relay's address and proposes its network
# on the Set IP page, answers ISC dhclient through the relay, and confirms the device at its
# new address with ICMP echo.
# Usage: wizard_relay.sh <wizard_driver>
# shellcheck source=netns_lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/netns_lib.sh"

DRIVER="${1:?usage: $0 <wizard_driver>}"
[[ -x "$DRIVER" ]] || qnt_fail "not an executable: $DRIVER"
command -v dhclient >/dev/null || qnt_fail "dhclient is not installed (Debian package isc-dhcp-client)"
command -v dhcrelay >/dev/null || qnt_fail "dhcrelay is not installed (Debian package isc-dhcp-relay)"
qnt_init

readonly MAC="02:00:5e:93:00:02" RELAY=10.94.0.1 IP=10.94.0.50
qnt_relay_network 10.93.0.2 10.93.0.1 "$RELAY" DEV:"$MAC"
export QT_QPA_PLATFORM=offscreen XDG_CONFIG_HOME="$QNT_TMP/config"

# dhclient asks from the start and keeps its transaction while the wizard is taken to arming.
qnt_bg "$DEV" "$QNT_TMP/dhclient.out" "$QNT_TMP/dhclient.err" dhclient -d -v -1 -cf /dev/null \
  -lf "$QNT_TMP/dhclient.leases" -pf "$QNT_TMP/dhclient.pid" \
  -sf "$(dirname "${BASH_SOURCE[0]}")/dhclient_set_address.sh" dev0
qnt_bg "$PC" "$QNT_TMP/wizard.out" "$QNT_TMP/wizard.err" "$DRIVER" assign "$MAC" "$IP" \
  255.255.255.0 "$RELAY" --expect-relay "$RELAY" --expect-confirmed
WIZARD=$QNT_LAST_PID
qnt_wait_exit "$WIZARD" 120
((QNT_RC == 0)) || qnt_fail "the wizard run failed (exit $QNT_RC): $(cat "$QNT_TMP/wizard.err" \
  "$QNT_TMP/dhclient.err" "$QNT_TMP/relay.err")"
ip -n "$DEV" -4 addr show dev dev0 | grep -qF "inet $IP/24" ||
  qnt_fail "dhclient does not hold $IP: $(ip -n "$DEV" -4 addr show dev dev0)"
qnt_running "$QNT_RELAY_PID" || qnt_fail "dhcrelay ended: $(cat "$QNT_TMP/relay.err")"

qnt_log "PASS"
