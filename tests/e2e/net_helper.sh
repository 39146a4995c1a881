#!/bin/bash
# quillnet-cli without any capability, as user nobody, assigns an address and confirms it
# through quillnet-net-helper, the only file holding cap_net_bind_service and cap_net_raw: ISC
# dhclient gets the reply and answers ARP at its new address, and the program's own effective
# capabilities stay empty; the helper drops its own once its socket is open, and a helper that
# dies during the check makes the check fail, not succeed. A helper that is missing, lacks its
# capabilities or may not be run by the user is named in the message, with the command that
# fixes it.
# Usage: net_helper.sh <quillnet-cli> <quillnet-net-helper>
# shellcheck source=netns_lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/netns_lib.sh"

qnt_cli_test "${1:-}"
HELPER="${2:?usage: $0 <quillnet-cli> <quillnet-net-helper>}"
command -v dhclient >/dev/null || qnt_fail "dhclient is not installed (Debian package isc-dhcp-client)"
command -v setpriv >/dev/null || qnt_fail "setpriv is not installed (Debian package util-linux)"
command -v setcap >/dev/null || qnt_fail "setcap is not installed (Debian package libcap2-bin)"
qnt_init
(($(cat /proc/sys/net/ipv4/ip_unprivileged_port_start) > 67)) ||
  qnt_skip "port 67 is not privileged here (net.ipv4.ip_unprivileged_port_start)"

readonly MAC="02:00:5e:89:00:02"
readonly MASK=255.255.255.0
readonly AS_NOBODY=(setpriv --reuid=65534 --regid=65534 --clear-groups --inh-caps=-all)
qnt_pc_and_device PC DEV 10.89.0.1/24 "$MAC"

# install_programs <folder> [with-helper]: the programs copied where nobody may run them.
install_programs() {
  mkdir -p "$1"
  cp "$CLI" "$1/quillnet-cli"
  [[ "${2:-}" != with-helper ]] || cp "$HELPER" "$1/quillnet-net-helper"
  chmod 755 "$QNT_TMP" "$1" "$1"/*
}

install_programs "$QNT_TMP/granted" with-helper
setcap cap_net_bind_service,cap_net_raw=+ep "$QNT_TMP/granted/quillnet-net-helper" ||
  qnt_fail "cannot set a file capability on the helper"
qnt_bg "$PC" "$QNT_TMP/granted.out" "$QNT_TMP/granted.err" "${AS_NOBODY[@]}" \
  "$QNT_TMP/granted/quillnet-cli" assign "$MAC" 10.89.0.50 "$MASK" 10.89.0.1 --json \
  --confirm 5 --timeout 20
assign=$QNT_LAST_PID
waiting() { qnt_file_has "$QNT_TMP/granted.out" '"event":"waiting"'; }
qnt_wait_for 10 waiting ||
  qnt_fail "assign did not start waiting: $(cat "$QNT_TMP/granted.out" "$QNT_TMP/granted.err")"
cli_pid="$(ip netns pids "$PC" | while read -r pid; do
  [[ "$(cat "/proc/$pid/comm" 2>/dev/null)" == quillnet-cli ]] && echo "$pid"; done)"
[[ -n "$cli_pid" ]] || qnt_fail "quillnet-cli's pid was not found"
qnt_expect_eq "quillnet-cli's user" 65534 "$(awk '/^Uid:/ { print $3 }' "/proc/$cli_pid/status")"
qnt_expect_eq "quillnet-cli's effective capabilities" 0000000000000000 \
  "$(awk '/^CapEff:/ { print $2 }' "/proc/$cli_pid/status")"
qnt_expect_eq "quillnet-cli's permitted capabilities" 0000000000000000 \
  "$(awk '/^CapPrm:/ { print $2 }' "/proc/$cli_pid/status")"

qnt_bg "$DEV" "$QNT_TMP/dhclient.out" "$QNT_TMP/dhclient.err" \
  dhclient -d -v -1 -cf /dev/null -lf "$QNT_TMP/leases" -pf "$QNT_TMP/dhclient.pid" \
  -sf "$(dirname "${BASH_SOURCE[0]}")/dhclient_set_address.sh" dev0
dhclient=$QNT_LAST_PID
qnt_wait_exit "$assign" 25
((QNT_RC == 0)) ||
  qnt_fail "assign ended with $QNT_RC: $(cat "$QNT_TMP/granted.out" "$QNT_TMP/granted.err")"
python3 - "$QNT_TMP/granted.out" "$MAC" <<'PY' || qnt_fail "assign: $(cat "$QNT_TMP/granted.out")"
import json, sys
events = [json.loads(line) for line in open(sys.argv[1])]
sent = [e for e in events if e["event"] == "sent"]
assert sent and sent[0]["mac"] == sys.argv[2] and sent[0]["ip"] == "10.89.0.50", events
assert events[-1] == {"event": "confirmed", "mac": sys.argv[2], "ip": "10.89.0.50"}, events
PY
# The in-use check went through the helper too, so nothing was skipped.
[[ ! -s "$QNT_TMP/granted.err" ]] || qnt_fail "assign warned: $(cat "$QNT_TMP/granted.err")"
ip -n "$DEV" -4 addr show dev dev0 | grep -qF "inet 10.89.0.50/24" ||
  qnt_fail "dhclient did not set the address: $(cat "$QNT_TMP/dhclient.err")"
kill "$dhclient"
qnt_wait_exit "$dhclient" 10

# bootpc takes the reply and never answers ARP, so the helper probes through the whole check:
# with no capability left once its socket is open. Killed, it leaves a check that could not
# finish, and assign says so instead of reporting success.
qnt_bg "$PC" "$QNT_TMP/killed.out" "$QNT_TMP/killed.err" "${AS_NOBODY[@]}" \
  "$QNT_TMP/granted/quillnet-cli" assign "$MAC" 10.89.0.52 "$MASK" --confirm 60 --timeout 20
assign=$QNT_LAST_PID
qnt_wait_for 10 qnt_file_has "$QNT_TMP/killed.out" "Waiting for a BOOTP or DHCP request" ||
  qnt_fail "killed: assign did not start waiting: $(cat "$QNT_TMP/killed.out" "$QNT_TMP/killed.err")"
ip netns exec "$DEV" bootpc --dev dev0 --returniffail --timeoutwait 10 >"$QNT_TMP/killed.bootpc" 2>&1 ||
  qnt_fail "killed: bootpc got no answer: $(cat "$QNT_TMP/killed.bootpc" "$QNT_TMP/killed.err")"
helper_pid() {
  ip netns pids "$PC" | while read -r pid; do
    [[ "$(cat "/proc/$pid/comm" 2>/dev/null)" == quillnet-net-he* ]] && echo "$pid"
  done | head -n 1
}
# capabilities <pid> <CapEff|CapPrm>
capabilities() { awk -v set="$2:" '$1 == set { print $2 }' "/proc/$1/status" 2>/dev/null; }
probing_without_capabilities() {
  HELPER_PID="$(helper_pid)"
  [[ -n "$HELPER_PID" && "$(capabilities "$HELPER_PID" CapEff)" == 0000000000000000 ]]
}
qnt_wait_for 10 probing_without_capabilities ||
  qnt_fail "killed: no probing helper without capabilities (pid ${HELPER_PID:-none}, CapEff $(capabilities "${HELPER_PID:-0}" CapEff))"
qnt_expect_eq "the probing helper's permitted capabilities" 0000000000000000 \
  "$(capabilities "$HELPER_PID" CapPrm)"
kill -KILL "$HELPER_PID"
qnt_wait_exit "$assign" 10
qnt_expect_eq "killed: assign's exit status" 7 "$QNT_RC"
qnt_file_has "$QNT_TMP/killed.err" \
  "Not confirmed: the check whether $MAC answers at 10.89.0.52 broke off: $QNT_TMP/granted/quillnet-net-helper ended without an answer." ||
  qnt_fail "killed: $(cat "$QNT_TMP/killed.err")"

# A helper that is never sent a request ends by itself.
python3 - "$QNT_TMP/granted/quillnet-net-helper" <<'PY' || qnt_fail "the helper waited on without a request"
import os, socket, subprocess, sys
ours, theirs = socket.socketpair(socket.AF_UNIX, socket.SOCK_SEQPACKET)
os.dup2(theirs.fileno(), 3)
helper = subprocess.Popen([sys.argv[1]], pass_fds=[3])
theirs.close()
os.close(3)
assert helper.wait(timeout=60) == 1
PY

# Each helper that cannot help is named with what fixes it; no device asks, the start fails.
install_programs "$QNT_TMP/missing"
install_programs "$QNT_TMP/bare" with-helper
install_programs "$QNT_TMP/group" with-helper
chmod 750 "$QNT_TMP/group/quillnet-net-helper"
usermod_hint="add yourself to the group quillnet (sudo usermod -aG quillnet \$USER), then log in again"
cases=(
  "missing|quillnet-net-helper was not found beside $QNT_TMP/missing/quillnet-cli nor in /usr/lib/quillnet"
  "bare|$QNT_TMP/bare/quillnet-net-helper lacks cap_net_bind_service: grant it with: sudo setcap cap_net_bind_service,cap_net_raw=+ep '$QNT_TMP/bare/quillnet-net-helper'"
  "group|this user may not run $QNT_TMP/group/quillnet-net-helper: $usermod_hint"
)
for entry in "${cases[@]}"; do
  label=${entry%%|*}
  expected=${entry#*|}
  if [[ $label == missing && -e /usr/lib/quillnet/quillnet-net-helper ]]; then
    qnt_log "the missing case is skipped: /usr/lib/quillnet/quillnet-net-helper is installed"
    continue
  fi
  rc=0
  timeout 20 ip netns exec "$PC" "${AS_NOBODY[@]}" "$QNT_TMP/$label/quillnet-cli" assign "$MAC" \
    10.89.0.51 "$MASK" --timeout 2 >"$QNT_TMP/$label.out" 2>"$QNT_TMP/$label.err" || rc=$?
  qnt_expect_eq "$label: exit status" 4 "$rc"
  qnt_file_has "$QNT_TMP/$label.err" "Binding UDP port 67 needs root or quillnet-net-helper: $expected" ||
    qnt_fail "$label: no line '$expected' in: $(cat "$QNT_TMP/$label.err")"
done

qnt_log "PASS"
