#!/bin/bash
# While one server holds UDP port 67, a second one (listen, assign or serve) fails to start with
# exit status 4, naming the first by program name and pid as doctor does (text and JSON), and
# the first keeps serving. Once the first has ended, the port is free again.
# Usage: second_server.sh <quillnet-cli>
# shellcheck source=netns_lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/netns_lib.sh"

qnt_cli_test "${1:-}"
qnt_init

readonly MAC="02:00:5e:83:00:0c"

qnt_pc_and_device PC DEV 10.83.0.1/24 "$MAC"

FIRST_OUT="$QNT_TMP/first.out"
FIRST_ERR="$QNT_TMP/first.err"
qnt_start_listen "$PC" "$FIRST_OUT" "$FIRST_ERR"
FIRST=$QNT_LAST_PID
IN_USE="UDP port 67 is in use by quillnet-cli (pid $FIRST); stop it, then run this again. quillnet-cli doctor checks this PC."
HOSTS="$QNT_TMP/hosts.csv"
echo "02:00:5e:83:00:0d,10.83.0.50,255.255.255.0" >"$HOSTS"

# second_start <label> <expected stderr line> <cli arguments...>: must exit 4 with exactly that.
second_start() {
  local label="$1" expected="$2"
  shift 2
  local out="$QNT_TMP/$label.out" err="$QNT_TMP/$label.err" rc=0
  timeout 10 ip netns exec "$PC" "$CLI" "$@" >"$out" 2>"$err" || rc=$?
  qnt_expect_eq "$label exit status" 4 "$rc"
  local text
  text="$(cat "$err"; echo _)"
  text="${text%_}"
  qnt_expect_eq "$label stderr" "$expected"$'\n' "$text"
  qnt_file_has "$out" "Waiting for a BOOTP or DHCP request" && qnt_fail "$label claims to be waiting"
  return 0
}
second_start listen "$IN_USE" listen
second_start assign "$IN_USE" assign 02:00:5e:83:00:0d 10.83.0.50 255.255.255.0 10.83.0.1 --timeout 5
second_start serve "{\"event\":\"error\",\"message\":\"$IN_USE\"}" serve --hosts "$HOSTS" --json

# The first server still records requests.
ip netns exec "$DEV" python3 "$PEER" send "$MAC:300"
qnt_wait_for 10 qnt_file_has "$FIRST_OUT" "$MAC  count 1" ||
  qnt_fail "the first server stopped recording: $(cat "$FIRST_OUT" "$FIRST_ERR")"
qnt_running "$FIRST" || qnt_fail "the first server ended"

kill -INT "$FIRST"
qnt_wait_exit "$FIRST" 10
qnt_expect_eq "first server exit status" 0 "$QNT_RC"
qnt_expect_eq "first server stderr" "" "$(cat "$FIRST_ERR")"

# The port is free again: a new server starts.
qnt_start_listen "$PC" "$QNT_TMP/third.out" "$QNT_TMP/third.err"
THIRD=$QNT_LAST_PID
kill -TERM "$THIRD"
qnt_wait_exit "$THIRD" 10
qnt_expect_eq "third server exit status" 0 "$QNT_RC"

qnt_log "PASS"
