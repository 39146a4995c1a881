#!/bin/bash
# Reply latency through network namespaces: the time from a BOOTP request leaving a device to
# the server's reply arriving there, with the server armed before each request. Process
# start-up and arming are not timed.
#
#   bench/reply_latency.sh BUILD_DIR [REQUESTS]      (REQUESTS: at least 200, default 300)
#
# Needs root (network namespaces), python3, and BUILD_DIR configured with -DQUILLNET_BENCH=ON
# and built (bench/quillnet_reply_server). Builds nothing.
# shellcheck source=../tests/e2e/netns_lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/../tests/e2e/netns_lib.sh"

BUILD="${1:?usage: $0 BUILD_DIR [REQUESTS]}"
REQUESTS="${2:-300}"
SERVER="$BUILD/bench/quillnet_reply_server"
[[ -x "$SERVER" ]] || qnt_fail "$SERVER not found: configure $BUILD with -DQUILLNET_BENCH=ON and build it"
if ! [[ "$REQUESTS" =~ ^[0-9]+$ ]] || ((REQUESTS < 200)); then
  qnt_fail "REQUESTS must be a number of at least 200"
fi
command -v python3 >/dev/null || qnt_fail "python3 is not installed"
qnt_init

readonly MAC="02:00:5e:90:00:01"
readonly IP="10.90.0.50"
qnt_pc_and_device PC DEV 10.90.0.1/24 "$MAC"

# Reads "armed <n>" lines on stdin; sends one request per arming and times it.
read -r -d '' CLIENT <<'PY' || true
import os, random, select, socket, struct, sys, time

mac, ip, total = sys.argv[1], sys.argv[2], int(sys.argv[3])
REPLY_WAIT_S = 1.0      # a request without a reply by then is sent again
ARM_WAIT_S = 10.0       # the server re-arms within microseconds; this only bounds a hang
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
    # op 1, htype 1, hlen 6, hops 0, xid, secs, flags, 4 addresses, chaddr; 300 bytes.
    head = struct.pack("!BBBBIHH16s", 1, 1, 6, 0, xid, 0, 0, bytes(16)) + chaddr
    return head.ljust(300, b"\0")

samples, retries = [], 0
while len(samples) < total:
    wait_armed(len(samples))
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

samples.sort()
def rank(p):
    return samples[max(0, -(-len(samples) * p // 100) - 1)]
print(f"requests {len(samples)}  retried {retries}  "
      f"median {rank(50):.1f} us  p99 {rank(99):.1f} us  "
      f"min {samples[0]:.1f} us  max {samples[-1]:.1f} us")
PY

qnt_log "measuring $REQUESTS requests"
rc=0
ip netns exec "$PC" "$SERVER" "$MAC" "$IP" 255.255.255.0 10.90.0.1 "$REQUESTS" 60 \
  2>"$QNT_TMP/server.err" |
  ip netns exec "$DEV" python3 -c "$CLIENT" "$MAC" "$IP" "$REQUESTS" || rc=$?
cat "$QNT_TMP/server.err" >&2
((rc == 0)) || qnt_fail "the measurement failed (exit $rc)"
