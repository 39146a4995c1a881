#!/bin/bash
# One server process answers a device again and again while a second PC interface gains an
# address, loses it and gains another. The reply must follow: it leaves through that
# interface, from its current address, once the address is there, and no reply tries the
# interface once the address is gone (a server on stale routes fails to bind the old address
# and says so in its message). The server reads its routes once and then only follows the
# kernel's notifications, so a reply that never follows a change fails this test.
# Usage: routes_follow_addresses.sh <reply_server>
# shellcheck source=netns_lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/netns_lib.sh"

SERVER="${1:?usage: $0 <reply_server>}"
[[ -x "$SERVER" ]] || qnt_fail "not an executable: $SERVER"
command -v python3 >/dev/null || qnt_fail "python3 is not installed"
PEER="$(dirname "${BASH_SOURCE[0]}")/bootp_peer.py"
qnt_init

readonly MAC="02:00:5e:93:00:01"
readonly IP="10.93.0.50"
# A change reaches the server's routes within milliseconds; this only bounds a server that
# never follows.
readonly ATTEMPTS=50
qnt_pc_and_device PC DEV 10.93.0.1/24 "$MAC"
# pc1 leads to a namespace with no device, where only the copies of the reply arrive.
qnt_make_ns WATCH watch
qnt_veth "$PC" pc1 "$WATCH" w0
ip -n "$PC" link set pc1 up
ip -n "$WATCH" link set w0 up

OUT="$QNT_TMP/server.out"
qnt_bg "$PC" "$OUT" "$QNT_TMP/server.err" "$SERVER" "$MAC" "$IP" 255.255.255.0 10.93.0.1 1000 50
SERVER_PID=$QNT_LAST_PID
qnt_wait_for 10 qnt_file_has "$OUT" "armed 0" ||
  qnt_fail "the server did not start: $(cat "$OUT" "$QNT_TMP/server.err")"

ASKED=0
# ask: the device sends one request and the server answers it; ANSWER holds its report line.
ask() {
  ASKED=$((ASKED + 1))
  ip netns exec "$DEV" python3 "$PEER" send "$MAC:300"
  qnt_wait_for 10 qnt_file_has "$OUT" "answered $ASKED " ||
    qnt_fail "request $ASKED was not answered: $(cat "$OUT" "$QNT_TMP/server.err")"
  ANSWER="$(grep "^answered $ASKED " "$OUT")"
  [[ "$ANSWER" == "answered $ASKED sent 1 "* ]] ||
    qnt_fail "reply $ASKED did not reach the device's interface: $ANSWER"
}

# catch_copy <label>: a listener on the watch side for the next copy that leaves pc1.
catch_copy() {
  CATCH="$QNT_TMP/$1.catch"
  qnt_bg "$WATCH" "$CATCH" "$CATCH.err" python3 "$PEER" catch 30
  CATCHER=$QNT_LAST_PID
  qnt_wait_for 10 qnt_file_has "$CATCH" "ready" || qnt_fail "$1: catcher not ready: $(cat "$CATCH.err")"
}

# ask_until_copy <label> <pc1 address>: asks until a copy arrives on the watch side; the first
# one must come from pc1's current address.
ask_until_copy() {
  local attempt
  for ((attempt = 0; attempt < ATTEMPTS; attempt++)); do
    ask
    [[ "$ANSWER" == *"message " ]] || qnt_fail "$1: reply $ASKED reported a failure: $ANSWER"
    qnt_file_has "$CATCH" "from " && break
  done
  qnt_wait_exit "$CATCHER" 10
  ((QNT_RC == 0)) || qnt_fail "$1: no copy left pc1 in $ATTEMPTS replies"
  qnt_expect_eq "$1: the copy through pc1" \
    "from $2:67 len 1024 op 2 chaddr $MAC yiaddr $IP" "$(tail -n 1 "$CATCH")"
}

# pc1 has no address: the reply leaves through pc0 only, and cleanly.
catch_copy added
ask
qnt_expect_eq "reply with pc1 bare" "answered $ASKED sent 1 message " "$ANSWER"

ip -n "$PC" addr add 10.94.0.1/24 dev pc1
ask_until_copy added 10.94.0.1

# Removed: a reply on the old routes would try 10.94.0.1, fail to bind it and report that.
ip -n "$PC" addr del 10.94.0.1/24 dev pc1
catch_copy changed
clean=0
for ((attempt = 0; attempt < ATTEMPTS && !clean; attempt++)); do
  ask
  [[ "$ANSWER" == *"message " ]] && clean=1
done
((clean)) || qnt_fail "every reply still tried the removed address: $ANSWER"
# Nothing left pc1 while it had no address: the first copy there comes from its next one.
ip -n "$PC" addr add 10.94.0.2/24 dev pc1
ask_until_copy changed 10.94.0.2

# The server, its route watcher with it, ends promptly on a signal.
kill -TERM "$SERVER_PID"
qnt_wait_exit "$SERVER_PID" 10
((QNT_RC == 6)) || qnt_fail "the server exited $QNT_RC on SIGTERM: $(cat "$QNT_TMP/server.err")"

qnt_log "PASS"
