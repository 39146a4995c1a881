#!/bin/bash
# The real wizard, driven through its widgets, assigns an address to bootpc in the device
# namespace: bootpc gets the typed address (typed with a leading zero, sent without it), mask
# and gateway (refused while incomplete), the settings file remembers them for the device, and
# a second run offers them again. bootpc never answers ARP, so each run ends when the wizard
# stops waiting for it, saying it has not answered yet. bootpc, heard a moment before the
# wizard is armed, takes the answer at once and the wizard ends the same way. ISC dhclient, heard ten seconds before
# the click that arms the wizard, is answered at once: it holds the address within two
# seconds, and the Completion page says that the device answers there. busybox udhcpc, which
# checks the address it is given and finds another device there, declines it, and the wizard
# ends on the Failure page saying so. With port 67 taken, the Failure page follows at once, and
# once the port is free Back starts the server and the Listen page stays. Each assignment
# leaves its line in the commissioning record, which `quillnet-cli history` prints.
# Usage: wizard_assign.sh <wizard_driver> <quillnet-cli>
# shellcheck source=netns_lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/netns_lib.sh"

DRIVER="${1:?usage: $0 <wizard_driver> <quillnet-cli>}"
[[ -x "$DRIVER" ]] || qnt_fail "not an executable: $DRIVER"
CLI="${2:?usage: $0 <wizard_driver> <quillnet-cli>}"
[[ -x "$CLI" ]] || qnt_fail "not an executable: $CLI"
command -v bootpc >/dev/null || qnt_fail "bootpc is not installed (Debian package bootpc)"
command -v dhclient >/dev/null || qnt_fail "dhclient is not installed (Debian package isc-dhcp-client)"
busybox --list 2>/dev/null | grep -x udhcpc >/dev/null ||
  qnt_fail "busybox udhcpc is not installed (Debian package busybox)"
qnt_init

readonly MAC="02:00:5e:10:20:40"
readonly IP="10.78.0.50" MASK="255.255.255.0" GATEWAY="10.78.0.1"
qnt_pc_and_device PC DEV 10.78.0.1/24 "$MAC"
export QT_QPA_PLATFORM=offscreen XDG_CONFIG_HOME="$QNT_TMP/config"
readonly STORE="$XDG_CONFIG_HOME/Varnholt/Quillnet/registry.sqlite3"

# run_wizard <label> <driver arguments after MAC IP MASK GATEWAY...>: the wizard assigns the
# addresses; bootpc asks until the wizard is armed, then once more to be answered.
run_wizard() {
  local label="$1"
  shift
  local out="$QNT_TMP/$label.out" err="$QNT_TMP/$label.err"
  qnt_bg "$PC" "$out" "$err" "$DRIVER" assign "$MAC" "$IP" "$MASK" "$GATEWAY" "$@"
  local wizard=$QNT_LAST_PID
  # The device asks, unanswered, until the user has armed the wizard for it.
  local deadline=$((SECONDS + 60))
  until qnt_file_has "$out" ARMED; do
    qnt_running "$wizard" || qnt_fail "$label: the wizard ended early: $(cat "$err")"
    ((SECONDS < deadline)) || qnt_fail "$label: the wizard was not armed: $(cat "$err")"
    ip netns exec "$DEV" bootpc --dev dev0 --timeoutwait 1 --returniffail >/dev/null 2>&1 || true
  done
  local rc=0
  ip netns exec "$DEV" bootpc --dev dev0 --returniffail --timeoutwait 10 \
    >"$QNT_TMP/$label.bootpc" 2>"$QNT_TMP/$label.bootpc.err" || rc=$?
  ((rc == 0)) || qnt_fail "$label: bootpc got no answer (exit $rc): $(cat "$QNT_TMP/$label.bootpc.err" "$err")"
  # The wizard waits at most 30 s after a reply for the device to answer.
  qnt_wait_exit "$wizard" 45
  ((QNT_RC == 0)) || qnt_fail "$label: the wizard run failed (exit $QNT_RC): $(cat "$err")"
  local B="$QNT_TMP/$label.bootpc"
  qnt_expect_eq "$label IPADDR" "$IP" "$(qnt_bootpc_value "$B" IPADDR)"
  qnt_expect_eq "$label NETMASK" "$MASK" "$(qnt_bootpc_value "$B" NETMASK)"
  qnt_expect_eq "$label GATEWAYS" "$GATEWAY" "$(qnt_bootpc_value "$B" GATEWAYS)"
}

run_wizard typed --type-ip "${IP%.*}.0${IP##*.}" --expect-not-answered
remembered=$(python3 - "$STORE" "$MAC" <<'PY'
import sqlite3, sys
db = sqlite3.connect(f"file:{sys.argv[1]}?mode=ro", uri=True)
row = db.execute("SELECT type, data FROM key_values WHERE key_path = ? AND name = ?",
                 ("Software\\Varnholt\\Quillnet", sys.argv[2])).fetchone()
text = "" if row is None else bytes(row[1]).rstrip(b"\0").decode()
print("" if row is None else f"{row[0]} {text}")
PY
)
qnt_expect_eq "the remembered value" "1 $IP $MASK $GATEWAY" "$remembered"
run_wizard prefilled --expect-prefill
readonly MAKER="locally administered"
qnt_expect_recorded "$CLI" quillnet "$MAC" "$MAKER" "$IP" "not confirmed" "" BOOTP pc0

# bootpc asks once and waits; the wizard, armed three seconds later, answers that request at
# once. bootpc takes it and configures nothing: the wizard ends within its 30 s all the same.
readonly BOOTPC_EARLY_IP="10.78.0.70"
qnt_bg "$DEV" "$QNT_TMP/early-bootpc.out" "$QNT_TMP/early-bootpc.err" \
  bootpc --dev dev0 --returniffail --timeoutwait 60
BOOTPC=$QNT_LAST_PID
qnt_bg "$PC" "$QNT_TMP/bootpc-early.out" "$QNT_TMP/bootpc-early.err" "$DRIVER" assign "$MAC" \
  "$BOOTPC_EARLY_IP" "$MASK" "$GATEWAY" --arm-after 3 --expect-not-answered
WIZARD=$QNT_LAST_PID
qnt_wait_for 70 qnt_not_running "$BOOTPC" ||
  qnt_fail "bootpc took no answer: $(cat "$QNT_TMP/bootpc-early.out" "$QNT_TMP/bootpc-early.err")"
qnt_wait_exit "$BOOTPC" 1
((QNT_RC == 0)) || qnt_fail "bootpc took no answer at once (exit $QNT_RC): $(cat "$QNT_TMP/early-bootpc.err" "$QNT_TMP/bootpc-early.out" "$QNT_TMP/bootpc-early.err")"
qnt_expect_eq "the early answer's IPADDR" "$BOOTPC_EARLY_IP" \
  "$(qnt_bootpc_value "$QNT_TMP/early-bootpc.out" IPADDR)"
qnt_wait_exit "$WIZARD" 45
((QNT_RC == 0)) || qnt_fail "the wizard did not end after bootpc took the answer at once: $(cat "$QNT_TMP/bootpc-early.err")"

# Another device holds an address: a macvlan of pc0 in a namespace of its own, which the
# device's ARP reaches. udhcpc asks every second until the wizard is armed for that address,
# takes the offer, checks the address after the ack and declines it.
readonly HELD_IP="10.78.0.77"
qnt_make_ns HOLD holder
ip -n "$PC" link add link pc0 name hold0 address 02:00:5e:10:20:41 type macvlan mode bridge
ip -n "$PC" link set hold0 netns "$HOLD"
ip -n "$HOLD" addr add "$HELD_IP/24" dev hold0
ip -n "$HOLD" link set hold0 up
qnt_bg "$DEV" "$QNT_TMP/udhcpc.out" "$QNT_TMP/udhcpc.err" \
  busybox udhcpc -f -q -n -a -t 60 -T 1 -A 1 -i dev0 -s /bin/true
UDHCPC=$QNT_LAST_PID
qnt_bg "$PC" "$QNT_TMP/declined.out" "$QNT_TMP/declined.err" "$DRIVER" assign "$MAC" "$HELD_IP" \
  "$MASK" "$GATEWAY" --expect-failure "$MAC reports $HELD_IP as in use by another device."
qnt_wait_exit "$QNT_LAST_PID" 60
((QNT_RC == 0)) ||
  qnt_fail "the wizard did not fail on udhcpc's decline: $(cat "$QNT_TMP/declined.err" "$QNT_TMP/udhcpc.err")"
qnt_file_has "$QNT_TMP/udhcpc.err" "offered address is in use" ||
  qnt_fail "udhcpc did not find the address in use: $(cat "$QNT_TMP/udhcpc.err")"
kill "$UDHCPC"
qnt_wait_exit "$UDHCPC" 10
qnt_expect_recorded "$CLI" quillnet "$MAC" "$MAKER" "$HELD_IP" declined "" DHCP pc0

# dhclient asks, and keeps the same transaction while it waits ever longer between its tries.
readonly EARLY_IP="10.78.0.60"
qnt_bg "$DEV" "$QNT_TMP/dhclient.out" "$QNT_TMP/dhclient.err" dhclient -d -v -1 -cf /dev/null \
  -lf "$QNT_TMP/dhclient.leases" -pf "$QNT_TMP/dhclient.pid" \
  -sf "$(dirname "${BASH_SOURCE[0]}")/dhclient_set_address.sh" dev0
qnt_bg "$PC" "$QNT_TMP/early.out" "$QNT_TMP/early.err" "$DRIVER" assign "$MAC" "$EARLY_IP" \
  "$MASK" "$GATEWAY" --arm-after 10 --expect-confirmed
WIZARD=$QNT_LAST_PID
qnt_wait_for 60 qnt_file_has "$QNT_TMP/early.out" ARMED ||
  qnt_fail "the wizard was not armed for dhclient: $(cat "$QNT_TMP/early.err")"
clicked=$(awk '/^ARMED / { print $2 }' "$QNT_TMP/early.out")
until ip -n "$DEV" -4 addr show dev dev0 | grep -qF "inet $EARLY_IP/"; do
  (($(date +%s%3N) - clicked < 10000)) ||
    qnt_fail "dhclient did not take $EARLY_IP: $(cat "$QNT_TMP/dhclient.err" "$QNT_TMP/early.err")"
  sleep 0.02
done
configured_ms=$(($(date +%s%3N) - clicked))
qnt_log "dhclient, heard 10 s before arming, held $EARLY_IP ${configured_ms} ms after the click"
((configured_ms <= 2000)) || qnt_fail "dhclient held its address only ${configured_ms} ms after the click"
qnt_wait_exit "$WIZARD" 20
((QNT_RC == 0)) || qnt_fail "the wizard did not confirm dhclient's address: $(cat "$QNT_TMP/early.err")"
qnt_expect_recorded "$CLI" quillnet "$MAC" "$MAKER" "$EARLY_IP" confirmed "" DHCP pc0
# One line per assignment: the two bootpc runs, the early one, the decline and dhclient.
qnt_expect_eq "lines in the record" 5 "$(grep -c ",quillnet," "$QNT_RECORD")"

# Port 67 held by another program.
FREED="$QNT_TMP/port-freed"
qnt_bg "$PC" "$QNT_TMP/holder.out" "$QNT_TMP/holder.err" python3 -c '
import socket, sys, time
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
s.bind(("0.0.0.0", 67))
print("holding", flush=True)
time.sleep(120)'
HOLDER=$QNT_LAST_PID
qnt_wait_for 10 qnt_file_has "$QNT_TMP/holder.out" holding || qnt_fail "cannot hold port 67: $(cat "$QNT_TMP/holder.err")"
qnt_bg "$PC" "$QNT_TMP/taken.out" "$QNT_TMP/taken.err" "$DRIVER" port-taken "$FREED"
WIZARD=$QNT_LAST_PID
qnt_wait_for 30 qnt_file_has "$QNT_TMP/taken.out" "FAILURE SHOWN" ||
  qnt_fail "no Failure page with port 67 taken: $(cat "$QNT_TMP/taken.err")"
kill "$HOLDER"
qnt_wait_exit "$HOLDER" 5
touch "$FREED"
qnt_wait_exit "$WIZARD" 30
((QNT_RC == 0)) || qnt_fail "port taken, then freed: $(cat "$QNT_TMP/taken.err")"

qnt_log "PASS"
