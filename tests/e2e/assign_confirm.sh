#!/bin/bash
# quillnet-cli assign asks the network for the address before it answers, and afterwards for
# the device at its new address: ISC dhclient, which sets the address it gets, is confirmed;
# bootpc, which only prints it, is not; an address another device holds is refused unless
# forced, and one of the PC's own always; and without CAP_NET_RAW nor a helper holding it the reply still counts as sent,
# with the helper's situation named.
# Usage: assign_confirm.sh <quillnet-cli>
# shellcheck source=netns_lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/netns_lib.sh"

qnt_cli_test "${1:-}" bootpc
command -v dhclient >/dev/null || qnt_fail "dhclient is not installed (Debian package isc-dhcp-client)"
command -v setpriv >/dev/null || qnt_fail "setpriv is not installed (Debian package util-linux)"
command -v setcap >/dev/null || qnt_fail "setcap is not installed (Debian package libcap2-bin)"
qnt_init

readonly MAC="02:00:5e:88:00:02"
readonly HOLDER_MAC="02:00:5e:88:00:03"
readonly MASK=255.255.255.0
qnt_pc_and_device PC DEV 10.88.0.1/24 "$MAC"

waiting() { qnt_file_has "$1" "Waiting for a BOOTP or DHCP request" || qnt_file_has "$1" '"event":"waiting"'; }

# start_assign <label> <command and arguments before the MAC> -- <arguments after it...>: assign
# in the background, once it waits; its pid in $QNT_LAST_PID, its output in $QNT_TMP/<label>.*
start_assign() {
  local label="$1" command=()
  shift
  while [[ "$1" != -- ]]; do
    command+=("$1")
    shift
  done
  shift
  local out="$QNT_TMP/$label.out" err="$QNT_TMP/$label.err"
  qnt_bg "$PC" "$out" "$err" "${command[@]}" assign "$MAC" "$@" --timeout 20
  qnt_wait_for 10 waiting "$out" ||
    qnt_fail "$label: assign did not start waiting: $(cat "$out" "$err")"
}

# answer_with_bootpc <label>: the device asks once with bootpc, which must get the reply.
answer_with_bootpc() {
  local rc=0
  ip netns exec "$DEV" bootpc --dev dev0 --returniffail --timeoutwait 5 \
    >"$QNT_TMP/$1.bootpc" 2>&1 || rc=$?
  ((rc == 0)) || qnt_fail "$1: bootpc got no answer (exit $rc): $(cat "$QNT_TMP/$1.bootpc")"
}

# expect_run <label> <exit status> <pid>: the assign run ends with that status.
expect_run() {
  qnt_wait_exit "$3" 20
  ((QNT_RC == $2)) ||
    qnt_fail "$1: expected exit $2, got $QNT_RC: $(cat "$QNT_TMP/$1.out" "$QNT_TMP/$1.err")"
}

expect_line() { qnt_file_has "$1" "$2" || qnt_fail "no line '$2' in $1: $(cat "$1")"; }
expect_no_line() { ! qnt_file_has "$1" "$2" || qnt_fail "a line '$2' in $1: $(cat "$1")"; }

# bootpc does not set the address it gets, so nothing answers there.
start_assign silent "$CLI" -- 10.88.0.60 "$MASK" --confirm 1
pid=$QNT_LAST_PID
answer_with_bootpc silent
expect_run silent 7 "$pid"
expect_line "$QNT_TMP/silent.out" "Sent to $MAC: IP address 10.88.0.60"
expect_line "$QNT_TMP/silent.err" "Not confirmed: $MAC did not answer at 10.88.0.60 within 1 second."
expect_no_line "$QNT_TMP/silent.out" "Confirmed"

# Ctrl+C ends the wait for the device's answer.
start_assign interrupted "$CLI" -- 10.88.0.63 "$MASK" --confirm 600
pid=$QNT_LAST_PID
answer_with_bootpc interrupted
qnt_wait_for 10 qnt_file_has "$QNT_TMP/interrupted.out" "Sent to $MAC" ||
  qnt_fail "interrupted: no reply reported: $(cat "$QNT_TMP/interrupted.out")"
kill -INT "$pid"
expect_run interrupted 7 "$pid"
expect_line "$QNT_TMP/interrupted.err" "Not confirmed: interrupted before $MAC answered at 10.88.0.63."

start_assign unchecked "$CLI" -- 10.88.0.61 "$MASK" --confirm 0
pid=$QNT_LAST_PID
answer_with_bootpc unchecked
expect_run unchecked 0 "$pid"
expect_line "$QNT_TMP/unchecked.out" "Sent to $MAC: IP address 10.88.0.61"
expect_no_line "$QNT_TMP/unchecked.out" "Confirmed"
[[ ! -s "$QNT_TMP/unchecked.err" ]] || qnt_fail "unchecked: $(cat "$QNT_TMP/unchecked.err")"

# A user with only the port's capability and no quillnet-net-helper to send the probes: neither
# probe can be made, the reply still goes out.
NO_RAW="quillnet-net-helper was not found beside $QNT_TMP/user/quillnet-cli nor in /usr/lib/quillnet: install the package that holds it: sudo apt install quillnet-cli"
mkdir "$QNT_TMP/user"
cp "$CLI" "$QNT_TMP/user/quillnet-cli"
chmod 755 "$QNT_TMP" "$QNT_TMP/user" "$QNT_TMP/user/quillnet-cli"
setcap cap_net_bind_service=+ep "$QNT_TMP/user/quillnet-cli" ||
  qnt_fail "cannot set a file capability on $QNT_TMP/user/quillnet-cli"
start_assign user setpriv --reuid=nobody --regid=nogroup --clear-groups --inh-caps=-all \
  "$QNT_TMP/user/quillnet-cli" -- 10.88.0.62 "$MASK"
pid=$QNT_LAST_PID
answer_with_bootpc user
expect_run user 0 "$pid"
expect_line "$QNT_TMP/user.out" "Sent to $MAC: IP address 10.88.0.62"
expect_line "$QNT_TMP/user.err" "Warning: could not check whether 10.88.0.62 is in use: $NO_RAW."
expect_line "$QNT_TMP/user.err" "Not confirmed: could not check whether $MAC answers at 10.88.0.62: $NO_RAW."

# ISC dhclient takes the address in DHCP and sets it, through a script that touches
# nothing outside the namespace; assign hears the device answer there.
start_assign dh "$CLI" -- 10.88.0.50 "$MASK" 10.88.0.1 --json
pid=$QNT_LAST_PID
qnt_bg "$DEV" "$QNT_TMP/dhclient.out" "$QNT_TMP/dhclient.err" \
  dhclient -d -v -1 -cf /dev/null -lf "$QNT_TMP/leases" -pf "$QNT_TMP/dhclient.pid" \
  -sf "$(dirname "${BASH_SOURCE[0]}")/dhclient_set_address.sh" dev0
dhclient=$QNT_LAST_PID
expect_run dh 0 "$pid"
python3 - "$QNT_TMP/dh.out" "$MAC" <<'EOF' || qnt_fail "dhclient: $(cat "$QNT_TMP/dh.out")"
import json, sys
events = [json.loads(line) for line in open(sys.argv[1])]
assert events[-1] == {"event": "confirmed", "mac": sys.argv[2], "ip": "10.88.0.50"}, events
EOF
ip -n "$DEV" -4 addr show dev dev0 | grep -qF "inet 10.88.0.50/24" ||
  qnt_fail "dhclient did not set the address: $(cat "$QNT_TMP/dhclient.err")"
kill "$dhclient"
qnt_wait_exit "$dhclient" 10

# The device answering for the address already is no other holder: it is given it again and
# confirmed.
ip -n "$DEV" addr add 10.88.0.70/24 dev dev0
start_assign own "$CLI" -- 10.88.0.70 "$MASK"
pid=$QNT_LAST_PID
answer_with_bootpc own
expect_run own 0 "$pid"
expect_line "$QNT_TMP/own.out" "Confirmed: $MAC answers at 10.88.0.70"
expect_no_line "$QNT_TMP/own.err" "in use"

# Another device on the device's wire holds an address: a macvlan of dev0 with its own MAC, in
# a namespace of its own, so dev0 never answers for it.
qnt_make_ns HOLD holder
ip -n "$DEV" link add link dev0 name hold0 address "$HOLDER_MAC" type macvlan mode bridge
ip -n "$DEV" link set hold0 netns "$HOLD"
ip -n "$HOLD" addr add 10.88.0.77/24 dev hold0
ip -n "$HOLD" link set hold0 up
hold0_ready() { ip -n "$HOLD" link show hold0 | grep -q "LOWER_UP"; }
qnt_wait_for 10 hold0_ready || qnt_fail "hold0 is not up: $(ip -n "$HOLD" link show hold0)"

# refused <label> <ip> <message> [option]: assign refuses the address, before it waits.
refused() {
  local rc=0
  ip netns exec "$PC" "$CLI" assign "$MAC" "$2" "$MASK" --timeout 20 ${4:+"$4"} \
    >"$QNT_TMP/$1.out" 2>"$QNT_TMP/$1.err" || rc=$?
  qnt_expect_eq "$1: exit status" 3 "$rc"
  qnt_expect_eq "$1: message" "$3" "$(cat "$QNT_TMP/$1.err")"
  [[ ! -s "$QNT_TMP/$1.out" ]] || qnt_fail "$1: $(cat "$QNT_TMP/$1.out")"
}
refused held 10.88.0.77 "10.88.0.77 is already in use by $HOLDER_MAC. Give the device another address, or use --force to assign it all the same."
# The PC's own address is refused as the wizard refuses it: no force gives it to a device.
readonly OWN="IP address 10.88.0.1 is in use by this PC's interface pc0. Give the device another address."
refused pc 10.88.0.1 "$OWN"
refused pc-forced 10.88.0.1 "$OWN" --force

# Forced, it warns and answers the device; the holder answering afterwards confirms nothing.
start_assign forced "$CLI" -- 10.88.0.77 "$MASK" --force --confirm 1
pid=$QNT_LAST_PID
answer_with_bootpc forced
expect_run forced 7 "$pid"
expect_line "$QNT_TMP/forced.err" "Warning: 10.88.0.77 is already in use by $HOLDER_MAC."
expect_line "$QNT_TMP/forced.out" "Sent to $MAC: IP address 10.88.0.77"
expect_line "$QNT_TMP/forced.err" "Not confirmed: $MAC did not answer at 10.88.0.77 within 1 second."

qnt_log "PASS"
