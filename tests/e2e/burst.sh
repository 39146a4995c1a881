#!/bin/bash
# A line of devices powers up together: 300 devices, each with its own MAC address and its own
# row of a hosts file, ask at once, once. quillnet-cli listen records every one of them, and
# serve answers every one of them in that first round, so none has to ask again.
# Usage: burst.sh <quillnet-cli>
# shellcheck source=netns_lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/netns_lib.sh"

qnt_cli_test "${1:-}"
qnt_init

readonly DEVICES=300
CLIENT="$(cd "$(dirname "${BASH_SOURCE[0]}")/../../bench" && pwd)/burst_client.py"
# The client's devices are 02:00:5e:93:xx:xx in 10.93.0.0/16; its own interface has another MAC.
qnt_pc_and_device PC DEV 10.93.0.1/16 02:00:5e:94:00:01
client() { ip netns exec "$DEV" python3 "$CLIENT" "$@"; }

# check <label> <json of the round> <python condition on r>
check() {
  python3 -c 'import json, sys; r = json.loads(sys.argv[1]); sys.exit(0 if eval(sys.argv[2]) else 1)' \
    "$2" "$3" || qnt_fail "$1: $2"
}

qnt_bg "$PC" "$QNT_TMP/listen.out" "$QNT_TMP/listen.err" "$CLI" listen --json
LISTEN=$QNT_LAST_PID
qnt_wait_for 10 qnt_file_has "$QNT_TMP/listen.out" '"event":"listening"' ||
  qnt_fail "listen did not start: $(cat "$QNT_TMP/listen.out" "$QNT_TMP/listen.err")"
round="$(client burst "$DEVICES" 1 --events "$QNT_TMP/listen.out")" ||
  qnt_fail "the burst into listen failed: $round"
check "listen recorded every device, each once" "$round" \
  "r['settled'] and r['recorded'] == $DEVICES and r['counted'] == $DEVICES"
kill -TERM "$LISTEN"
qnt_wait_exit "$LISTEN" 10
((QNT_RC == 0)) || qnt_fail "listen exited $QNT_RC: $(cat "$QNT_TMP/listen.err")"

HOSTS="$QNT_TMP/hosts.csv"
python3 "$CLIENT" hosts quillnet 0 "$DEVICES" >"$HOSTS"
qnt_bg "$PC" "$QNT_TMP/serve.out" "$QNT_TMP/serve.err" "$CLI" serve --hosts "$HOSTS" --json --once
SERVE=$QNT_LAST_PID
qnt_wait_for 10 qnt_file_has "$QNT_TMP/serve.out" '"event":"serving"' ||
  qnt_fail "serve did not start: $(cat "$QNT_TMP/serve.out" "$QNT_TMP/serve.err")"
round="$(client burst "$DEVICES" 1)" || qnt_fail "the burst to serve failed: $round"
check "serve answered every device once, with its own address" "$round" \
  "r['answered'] == $DEVICES and r['duplicates'] == 0 and r['strays'] == 0"
# Every device answered: --once ends the run with 0.
qnt_wait_exit "$SERVE" 10
((QNT_RC == 0)) || qnt_fail "serve --once exited $QNT_RC: $(cat "$QNT_TMP/serve.err")"
qnt_expect_eq "answers reported" "$DEVICES" "$(grep -c '"event":"sent"' "$QNT_TMP/serve.out")"

qnt_log "PASS"
