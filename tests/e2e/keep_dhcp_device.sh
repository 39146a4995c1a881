#!/bin/bash
# A device set to DHCP (ISC dhclient configures the address it is given; our EtherNet/IP device
# answers on whatever address it has) is commissioned for good three ways: `assign --keep`,
# `serve --hosts FILE --keep --once` and the real wizard with its keep box ticked. Each time it
# is confirmed at its address, told to keep it, and then reports the start-up method stored
# configuration; `startup IP bootp` puts it back, read back as BOOTP, and `startup IP dhcp`
# sets it to DHCP for the next way. serve checks a BOOTP device that never uses its address
# too: it is not confirmed, never told anything (the capture of TCP 44818 sees only the DHCP
# device's address), and --once ends with 8. A device that takes its address but never listens
# on 44818 ends `assign --keep` with 8 and the outcome "no device". Every assignment leaves
# its line in the commissioning record, and `history` prints it.
# Usage: keep_dhcp_device.sh <quillnet-cli> [<wizard_driver>]
# shellcheck source=netns_lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/netns_lib.sh"

qnt_cli_test "${1:-}" bootpc
DRIVER="${2:-}"
[[ -z "$DRIVER" || -x "$DRIVER" ]] || qnt_fail "not an executable: $DRIVER"
command -v dhclient >/dev/null || qnt_fail "dhclient is not installed (Debian package isc-dhcp-client)"
command -v tshark >/dev/null || qnt_fail "tshark is not installed (Debian package tshark)"
qnt_init

readonly MAC="02:00:5e:95:00:02" MAC_N="02:00:5e:95:00:03" MAC_B="02:00:5e:95:00:04"
readonly PC_IP=10.95.0.1 MASK=255.255.255.0 GATEWAY=10.95.0.1
readonly MAKER="locally administered"

# The PC's bridge br0 joins the device (DEV), a device that never listens on 44818 (NEVER) and
# a BOOTP device that configures nothing (DEV_B).
qnt_pc_bridge PC "$PC_IP/24"
qnt_make_ns DEV dev
qnt_make_ns NEVER never
qnt_make_ns DEV_B devb
qnt_bridge_port "$PC" pa "$DEV" dev0
qnt_bridge_port "$PC" pn "$NEVER" dev0
qnt_bridge_port "$PC" pb "$DEV_B" dev0
qnt_device "$DEV" dev0 "$MAC"
qnt_device "$NEVER" dev0 "$MAC_N"
qnt_device "$DEV_B" dev0 "$MAC_B"

qnt_bg "$DEV" "$QNT_TMP/device.out" "$QNT_TMP/device.err" python3 -u "$QNT_HERE/enip_device.py" dhcp
qnt_bg "$NEVER" "$QNT_TMP/never.out" "$QNT_TMP/never.err" python3 -u "$QNT_HERE/enip_device.py" never
qnt_wait_for 30 qnt_file_has "$QNT_TMP/device.out" listening ||
  qnt_fail "the device did not start: $(cat "$QNT_TMP/device.err")"
qnt_wait_for 30 qnt_file_has "$QNT_TMP/never.out" "not listening" ||
  qnt_fail "the device that never listens did not start: $(cat "$QNT_TMP/never.err")"

# forget <ns> <dhclient pid>: the device stops its client and gives up the address it set, so
# that the next way starts with a device that asks.
forget() {
  kill "$2" 2>/dev/null || true
  qnt_wait_exit "$2" 10
  ip -n "$1" addr flush dev dev0
  ip -n "$1" route replace default dev dev0
}

# startup <expected line> <arguments...>: quillnet-cli startup, which must succeed with that line.
startup() {
  local expected="$1" rc=0
  shift
  ip netns exec "$PC" "$CLI" startup "$@" >"$QNT_TMP/startup.out" 2>&1 || rc=$?
  ((rc == 0)) || qnt_fail "startup $*: exit $rc: $(cat "$QNT_TMP/startup.out")"
  qnt_expect_eq "startup $*" "$expected" "$(cat "$QNT_TMP/startup.out")"
}

# kept_then_back <ip>: the device reports stored configuration; BOOTP puts it back and reads
# back; DHCP for the next way.
kept_then_back() {
  startup "The device at $1 starts with stored configuration." "$1"
  startup "The device at $1 now starts with BOOTP." "$1" bootp
  startup "The device at $1 starts with BOOTP." "$1"
  startup "The device at $1 now starts with DHCP." "$1" dhcp
}

# assign --keep: confirmed, told, kept.
readonly A_IP=10.95.0.50
qnt_bg "$PC" "$QNT_TMP/assign.out" "$QNT_TMP/assign.err" "$CLI" assign "$MAC" "$A_IP" "$MASK" \
  --keep --confirm 30 --timeout 60
assign=$QNT_LAST_PID
qnt_wait_for 10 qnt_file_has "$QNT_TMP/assign.out" "Waiting for a BOOTP or DHCP request" ||
  qnt_fail "assign did not start waiting: $(cat "$QNT_TMP/assign.out" "$QNT_TMP/assign.err")"
qnt_dhclient "$DEV" assign
dhclient=$QNT_LAST_PID
qnt_wait_exit "$assign" 60
((QNT_RC == 0)) || qnt_fail "assign --keep exited $QNT_RC: $(cat "$QNT_TMP/assign.out" "$QNT_TMP/assign.err")"
qnt_expect_lines "$QNT_TMP/assign.out" "Sent DHCPACK to $MAC: IP address $A_IP" \
  "Confirmed: $MAC answers at $A_IP" "Telling $MAC to keep $A_IP (EtherNet/IP) ..." \
  "The device keeps $A_IP: it now starts with its stored configuration, not DHCP."
kept_then_back "$A_IP"
qnt_expect_recorded "$CLI" "quillnet-cli assign" "$MAC" "$MAKER" "$A_IP" confirmed kept DHCP br0
forget "$DEV" "$dhclient"

# serve --keep --once: the DHCP device is confirmed and kept; the BOOTP device that never uses
# its address is not confirmed and never told. Every SYN to TCP 44818 is captured.
readonly S_IP=10.95.0.60 B_IP=10.95.0.61
qnt_bg "$PC" "$QNT_TMP/capture.out" "$QNT_TMP/capture.err" \
  tshark -l -n -i br0 -f "tcp dst port 44818 and tcp[tcpflags] == tcp-syn" -T fields -e ip.dst
qnt_wait_for 30 qnt_file_has "$QNT_TMP/capture.err" "Capturing on" ||
  qnt_fail "tshark did not start: $(cat "$QNT_TMP/capture.err")"
printf '%s,%s,%s\n%s,%s,%s\n' "$MAC" "$S_IP" "$MASK" "$MAC_B" "$B_IP" "$MASK" >"$QNT_TMP/hosts.csv"
qnt_bg "$PC" "$QNT_TMP/serve.out" "$QNT_TMP/serve.err" "$CLI" serve --hosts "$QNT_TMP/hosts.csv" \
  --keep --once --timeout 120 --json
server=$QNT_LAST_PID
qnt_wait_for 10 qnt_file_has "$QNT_TMP/serve.out" '"event":"serving"' ||
  qnt_fail "serve did not start: $(cat "$QNT_TMP/serve.out" "$QNT_TMP/serve.err")"
qnt_dhclient "$DEV" serve
dhclient=$QNT_LAST_PID
rc=0
ip netns exec "$DEV_B" bootpc --dev dev0 --returniffail --timeoutwait 10 \
  >"$QNT_TMP/served.bootpc" 2>&1 || rc=$?
((rc == 0)) || qnt_fail "serve: bootpc got no answer (exit $rc): $(cat "$QNT_TMP/served.bootpc")"
# The BOOTP device's check takes its whole window, 30 s.
qnt_wait_exit "$server" 90
qnt_expect_eq "serve --keep --once with a device not kept: exit status" 8 "$QNT_RC"
python3 - "$QNT_TMP/serve.out" "$QNT_TMP/serve.err" "$MAC" "$S_IP" "$MAC_B" "$B_IP" <<'PY' ||
import json, sys
out, err = ([json.loads(line) for line in open(path)] for path in sys.argv[1:3])
mac, ip, mac_b, ip_b = sys.argv[3:]
events = [(e["event"], e.get("mac")) for e in out if e["event"] != "sent"]
assert events == [("serving", None), ("confirmed", mac), ("keeping", mac), ("kept", mac)], out
assert all(e["ip"] == ip for e in out[-3:]) and out[-1]["keep"] == "kept", out
warnings = [e for e in err if e["event"] == "warning"]
assert [(w["kind"], w["mac"], w["ip"], w["keep"]) for w in warnings] == [
    ("notConfirmed", mac_b, ip_b, "not tried")], err
assert warnings[0]["message"].endswith(
    f"Not confirmed: {mac_b} did not answer at {ip_b} within 30 seconds; it was not told to "
    "keep that address."), warnings
assert err[-1] == {"event": "error",
                   "message": f"Answered 2 devices, but not kept: {mac_b} ({ip_b})."}, err
PY
  qnt_fail "serve --keep: $(cat "$QNT_TMP/serve.out" "$QNT_TMP/serve.err")"
kept_then_back "$S_IP"
qnt_expect_recorded "$CLI" "quillnet-cli serve" "$MAC" "$MAKER" "$S_IP" confirmed kept DHCP br0
qnt_expect_recorded "$CLI" "quillnet-cli serve" "$MAC_B" "$MAKER" "$B_IP" "not confirmed" \
  "not tried" BOOTP br0
# startup's own connections to the device come last: once the capture shows them, it has shown
# everything before them. Nothing went to the address of the device that was not confirmed.
captured() { (($(grep -c . "$QNT_TMP/capture.out") >= $1)); }
qnt_wait_for 30 captured 5 ||
  qnt_fail "the capture missed connections: $(cat "$QNT_TMP/capture.out" "$QNT_TMP/capture.err")"
qnt_expect_eq "connections to TCP 44818" "$S_IP" "$(sort -u "$QNT_TMP/capture.out")"
forget "$DEV" "$dhclient"

# The wizard, its keep box ticked: the Completion page says the device keeps its address.
if [[ -n "$DRIVER" ]]; then
  readonly W_IP=10.95.0.70
  export QT_QPA_PLATFORM=offscreen XDG_CONFIG_HOME="$QNT_TMP/config"
  qnt_bg "$PC" "$QNT_TMP/wizard.out" "$QNT_TMP/wizard.err" "$DRIVER" assign "$MAC" "$W_IP" \
    "$MASK" "$GATEWAY" --keep --expect-confirmed
  wizard=$QNT_LAST_PID
  qnt_dhclient "$DEV" wizard
  dhclient=$QNT_LAST_PID
  qnt_wait_exit "$wizard" 120
  ((QNT_RC == 0)) || qnt_fail "the wizard run failed (exit $QNT_RC): $(cat "$QNT_TMP/wizard.err" "$QNT_TMP/wizard.dhclient.err")"
  kept_then_back "$W_IP"
  qnt_expect_recorded "$CLI" quillnet "$MAC" "$MAKER" "$W_IP" confirmed kept DHCP br0
  forget "$DEV" "$dhclient"
fi

# A device that never listens on 44818: the address was given and confirmed, but not kept.
readonly N_IP=10.95.0.80
qnt_bg "$PC" "$QNT_TMP/never.assign.out" "$QNT_TMP/never.assign.err" "$CLI" assign "$MAC_N" \
  "$N_IP" "$MASK" --keep --confirm 30 --timeout 60 --json
assign=$QNT_LAST_PID
qnt_wait_for 10 qnt_file_has "$QNT_TMP/never.assign.out" '"event":"waiting"' ||
  qnt_fail "assign did not start waiting: $(cat "$QNT_TMP/never.assign.err")"
qnt_dhclient "$NEVER" never
dhclient=$QNT_LAST_PID
qnt_wait_exit "$assign" 60
qnt_expect_eq "assign --keep to a device that never listens: exit status" 8 "$QNT_RC"
python3 - "$QNT_TMP/never.assign.out" "$QNT_TMP/never.assign.err" "$MAC_N" "$N_IP" <<'PY' ||
import json, sys
out, err = ([json.loads(line) for line in open(path)] for path in sys.argv[1:3])
mac, ip = sys.argv[3:]
assert [e["event"] for e in out][-2:] == ["confirmed", "keeping"], out
assert err == [{"event": "warning", "kind": "notKept", "mac": mac, "ip": ip, "keep": "no device",
                "message": f"No EtherNet/IP device answers at {ip} (connection refused): it "
                           "will ask for an address again at its next start-up."}], err
PY
  qnt_fail "assign --keep to a device that never listens: $(cat "$QNT_TMP/never.assign.out" "$QNT_TMP/never.assign.err")"
qnt_expect_recorded "$CLI" "quillnet-cli assign" "$MAC_N" "$MAKER" "$N_IP" confirmed \
  "no device" DHCP br0
forget "$NEVER" "$dhclient"

! grep . "$QNT_TMP/device.err" || qnt_fail "the device: $(cat "$QNT_TMP/device.err")"
qnt_log "PASS"
