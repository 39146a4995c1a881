#!/bin/bash
# A datagram longer than the 1024-byte receive buffer is not read as a request, even though its
# first bytes look like one, and listen warns of it while it runs and goes on; a datagram of
# exactly 1024 bytes and a plain 300-byte request sent after it from the same socket are
# recorded.
# Usage: oversize_datagram.sh <quillnet-cli>
# shellcheck source=netns_lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/netns_lib.sh"

qnt_cli_test "${1:-}"
qnt_init

readonly MAC_OVERSIZE="02:00:5e:84:00:01"
readonly MAC_FULL="02:00:5e:84:00:02"
readonly MAC_PLAIN="02:00:5e:84:00:03"

qnt_pc_and_device PC DEV 10.84.0.1/24 "$MAC_PLAIN"

OUT="$QNT_TMP/listen.out"
ERR="$QNT_TMP/listen.err"
qnt_start_listen "$PC" "$OUT" "$ERR"
LISTEN=$QNT_LAST_PID

ip netns exec "$DEV" python3 "$PEER" send "$MAC_OVERSIZE:1025" "$MAC_FULL:1024" "$MAC_PLAIN:300"

# The datagrams arrive in order, so once the last one is in the table the others were handled.
qnt_wait_for 10 qnt_file_has "$OUT" "$MAC_PLAIN  count 1" ||
  qnt_fail "the 300-byte request was not recorded: $(cat "$OUT" "$ERR")"
qnt_file_has "$OUT" "$MAC_FULL  count 1" || qnt_fail "the 1024-byte request was not recorded: $(cat "$OUT")"
qnt_file_has "$OUT" "$MAC_OVERSIZE" && qnt_fail "the 1025-byte datagram was recorded: $(cat "$OUT")"
readonly OVERSIZE="Warning: a datagram longer than 1024 bytes came to UDP port 67 and was dropped: no BOOTP or DHCP request is that long."
qnt_wait_for 10 qnt_file_has "$ERR" "$OVERSIZE" || qnt_fail "no warning while running: $(cat "$ERR")"
qnt_running "$LISTEN" || qnt_fail "the server ended: $(cat "$ERR")"

kill -INT "$LISTEN"
qnt_wait_exit "$LISTEN" 10
qnt_expect_eq "listen exit status" 0 "$QNT_RC"
# Said once, as it happened, and not again at the end.
qnt_expect_eq "listen stderr" "$OVERSIZE" "$(cat "$ERR")"
# Exactly one line per device: nothing else was taken for a request.
qnt_expect_eq "table lines" 2 "$(grep -c "count" "$OUT")"

qnt_log "PASS"
