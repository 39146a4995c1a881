#!/bin/bash
# While one server holds UDP port 67, a second one (listen or assign) fails to start with the
# program's own text and exit status 4, and the first keeps serving. Once the first has ended,
# the port is free again.
# Usage: second_server.sh <quillnet-cli>
# shellcheck source=netns_lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/netns_lib.sh"

qnt_cli_test "${1:-}"
qnt_init

readonly MAC="02:00:5e:83:00:0c"
EXPECTED_TEXT="$(printf 'Bootp Server Startup failed. There is already a Bootp Server running \n\tPlease close your other Bootp Server and restart this tool.\n_')"
EXPECTED_TEXT="${EXPECTED_TEXT%_}"

qnt_pc_and_device PC DEV 10.83.0.1/24 "$MAC"

FIRST_OUT="$QNT_TMP/first.out"
FIRST_ERR="$QNT_TMP/first.err"
qnt_start_listen "$PC" "$FIRST_OUT" "$FIRST_ERR"
FIRST=$QNT_LAST_PID

# second_start <label> <cli arguments...>: must exit 4 with exactly the text on stderr.
second_start() {
  local label="$1"
  shift
  local out="$QNT_TMP/$label.out" err="$QNT_TMP/$label.err" rc=0
  timeout 10 ip netns exec "$PC" "$CLI" "$@" >"$out" 2>"$err" || rc=$?
  qnt_expect_eq "$label exit status" 4 "$rc"
  local text
  text="$(cat "$err"; echo _)"
  text="${text%_}"
  qnt_expect_eq "$label stderr" "$EXPECTED_TEXT" "$text"
  qnt_file_has "$out" "Waiting for a BOOTP request" && qnt_fail "$label claims to be waiting"
  return 0
}
second_start listen listen
second_start assign assign 02:00:5e:83:00:0d 10.83.0.50 255.255.255.0 10.83.0.1 --timeout 5

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
