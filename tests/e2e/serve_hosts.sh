#!/bin/bash
# quillnet-cli serve commissions two devices from one hosts file: two real BOOTP clients behind
# one bridge each take their own row, the answers are reported as they went out (text and
# JSON), a device not in the file gets nothing, and --once ends the run with 0 once every row
# has been answered, but with 6 when interrupted before that, by Ctrl+C or by SIGHUP (a closed
# terminal) alike. A FIFO whose writer comes after serve opened it is read once it comes. A row
# with this PC's own address refuses the file. Each answer leaves its line in the commissioning
# record, which `history` prints.
# Usage: serve_hosts.sh <quillnet-cli>
# shellcheck source=netns_lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/netns_lib.sh"

qnt_cli_test "${1:-}" bootpc
qnt_init

readonly MAC_A="02:00:5e:84:00:0a"
readonly MAC_B="02:00:5e:84:00:0b"
readonly MAC_C="02:00:5e:84:00:0c"
qnt_pc_bridge PC 10.84.0.1/24
qnt_make_ns DEV_A deva
qnt_make_ns DEV_B devb
qnt_bridge_port "$PC" pa "$DEV_A" da
qnt_bridge_port "$PC" pb "$DEV_B" db
qnt_device "$DEV_A" da "$MAC_A"
qnt_device "$DEV_B" db "$MAC_B"

HOSTS="$QNT_TMP/hosts.csv"
# The MAC forms `ip link` and Windows print, a header, a comment and a row without a gateway.
cat >"$HOSTS" <<CSV
MAC,IP,MASK,GATEWAY
# the bench's two units
${MAC_A^^},10.84.0.50,255.255.255.0,10.84.0.1
${MAC_B//:/-},10.84.0.60,255.255.0.0
CSV

# serve_run <label> <text once serving> <extra arguments...>: serve in the background until it
# is serving; its pid in $QNT_LAST_PID.
serve_run() {
  local label="$1" ready="$2"
  shift 2
  qnt_bg "$PC" "$QNT_TMP/$label.out" "$QNT_TMP/$label.err" "$CLI" serve --hosts "$HOSTS" "$@"
  qnt_wait_for 10 qnt_file_has "$QNT_TMP/$label.out" "$ready" ||
    qnt_fail "$label: the server did not start: $(cat "$QNT_TMP/$label.out" "$QNT_TMP/$label.err")"
}

# bootpc_on <label> <ns> <if>: one real client run, which must be answered.
bootpc_on() {
  local rc=0
  ip netns exec "$2" bootpc --dev "$3" --returniffail --timeoutwait 5 \
    >"$QNT_TMP/$1.bootpc" 2>"$QNT_TMP/$1.bootpc.err" || rc=$?
  ((rc == 0)) || qnt_fail "$1: bootpc got no answer (exit $rc): $(cat "$QNT_TMP/$1.bootpc.err")"
}

serve_run once "Serving 2 devices" --once --timeout 30
SERVER=$QNT_LAST_PID

# A device that is not listed asks first and is not answered.
CATCH="$QNT_TMP/unlisted.catch"
qnt_bg "$DEV_A" "$CATCH" "$CATCH.err" python3 "$PEER" catch 1
CATCHER=$QNT_LAST_PID
qnt_wait_for 10 qnt_file_has "$CATCH" "ready" || qnt_fail "catcher not ready: $(cat "$CATCH.err")"
ip netns exec "$DEV_B" python3 "$PEER" send "$MAC_C:300"
qnt_wait_exit "$CATCHER" 10
((QNT_RC != 0)) || qnt_fail "a device not in the file was answered: $(cat "$CATCH")"

bootpc_on a "$DEV_A" da
qnt_running "$SERVER" || qnt_fail "--once ended before every row was answered"
bootpc_on b "$DEV_B" db
qnt_expect_eq "device A IPADDR" 10.84.0.50 "$(qnt_bootpc_value "$QNT_TMP/a.bootpc" IPADDR)"
qnt_expect_eq "device A NETMASK" 255.255.255.0 "$(qnt_bootpc_value "$QNT_TMP/a.bootpc" NETMASK)"
qnt_expect_eq "device A GATEWAYS" 10.84.0.1 "$(qnt_bootpc_value "$QNT_TMP/a.bootpc" GATEWAYS)"
qnt_expect_eq "device B IPADDR" 10.84.0.60 "$(qnt_bootpc_value "$QNT_TMP/b.bootpc" IPADDR)"
qnt_expect_eq "device B NETMASK" 255.255.0.0 "$(qnt_bootpc_value "$QNT_TMP/b.bootpc" NETMASK)"
qnt_expect_eq "device B GATEWAYS" 0.0.0.0 "$(qnt_bootpc_value "$QNT_TMP/b.bootpc" GATEWAYS)"

qnt_wait_exit "$SERVER" 10
qnt_expect_eq "serve --once exit status" 0 "$QNT_RC"
OUT="$QNT_TMP/once.out"
grep -qE "^[0-9]{2}:[0-9]{2}:[0-9]{2}  Sent to $MAC_A: IP address 10\.84\.0\.50, subnet mask 255\.255\.255\.0, default gateway 10\.84\.0\.1 \(through br0\)$" "$OUT" ||
  qnt_fail "no line for device A: $(cat "$OUT")"
qnt_file_has "$OUT" "Sent to $MAC_B: IP address 10.84.0.60, subnet mask 255.255.0.0, default gateway 0.0.0.0 (through br0)" ||
  qnt_fail "no line for device B: $(cat "$OUT")"
qnt_file_has "$OUT" "$MAC_C" && qnt_fail "the unlisted device was reported: $(cat "$OUT")"
# Unchecked, a BOOTP device's answer is its outcome.
readonly MAKER="locally administered"
qnt_expect_recorded "$CLI" "quillnet-cli serve" "$MAC_A" "$MAKER" 10.84.0.50 "not confirmed" "" \
  BOOTP br0
qnt_expect_recorded "$CLI" "quillnet-cli serve" "$MAC_B" "$MAKER" 10.84.0.60 "not confirmed" "" \
  BOOTP br0

# With --json every answer is one JSON object; SIGTERM ends the run with 0.
serve_run json '"event":"serving"' --json
SERVER=$QNT_LAST_PID
bootpc_on json "$DEV_B" db
qnt_wait_for 10 qnt_file_has "$QNT_TMP/json.out" "\"mac\":\"$MAC_B\"" ||
  qnt_fail "no JSON line for the answer: $(cat "$QNT_TMP/json.out")"
kill -TERM "$SERVER"
qnt_wait_exit "$SERVER" 10
qnt_expect_eq "serve exit status after SIGTERM" 0 "$QNT_RC"
python3 - "$QNT_TMP/json.out" "$MAC_B" <<'PY' || qnt_fail "JSON output: $(cat "$QNT_TMP/json.out")"
import json, sys
lines = [json.loads(line) for line in open(sys.argv[1])]
assert lines[0] == {"event": "serving", "devices": 2, "file": lines[0]["file"]}, lines[0]
sent = [line for line in lines if line["event"] == "sent"]
assert len(sent) == 1 and sent[0]["mac"] == sys.argv[2], sent
assert (sent[0]["ip"], sent[0]["mask"], sent[0]["gateway"], sent[0]["interfaces"],
        sent[0]["interfaceNames"]) == ("10.84.0.60", "255.255.0.0", "0.0.0.0", 1, ["br0"]), sent
PY

# --once interrupted after one of two answers: not a success.
serve_run interrupted "Serving 2 devices" --once
SERVER=$QNT_LAST_PID
bootpc_on interrupted "$DEV_A" da
qnt_wait_for 10 qnt_file_has "$QNT_TMP/interrupted.out" "Sent to $MAC_A" ||
  qnt_fail "no line for the answer: $(cat "$QNT_TMP/interrupted.out")"
kill -INT "$SERVER"
qnt_wait_exit "$SERVER" 10
qnt_expect_eq "serve --once exit status after Ctrl+C" 6 "$QNT_RC"
qnt_expect_eq "serve --once stderr after Ctrl+C" "Interrupted: answered 1 of 2 devices." \
  "$(cat "$QNT_TMP/interrupted.err")"
# One line per answer: two in the first run, one each in the JSON run and this one.
qnt_expect_eq "lines in the record" 4 "$(grep -c "quillnet-cli serve" "$QNT_RECORD")"

# SIGHUP, a closed terminal, ends the run as Ctrl+C does, with its summary.
serve_run hangup "Serving 2 devices" --once
SERVER=$QNT_LAST_PID
kill -HUP "$SERVER"
qnt_wait_exit "$SERVER" 10
qnt_expect_eq "serve --once exit status after SIGHUP" 6 "$QNT_RC"
qnt_expect_eq "serve --once stderr after SIGHUP" "Interrupted: answered 0 of 2 devices." \
  "$(cat "$QNT_TMP/hangup.err")"

# A FIFO whose writer comes once serve has it open: serve waits for the writer, reads its rows
# and serves them.
FIFO="$QNT_TMP/hosts.fifo"
mkfifo "$FIFO"
qnt_bg "$PC" "$QNT_TMP/fifo.out" "$QNT_TMP/fifo.err" "$CLI" serve --hosts "$FIFO" --timeout 30
SERVER=$QNT_LAST_PID
qnt_wait_for 10 bash -c "ls -l /proc/$SERVER/fd | grep -qF '$FIFO'" ||
  qnt_fail "serve did not open the FIFO: $(cat "$QNT_TMP/fifo.err")"
qnt_running "$SERVER" || qnt_fail "serve did not wait for the FIFO's writer: $(cat "$QNT_TMP/fifo.err")"
cat "$HOSTS" >"$FIFO"
qnt_wait_for 10 qnt_file_has "$QNT_TMP/fifo.out" "Serving 2 devices from $FIFO" ||
  qnt_fail "the FIFO's rows were not served: $(cat "$QNT_TMP/fifo.out" "$QNT_TMP/fifo.err")"
kill -TERM "$SERVER"
qnt_wait_exit "$SERVER" 10
qnt_expect_eq "serve from a FIFO: exit status after SIGTERM" 0 "$QNT_RC"

# One device is one; no request within the timeout ends with 6.
echo "$MAC_A,10.84.0.50,255.255.255.0" >"$QNT_TMP/one.csv"
rc=0
ip netns exec "$PC" "$CLI" serve --hosts "$QNT_TMP/one.csv" --timeout 0.2 \
  >"$QNT_TMP/one.out" 2>"$QNT_TMP/one.err" || rc=$?
qnt_expect_eq "one device, timeout: exit status" 6 "$rc"
qnt_expect_eq "one device, timeout: stdout" \
  "Serving 1 device from $QNT_TMP/one.csv on UDP port 67; Ctrl+C ends." "$(cat "$QNT_TMP/one.out")"
qnt_expect_eq "one device, timeout: stderr" "0 of 1 device answered within 0.2 seconds." \
  "$(cat "$QNT_TMP/one.err")"

# The PC's own address on a row refuses the file before anything is served.
printf '%s,10.84.0.50,255.255.255.0\n%s,10.84.0.1,255.255.255.0\n' "$MAC_A" "$MAC_B" \
  >"$QNT_TMP/own.csv"
rc=0
ip netns exec "$PC" "$CLI" serve --hosts "$QNT_TMP/own.csv" >"$QNT_TMP/own.out" 2>"$QNT_TMP/own.err" ||
  rc=$?
qnt_expect_eq "own address: exit status" 3 "$rc"
qnt_expect_eq "own address: stderr" \
  "$QNT_TMP/own.csv line 2: IP address 10.84.0.1 is in use by this PC's interface br0. Give the device another address." \
  "$(cat "$QNT_TMP/own.err")"

qnt_log "PASS"
