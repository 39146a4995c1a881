#!/usr/bin/env python3
"""The many devices of bench/burst.sh: sends BOOTP requests from a device namespace and takes
the replies, or reads what `quillnet-cli listen --json` recorded.

Device i (0-based) has the MAC 02:00:5e:93:HH:LL (HHLL = i + 1) and the address
10.93.(1 + i // 250).(2 + i % 250) in 10.93.0.0/16, whose router is 10.93.0.1 (the pc).

hosts quillnet|dnsmasq FIRST COUNT
    Prints devices FIRST to FIRST + COUNT - 1 as a quillnet-cli hosts file or as dnsmasq
    dhcp-host lines.
device INDEX
    Prints the device's MAC and IP address.
burst N ROUNDS [--events FILE] [--server-pid PID]
    ROUNDS times, all N devices ask at once. Without --events, the replies are taken for
    3 s from the first request of the round; with it, the server answers nobody and the
    listen events in FILE are read once they stop changing. One JSON line per round.
steady RATE DEVICES SECONDS [--events FILE] [--server-pid PID]
    Requests paced at RATE a second, round-robin over the first DEVICES devices; with
    --events, what listen counted of them too; one JSON line.
fresh INDEX
    One request of the device from a new process; prints the time from just before sendto to the
    reply's arrival, in microseconds.
report burst|steady|page|fresh FILE...
    Prints the tables of the JSON lines or samples the other commands left.

--server-pid: a process in the server's namespace, whose UDP counters are read through
/proc/PID/net/snmp before and after, as the namespace's own.
"""

import ctypes
import json
import os
import socket
import statistics
import struct
import sys
import time

SERVER_PORT = 67
CLIENT_PORT = 68
REQUEST_SIZE = 300
# Linux's values on x86 and ARM; Python does not name them.
SO_RCVBUFFORCE = 33
SO_TIMESTAMPNS = 35
PR_SET_TIMERSLACK = 29
# Every reply the servers could send stays queued for the client: a drop here would be the
# client's loss, not the server's.
RECEIVE_BUFFER = 256 << 20
MAX_DEVICES = 50000
# Addresses 10.93.1.2 to 10.93.254.251.
MAX_INDEX = 254 * 250
ROUND_WINDOW_NS = 3_000_000_000
ANSWER_LIMIT_NS = 1_000_000_000
ROUND_GAP_S = 1.0
# listen shows its table every 100 ms: a file unchanged for longer has shown all it holds.
EVENTS_QUIET_S = 0.4
EVENTS_LIMIT_S = 20.0
FRESH_WAIT_S = 5.0


def mac_of(index):
    return bytes([0x02, 0x00, 0x5E, 0x93]) + (index + 1).to_bytes(2, "big")


def mac_text(mac):
    return ":".join(f"{b:02x}" for b in mac)


def ip_of(index):
    return f"10.93.{1 + index // 250}.{2 + index % 250}"


def device_index(value):
    index = int(value)
    if not 0 <= index < MAX_INDEX:
        sys.exit(f"a device index is 0 to {MAX_INDEX - 1}, not {index}")
    return index


def device_count(text):
    n = int(text)
    if not 1 <= n <= MAX_DEVICES:
        sys.exit(f"the number of devices is 1 to {MAX_DEVICES}, not {n}")
    return n


def request(chaddr, xid):
    # op 1, htype 1, hlen 6, hops 0, xid, secs, flags (broadcast: the device has no address
    # yet), 4 zero addresses, chaddr; zero-padded to 300 bytes.
    head = struct.pack("!BBBBIHH16s", 1, 1, 6, 0, xid, 0, 0x8000, bytes(16)) + chaddr
    return head.ljust(REQUEST_SIZE, b"\0")


def open_socket(timestamps):
    sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    sock.setsockopt(socket.SOL_SOCKET, socket.SO_BROADCAST, 1)
    sock.setsockopt(socket.SOL_SOCKET, SO_RCVBUFFORCE, RECEIVE_BUFFER)
    if sock.getsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF) < RECEIVE_BUFFER:
        sys.exit("the receive buffer could not be enlarged (SO_RCVBUFFORCE needs root)")
    if timestamps:
        # The kernel's arrival time of each reply, so replies queued while the client is
        # still sending are timed as they came, not as they were read.
        sock.setsockopt(socket.SOL_SOCKET, SO_TIMESTAMPNS, 1)
    sock.bind(("0.0.0.0", CLIENT_PORT))
    return sock


def receive(sock, timeout):
    """One datagram and its arrival time (ns, CLOCK_REALTIME), or None after the timeout."""
    sock.settimeout(max(timeout, 0))
    try:
        data, ancillary, _, _ = sock.recvmsg(2048, 64)
    except (socket.timeout, BlockingIOError):
        return None
    for level, kind, payload in ancillary:
        if level == socket.SOL_SOCKET and kind == SO_TIMESTAMPNS:
            seconds, nanoseconds = struct.unpack("qq", payload[:16])
            return data, seconds * 1_000_000_000 + nanoseconds
    return data, time.time_ns()


def udp_counters(pid=None):
    """RcvbufErrors and InErrors of the UDP counters of the namespace (this one, or pid's)."""
    path = f"/proc/{pid}/net/snmp" if pid else "/proc/net/snmp"
    try:
        with open(path) as snmp:
            rows = [line.split() for line in snmp if line.startswith("Udp:")]
    except FileNotFoundError:
        sys.exit(f"the server (process {pid}) ended during the measurement")
    fields = dict(zip(rows[0][1:], (int(v) for v in rows[1][1:])))
    return fields["RcvbufErrors"], fields["InErrors"]


def backlog_drops():
    """Datagrams the machine dropped before any socket, its input backlog being full (all
    namespaces, all processes: /proc/net/softnet_stat is not per namespace)."""
    with open("/proc/net/softnet_stat") as stat:
        return sum(int(line.split()[1], 16) for line in stat)


class Counters:
    """The change in the drop counters between construction and take()."""

    def __init__(self, server_pid):
        self.server_pid = server_pid
        self.start = self._read()

    def _read(self):
        server = udp_counters(self.server_pid) if self.server_pid else (0, 0)
        return server + udp_counters() + (backlog_drops(),)

    def take(self):
        now = self._read()
        d = [b - a for a, b in zip(self.start, now)]
        fields = {"client_rcvbuf": d[2], "backlog_drops": d[4]}
        if self.server_pid:
            fields.update(server_rcvbuf=d[0], server_inerrors=d[1])
        return fields


class Events:
    """The last count of each MAC in the "request" events of `listen --json`."""

    def __init__(self, path):
        self.path = path
        self.offset = 0
        self.partial = b""
        self.counts = {}

    def read(self):
        """Reads what was added; True when something was."""
        with open(self.path, "rb") as stream:
            stream.seek(self.offset)
            chunk = stream.read()
        self.offset += len(chunk)
        *lines, self.partial = (self.partial + chunk).split(b"\n")
        for line in lines:
            event = json.loads(line)
            if event.get("event") == "request":
                self.counts[event["mac"]] = event["count"]
        return bool(chunk)

    def settle(self):
        """Waits until listen has shown everything it recorded; False when it never stopped."""
        quiet_since = time.monotonic()
        deadline = quiet_since + EVENTS_LIMIT_S
        while time.monotonic() < deadline:
            if self.read():
                quiet_since = time.monotonic()
            elif time.monotonic() - quiet_since >= EVENTS_QUIET_S:
                return True
            time.sleep(0.05)
        return False


def burst(args):
    n = device_count(args[0])
    rounds = int(args[1])
    events_path = option(args, "--events")
    server_pid = option(args, "--server-pid")
    macs = [mac_of(i) for i in range(n)]
    want_yiaddr = {mac: socket.inet_aton(ip_of(i)) for i, mac in enumerate(macs)}
    events = Events(events_path) if events_path else None
    sock = open_socket(timestamps=True)
    target = ("255.255.255.255", SERVER_PORT)
    # Devices answered in any round so far, as devices that ask again until answered.
    answered_any = set()
    for number in range(1, rounds + 1):
        if number > 1:
            time.sleep(ROUND_GAP_S)
        # Late replies of the last round are not this round's: new xids tell them apart.
        while receive(sock, 0):
            pass
        xids = {mac: int.from_bytes(os.urandom(4), "big") for mac in macs}
        messages = [request(mac, xids[mac]) for mac in macs]
        before = dict(events.counts) if events else {}
        counters = Counters(server_pid)
        start = time.time_ns()
        for message in messages:
            sock.sendto(message, target)
        sent_ns = time.time_ns() - start
        result = {"round": number, "devices": n, "send_ms": sent_ns / 1e6}
        if events:
            settled = events.settle()
            growth = [events.counts.get(m, 0) - before.get(m, 0) for m in map(mac_text, macs)]
            result.update(recorded=sum(1 for g in growth if g > 0), counted=sum(growth),
                          settled=settled)
        else:
            result.update(take_replies(sock, start, xids, want_yiaddr, answered_any))
            result["answered_any"] = len(answered_any)
        result.update(counters.take())
        print(json.dumps(result), flush=True)


def take_replies(sock, start, xids, want_yiaddr, answered_any):
    """Takes replies until every device has one or the round's window has passed; adds the
    devices answered to answered_any."""
    answered = {}
    duplicates = strays = 0
    while len(answered) < len(xids):
        left = (start + ROUND_WINDOW_NS - time.time_ns()) / 1e9
        got = receive(sock, left)
        if got is None:
            break
        data, arrived = got
        chaddr = data[28:34]
        if (len(data) < REQUEST_SIZE or data[0] != 2 or chaddr not in xids
                or struct.unpack("!I", data[4:8])[0] != xids[chaddr]
                or data[16:20] != want_yiaddr[chaddr]):
            strays += 1
        elif chaddr in answered:
            duplicates += 1
        else:
            answered[chaddr] = arrived - start
    answered_any.update(answered)
    times = sorted(answered.values())
    return {
        "answered_1s": sum(1 for t in times if t <= ANSWER_LIMIT_NS),
        "answered": len(times),
        "last_reply_ms": times[-1] / 1e6 if times else None,
        "duplicates": duplicates,
        "strays": strays,
    }


def steady(args):
    rate, devices, seconds = int(args[0]), device_count(args[1]), float(args[2])
    events_path = option(args, "--events")
    events = Events(events_path) if events_path else None
    server_pid = option(args, "--server-pid")
    total = int(rate * seconds)
    if rate < 1 or total < 1:
        sys.exit("RATE and SECONDS must give at least one request")
    # Sleeps end within microseconds of their time instead of the default 50 µs late.
    ctypes.CDLL(None, use_errno=True).prctl(PR_SET_TIMERSLACK, 1, 0, 0, 0)
    macs = [mac_of(i) for i in range(devices)]
    xid_base = int.from_bytes(os.urandom(4), "big")
    sock = open_socket(timestamps=False)
    target = ("255.255.255.255", SERVER_PORT)
    counters = Counters(server_pid)
    start = time.perf_counter()
    max_lag = 0.0
    sent = 0
    while sent < total:
        due = start + sent / rate
        now = time.perf_counter()
        if now < due:
            time.sleep(due - now)
            continue
        max_lag = max(max_lag, now - due)
        # A new xid each time, as a device that asks again after its timeout.
        sock.sendto(request(macs[sent % devices], (xid_base + sent) & 0xFFFFFFFF), target)
        sent += 1
    elapsed = time.perf_counter() - start
    result = {
        "rate": rate, "devices": devices, "seconds": seconds, "sent": sent,
        "send_s": elapsed, "achieved_rate": sent / elapsed, "max_lag_ms": max_lag * 1e3,
    }
    if events:
        settled = events.settle()
        counts = [events.counts.get(mac_text(m), 0) for m in macs]
        result.update(counted=sum(counts), devices_recorded=sum(1 for c in counts if c),
                      settled=settled)
    result.update(counters.take())
    print(json.dumps(result), flush=True)


def fresh(args):
    index = device_index(args[0])
    chaddr = mac_of(index)
    want_yiaddr = socket.inet_aton(ip_of(index))
    xid = int.from_bytes(os.urandom(4), "big")
    message = request(chaddr, xid)
    sock = open_socket(timestamps=True)
    start = time.time_ns()
    sock.sendto(message, ("255.255.255.255", SERVER_PORT))
    deadline = time.monotonic() + FRESH_WAIT_S
    while (got := receive(sock, deadline - time.monotonic())) is not None:
        data, arrived = got
        if (len(data) >= REQUEST_SIZE and data[0] == 2 and data[28:34] == chaddr
                and struct.unpack("!I", data[4:8])[0] == xid and data[16:20] == want_yiaddr):
            print(f"{(arrived - start) / 1e3:.1f}")
            return
    sys.exit(f"no reply to {mac_text(chaddr)} within {FRESH_WAIT_S:.0f} s")


def hosts(args):
    kind, first, count = args[0], device_index(args[1]), device_count(args[2])
    device_index(first + count - 1)
    if kind == "quillnet":
        print("MAC,IP,MASK,GATEWAY")
    for i in range(first, first + count):
        mac, ip = mac_text(mac_of(i)), ip_of(i)
        print(f"{mac},{ip},255.255.0.0,10.93.0.1" if kind == "quillnet" else f"{mac},{ip}")


def device(args):
    index = device_index(args[0])
    print(mac_text(mac_of(index)), ip_of(index))


def option(args, name):
    return args[args.index(name) + 1] if name in args else None


def read_lines(path):
    with open(path) as stream:
        return [json.loads(line) for line in stream if line.strip()]


def ms(value):
    return "-" if value is None else f"{value:.1f} ms"


def report_burst(paths):
    """paths: listen, serve and dnsmasq result files, in that order."""
    listen, serve, dnsmasq = (read_lines(p) for p in paths)
    n = listen[0]["devices"]
    print(f"Burst: {n} devices ask at once, {len(listen)} rounds to each server: "
          "`quillnet-cli listen --json` (devices it recorded), `quillnet-cli serve --hosts` "
          "and dnsmasq (devices answered, replies taken for "
          f"{ROUND_WINDOW_NS // 10**9} s from the round's first request).")
    print()
    print("| round | listen: devices recorded | serve: answered within 1 s | serve: answered "
          "| serve: last reply | dnsmasq: answered within 1 s | dnsmasq: answered "
          "| dnsmasq: last reply |")
    print("|---|---|---|---|---|---|---|---|")
    for l, s, d in zip(listen, serve, dnsmasq):
        print(f"| {l['round']} | {l['recorded']} of {n} | {s['answered_1s']} of {n} "
              f"| {s['answered']} | {ms(s['last_reply_ms'])} | {d['answered_1s']} of {n} "
              f"| {d['answered']} | {ms(d['last_reply_ms'])} |")
    for name, rows in (("serve", serve), ("dnsmasq", dnsmasq)):
        print(f"{name}: {rows[-1]['answered_any']} of {n} devices answered in at least one of "
              f"{len(rows)} rounds")
        if not rows[-1]["answered_any"]:
            print(f"WARNING: {name} answered no device at all: look at its setup")
    print()
    print("| server | round | requests sent in | server RcvbufErrors | server InErrors "
          "| backlog drops | client RcvbufErrors | duplicate replies | stray replies |")
    print("|---|---|---|---|---|---|---|---|---|")
    for name, rows in (("listen", listen), ("serve", serve), ("dnsmasq", dnsmasq)):
        for r in rows:
            print(f"| {name} | {r['round']} | {ms(r['send_ms'])} | +{r['server_rcvbuf']} "
                  f"| +{r['server_inerrors']} | +{r['backlog_drops']} | +{r['client_rcvbuf']} "
                  f"| {r.get('duplicates', '-')} | {r.get('strays', '-')} |")
    warn(listen + serve + dnsmasq)


def report_steady(paths):
    (r,) = read_lines(paths[0])
    print(f"Steady: {r['rate']} requests/s round-robin over {r['devices']} devices for "
          f"{r['seconds']:g} s into quillnet-cli listen.")
    print()
    print("| requests sent | achieved send rate | most behind schedule | counted by listen "
          "| devices recorded | server RcvbufErrors | server InErrors | backlog drops |")
    print("|---|---|---|---|---|---|---|---|")
    print(f"| {r['sent']} | {r['achieved_rate']:.0f}/s | {ms(r['max_lag_ms'])} "
          f"| {r['counted']} ({100 * r['counted'] / r['sent']:.1f} %) "
          f"| {r['devices_recorded']} of {r['devices']} | +{r['server_rcvbuf']} "
          f"| +{r['server_inerrors']} | +{r['backlog_drops']} |")
    if r["achieved_rate"] < 0.98 * r["rate"]:
        print(f"WARNING: the client sent at {r['achieved_rate']:.0f}/s, not {r['rate']}/s")
    warn([r])


def report_page(paths):
    """The client's JSON line, then the wizard driver's output with its COUNTED line."""
    (r,) = read_lines(paths[0])
    words = next(line for line in open(paths[1]) if line.startswith("COUNTED ")).split()
    page = dict(zip(words[::2], words[1::2]))
    counted = int(page["COUNTED"])
    print(f"Page: {r['rate']} requests/s round-robin over {r['devices']} devices for "
          f"{r['seconds']:g} s into the wizard's Listen page, which a key (Down or Up in the "
          f"device list) is pressed in every 100 ms.")
    print()
    print("| requests sent | achieved send rate | counted by the page | devices listed "
          "| server RcvbufErrors | keys | key answered, median | p99 | max |")
    print("|---|---|---|---|---|---|---|---|---|")
    print(f"| {r['sent']} | {r['achieved_rate']:.0f}/s | {counted} "
          f"({100 * counted / r['sent']:.1f} %) | {page['ROWS']} of {r['devices']} "
          f"| +{r['server_rcvbuf']} | {page['KEYS']} | {page['KEY_P50_MS']} ms "
          f"| {page['KEY_P99_MS']} ms | {page['KEY_MAX_MS']} ms |")
    if r["achieved_rate"] < 0.98 * r["rate"]:
        print(f"WARNING: the client sent at {r['achieved_rate']:.0f}/s, not {r['rate']}/s")
    warn([r])


def report_fresh(paths):
    ours, theirs = ([float(line) for line in open(p) if line.strip()] for p in paths)
    print("Fresh: the first reply of a new `quillnet-cli assign` against dnsmasq's reply to a "
          "new device.")
    print()
    print("| server | requests | median | min | max |")
    print("|---|---|---|---|---|")
    for name, samples in (("quillnet assign (new process)", ours),
                          ("dnsmasq (running)", theirs)):
        print(f"| {name} | {len(samples)} | {statistics.median(samples):.1f} µs "
              f"| {min(samples):.1f} µs | {max(samples):.1f} µs |")
    print(f"ratio of medians (quillnet / dnsmasq): "
          f"{statistics.median(ours) / statistics.median(theirs):.2f}")


def warn(rows):
    if any(r.get("client_rcvbuf") for r in rows):
        print("WARNING: the client dropped replies itself; the figures above undercount")
    if any(r.get("settled") is False for r in rows):
        print(f"WARNING: listen still printed events after {EVENTS_LIMIT_S:.0f} s")


def report(args):
    {"burst": report_burst, "steady": report_steady, "page": report_page,
     "fresh": report_fresh}[args[0]](args[1:])


def main():
    commands = {"hosts": hosts, "device": device, "burst": burst, "steady": steady, "fresh": fresh,
                "report": report}
    if len(sys.argv) < 2 or sys.argv[1] not in commands:
        sys.exit(__doc__)
    try:
        commands[sys.argv[1]](sys.argv[2:])
    except KeyboardInterrupt:
        sys.exit(130)


if __name__ == "__main__":
    main()
