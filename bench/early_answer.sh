#!/bin/bash
# How soon arming configures a device that asked a while ago, through network namespaces: the
# real client bootpc asks from a device namespace, the bench's early answer server hears its
# first request in a pc namespace, is armed 10 s later (by default), and the time from arming
# to bootpc's exit with the address it was given is taken.
#
#   bench/early_answer.sh [RUNS] [BUILD_DIR] [ARM_AFTER_S]
#
# Two modes take turns, each in new namespaces with a new bootpc:
#   kept   the server that heard the device is armed and answers its latest request at once;
#   fresh  a new server, which has heard nothing, is armed in its place and answers the
#          device's next retry: what arming did before requests were kept.
# Prints each run and, per mode, the median, minimum and maximum. A run in which bootpc did
# not print the address it was given fails the script rather than count.
#
# RUNS: per mode, default 5. BUILD_DIR: default build-bench at the top of the checkout,
# configured with -DQUILLNET_BENCH=ON and built (bench/early_answer_server). Builds nothing.
# ARM_AFTER_S: seconds from the device's first request to the arming, default 10; 2 arms
# before bootpc's first retry, for a short run.
# Needs root (network namespaces) and bootpc (Debian package bootpc).
# shellcheck source=../tests/e2e/netns_lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/../tests/e2e/netns_lib.sh"

RUNS="${1:-5}"
BUILD="${2:-$(dirname "${BASH_SOURCE[0]}")/../build-bench}"
ARM_AFTER_S="${3:-10}"
SERVER="$BUILD/bench/early_answer_server"
if ! [[ "$RUNS" =~ ^[0-9]+$ ]] || ((RUNS < 1)); then
  qnt_fail "RUNS must be a positive number"
fi
if ! [[ "$ARM_AFTER_S" =~ ^[0-9]+$ ]] || ((ARM_AFTER_S < 1)); then
  qnt_fail "ARM_AFTER_S must be a positive number of seconds"
fi
[[ -x "$SERVER" ]] ||
  qnt_fail "$SERVER not found: configure $BUILD with -DQUILLNET_BENCH=ON and build it"
command -v bootpc >/dev/null || qnt_fail "bootpc is not installed (Debian package bootpc)"
qnt_init

readonly MAC="02:00:5e:91:00:01"
readonly IP="10.92.0.50"
readonly MASK="255.255.255.0"
readonly GATEWAY="10.92.0.1"
# bootpc gives up this long after its first request; its retries come ever further apart.
readonly BOOTPC_WAIT_S=60

# EPOCHREALTIME in ns, on the clock the server prints (CLOCK_REALTIME). It is read by the shell
# itself, so taking it forks nothing.
now_ns() {
  local t="$EPOCHREALTIME"
  echo "${t%[.,]*}${t#*[.,]}000"
}

# The number on the server's first line starting with the word.
server_time() { awk -v w="$2" '$1 == w { print $2; exit }' "$1"; }

ms() { awk -v ns="$1" 'BEGIN { printf "%.1f", ns / 1e6 }'; }
secs() { awk -v ns="$1" 'BEGIN { printf "%.3f", ns / 1e9 }'; }

# run <mode> <number>: one bootpc against one server, in namespaces of their own; appends the
# time from arming to bootpc's exit (ns) to $QNT_TMP/<mode>.times.
run() {
  local mode="$1" number="$2" pc dev
  local tag="$mode$number"
  qnt_make_ns pc "pc-$tag"
  qnt_make_ns dev "dev-$tag"
  qnt_veth "$pc" pc0 "$dev" dev0
  ip -n "$pc" addr add 10.92.0.1/24 dev pc0
  ip -n "$pc" link set pc0 up
  qnt_device "$dev" dev0 "$MAC"

  local out="$QNT_TMP/$tag.server" err="$QNT_TMP/$tag.server.err"
  local bootpc_out="$QNT_TMP/$tag.bootpc" bootpc_err="$QNT_TMP/$tag.bootpc.err"
  qnt_bg "$pc" "$out" "$err" "$SERVER" "$mode" "$MAC" "$IP" "$MASK" "$GATEWAY" "$ARM_AFTER_S"
  local server=$QNT_LAST_PID
  qnt_wait_for 10 qnt_file_has "$out" listening ||
    qnt_fail "$tag: the server did not start: $(cat "$out" "$err")"

  local started rc=0 ended
  started=$(now_ns)
  ip netns exec "$dev" bootpc --dev dev0 --returniffail --timeoutwait "$BOOTPC_WAIT_S" \
    >"$bootpc_out" 2>"$bootpc_err" || rc=$?
  ended=$(now_ns)

  kill -TERM "$server" 2>/dev/null || true
  qnt_wait_exit "$server" 10
  ((rc == 0)) || qnt_fail "$tag: bootpc got no answer (exit $rc): $(cat "$bootpc_err" "$out")"
  qnt_expect_eq "$tag: bootpc's IPADDR" "$IP" "$(qnt_bootpc_value "$bootpc_out" IPADDR)"
  ((QNT_RC == 0)) || qnt_fail "$tag: the server exited $QNT_RC: $(cat "$err" "$out")"

  local heard armed answered replies
  heard=$(server_time "$out" heard)
  armed=$(server_time "$out" armed)
  answered=$(server_time "$out" answered)
  replies=$(grep -c '^reply .* armed 1 ' "$out" || true)
  [[ -n "$armed" && -n "$answered" ]] || qnt_fail "$tag: the server did not answer: $(cat "$out")"
  ((armed < ended)) || qnt_fail "$tag: bootpc was configured before the arming: $(cat "$out")"
  echo "$((ended - armed))" >>"$QNT_TMP/$mode.times"
  # Times in s since the device's first request.
  local asked
  asked=$(awk -v t0="$heard" '$1 == "heard" || $1 == "request" {
    printf "%s%.3f", n++ ? " " : "", ($2 - t0) / 1e9 }' "$out")
  printf '%-5s run %d: requests at %s s, armed at %s s, armed reply at %s s;' "$mode" "$number" \
    "$asked" "$(secs $((armed - heard)))" "$(secs $((answered - heard)))"
  printf ' configured %s ms after arming (%d armed replies; first request %s ms after start)\n' \
    "$(ms $((ended - armed)))" "$replies" "$(ms $((heard - started)))"

  ip netns del "$pc"
  ip netns del "$dev"
}

# Median, minimum and maximum of the times in a file, in ms.
summary() {
  sort -n "$2" | awk -v mode="$1" '
    { t[NR] = $1 }
    END {
      m = NR % 2 ? t[(NR + 1) / 2] : (t[NR / 2] + t[NR / 2 + 1]) / 2
      printf "| %s | %d | %.1f ms | %.1f ms | %.1f ms |\n", mode, NR, m / 1e6, t[1] / 1e6, t[NR] / 1e6
    }'
}

qnt_log "$RUNS runs per mode, armed ${ARM_AFTER_S} s after the device's first request"
# Turns, so a change in the machine's load falls on both modes alike.
for ((number = 1; number <= RUNS; number++)); do
  run kept "$number"
  run fresh "$number"
done

echo "| mode | runs | median | min | max |"
echo "|---|---|---|---|---|"
summary kept "$QNT_TMP/kept.times"
summary fresh "$QNT_TMP/fresh.times"
