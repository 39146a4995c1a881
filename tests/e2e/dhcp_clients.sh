#!/bin/bash
# quillnet-cli answers the DHCP clients devices run, as well as BOOTP ones. busybox udhcpc and
# ISC dhclient take the address with its mask, the gateway only when one was given, this PC's
# interface address as the server and a lease that never ends; assign reports the offer and
# the acknowledgement, then finds the device at its address, and a device that took the address
# but does not answer there is only a warning. dhclient, rebooting with another address in its
# lease file, is refused, starts over and takes the given one. A device that takes another DHCP
# server's offer ends assign with 3, naming that server; so does udhcpc declining an address
# another device holds, and serve tells of such a decline. serve answers a DHCP and a BOOTP
# device from one hosts file and acknowledges a renewal; listen shows the type of each device's
# last request, and its maker.
# Usage: dhcp_clients.sh <quillnet-cli>
# shellcheck source=netns_lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/netns_lib.sh"

qnt_cli_test "${1:-}" bootpc
busybox --list 2>/dev/null | grep -x udhcpc >/dev/null ||
  qnt_fail "busybox udhcpc is not installed (Debian package busybox)"
command -v dhclient >/dev/null || qnt_fail "dhclient is not installed (Debian package isc-dhcp-client)"
qnt_init

HERE="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
readonly HERE
readonly MAC="02:00:5e:86:00:02" MAC_B="02:00:5e:86:00:03" HOLDER_MAC="02:00:5e:86:00:04"
readonly PC_IP=10.86.0.1 MASK=255.255.255.0 GATEWAY=10.86.0.254
readonly INFINITE=4294967295

# The PC's bridge br0 joins the device (DEV) and a second device (DEV_B), each on its dev0.
qnt_pc_bridge PC "$PC_IP/24"
qnt_make_ns DEV dev
qnt_make_ns DEV_B devb
qnt_bridge_port "$PC" pa "$DEV" dev0
qnt_bridge_port "$PC" pb "$DEV_B" dev0
qnt_device "$DEV" dev0 "$MAC"
qnt_device "$DEV_B" dev0 "$MAC_B"

waiting() {
  qnt_file_has "$1" "Waiting for a BOOTP or DHCP request from $MAC ..." ||
    qnt_file_has "$1" '"event":"waiting"'
}

# start_assign <label> <arguments after the MAC...>: assign in the background, once it waits;
# its pid in $QNT_LAST_PID, its output in $QNT_TMP/<label>.out and .err.
start_assign() {
  local label="$1"
  shift
  local out="$QNT_TMP/$label.out" err="$QNT_TMP/$label.err"
  qnt_bg "$PC" "$out" "$err" "$CLI" assign "$MAC" "$@" --timeout 20
  qnt_wait_for 10 waiting "$out" ||
    qnt_fail "$label: assign did not start waiting: $(cat "$out" "$err")"
}

# expect_run <label> <exit status> <pid>: the assign run ends with that status.
expect_run() {
  qnt_wait_exit "$3" 20
  ((QNT_RC == $2)) ||
    qnt_fail "$1: expected exit $2, got $QNT_RC: $(cat "$QNT_TMP/$1.out" "$QNT_TMP/$1.err")"
}

expect_line() { qnt_file_has "$1" "$2" || qnt_fail "no line '$2' in $1: $(cat "$1")"; }
expect_no_line() { ! qnt_file_has "$1" "$2" || qnt_fail "a line '$2' in $1: $(cat "$1")"; }

expect_address() {
  ip -n "$DEV" -4 addr show dev dev0 | grep -qF "inet $1/24" ||
    qnt_fail "$2: the device does not hold $1: $(ip -n "$DEV" -4 addr show dev dev0)"
}

# The device gives up what a client set, so that each case starts unconfigured.
forget_address() {
  ip -n "$DEV" addr flush dev dev0
  ip -n "$DEV" route replace default dev dev0
}

# udhcpc_on <label> <udhcpc options...>: udhcpc as the device, in the background, a try a second
# and giving up after five; its leases go to $QNT_TMP/<label>.leases, its pid to $QNT_LAST_PID.
udhcpc_on() {
  local label="$1"
  shift
  qnt_bg "$DEV" "$QNT_TMP/$label.udhcpc.out" "$QNT_TMP/$label.udhcpc.err" \
    env QNT_UDHCPC_LEASES="$QNT_TMP/$label.leases" busybox udhcpc -f -n -t 5 -T 1 -A 1 \
    -i dev0 -s "$HERE/udhcpc_set_address.sh" "$@"
}

# lease_line <ip> <mask> <router>: what udhcpc's script records for a lease from this PC.
lease_line() { echo "ip=$1 subnet=$2 router=$3 serverid=$PC_IP lease=$INFINITE"; }

# udhcpc_took <label> <pid>: udhcpc -q ended with a lease.
udhcpc_took() {
  qnt_wait_exit "$2" 10
  ((QNT_RC == 0)) || qnt_fail "$1: udhcpc took no lease (exit $QNT_RC): $(cat "$QNT_TMP/$1.udhcpc.err")"
}

# udhcpc: offered, acknowledged, accepted, then found at its address.
readonly U_IP=10.86.0.50
start_assign udhcpc "$U_IP" "$MASK" "$GATEWAY"
assign=$QNT_LAST_PID
udhcpc_on udhcpc -q
udhcpc=$QNT_LAST_PID
expect_run udhcpc 0 "$assign"
udhcpc_took udhcpc "$udhcpc"
qnt_expect_eq "udhcpc: its lease" "bound $(lease_line "$U_IP" "$MASK" "$GATEWAY")" \
  "$(cat "$QNT_TMP/udhcpc.leases")"
expect_address "$U_IP" udhcpc
qnt_expect_lines "$QNT_TMP/udhcpc.out" \
  "Sent DHCPOFFER to $MAC: IP address $U_IP, subnet mask $MASK, default gateway $GATEWAY (through br0)" \
  "Sent DHCPACK to $MAC: IP address $U_IP, subnet mask $MASK, default gateway $GATEWAY (through br0)" \
  "Accepted: $MAC took $U_IP (DHCP)" \
  "Confirmed: $MAC answers at $U_IP"
[[ ! -s "$QNT_TMP/udhcpc.err" ]] || qnt_fail "udhcpc: $(cat "$QNT_TMP/udhcpc.err")"

# A device that took its address in DHCP said so itself: not finding it there afterwards is only
# a warning. udhcpc's script here sets nothing, so nothing answers at the address.
forget_address
start_assign silent 10.86.0.53 "$MASK" --confirm 1 --json
assign=$QNT_LAST_PID
qnt_bg "$DEV" "$QNT_TMP/silent.udhcpc.out" "$QNT_TMP/silent.udhcpc.err" \
  busybox udhcpc -f -q -n -t 5 -T 1 -A 1 -i dev0 -s /bin/true
udhcpc=$QNT_LAST_PID
expect_run silent 0 "$assign"
udhcpc_took silent "$udhcpc"
python3 - "$QNT_TMP/silent.out" "$QNT_TMP/silent.err" "$MAC" <<'PY' || qnt_fail "silent: $(cat "$QNT_TMP/silent.out" "$QNT_TMP/silent.err")"
import json, sys
out, err = ([json.loads(line) for line in open(path)] for path in sys.argv[1:3])
mac, ip = sys.argv[3], "10.86.0.53"
assert [(e["event"], e.get("type")) for e in out] == [
    ("waiting", None), ("sent", "DHCPOFFER"), ("sent", "DHCPACK"), ("accepted", None)], out
assert all(e["mac"] == mac and e["ip"] == ip for e in out[1:]), out
assert err == [{"event": "warning",
                "message": f"Not confirmed: {mac} did not answer at {ip} within 1 second."}], err
PY

# dhclient, without a gateway: its lease file keeps what the acknowledgement said.
forget_address
readonly D_IP=10.86.0.51
start_assign dhclient "$D_IP" "$MASK"
assign=$QNT_LAST_PID
qnt_dhclient "$DEV" dhclient "$QNT_TMP/dhclient.leases"
dhclient=$QNT_LAST_PID
expect_run dhclient 0 "$assign"
qnt_expect_lines "$QNT_TMP/dhclient.out" "Sent DHCPOFFER to $MAC: IP address $D_IP, subnet mask $MASK" \
  "Sent DHCPACK to $MAC: IP address $D_IP, subnet mask $MASK" \
  "Accepted: $MAC took $D_IP (DHCP)" "Confirmed: $MAC answers at $D_IP"
qnt_wait_for 10 qnt_file_has "$QNT_TMP/dhclient.leases" "fixed-address $D_IP;" ||
  qnt_fail "dhclient wrote no lease: $(cat "$QNT_TMP/dhclient.dhclient.err")"
python3 - "$QNT_TMP/dhclient.leases" "$D_IP" "$MASK" "$PC_IP" "$INFINITE" <<'PY' || qnt_fail "dhclient's lease: $(cat "$QNT_TMP/dhclient.leases")"
import sys
path, ip, mask, server, infinite = sys.argv[1:]
text = open(path).read()
lease = {line.strip().rstrip(";") for line in text[text.rindex("lease {"):].splitlines()}
wanted = {f"fixed-address {ip}", f"option subnet-mask {mask}", "option dhcp-message-type 5",
          f"option dhcp-server-identifier {server}", f"option dhcp-lease-time {infinite}"}
assert wanted <= lease, sorted(wanted - lease)
assert not any(line.startswith("option routers") for line in lease), "a router without a gateway"
PY
kill "$dhclient"
qnt_wait_exit "$dhclient" 10

# dhclient, rebooting with a lease for another address, asks for that one first: it is refused,
# starts over and takes the given address.
forget_address
readonly N_IP=10.86.0.52 OLD_IP=10.86.0.99
cat >"$QNT_TMP/nak.leases" <<LEASE
lease {
  interface "dev0";
  fixed-address $OLD_IP;
  option subnet-mask $MASK;
  option dhcp-server-identifier $PC_IP;
  renew 4 2099/12/31 00:00:00;
  rebind 4 2099/12/31 00:00:00;
  expire 4 2099/12/31 00:00:00;
}
LEASE
start_assign nak "$N_IP" "$MASK" "$GATEWAY"
assign=$QNT_LAST_PID
qnt_dhclient "$DEV" nak "$QNT_TMP/nak.leases"
dhclient=$QNT_LAST_PID
expect_run nak 0 "$assign"
qnt_expect_lines "$QNT_TMP/nak.dhclient.err" "DHCPREQUEST for $OLD_IP" "DHCPNAK from" \
  "DHCPOFFER of $N_IP" "DHCPACK of $N_IP"
qnt_expect_lines "$QNT_TMP/nak.out" "Sent DHCPNAK to $MAC (through br0)" \
  "Sent DHCPOFFER to $MAC: IP address $N_IP" "Sent DHCPACK to $MAC: IP address $N_IP" \
  "Accepted: $MAC took $N_IP (DHCP)" "Confirmed: $MAC answers at $N_IP"
expect_address "$N_IP" nak
kill "$dhclient"
qnt_wait_exit "$dhclient" 10

# Another DHCP server on the bridge, busybox udhcpd, and a dhclient that refuses this PC's
# offers: the device takes the other server's, and assign ends with 3, naming that server.
qnt_make_ns OTHER other
qnt_bridge_port "$PC" po "$OTHER" other0
ip -n "$OTHER" addr add 10.86.0.2/24 dev other0
ip -n "$OTHER" link set other0 up
cat >"$QNT_TMP/udhcpd.conf" <<CONF
start 10.86.0.150
end 10.86.0.160
interface other0
lease_file $QNT_TMP/udhcpd.leases
option subnet $MASK
CONF
touch "$QNT_TMP/udhcpd.leases"
# Its check whether an address is free before offering it takes 0.1 s, not 2.
qnt_bg "$OTHER" "$QNT_TMP/udhcpd.out" "$QNT_TMP/udhcpd.err" \
  busybox udhcpd -f -a 100 "$QNT_TMP/udhcpd.conf"
udhcpd=$QNT_LAST_PID
forget_address
start_assign other 10.86.0.54 "$MASK"
assign=$QNT_LAST_PID
echo "reject $PC_IP;" >"$QNT_TMP/reject.conf"
qnt_bg "$DEV" "$QNT_TMP/other.dhclient.out" "$QNT_TMP/other.dhclient.err" dhclient -d -v -1 \
  -cf "$QNT_TMP/reject.conf" -lf "$QNT_TMP/other.leases" -pf "$QNT_TMP/other.dhclient.pid" \
  -sf "$HERE/dhclient_set_address.sh" dev0
dhclient=$QNT_LAST_PID
expect_run other 3 "$assign"
expect_line "$QNT_TMP/other.dhclient.err" "DHCPREQUEST for 10.86.0.15"
expect_line "$QNT_TMP/other.err" \
  "The device $MAC took the address offered by another DHCP server, 10.86.0.2."
expect_no_line "$QNT_TMP/other.out" "Accepted"
kill "$dhclient" "$udhcpd"
qnt_wait_exit "$dhclient" 10
qnt_wait_exit "$udhcpd" 10

# Another device on the bridge holds an address. Forced, assign gives it all the same; udhcpc
# finds the holder after the acknowledgement and declines it, and that ends the run. Both
# streams go to one file here, so the order of the lines is the order of the events, however
# fast the client declines.
qnt_make_ns HOLD holder
qnt_bridge_port "$PC" ph "$HOLD" hold0
ip -n "$HOLD" link set hold0 address "$HOLDER_MAC"
ip -n "$HOLD" addr add 10.86.0.77/24 dev hold0
ip -n "$HOLD" link set hold0 up
forget_address
start_assign declined 10.86.0.77 "$MASK" --force
assign=$QNT_LAST_PID
udhcpc_on declined -q -a
udhcpc=$QNT_LAST_PID
expect_run declined 3 "$assign"
expect_line "$QNT_TMP/declined.udhcpc.err" "offered address is in use"
qnt_expect_lines "$QNT_TMP/declined.err" "Warning: 10.86.0.77 is already in use by $HOLDER_MAC." \
  "Declined: $MAC reports 10.86.0.77 as in use by another device."
expect_line "$QNT_TMP/declined.out" "Sent DHCPACK to $MAC: IP address 10.86.0.77"
# The holder answers at the address; that is not the device.
expect_no_line "$QNT_TMP/declined.out" "Confirmed"
kill "$udhcpc"
qnt_wait_exit "$udhcpc" 10
forget_address
qnt_bg "$PC" "$QNT_TMP/ordered.out" "$QNT_TMP/ordered.err" bash -c 'exec "$@" 2>&1' assign \
  "$CLI" assign "$MAC" 10.86.0.77 "$MASK" --force --timeout 20
assign=$QNT_LAST_PID
qnt_wait_for 10 waiting "$QNT_TMP/ordered.out" ||
  qnt_fail "ordered: assign did not start waiting: $(cat "$QNT_TMP/ordered.out")"
udhcpc_on ordered -q -a
udhcpc=$QNT_LAST_PID
qnt_wait_exit "$assign" 20
qnt_expect_eq "ordered: assign's exit status" 3 "$QNT_RC"
qnt_expect_lines "$QNT_TMP/ordered.out" "Sent DHCPOFFER to $MAC" "Sent DHCPACK to $MAC" \
  "Declined: $MAC reports 10.86.0.77 as in use by another device."
kill "$udhcpc"
qnt_wait_exit "$udhcpc" 10
# serve tells of a listed device's decline, with its time, after the ack that came before it.
# A decline is no answer: --once goes on waiting, and Ctrl+C then ends it as an interruption
# that names the row.
echo "$MAC,10.86.0.77,$MASK" >"$QNT_TMP/held.csv"
qnt_bg "$PC" "$QNT_TMP/held.out" "$QNT_TMP/held.err" bash -c 'exec "$@" 2>&1' serve \
  "$CLI" serve --hosts "$QNT_TMP/held.csv" --once
server=$QNT_LAST_PID
qnt_wait_for 10 qnt_file_has "$QNT_TMP/held.out" "Serving 1 device" ||
  qnt_fail "serve did not start: $(cat "$QNT_TMP/held.out")"
udhcpc_on held -q -a
udhcpc=$QNT_LAST_PID
held_declined() {
  grep -qE "^[0-9]{2}:[0-9]{2}:[0-9]{2}  Declined: $MAC reports 10\.86\.0\.77 as in use by another device\.$" \
    "$QNT_TMP/held.out"
}
qnt_wait_for 20 held_declined ||
  qnt_fail "serve: no decline reported: $(cat "$QNT_TMP/held.out" "$QNT_TMP/held.udhcpc.err")"
qnt_expect_lines "$QNT_TMP/held.out" "Sent DHCPACK to $MAC" "Declined: $MAC"
kill "$udhcpc"
qnt_wait_exit "$udhcpc" 10
qnt_running "$server" || qnt_fail "serve --once ended though its only row declined: $(cat "$QNT_TMP/held.out")"
kill -INT "$server"
qnt_wait_exit "$server" 10
qnt_expect_eq "serve --once after a decline: exit status" 6 "$QNT_RC"
expect_line "$QNT_TMP/held.out" \
  "Interrupted: answered 0 of 1 device. Declined as in use by another device: $MAC (10.86.0.77)."

# serve --once: udhcpc on one row and bootpc on the other; the run ends once both are answered
# and the DHCP device has had its time to decline.
forget_address
cat >"$QNT_TMP/hosts.csv" <<CSV
$MAC,10.86.0.60,$MASK,$GATEWAY
$MAC_B,10.86.0.61,255.255.0.0
CSV
qnt_bg "$PC" "$QNT_TMP/serve.out" "$QNT_TMP/serve.err" "$CLI" serve --hosts "$QNT_TMP/hosts.csv" \
  --once --timeout 30
server=$QNT_LAST_PID
qnt_wait_for 10 qnt_file_has "$QNT_TMP/serve.out" "Serving 2 devices" ||
  qnt_fail "serve did not start: $(cat "$QNT_TMP/serve.out" "$QNT_TMP/serve.err")"
udhcpc_on served
udhcpc=$QNT_LAST_PID
qnt_wait_for 10 qnt_file_has "$QNT_TMP/served.leases" bound ||
  qnt_fail "serve: udhcpc took no lease: $(cat "$QNT_TMP/served.udhcpc.err" "$QNT_TMP/serve.out")"
# Renewing, udhcpc asks this PC directly, for the address it holds.
kill -USR1 "$udhcpc"
qnt_wait_for 10 qnt_file_has "$QNT_TMP/served.leases" renew ||
  qnt_fail "serve: udhcpc's renewal was not acknowledged: $(cat "$QNT_TMP/served.udhcpc.err")"
qnt_expect_eq "serve: udhcpc's leases" \
  "bound $(lease_line 10.86.0.60 "$MASK" "$GATEWAY")"$'\n'"renew $(lease_line 10.86.0.60 "$MASK" "$GATEWAY")" \
  "$(cat "$QNT_TMP/served.leases")"
kill "$udhcpc"
qnt_wait_exit "$udhcpc" 10
qnt_running "$server" || qnt_fail "serve --once ended before bootpc's row was answered"
rc=0
ip netns exec "$DEV_B" bootpc --dev dev0 --returniffail --timeoutwait 5 \
  >"$QNT_TMP/served.bootpc" 2>&1 || rc=$?
((rc == 0)) || qnt_fail "serve: bootpc got no answer (exit $rc): $(cat "$QNT_TMP/served.bootpc")"
qnt_expect_eq "serve: bootpc's IPADDR" 10.86.0.61 "$(qnt_bootpc_value "$QNT_TMP/served.bootpc" IPADDR)"
# udhcpc's ack counts once it had its time to decline.
qnt_wait_exit "$server" 30
((QNT_RC == 0)) ||
  qnt_fail "serve --once ended with $QNT_RC: $(cat "$QNT_TMP/serve.out" "$QNT_TMP/serve.err")"
qnt_expect_lines "$QNT_TMP/serve.out" \
  "Sent DHCPACK to $MAC: IP address 10.86.0.60, subnet mask $MASK, default gateway $GATEWAY (through br0)" \
  "Sent to $MAC_B: IP address 10.86.0.61, subnet mask 255.255.0.0, default gateway 0.0.0.0 (through br0)"

# The PC's bridge loses its address: udhcpc's discover arrives, but no offer can leave, and
# assign says so instead of reporting it sent.
forget_address
ip -n "$PC" addr del "$PC_IP/24" dev br0
start_assign noaddr 10.86.0.73 "$MASK"
assign=$QNT_LAST_PID
udhcpc_on noaddr -q
udhcpc=$QNT_LAST_PID
expect_run noaddr 5 "$assign"
expect_line "$QNT_TMP/noaddr.err" \
  "The reply to $MAC could not be sent: No network interface could send the reply."
expect_no_line "$QNT_TMP/noaddr.out" "Sent"
kill "$udhcpc" 2>/dev/null || true
qnt_wait_exit "$udhcpc" 10
ip -n "$PC" addr add "$PC_IP/24" dev br0

# listen shows the type of the device's last request: udhcpc's discover, then a BOOTP request
# from the same device; and each device's maker.
qnt_bg "$PC" "$QNT_TMP/listen.out" "$QNT_TMP/listen.err" "$CLI" listen --json
listener=$QNT_LAST_PID
qnt_wait_for 10 qnt_file_has "$QNT_TMP/listen.out" '"event":"listening"' ||
  qnt_fail "listen did not start: $(cat "$QNT_TMP/listen.out" "$QNT_TMP/listen.err")"
udhcpc_on listened
udhcpc=$QNT_LAST_PID
qnt_wait_for 10 qnt_file_has "$QNT_TMP/listen.out" '"type":"DHCPDISCOVER"' ||
  qnt_fail "listen: no DHCPDISCOVER: $(cat "$QNT_TMP/listen.out" "$QNT_TMP/listen.err")"
kill "$udhcpc"
qnt_wait_exit "$udhcpc" 10
ip netns exec "$DEV" python3 "$PEER" send "$MAC:300"
qnt_wait_for 10 qnt_file_has "$QNT_TMP/listen.out" '"type":"BOOTP"' ||
  qnt_fail "listen: no BOOTP after the discover: $(cat "$QNT_TMP/listen.out")"
# A device with a maker's address: the registries name it.
readonly MADE=00:0e:8c:86:00:05
ip netns exec "$DEV" python3 "$PEER" send "$MADE:300"
qnt_wait_for 10 qnt_file_has "$QNT_TMP/listen.out" "\"mac\":\"$MADE\"" ||
  qnt_fail "listen: no line for $MADE: $(cat "$QNT_TMP/listen.out")"
kill -INT "$listener"
qnt_wait_exit "$listener" 10
qnt_expect_eq "listen's exit status after Ctrl+C" 0 "$QNT_RC"
python3 - "$QNT_TMP/listen.out" "$MAC" "$MADE" <<'PY' || qnt_fail "listen --json: $(cat "$QNT_TMP/listen.out")"
import json, sys
events = [json.loads(line) for line in open(sys.argv[1])]
mac, made = sys.argv[2:]
requests = [event for event in events if event["event"] == "request"]
types = [event.get("type") for event in requests if event["mac"] == mac]
assert all(event["mac"] in (mac, made) for event in requests), events
assert types[0] == "DHCPDISCOVER" and types[-1] == "BOOTP", types
# Each device's last line names its maker.
last = {event["mac"]: event for event in requests}
assert last[mac]["vendor"] == "locally administered", last
assert last[made]["vendor"] == "Siemens AG", last
PY

qnt_log "PASS"
