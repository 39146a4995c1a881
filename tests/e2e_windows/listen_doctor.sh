#!/bin/bash
# quillnet-cli.exe listen and doctor under Wine: doctor names the adapters replies leave
# through; listen --json lists a real BOOTP client without answering it; while listen holds
# port 67, doctor fails naming it with its Windows process id, and assign cannot start and
# says who holds the port. Ctrl+C ends listen with 0.
# Usage: listen_doctor.sh <quillnet-cli.exe>
# shellcheck source=wine_lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/wine_lib.sh"

qnw_cli_test "${1:-}" bootpc

readonly MAC="02:00:5e:92:00:02"
qnt_pc_and_device PC DEV 10.92.0.1/24 "$MAC"
# A second network on the PC, with nobody on it.
qnt_make_ns FAR far
qnt_veth "$PC" pc1 "$FAR" far0
ip -n "$PC" addr add 10.93.0.1/24 dev pc1
ip -n "$PC" link set pc1 up
ip -n "$FAR" link set far0 up
qnw_start_wine "$PC"

qnw_run "$PC" free doctor
((QNW_RC == 0)) || qnt_fail "doctor with the port free exited $QNW_RC: $(qnw_text "$QNT_TMP/free.out")"
qnw_expect_line "$QNT_TMP/free.out" "OK    port 67: free"
qnw_expect_line "$QNT_TMP/free.out" \
  "OK    interfaces: replies leave through pc0 10.92.0.1 (up, broadcast), pc1 10.93.0.1 (up, broadcast)"

qnw_bg "$PC" listen listen --json
LISTEN=$QNT_LAST_PID
qnt_wait_for 20 qnt_file_has "$QNT_TMP/listen.out" '"event":"listening"' ||
  qnt_fail "listen did not start: $(qnw_text "$QNT_TMP/listen.out") $(qnw_text "$QNT_TMP/listen.err")"

# bootpc asks and, as listen only lists, gets no answer.
rc=0
ip netns exec "$DEV" bootpc --dev dev0 --returniffail --timeoutwait 2 \
  >"$QNT_TMP/bootpc.out" 2>&1 || rc=$?
((rc != 0)) || qnt_fail "listen answered bootpc: $(cat "$QNT_TMP/bootpc.out")"
qnt_wait_for 10 qnt_file_has "$QNT_TMP/listen.out" "\"mac\":\"$MAC\"" ||
  qnt_fail "listen did not list the device: $(qnw_text "$QNT_TMP/listen.out")"
python3 - "$QNT_TMP/listen.out" "$MAC" <<'EOF' || qnt_fail "listen: $(qnw_text "$QNT_TMP/listen.out")"
import json, sys
events = [json.loads(line) for line in open(sys.argv[1])]
assert events[0] == {"event": "listening"}, events
requests = [e for e in events if e["event"] == "request"]
assert requests and all(e["mac"] == sys.argv[2] for e in requests), requests
first = requests[0]
assert (first["count"], first["type"], first["valid"]) == (1, "BOOTP", True), first
EOF

# The Windows process id of the holder, as Wine's own debugger lists it.
HOLDER_PIDS="$(qnw_windows_pids "$PC" quillnet-cli.exe)"
[[ "$HOLDER_PIDS" =~ ^[0-9]+$ ]] || qnt_fail "not one quillnet-cli.exe running: '$HOLDER_PIDS'"

qnw_run "$PC" taken doctor
qnt_expect_eq "doctor exit status with the port held" 1 "$QNW_RC"
qnw_expect_line "$QNT_TMP/taken.out" \
  "FAIL  port 67: held by quillnet-cli.exe (pid $HOLDER_PIDS). Only one BOOTP or DHCP server can hold it: stop that program first."

qnw_run "$PC" second assign "$MAC" 10.92.0.50 255.255.255.0 --timeout 5 --confirm 0
qnt_expect_eq "assign exit status with the port held" 4 "$QNW_RC"
qnw_text "$QNT_TMP/second.err" | grep -qF "UDP port 67 is in use by quillnet-cli.exe (pid $HOLDER_PIDS); stop it, then run this again." ||
  qnt_fail "assign did not name the holder: $(qnw_text "$QNT_TMP/second.err")"

qnt_running "$LISTEN" || qnt_fail "doctor or assign disturbed listen: $(qnw_text "$QNT_TMP/listen.err")"
kill -INT "$LISTEN"
qnt_wait_exit "$LISTEN" 10
qnt_expect_eq "listen exit status after Ctrl+C" 0 "$QNT_RC"

qnt_log "PASS"
