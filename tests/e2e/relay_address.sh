#!/bin/bash
# A request whose relay agent address (giaddr) no relay agent can have is dropped and counted,
# never answered: this PC's own address, loopback, multicast, the limited broadcast, and the
# network and broadcast addresses of this PC's network. The same listed device asking
# directly right after them is answered, and its reply is the first datagram to leave port 67.
# Usage: relay_address.sh <quillnet-cli>
# shellcheck source=netns_lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/netns_lib.sh"

qnt_cli_test "${1:-}"
qnt_init

readonly MAC="02:00:5e:86:00:0a"
qnt_pc_and_device PC DEV 10.86.0.1/24 "$MAC"
echo "$MAC,10.86.0.50,255.255.255.0" >"$QNT_TMP/hosts.csv"

OUT="$QNT_TMP/serve.out"
ERR="$QNT_TMP/serve.err"
qnt_bg "$PC" "$OUT" "$ERR" "$CLI" serve --hosts "$QNT_TMP/hosts.csv" --json
SERVER=$QNT_LAST_PID
qnt_wait_for 10 qnt_file_has "$OUT" '"event":"serving"' ||
  qnt_fail "the server did not start: $(cat "$OUT" "$ERR")"

# Every datagram this PC sends from port 67, whichever interface, loopback included.
FRAMES="$QNT_TMP/frames.out"
qnt_bg "$PC" "$FRAMES" "$QNT_TMP/frames.err" python3 "$PEER" frames 1 20
CAPTURE=$QNT_LAST_PID
qnt_wait_for 10 qnt_file_has "$FRAMES" "ready" ||
  qnt_fail "the capture did not start: $(cat "$QNT_TMP/frames.err")"

readonly SPOOFED=(10.86.0.1 127.0.0.1 224.0.0.9 255.255.255.255 10.86.0.0 10.86.0.255)
requests=()
for giaddr in "${SPOOFED[@]}"; do requests+=("$MAC:300@$giaddr"); done
ip netns exec "$DEV" python3 "$PEER" send "${requests[@]}" "$MAC:300"

qnt_wait_exit "$CAPTURE" 30
qnt_expect_eq "capture exit status" 0 "$QNT_RC"
grep -q " 10\.86\.0\.1:67 > 255\.255\.255\.255:68 " "$FRAMES" ||
  qnt_fail "the first datagram from port 67 is not the broadcast reply: $(cat "$FRAMES")"
qnt_wait_for 10 qnt_file_has "$OUT" '"event":"sent"' || qnt_fail "no reply reported: $(cat "$OUT")"

kill -TERM "$SERVER"
qnt_wait_exit "$SERVER" 10
qnt_expect_eq "serve exit status" 0 "$QNT_RC"
python3 - "$OUT" "$ERR" "$MAC" "${#SPOOFED[@]}" <<'PY' || qnt_fail "output: $(cat "$OUT" "$ERR")"
import json, sys
out = [json.loads(line) for line in open(sys.argv[1])]
err = [json.loads(line) for line in open(sys.argv[2])]
mac, spoofed = sys.argv[3], int(sys.argv[4])
sent = [line for line in out if line["event"] == "sent"]
assert len(sent) == 1 and sent[0]["mac"] == mac and "relay" not in sent[0], sent
drops = [line for line in err if line.get("kind") == "relay"]
assert drops and all(line["event"] == "warning" for line in drops), err
# Said as they came, and counted whole by the end of the run.
assert sum(line["count"] for line in drops) == spoofed, drops
assert drops[-1]["total"] == spoofed and drops[-1]["mac"] == mac, drops
assert drops[0]["message"].startswith("Warning: dropped "), drops
reasons = {"10.86.0.1": "this PC's own address", "127.0.0.1": "a loopback address",
           "224.0.0.9": "a multicast address", "255.255.255.255": "the limited broadcast address",
           "10.86.0.0": "the network address of this PC's network 10.86.0.0/24",
           "10.86.0.255": "the broadcast address of this PC's network 10.86.0.0/24"}
for line in drops:
    assert reasons[line["relay"]] == line["reason"], line
PY

qnt_log "PASS"
