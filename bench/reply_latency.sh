#!/bin/bash
# Reply latency through network namespaces: the time from a BOOTP request leaving a device to
# the server's reply arriving there. Process start-up is not timed.
#
#   bench/reply_latency.sh BUILD_DIR [REQUESTS] [serve|reply-server]
#       Quillnet's server answering a device from a pc namespace with one interface.
#   bench/reply_latency.sh --against-dnsmasq BUILD_DIR [REQUESTS] [serve|reply-server]
#       Quillnet's server and dnsmasq answering the same device from a pc namespace with two
#       interfaces (Quillnet sends one copy per interface), in turns of REQUESTS/6 requests
#       each, in one run; prints both medians, both p99s and the ratio of the medians.
#
# `serve` (the default) is `quillnet-cli serve --hosts`, answering without arming;
# `reply-server` is the bench's reply server, a new server armed before each request (making
# and arming it is not timed, but the request meets a worker thread that has just started).
#
# REQUESTS: at least 200, and at least 300 against dnsmasq; default 300.
# Needs root (network namespaces), python3, dnsmasq for the comparison (Debian dnsmasq-base,
# installed when missing), and BUILD_DIR configured with -DQUILLNET_BENCH=ON and built
# (bench/quillnet_reply_server, cli/quillnet-cli). Builds nothing.
# shellcheck source=../tests/e2e/netns_lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/../tests/e2e/netns_lib.sh"

AGAINST_DNSMASQ=0
if [[ "${1:-}" == --against-dnsmasq ]]; then
  AGAINST_DNSMASQ=1
  shift
fi
BUILD="${1:?usage: $0 [--against-dnsmasq] BUILD_DIR [REQUESTS] [serve|reply-server]}"
REQUESTS="${2:-300}"
QUILLNET="${3:-serve}"
REPLY_SERVER="$BUILD/bench/quillnet_reply_server"
CLI="$BUILD/cli/quillnet-cli"
readonly MIN_REQUESTS=$((AGAINST_DNSMASQ ? 300 : 200))
if ! [[ "$REQUESTS" =~ ^[0-9]+$ ]] || ((REQUESTS < MIN_REQUESTS)); then
  qnt_fail "REQUESTS must be a number of at least $MIN_REQUESTS"
fi
case "$QUILLNET" in
  serve | reply-server) ;;
  *) qnt_fail "the server is 'serve' or 'reply-server', not '$QUILLNET'" ;;
esac
if [[ "$QUILLNET" == serve ]]; then
  [[ -x "$CLI" ]] || qnt_fail "$CLI not found: build $BUILD's quillnet-cli"
else
  [[ -x "$REPLY_SERVER" ]] ||
    qnt_fail "$REPLY_SERVER not found: configure $BUILD with -DQUILLNET_BENCH=ON and build it"
fi
command -v python3 >/dev/null || qnt_fail "python3 is not installed"
if ((AGAINST_DNSMASQ)) && ! command -v dnsmasq >/dev/null; then
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq dnsmasq-base >/dev/null ||
    qnt_fail "dnsmasq is not installed and dnsmasq-base could not be installed"
fi
qnt_init

readonly MAC="02:00:5e:90:00:01"
readonly IP="10.90.0.50"
readonly MASK="255.255.255.0"
readonly GATEWAY="10.90.0.1"
qnt_pc_and_device PC DEV 10.90.0.1/24 "$MAC"
if ((AGAINST_DNSMASQ)); then
  # The second interface leads to a namespace with nobody in it.
  qnt_make_ns FAR far
  qnt_veth "$PC" pc1 "$FAR" far0
  ip -n "$PC" addr add 10.91.0.1/24 dev pc1
  ip -n "$PC" link set pc1 up
  ip -n "$FAR" link set far0 up
fi

# Times REQUESTS requests one after the other and appends each time (µs) to SAMPLES. With
# "armed" it reads "armed <n>" lines on stdin and sends each request only once the server has
# been armed more often than it has answered.
read -r -d '' CLIENT <<'PY' || true
import os, random, select, socket, struct, sys, time

mac, ip, total, mode, samples_path = sys.argv[1:6]
total = int(total)
REPLY_WAIT_S = 1.0      # a request without a reply by then is sent again
ARM_WAIT_S = 10.0       # the server re-arms within microseconds; this only bounds a hang
MAX_RETRIES = 20        # per request
# Without arming, the gap between a reply and the next request, so each request meets an
# idle server, as a device's does: a real device asks again after seconds.
FREE_GAP_S = 0.005
chaddr = bytes.fromhex(mac.replace(":", ""))
want_yiaddr = socket.inet_aton(ip)

sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
sock.setsockopt(socket.SOL_SOCKET, socket.SO_BROADCAST, 1)
sock.bind(("0.0.0.0", 68))
stdin = sys.stdin.buffer.raw
pending = b""
armings = 0

def wait_armed(used):
    """Blocks until the server has been armed more often than it has answered."""
    global pending, armings
    deadline = time.monotonic() + ARM_WAIT_S
    while armings <= used:
        left = deadline - time.monotonic()
        if left <= 0 or not select.select([stdin], [], [], left)[0]:
            sys.exit(f"server not armed again after {used} replies")
        chunk = os.read(stdin.fileno(), 4096)
        if not chunk:
            sys.exit(f"server ended after {used} replies")
        pending += chunk
        *lines, pending = pending.split(b"\n")
        armings += sum(1 for line in lines if line.startswith(b"armed "))

def request(xid):
    # op 1, htype 1, hlen 6, hops 0, xid, secs, flags (broadcast: the device has no address
    # yet, so a server that would unicast broadcasts instead), 4 addresses, chaddr; 300 bytes.
    head = struct.pack("!BBBBIHH16s", 1, 1, 6, 0, xid, 0, 0x8000, bytes(16)) + chaddr
    return head.ljust(300, b"\0")

samples, retries = [], 0
while len(samples) < total:
    if mode == "armed":
        wait_armed(len(samples))
    else:
        time.sleep(FREE_GAP_S)
    tries = 0
    while True:
        xid = random.getrandbits(32)
        message = request(xid)
        start = time.perf_counter_ns()
        sock.sendto(message, ("255.255.255.255", 67))
        deadline = time.monotonic() + REPLY_WAIT_S
        answered = False
        while not answered:
            left = deadline - time.monotonic()
            if left <= 0 or not select.select([sock], [], [], left)[0]:
                break
            data = sock.recv(2048)
            end = time.perf_counter_ns()
            answered = (len(data) >= 300 and data[0] == 2
                        and struct.unpack("!I", data[4:8])[0] == xid
                        and data[16:20] == want_yiaddr)
        if answered:
            samples.append((end - start) / 1000.0)
            break
        retries += 1
        tries += 1
        if tries > MAX_RETRIES:
            sys.exit(f"request {len(samples) + 1}: no reply in {tries} tries")
    # A late copy (a retried request's second answer) is not the next request's reply.
    while select.select([sock], [], [], 0)[0]:
        sock.recv(2048)

with open(samples_path, "a") as out:
    out.writelines(f"{s:.1f}\n" for s in samples)
# The first reply of a server process, to compare with the median.
print(f"retried {retries}, first reply {samples[0]:.1f} us", file=sys.stderr)
PY

# Median, p99, min and max of the samples in a file, in µs, on one line.
read -r -d '' STATS <<'PY' || true
import sys
samples = sorted(float(line) for line in open(sys.argv[1]))
def rank(p):
    return samples[max(0, -(-len(samples) * p // 100) - 1)]
print(len(samples), f"{rank(50):.1f}", f"{rank(99):.1f}", f"{samples[0]:.1f}", f"{samples[-1]:.1f}")
PY

# measure <samples file> <count> <armed|free> <server command...>: starts the server in the pc
# namespace, times <count> requests from the device, stops the server.
measure() {
  local samples="$1" count="$2" mode="$3"
  shift 3
  local err="$QNT_TMP/server.err" rc=0
  if [[ "$mode" == armed ]]; then
    ip netns exec "$PC" "$@" 2>"$err" |
      ip netns exec "$DEV" python3 -c "$CLIENT" "$MAC" "$IP" "$count" armed "$samples" || rc=$?
    ((rc == 0)) || qnt_fail "the measurement failed (exit $rc): $(cat "$err")"
    return
  fi
  qnt_bg "$PC" "$QNT_TMP/server.out" "$err" "$@"
  local server=$QNT_LAST_PID
  qnt_wait_for 10 "${READY[@]}" || qnt_fail "$1 did not start: $(cat "$QNT_TMP/server.out" "$err")"
  ip netns exec "$DEV" python3 -c "$CLIENT" "$MAC" "$IP" "$count" free "$samples" </dev/null ||
    rc=$?
  kill -TERM "$server"
  qnt_wait_exit "$server" 10
  ((rc == 0)) || qnt_fail "the measurement of $1 failed (exit $rc): $(cat "$err")"
}

listening_on_67() { [[ -n "$(ip netns exec "$PC" ss -Huln 'sport = :67')" ]]; }

quillnet_turn() {
  if [[ "$QUILLNET" == serve ]]; then
    READY=(qnt_file_has "$QNT_TMP/server.out" "Serving ")
    measure "$1" "$2" free "$CLI" serve --hosts "$HOSTS"
  else
    measure "$1" "$2" armed "$REPLY_SERVER" "$MAC" "$IP" "$MASK" "$GATEWAY" "$2" 60
  fi
}

dnsmasq_turn() {
  READY=(listening_on_67)
  # Nothing of the host's: no configuration file, DNS off, its files in the scratch folder,
  # only pc0. A static address for a known MAC answers a plain BOOTP request.
  measure "$1" "$2" free dnsmasq --no-daemon --conf-file=/dev/null --port=0 --user=root \
    --interface=pc0 --dhcp-range=10.90.0.0,static,"$MASK" --dhcp-host="$MAC,$IP" \
    --dhcp-option=option:router,"$GATEWAY" --dhcp-leasefile="$QNT_TMP/dnsmasq.leases" \
    --pid-file="$QNT_TMP/dnsmasq.pid" --log-facility="$QNT_TMP/dnsmasq.log" --quiet-dhcp \
    --no-ping
}

summary() {
  local n median p99 min max
  read -r n median p99 min max < <(python3 -c "$STATS" "$2")
  echo "| $1 | $n | $median µs | $p99 µs | $min µs | $max µs |"
  LAST_MEDIAN=$median
}

OURS="$QNT_TMP/quillnet.samples"
THEIRS="$QNT_TMP/dnsmasq.samples"
HOSTS="$QNT_TMP/hosts.csv"
echo "$MAC,$IP,$MASK,$GATEWAY" >"$HOSTS"
if ((AGAINST_DNSMASQ)); then
  # Turns, so a change in the machine's load falls on both servers alike.
  readonly TURNS=6
  for ((turn = 0; turn < TURNS; turn++)); do
    count=$(((REQUESTS + TURNS - 1) / TURNS))
    qnt_log "turn $((turn + 1)) of $TURNS: $count requests to each server"
    quillnet_turn "$OURS" "$count"
    dnsmasq_turn "$THEIRS" "$count"
  done
else
  qnt_log "measuring $REQUESTS requests"
  quillnet_turn "$OURS" "$REQUESTS"
fi

echo "| server | requests | median | p99 | min | max |"
echo "|---|---|---|---|---|---|"
if ((AGAINST_DNSMASQ)); then
  summary "quillnet ($QUILLNET, 2 copies)" "$OURS"
  ours_median=$LAST_MEDIAN
  summary "dnsmasq" "$THEIRS"
  echo "ratio of medians (quillnet / dnsmasq): $(python3 -c \
    "print(f'{$ours_median / $LAST_MEDIAN:.2f}')")"
else
  summary "quillnet ($QUILLNET)" "$OURS"
fi
