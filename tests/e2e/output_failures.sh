#!/bin/bash
# A write that fails ends the run with its own exit status, 9, and never as a success: serve
# whose log fills a small disk while it answers says so on standard error and frees port 67;
# assign and doctor writing to /dev/full say so too. A reader that goes away (listen | head -n 1
# with SIGPIPE ignored, as under many supervisors) ends listen quietly, and port 67 is free.
# Usage: output_failures.sh <quillnet-cli>
# shellcheck source=netns_lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/netns_lib.sh"

qnt_cli_test "${1:-}"
qnt_init

readonly MAC="02:00:5e:87:00:0a"
qnt_pc_and_device PC DEV 10.87.0.1/24 "$MAC"
readonly FULL="Standard output could not be written: no space left on device."

# Forty listed devices, whose answers' JSON lines do not fit the one page of the disk.
HOSTS="$QNT_TMP/hosts.csv"
requests=()
for ((i = 10; i < 50; i++)); do
  printf '02:00:5e:87:01:%02x,10.87.0.%d,255.255.255.0\n' "$i" "$((i + 100))" >>"$HOSTS"
  requests+=("$(printf '02:00:5e:87:01:%02x' "$i"):300")
done
mkdir "$QNT_TMP/disk"
# The disk is mounted in the namespace of the command that `ip netns exec` runs, and goes
# with it.
qnt_bg "$PC" "$QNT_TMP/serve.out" "$QNT_TMP/serve.err" bash -c \
  'mount -t tmpfs -o size=4k tmpfs "$1" && exec "$2" serve --hosts "$3" --json >"$1/log"' \
  _ "$QNT_TMP/disk" "$CLI" "$HOSTS"
SERVER=$QNT_LAST_PID
# Serving once port 67 is held.
qnt_wait_for 10 bash -c "grep -q ':0043 ' /proc/$SERVER/net/udp" ||
  qnt_fail "the server did not start: $(cat "$QNT_TMP/serve.err")"
ip netns exec "$DEV" python3 "$PEER" send "${requests[@]}"
qnt_wait_exit "$SERVER" 20
qnt_expect_eq "serve with a full disk: exit status" 9 "$QNT_RC"
qnt_expect_eq "serve with a full disk: stderr" "{\"event\":\"error\",\"message\":\"$FULL\"}" \
  "$(cat "$QNT_TMP/serve.err")"

# Port 67 is free again: a new server starts.
qnt_start_listen "$PC" "$QNT_TMP/after.out" "$QNT_TMP/after.err"
kill -TERM "$QNT_LAST_PID"
qnt_wait_exit "$QNT_LAST_PID" 10
qnt_expect_eq "listen after serve: exit status" 0 "$QNT_RC"

for command in "assign $MAC 10.87.0.60 255.255.255.0 --timeout 5" doctor; do
  rc=0
  # shellcheck disable=SC2086
  ip netns exec "$PC" "$CLI" $command >/dev/full 2>"$QNT_TMP/full.err" || rc=$?
  qnt_expect_eq "${command%% *} to /dev/full: exit status" 9 "$rc"
  qnt_expect_eq "${command%% *} to /dev/full: stderr" "$FULL" "$(cat "$QNT_TMP/full.err")"
done

# head ends after the first line; listen, which ignores SIGPIPE and has nothing more to
# write, ends too.
{
  set +e
  ip netns exec "$PC" bash -c "trap '' PIPE; exec \"\$0\" listen" "$CLI" 2>"$QNT_TMP/pipe.err" |
    head -n 1 >"$QNT_TMP/head.out"
  exit "${PIPESTATUS[0]}"
} &
qnt_wait_exit $! 10
qnt_expect_eq "listen | head: exit status" 9 "$QNT_RC"
qnt_expect_eq "listen | head: stderr" "" "$(cat "$QNT_TMP/pipe.err")"
qnt_file_has "$QNT_TMP/head.out" "Listening for BOOTP and DHCP requests" ||
  qnt_fail "head read no line: $(cat "$QNT_TMP/head.out")"
qnt_start_listen "$PC" "$QNT_TMP/last.out" "$QNT_TMP/last.err"
kill -TERM "$QNT_LAST_PID"
qnt_wait_exit "$QNT_LAST_PID" 10

qnt_log "PASS"
