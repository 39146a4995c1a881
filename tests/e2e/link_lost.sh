#!/bin/bash
# The PC's interface toward the device goes down during an assignment: `assign` and the wizard
# say so at once, naming the interface, and go on once it is back. The wizard's run also
# refuses this PC's own address on the Set IP page, and after a confirmed assignment an install
# cancelled with Esc ends on a Failure page that says so and repeats the verdict.
# Usage: link_lost.sh <quillnet-cli> <wizard_driver>
# shellcheck source=netns_lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/netns_lib.sh"

qnt_cli_test "${1:?usage: $0 <quillnet-cli> <wizard_driver>}"
DRIVER="${2:?usage: $0 <quillnet-cli> <wizard_driver>}"
[[ -x "$DRIVER" ]] || qnt_fail "not an executable: $DRIVER"
command -v dhclient >/dev/null || qnt_fail "dhclient is not installed (Debian package isc-dhcp-client)"
qnt_init

readonly MAC="02:00:5e:62:00:02"
readonly MASK="255.255.255.0"
qnt_pc_and_device PC DEV 10.62.0.1/24 "$MAC"
export QT_QPA_PLATFORM=offscreen XDG_CONFIG_HOME="$QNT_TMP/config" HOME="$QNT_TMP/home"
mkdir -p "$HOME"

# assign: the device is answered, then the link goes while it is checked.
readonly CLI_IP="10.62.0.50"
qnt_bg "$PC" "$QNT_TMP/assign.out" "$QNT_TMP/assign.err" "$CLI" assign "$MAC" "$CLI_IP" "$MASK" \
  --confirm 60
ASSIGN=$QNT_LAST_PID
qnt_wait_for 10 qnt_file_has "$QNT_TMP/assign.out" "Waiting for a BOOTP or DHCP request" ||
  qnt_fail "assign did not start: $(cat "$QNT_TMP/assign.err")"
ip netns exec "$DEV" python3 "$PEER" send "$MAC:300" || qnt_fail "the device could not ask"
qnt_wait_for 10 qnt_file_has "$QNT_TMP/assign.out" "Sent" ||
  qnt_fail "assign did not answer: $(cat "$QNT_TMP/assign.out" "$QNT_TMP/assign.err")"
ip -n "$PC" link set pc0 down
qnt_wait_for 10 qnt_file_has "$QNT_TMP/assign.err" \
  "Warning: pc0, where $MAC was heard, is down or has lost its IPv4 address; waiting for it to come back." ||
  qnt_fail "assign did not say that the link went: $(cat "$QNT_TMP/assign.out" "$QNT_TMP/assign.err")"
ip -n "$PC" link set pc0 up
qnt_wait_for 10 qnt_file_has "$QNT_TMP/assign.out" "pc0 is back." ||
  qnt_fail "assign did not say that the link is back: $(cat "$QNT_TMP/assign.out" "$QNT_TMP/assign.err")"
# The device takes up its address: the check that went on finds it there.
ip -n "$DEV" addr add "$CLI_IP/24" dev dev0
qnt_wait_exit "$ASSIGN" 30
((QNT_RC == 0)) || qnt_fail "assign exited $QNT_RC: $(cat "$QNT_TMP/assign.out" "$QNT_TMP/assign.err")"
qnt_file_has "$QNT_TMP/assign.out" "Confirmed: $MAC answers at $CLI_IP" ||
  qnt_fail "assign did not confirm: $(cat "$QNT_TMP/assign.out")"
ip -n "$DEV" addr flush dev dev0

# The wizard: this PC's own address refused, then the link gone before the arming, so the
# answer to the device's earlier request cannot leave; once it is back, dhclient's next
# request is answered.
readonly WIZARD_IP="10.62.0.60"
qnt_bg "$DEV" "$QNT_TMP/dhclient.out" "$QNT_TMP/dhclient.err" dhclient -d -v -1 -cf /dev/null \
  -lf "$QNT_TMP/dhclient.leases" -pf "$QNT_TMP/dhclient.pid" \
  -sf "$(dirname "${BASH_SOURCE[0]}")/dhclient_set_address.sh" dev0
qnt_bg "$PC" "$QNT_TMP/wizard.out" "$QNT_TMP/wizard.err" "$DRIVER" assign "$MAC" "$WIZARD_IP" \
  "$MASK" 10.62.0.254 --refuse-own 10.62.0.1 --arm-when "$QNT_TMP/link-down" \
  --expect-link-lost pc0 --expect-confirmed --cancel-install
WIZARD=$QNT_LAST_PID
qnt_wait_for 60 qnt_file_has "$QNT_TMP/wizard.out" READY ||
  qnt_fail "the wizard did not reach Set IP: $(cat "$QNT_TMP/wizard.err")"
ip -n "$PC" link set pc0 down
touch "$QNT_TMP/link-down"
qnt_wait_for 30 qnt_file_has "$QNT_TMP/wizard.out" "LINK LOST SHOWN" ||
  qnt_fail "the wizard did not say that the link went: $(cat "$QNT_TMP/wizard.err")"
ip -n "$PC" link set pc0 up
qnt_wait_exit "$WIZARD" 90
((QNT_RC == 0)) || qnt_fail "the wizard run failed (exit $QNT_RC): $(cat "$QNT_TMP/wizard.err")"
ip -n "$DEV" -4 addr show dev dev0 | grep -qF "inet $WIZARD_IP/" ||
  qnt_fail "dhclient did not take $WIZARD_IP: $(cat "$QNT_TMP/dhclient.err")"

qnt_log "PASS"
