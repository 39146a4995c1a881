# shellcheck shell=bash
# Shared helpers for the end-to-end tests: private network namespaces per test run, cleanup at
# exit, bounded waits. Source it from a bash test script; it sets `set -euo pipefail`.
#
# Namespaces are named qnt-<pid>-<role>, so runs in parallel never meet, and a namespace whose
# pid is dead is known to be left over from a crashed run.

# Results (QNT_RC, QNT_LAST_PID, the namespace variable) are read by the sourcing script.
# shellcheck disable=SC2034

set -euo pipefail

readonly QNT_PREFIX="qnt-"
QNT_HERE="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
readonly QNT_HERE
readonly QNT_SKIP=77
QNT_NAMESPACES=()
QNT_TMP=""

qnt_log() { echo "[$(basename "$0")] $*" >&2; }

qnt_fail() {
  qnt_log "FAIL: $*"
  exit 1
}

# Skips the test, except under CI where a test that did not run counts as failed.
qnt_skip() {
  if [[ "${CI:-}" == "true" ]]; then
    qnt_log "FAIL: $* (CI=true: the end-to-end tests must run, not skip)"
    exit 1
  fi
  qnt_log "SKIP: $*"
  exit "$QNT_SKIP"
}

qnt_cleanup() {
  local rc=$?
  set +e
  local ns pid
  # Every process this test starts runs inside one of its own namespaces, so these are ours.
  for ns in "${QNT_NAMESPACES[@]}"; do
    for pid in $(ip netns pids "$ns" 2>/dev/null); do kill -KILL "$pid" 2>/dev/null; done
  done
  { wait; } 2>/dev/null
  for ns in "${QNT_NAMESPACES[@]}"; do ip netns del "$ns" 2>/dev/null; done
  [[ -n "$QNT_TMP" ]] && rm -rf "$QNT_TMP"
  exit "$rc"
}

# Removes namespaces left behind by runs whose process no longer exists.
qnt_remove_stale() {
  local ns pid
  for ns in $(ip netns list 2>/dev/null | awk '{print $1}'); do
    [[ "$ns" == "$QNT_PREFIX"* ]] || continue
    pid="${ns#"$QNT_PREFIX"}"
    pid="${pid%%-*}"
    [[ "$pid" =~ ^[0-9]+$ ]] || continue
    kill -0 "$pid" 2>/dev/null || ip netns del "$ns" 2>/dev/null || true
  done
}

# Call first. Checks the tools, sets the cleanup trap and a scratch folder ($QNT_TMP).
qnt_init() {
  command -v ip >/dev/null || qnt_skip "iproute2 (ip) is not installed"
  trap qnt_cleanup EXIT
  trap 'exit 130' INT
  trap 'exit 143' TERM
  QNT_TMP="$(mktemp -d "/tmp/${QNT_PREFIX}$$.XXXXXX")"
  # The programs keep their commissioning record in the test's own folder, never the user's;
  # any user the test runs them as may write it.
  export XDG_STATE_HOME="$QNT_TMP/state"
  mkdir -p -m 1777 "$XDG_STATE_HOME"
  QNT_RECORD="$XDG_STATE_HOME/quillnet/commissioning.csv"
  qnt_remove_stale
}

# qnt_make_ns <var> <role>: makes the namespace qnt-<pid>-<role> (loopback up) and stores its
# name in <var>. Skips when namespaces cannot be made here (no root, no CAP_SYS_ADMIN, a
# sandbox without netns support).
qnt_make_ns() {
  local -n qnt_ns_out_="$1"
  local ns="${QNT_PREFIX}$$-$2"
  if ! ip netns add "$ns" 2>"$QNT_TMP/netns.err"; then
    qnt_skip "cannot create network namespace $ns: $(cat "$QNT_TMP/netns.err")"
  fi
  QNT_NAMESPACES+=("$ns")
  ip -n "$ns" link set lo up
  qnt_ns_out_="$ns"
}

# qnt_veth <ns1> <if1> <ns2> <if2>: a veth pair made directly in the two namespaces, so a
# crash never leaves one behind in the caller's namespace.
qnt_veth() {
  ip -n "$1" link add "$2" type veth peer name "$4" netns "$3" ||
    qnt_fail "cannot create veth $2/$4"
}

# qnt_device <ns> <if> <mac>: a device end with a fixed MAC and a route for 255.255.255.255.
qnt_device() {
  ip -n "$1" link set "$2" address "$3"
  ip -n "$1" link set "$2" up
  ip -n "$1" route add default dev "$2"
}

# qnt_pc_and_device <pc var> <device var> <pc address/prefix> <device mac>: a "pc" namespace
# whose interface pc0 has the address, wired to a "dev" namespace whose dev0 has the MAC.
qnt_pc_and_device() {
  qnt_make_ns "$1" pc
  qnt_make_ns "$2" dev
  local -n qnt_pc_="$1" qnt_dev_="$2"
  qnt_veth "$qnt_pc_" pc0 "$qnt_dev_" dev0
  ip -n "$qnt_pc_" addr add "$3" dev pc0
  ip -n "$qnt_pc_" link set pc0 up
  qnt_device "$qnt_dev_" dev0 "$4"
}

# qnt_pc_bridge <pc var> <pc address/prefix>: a "pc" namespace whose bridge br0, up, holds the
# address; qnt_bridge_port joins other namespaces to it.
qnt_pc_bridge() {
  qnt_make_ns "$1" pc
  local -n qnt_bridge_pc_="$1"
  ip -n "$qnt_bridge_pc_" link add br0 type bridge
  ip -n "$qnt_bridge_pc_" addr add "$2" dev br0
  ip -n "$qnt_bridge_pc_" link set br0 up
}

# qnt_bridge_port <pc ns> <port> <ns> <if>: a veth from the PC's bridge (port <port>, up) to <if>
# in <ns>, which the caller sets up.
qnt_bridge_port() {
  qnt_veth "$1" "$2" "$3" "$4"
  ip -n "$1" link set "$2" master br0
  ip -n "$1" link set "$2" up
}

# qnt_relay_network <pc ip> <relay up> <relay> <var>:<mac>...: devices behind a router. A "pc"
# namespace (in PC) whose pc0 has <pc ip>/24 and a route to the devices' network; a "relay"
# namespace (in ROUTER) forwarding between r0 (<relay up>/24, toward the PC) and a bridge r1
# (<relay>/24), where ISC dhcrelay relays the devices' requests to <pc ip>; each <var> a
# namespace named after it whose dev0, with <mac>, is on the bridge. dhcrelay's pid goes into
# QNT_RELAY_PID.
qnt_relay_network() {
  local pc_ip="$1" relay_up="$2" relay="$3"
  shift 3
  qnt_make_ns PC pc
  qnt_make_ns ROUTER relay
  qnt_veth "$PC" pc0 "$ROUTER" r0
  ip -n "$PC" addr add "$pc_ip/24" dev pc0
  ip -n "$PC" link set pc0 up
  ip -n "$PC" route add "${relay%.*}.0/24" via "$relay_up"
  ip -n "$ROUTER" addr add "$relay_up/24" dev r0
  ip -n "$ROUTER" link set r0 up
  ip -n "$ROUTER" link add r1 type bridge
  ip -n "$ROUTER" addr add "$relay/24" dev r1
  ip -n "$ROUTER" link set r1 up
  local device port=0
  for device in "$@"; do
    local var="${device%%:*}" mac="${device#*:}"
    qnt_make_ns "$var" "${var,,}"
    qnt_veth "$ROUTER" "rp$port" "${!var}" dev0
    ip -n "$ROUTER" link set "rp$port" master r1
    ip -n "$ROUTER" link set "rp$port" up
    qnt_device "${!var}" dev0 "$mac"
    port=$((port + 1))
  done
  ip netns exec "$ROUTER" sysctl -qw net.ipv4.ip_forward=1
  # The devices' on-link default route: the router answers ARP for this PC's network.
  ip netns exec "$ROUTER" sysctl -qw net.ipv4.conf.r1.proxy_arp=1
  qnt_bg "$ROUTER" "$QNT_TMP/relay.out" "$QNT_TMP/relay.err" \
    dhcrelay -d -4 -pf "$QNT_TMP/relay.pid" -id r1 -iu r0 "$pc_ip"
  QNT_RELAY_PID=$QNT_LAST_PID
  qnt_wait_for 10 qnt_file_has "$QNT_TMP/relay.err" "Sending on" ||
    qnt_fail "dhcrelay did not start: $(cat "$QNT_TMP/relay.err")"
}

# qnt_cli_test <quillnet-cli> [bootpc]: checks the program under test and the peers the test
# uses; sets CLI and PEER (the scriptable device, bootp_peer.py).
qnt_cli_test() {
  CLI="${1:?usage: $0 <quillnet-cli>}"
  [[ -x "$CLI" ]] || qnt_fail "not an executable: $CLI"
  if [[ "${2:-}" == bootpc ]]; then
    command -v bootpc >/dev/null || qnt_fail "bootpc is not installed (Debian package bootpc)"
  fi
  command -v python3 >/dev/null || qnt_fail "python3 is not installed"
  PEER="$(dirname "${BASH_SOURCE[0]}")/bootp_peer.py"
}

# qnt_start_listen <ns> <stdout-file> <stderr-file>: quillnet-cli listen in the background,
# once it listens; its pid goes to $QNT_LAST_PID.
qnt_start_listen() {
  qnt_bg "$1" "$2" "$3" "$CLI" listen
  qnt_wait_for 10 qnt_file_has "$2" "Listening for BOOTP and DHCP requests" ||
    qnt_fail "the server did not start: $(cat "$2" "$3")"
}

# qnt_wait_for <seconds> <command...>: polls the command until it succeeds; false on time-out.
qnt_wait_for() {
  local limit="$1"
  shift
  local deadline=$((SECONDS + limit))
  while ! "$@"; do
    ((SECONDS < deadline)) || return 1
    sleep 0.02
  done
}

# qnt_bg <ns> <stdout-file> <stderr-file> <command...>: runs the command in the namespace in the
# background; its pid goes to $QNT_LAST_PID. It is killed at exit if still running.
qnt_bg() {
  local ns="$1" out="$2" err="$3"
  shift 3
  ip netns exec "$ns" "$@" >"$out" 2>"$err" &
  QNT_LAST_PID=$!
}

qnt_running() { kill -0 "$1" 2>/dev/null; }
qnt_not_running() { ! kill -0 "$1" 2>/dev/null; }

# qnt_wait_exit <pid> <seconds>: waits for a background process to end and stores its exit
# status in $QNT_RC; fails the test when it is still running after the time.
qnt_wait_exit() {
  qnt_wait_for "$2" qnt_not_running "$1" || qnt_fail "process $1 still running after $2 s"
  QNT_RC=0
  wait "$1" || QNT_RC=$?
}

# qnt_file_has <file> <fixed-string>: the file holds the string on some line.
qnt_file_has() { grep -qF -- "$2" "$1" 2>/dev/null; }

# qnt_expect_lines <file> <text...>: lines holding the texts, in this order.
qnt_expect_lines() {
  local file="$1" after=0 at text
  shift
  for text in "$@"; do
    at=$(awk -v from="$after" -v text="$text" 'NR > from && index($0, text) { print NR; exit }' "$file")
    [[ -n "$at" ]] || qnt_fail "no line '$text' after line $after of $file: $(cat "$file")"
    after=$at
  done
}

# qnt_dhclient <ns> <label> [<lease file>]: ISC dhclient as the device in <ns>, trying once,
# setting the address it takes (dhclient_set_address.sh), in the background; its output in
# $QNT_TMP/<label>.dhclient.out and .err, its leases in <lease file> ($QNT_TMP/<label>.leases),
# its pid in $QNT_LAST_PID.
qnt_dhclient() {
  qnt_bg "$1" "$QNT_TMP/$2.dhclient.out" "$QNT_TMP/$2.dhclient.err" dhclient -d -v -1 \
    -cf /dev/null -lf "${3:-$QNT_TMP/$2.leases}" -pf "$QNT_TMP/$2.dhclient.pid" \
    -sf "$QNT_HERE/dhclient_set_address.sh" dev0
}

# A dotted IPv4 address's value of a bootpc shell line such as IPADDR='10.0.0.5'.
qnt_bootpc_value() { sed -n "s/^$2='\(.*\)'\$/\1/p" "$1" | head -n 1; }

# qnt_expect_eq <what> <expected> <actual>
qnt_expect_eq() {
  [[ "$2" == "$3" ]] || qnt_fail "$1: expected '$2', got '$3'"
}

# qnt_expect_recorded <quillnet-cli> <program> <mac> <maker> <ip> <result> <keep> <protocol>
# <via>: the commissioning record holds the assignment's line, as Python's csv module reads it
# (UTF-8 with its byte order mark, CR LF), and `quillnet-cli history --json` prints it.
qnt_expect_recorded() {
  local cli="$1"
  shift
  local rc=0
  "$cli" history --json >"$QNT_TMP/history.json" 2>"$QNT_TMP/history.err" || rc=$?
  ((rc == 0)) || qnt_fail "history exited $rc: $(cat "$QNT_TMP/history.err")"
  python3 - "$QNT_RECORD" "$QNT_TMP/history.json" "$@" <<'PY' ||
import csv, json, sys
record, history, program, mac, maker, ip, result, keep, protocol, via = sys.argv[1:]
raw = open(record, "rb").read()
assert raw.startswith(b"\xef\xbb\xbf") and raw.endswith(b"\r\n"), raw[:3] + raw[-2:]
with open(record, newline="", encoding="utf-8-sig") as f:
    rows = list(csv.DictReader(f))
wanted = {"Program": program, "MAC address": mac, "Maker": maker, "IP address": ip,
          "Result": result, "Keep address": keep, "Protocol": protocol,
          "Interface or relay agent": via}
assert any(all(row[k] == v for k, v in wanted.items()) for row in rows), \
    f"no line {wanted} in the record: {rows}"
printed = {"program": program, "mac": mac, "vendor": maker, "ip": ip, "result": result,
           "keep": keep, "protocol": protocol, "via": via}
events = [json.loads(line) for line in open(history)]
assert any(event["event"] == "assignment" and all(event[k] == v for k, v in printed.items())
           for event in events), f"history does not print {printed}: {events}"
PY
    qnt_fail "the record lacks the line of $*: $(cat "$QNT_RECORD" 2>&1)"
}
