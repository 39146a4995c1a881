#!/bin/bash
# quillnet-cli.exe assign under Wine answers real clients: bootpc is given the address, mask and
# gateway in a BOOTP reply, a copy of which leaves through the PC's other network from its
# address there; ISC dhclient is offered and acked them in DHCP, sets the address and
# holds it, answering the PC there. Where Wine cannot send ARP probes, assign says that it could
# not check, and answers all the same.
# Usage: assign.sh <quillnet-cli.exe>
# shellcheck source=wine_lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/wine_lib.sh"

qnw_cli_test "${1:-}" bootpc dhclient

readonly MAC="02:00:5e:91:00:02"
qnt_pc_and_device PC DEV 10.91.0.1/24 "$MAC"
# The PC's second network, where a listener stands in for the devices there.
qnt_make_ns FAR far
qnt_veth "$PC" pc1 "$FAR" far0
ip -n "$PC" addr add 10.92.0.1/24 dev pc1
ip -n "$PC" link set pc1 up
ip -n "$FAR" link set far0 up
qnw_start_wine "$PC"

# start_assign <label> <arguments after the MAC...>: assign in the background, once it waits;
# its pid in $QNT_LAST_PID.
start_assign() {
  local label="$1"
  shift
  qnw_bg "$PC" "$label" assign "$MAC" "$@" --timeout 30
  qnt_wait_for 20 waiting "$QNT_TMP/$label.out" ||
    qnt_fail "$label: assign did not start waiting: $(cat "$QNT_TMP/$label.out" "$QNT_TMP/$label.err")"
}
waiting() { qnt_file_has "$1" "Waiting for a BOOTP or DHCP request" || qnt_file_has "$1" '"event":"waiting"'; }

# Wine's SendARP answers every question with "not supported".
readonly NO_ARP="SendARP, which sends ARP probes on Windows, is not supported on this system"

# BOOTP: bootpc asks, and prints what it was given.
start_assign bootp 10.91.0.50 255.255.255.0 10.91.0.1 --confirm 0
cli=$QNT_LAST_PID
qnt_bg "$FAR" "$QNT_TMP/far.catch" "$QNT_TMP/far.catch.err" python3 "$PEER" catch 15
catcher=$QNT_LAST_PID
qnt_wait_for 10 qnt_file_has "$QNT_TMP/far.catch" "ready" ||
  qnt_fail "catcher not ready: $(cat "$QNT_TMP/far.catch.err")"
rc=0
ip netns exec "$DEV" bootpc --dev dev0 --returniffail --timeoutwait 10 \
  >"$QNT_TMP/bootpc.out" 2>"$QNT_TMP/bootpc.err" || rc=$?
((rc == 0)) || qnt_fail "bootpc got no answer (exit $rc): $(cat "$QNT_TMP/bootpc.err" "$QNT_TMP/bootp.out" "$QNT_TMP/bootp.err")"
qnt_wait_exit "$cli" 10
((QNT_RC == 0)) || qnt_fail "assign with bootpc exited $QNT_RC: $(qnw_text "$QNT_TMP/bootp.err")"
qnt_expect_eq "IPADDR" 10.91.0.50 "$(qnt_bootpc_value "$QNT_TMP/bootpc.out" IPADDR)"
qnt_expect_eq "NETMASK" 255.255.255.0 "$(qnt_bootpc_value "$QNT_TMP/bootpc.out" NETMASK)"
qnt_expect_eq "GATEWAYS" 10.91.0.1 "$(qnt_bootpc_value "$QNT_TMP/bootpc.out" GATEWAYS)"
qnw_expect_line "$QNT_TMP/bootp.out" \
  "Sent to $MAC: IP address 10.91.0.50, subnet mask 255.255.255.0, default gateway 10.91.0.1 (through pc0 and pc1)"
qnt_wait_exit "$catcher" 10
qnt_expect_eq "the copy on the other network" \
  "from 10.92.0.1:67 len 1024 op 2 chaddr $MAC yiaddr 10.91.0.50" "$(tail -n 1 "$QNT_TMP/far.catch")"
# The address is checked before the reply; where that cannot be done, assign says so.
if [[ -s "$QNT_TMP/bootp.err" ]]; then
  qnt_expect_eq "assign's messages with bootpc" \
    "Warning: could not check whether 10.91.0.50 is in use: $NO_ARP." "$(qnw_text "$QNT_TMP/bootp.err")"
  probes=none
else
  probes=sent
fi

# DHCP: dhclient is offered the address, asks for it, gets the ack and sets it.
start_assign dhcp 10.91.0.60 255.255.255.0 10.91.0.1 --json
cli=$QNT_LAST_PID
qnt_bg "$DEV" "$QNT_TMP/dhclient.out" "$QNT_TMP/dhclient.err" \
  dhclient -d -v -1 -cf /dev/null -lf "$QNT_TMP/leases" -pf "$QNT_TMP/dhclient.pid" \
  -sf "$(dirname "${BASH_SOURCE[0]}")/../e2e/dhclient_set_address.sh" dev0
dhclient=$QNT_LAST_PID
qnt_wait_exit "$cli" 30
((QNT_RC == 0)) || qnt_fail "assign with dhclient exited $QNT_RC: $(qnw_text "$QNT_TMP/dhcp.err")"
python3 - "$QNT_TMP/dhcp.out" "$QNT_TMP/dhcp.err" "$MAC" "$probes" "$NO_ARP" <<'EOF' || qnt_fail "dhclient: $(qnw_text "$QNT_TMP/dhcp.out") $(qnw_text "$QNT_TMP/dhcp.err")"
import json, sys
out = [json.loads(line) for line in open(sys.argv[1])]
err = [json.loads(line) for line in open(sys.argv[2])]
mac, probes, no_arp = sys.argv[3:6]
sent = [(e["type"], e["ip"], e["mask"], e["gateway"], e["interfaceNames"])
        for e in out if e["event"] == "sent"]
addresses = ("10.91.0.60", "255.255.255.0", "10.91.0.1", ["pc0", "pc1"])
assert sent == [("DHCPOFFER",) + addresses, ("DHCPACK",) + addresses], sent
assert {"event": "accepted", "mac": mac, "ip": "10.91.0.60"} in out, out
if probes == "none":
    assert err == [
        {"event": "warning",
         "message": f"Warning: could not check whether 10.91.0.60 is in use: {no_arp}."},
        {"event": "warning",
         "message": f"Not confirmed: could not check whether {mac} answers at 10.91.0.60: {no_arp}."},
    ], err
else:
    assert out[-1] == {"event": "confirmed", "mac": mac, "ip": "10.91.0.60"}, out
    assert err == [], err
EOF

# The device holds the address: dhclient is bound and stays, and the PC finds it there.
has_address() { ip -n "$DEV" -4 addr show dev dev0 | grep -qF "inet 10.91.0.60/24"; }
qnt_wait_for 10 has_address || qnt_fail "dhclient did not set the address: $(cat "$QNT_TMP/dhclient.err")"
sleep 2
qnt_running "$dhclient" || qnt_fail "dhclient ended: $(cat "$QNT_TMP/dhclient.err")"
has_address || qnt_fail "dhclient dropped the address: $(cat "$QNT_TMP/dhclient.err")"
qnt_file_has "$QNT_TMP/dhclient.err" "DHCPACK of 10.91.0.60 from 10.91.0.1" ||
  qnt_fail "dhclient took no ack from this PC: $(cat "$QNT_TMP/dhclient.err")"
ip netns exec "$PC" python3 -c 'import socket, sys; socket.socket(socket.AF_INET, socket.SOCK_DGRAM).sendto(b"x", (sys.argv[1], 9))' 10.91.0.60
device_found() { ip -n "$PC" neigh show 10.91.0.60 dev pc0 | grep -qiE "lladdr $MAC (REACHABLE|STALE|DELAY)"; }
qnt_wait_for 5 device_found || qnt_fail "the device does not answer at 10.91.0.60: $(ip -n "$PC" neigh)"

qnt_log "PASS"
