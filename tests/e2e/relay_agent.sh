#!/bin/bash
# Devices behind a router reach this PC through a relay agent: ISC dhcrelay in a namespace
# between the PC's network and the device's forwards their requests with giaddr set. assign,
# run as nobody without any capability, answers ISC dhclient through it (offer and ack to the
# relay, from this PC's address toward it, which is the server identifier) and confirms the
# device with ICMP echo, ARP not passing the router: sent by quillnet-net-helper where the
# namespace gives nobody no ping socket, by the program itself where it does. As root, assign
# answers a BOOTP device that sets the broadcast flag (the relay delivers a
# reply to a device without an address by unicast otherwise, which bootpc cannot take). serve
# answers both from one hosts file, and listen and serve name the relay.
# Usage: relay_agent.sh <quillnet-cli> <quillnet-net-helper>
# shellcheck source=netns_lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/netns_lib.sh"

qnt_cli_test "${1:-}"
HELPER="${2:?usage: $0 <quillnet-cli> <quillnet-net-helper>}"
command -v setpriv >/dev/null || qnt_fail "setpriv is not installed (Debian package util-linux)"
command -v setcap >/dev/null || qnt_fail "setcap is not installed (Debian package libcap2-bin)"
command -v dhclient >/dev/null || qnt_fail "dhclient is not installed (Debian package isc-dhcp-client)"
command -v dhcrelay >/dev/null || qnt_fail "dhcrelay is not installed (Debian package isc-dhcp-relay)"
qnt_init

readonly MAC="02:00:5e:87:00:02" BOOTP_MAC="02:00:5e:87:00:03"
readonly PC_IP=10.87.0.2 RELAY_UP=10.87.0.1 RELAY=10.88.0.1 MASK=255.255.255.0

# PC pc0 -- r0 RELAY r1 -- bridge of the device's network, with DEV (dhclient) and BOOTP.
qnt_relay_network "$PC_IP" "$RELAY_UP" "$RELAY" DEV:"$MAC" BOOTP:"$BOOTP_MAC"
relay=$QNT_RELAY_PID

expect_line() { qnt_file_has "$1" "$2" || qnt_fail "no line '$2' in $1: $(cat "$1")"; }

# start_assign <label> root|nobody <arguments...>: `quillnet-cli assign` in the PC namespace,
# as root or as user nobody with the granted copies; its output in $QNT_TMP/<label>.out and
# .err, its pid in $assign once it waits for the device.
start_assign() {
  local label="$1" user="$2"
  shift 2
  local -a program=("$CLI")
  if [[ "$user" == nobody ]]; then
    program=(setpriv --reuid=65534 --regid=65534 --clear-groups --inh-caps=-all
             "$QNT_TMP/granted/$(basename "$CLI")")
  fi
  qnt_bg "$PC" "$QNT_TMP/$label.out" "$QNT_TMP/$label.err" "${program[@]}" assign "$@"
  assign=$QNT_LAST_PID
  qnt_wait_for 10 qnt_file_has "$QNT_TMP/$label.out" "Waiting for a BOOTP or DHCP request" ||
    qnt_fail "assign did not start: $(cat "$QNT_TMP/$label.out" "$QNT_TMP/$label.err")"
}

# assign, as nobody, answers dhclient through the relay and finds it at its address with ICMP
# echo, both through the helper.
readonly D_IP=10.88.0.50
mkdir -p "$QNT_TMP/granted"
cp "$CLI" "$HELPER" "$QNT_TMP/granted/"
chmod 755 "$QNT_TMP" "$QNT_TMP/granted" "$QNT_TMP/granted"/*
setcap cap_net_bind_service,cap_net_raw=+ep "$QNT_TMP/granted/$(basename "$HELPER")" ||
  qnt_fail "cannot set a file capability on the helper"
ip netns exec "$PC" sysctl -qw net.ipv4.ping_group_range="1 0"
start_assign dhcp nobody "$MAC" "$D_IP" "$MASK" "$RELAY" --timeout 40 \
  --confirm 20
qnt_dhclient "$DEV" dhcp
dhclient=$QNT_LAST_PID
qnt_wait_exit "$assign" 45
((QNT_RC == 0)) || qnt_fail "dhclient: assign exited $QNT_RC: $(cat "$QNT_TMP/dhcp.out" \
  "$QNT_TMP/dhcp.err" "$QNT_TMP/dhcp.dhclient.err" "$QNT_TMP/relay.err")"
for line in \
  "Sent DHCPOFFER to $MAC: IP address $D_IP, subnet mask $MASK, default gateway $RELAY (through relay agent $RELAY, pc0)" \
  "Sent DHCPACK to $MAC: IP address $D_IP, subnet mask $MASK, default gateway $RELAY (through relay agent $RELAY, pc0)" \
  "Accepted: $MAC took $D_IP (DHCP)" "Confirmed: $MAC answers at $D_IP"; do
  expect_line "$QNT_TMP/dhcp.out" "$line"
done
holds() { ip -n "$DEV" -4 addr show dev dev0 | grep -qF "inet $1/24"; }
holds "$D_IP" || qnt_fail "dhclient does not hold $D_IP: $(ip -n "$DEV" -4 addr show dev dev0)"
kill "$dhclient"
qnt_wait_exit "$dhclient" 10
# The server identifier the device took is this PC's address toward the relay.
grep -q "option dhcp-server-identifier $PC_IP;" "$QNT_TMP/dhcp.leases" ||
  qnt_fail "dhclient's lease: $(cat "$QNT_TMP/dhcp.leases")"

# Where the system gives the user's group a ping socket (Debian's default), the program sends
# the echo requests itself: dhclient, rebooting with its lease, is acked and found again.
ip netns exec "$PC" sysctl -qw net.ipv4.ping_group_range="0 2147483647"
start_assign ping nobody "$MAC" "$D_IP" "$MASK" "$RELAY" --timeout 40 \
  --confirm 20
# The helper must not be asked: without its capabilities it could not send a thing.
setcap -r "$QNT_TMP/granted/$(basename "$HELPER")"
qnt_dhclient "$DEV" dhcp
dhclient=$QNT_LAST_PID
qnt_wait_exit "$assign" 45
((QNT_RC == 0)) || qnt_fail "ping socket: assign exited $QNT_RC: $(cat "$QNT_TMP/ping.out" \
  "$QNT_TMP/ping.err")"
expect_line "$QNT_TMP/ping.out" "Confirmed: $MAC answers at $D_IP"
kill "$dhclient"
qnt_wait_exit "$dhclient" 10

# A BOOTP device that sets the broadcast flag takes its reply through the relay; it answers
# nothing, so it is not checked.
readonly B_IP=10.88.0.60
start_assign bootp root "$BOOTP_MAC" "$B_IP" "$MASK" --timeout 30 --confirm 0
qnt_bg "$BOOTP" "$QNT_TMP/peer.out" "$QNT_TMP/peer.err" python3 "$PEER" ask "$BOOTP_MAC" 30
peer=$QNT_LAST_PID
qnt_wait_exit "$assign" 35
((QNT_RC == 0)) || qnt_fail "BOOTP: assign exited $QNT_RC: $(cat "$QNT_TMP/bootp.out" \
  "$QNT_TMP/bootp.err")"
expect_line "$QNT_TMP/bootp.out" \
  "Sent to $BOOTP_MAC: IP address $B_IP, subnet mask $MASK, default gateway 0.0.0.0 (through relay agent $RELAY, pc0)"
qnt_wait_exit "$peer" 10
((QNT_RC == 0)) || qnt_fail "the BOOTP device got no reply: $(cat "$QNT_TMP/peer.out")"
expect_line "$QNT_TMP/peer.out" "op 2 chaddr $BOOTP_MAC yiaddr $B_IP"

# serve answers both from one hosts file; listen names the relay each was heard through.
ip -n "$DEV" addr flush dev dev0
ip -n "$DEV" route replace default dev dev0
printf 'MAC,IP,MASK,GATEWAY\n%s,10.88.0.51,%s,%s\n%s,10.88.0.61,%s\n' \
  "$MAC" "$MASK" "$RELAY" "$BOOTP_MAC" "$MASK" >"$QNT_TMP/hosts.csv"
qnt_start_listen "$PC" "$QNT_TMP/listen.out" "$QNT_TMP/listen.err"
listen=$QNT_LAST_PID
qnt_bg "$BOOTP" "$QNT_TMP/heard.out" "$QNT_TMP/heard.err" python3 "$PEER" ask "$BOOTP_MAC" 2
qnt_wait_for 10 qnt_file_has "$QNT_TMP/listen.out" "$BOOTP_MAC  count" ||
  qnt_fail "listen did not hear the device: $(cat "$QNT_TMP/listen.out" "$QNT_TMP/listen.err")"
expect_line "$QNT_TMP/listen.out" "BOOTP  via relay $RELAY"
kill -INT "$listen"
qnt_wait_exit "$listen" 10
qnt_bg "$PC" "$QNT_TMP/serve.out" "$QNT_TMP/serve.err" "$CLI" serve --hosts "$QNT_TMP/hosts.csv" \
  --once --timeout 40 --json
serve=$QNT_LAST_PID
qnt_wait_for 10 qnt_file_has "$QNT_TMP/serve.out" '"event":"serving"' ||
  qnt_fail "serve did not start: $(cat "$QNT_TMP/serve.out" "$QNT_TMP/serve.err")"
qnt_bg "$BOOTP" "$QNT_TMP/peer2.out" "$QNT_TMP/peer2.err" python3 "$PEER" ask "$BOOTP_MAC" 30
qnt_dhclient "$DEV" serve
qnt_wait_exit "$serve" 45
((QNT_RC == 0)) || qnt_fail "serve exited $QNT_RC: $(cat "$QNT_TMP/serve.out" "$QNT_TMP/serve.err")"
python3 - "$QNT_TMP/serve.out" "$MAC" "$BOOTP_MAC" "$RELAY" <<'PY' || qnt_fail "serve: $(cat "$QNT_TMP/serve.out")"
import json, sys
path, mac, bootp_mac, relay = sys.argv[1:]
sent = [e for e in map(json.loads, open(path)) if e["event"] == "sent"]
final = {(e["mac"], e["type"]): e for e in sent}
assert final[(mac, "DHCPACK")]["ip"] == "10.88.0.51", final
assert final[(bootp_mac, "BOOTP")]["ip"] == "10.88.0.61", final
assert all(e.get("relay") == relay and e["interfaceNames"] == ["pc0"] for e in sent), sent
PY
qnt_wait_for 10 holds 10.88.0.51 ||
  qnt_fail "serve: dhclient does not hold 10.88.0.51: $(ip -n "$DEV" -4 addr show dev dev0)"
qnt_running "$relay" || qnt_fail "dhcrelay ended: $(cat "$QNT_TMP/relay.err")"
qnt_log "PASS"
