#!/usr/bin/env python3
"""A scriptable BOOTP device for the end-to-end tests, bound to UDP port 68.

send MAC:SIZE[@GIADDR] [MAC:SIZE[@GIADDR] ...]
    From one socket, sends one BOOTP request (op 1, htype 1, hlen 6, the MAC in chaddr, the
    relay agent address GIADDR if given) per argument, SIZE bytes long and zero-padded, to
    255.255.255.255:67, in the order given.
ask MAC SECONDS
    A device behind a relay agent: prints "ready" once bound, then sends one BOOTP request from
    MAC with the broadcast flag set (so the relay broadcasts the reply to a device without an
    address) to 255.255.255.255:67 every second, and on the reply to it prints
    "from ADDR:PORT len N op OP chaddr MAC yiaddr ADDR"; exit 1 when none came in time.
catch SECONDS
    Prints "ready" once bound, then waits for one datagram and prints
    "from ADDR:PORT len N op OP chaddr MAC yiaddr ADDR"; exit 1 when none came in time.
frames COUNT SECONDS
    Needs root. Prints "ready" once capturing, then prints each of the first COUNT frames
    this host sends from UDP port 67, on any interface, as
    "IF ETH_SRC > ETH_DST IP_SRC:PORT > IP_DST:PORT ttl T df D udplen N payload SHA256";
    exit 1 when fewer came in time.
"""

import hashlib
import ipaddress
import os
import socket
import struct
import sys
import time

CLIENT_PORT = 68
SERVER_PORT = 67
MIN_REQUEST = 300


def open_socket():
    sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    sock.setsockopt(socket.SOL_SOCKET, socket.SO_BROADCAST, 1)
    sock.bind(("0.0.0.0", CLIENT_PORT))
    return sock


BROADCAST_FLAG = 0x8000


def request(mac, size, xid=None, flags=0, giaddr="0.0.0.0"):
    chaddr = bytes.fromhex(mac.replace(":", ""))
    if len(chaddr) != 6:
        raise SystemExit(f"not a MAC address: {mac}")
    xid = xid or os.urandom(4)
    # op, htype, hlen, hops, xid, secs, flags, then ciaddr, yiaddr, siaddr and giaddr; chaddr
    # starts at byte 28.
    head = (struct.pack("!BBBB4sHH", 1, 1, 6, 0, xid, 0, flags) + bytes(12) +
            ipaddress.IPv4Address(giaddr).packed + chaddr)
    return head.ljust(size, b"\0")[:size]


def send(items):
    sock = open_socket()
    for item in items:
        item, _, giaddr = item.partition("@")
        mac, size = item.rsplit(":", 1)
        sock.sendto(request(mac, int(size), giaddr=giaddr or "0.0.0.0"),
                    ("255.255.255.255", SERVER_PORT))
    sock.close()


def describe(data, host, port):
    chaddr = ":".join(f"{b:02x}" for b in data[28:34]) if len(data) >= 34 else "-"
    yiaddr = str(ipaddress.IPv4Address(data[16:20])) if len(data) >= 20 else "-"
    return f"from {host}:{port} len {len(data)} op {data[0]} chaddr {chaddr} yiaddr {yiaddr}"


def catch(seconds):
    sock = open_socket()
    sock.settimeout(seconds)
    print("ready", flush=True)
    try:
        data, (host, port) = sock.recvfrom(65536)
    except socket.timeout:
        print("no datagram", flush=True)
        return 1
    print(describe(data, host, port), flush=True)
    return 0


def ask(mac, seconds):
    sock = open_socket()
    xid = os.urandom(4)
    message = request(mac, MIN_REQUEST, xid, BROADCAST_FLAG)
    print("ready", flush=True)
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        sock.sendto(message, ("255.255.255.255", SERVER_PORT))
        retry = min(deadline, time.monotonic() + 1)
        while (left := retry - time.monotonic()) > 0:
            sock.settimeout(left)
            try:
                data, (host, port) = sock.recvfrom(65536)
            except socket.timeout:
                break
            if len(data) >= 34 and data[0] == 2 and data[4:8] == xid:
                print(describe(data, host, port), flush=True)
                return 0
    print("no reply", flush=True)
    return 1


# Frames a host sends reach only packet sockets of every protocol.
ETH_P_ALL = 0x0003
ETH_P_IP = 0x0800
PACKET_OUTGOING = 4


def frames(count, seconds):
    sock = socket.socket(socket.AF_PACKET, socket.SOCK_RAW, socket.htons(ETH_P_ALL))
    print("ready", flush=True)
    deadline = time.monotonic() + seconds
    seen = 0
    while seen < count:
        left = deadline - time.monotonic()
        if left <= 0:
            return 1
        sock.settimeout(left)
        try:
            frame, (ifname, _, pkttype, _, _) = sock.recvfrom(65536)
        except socket.timeout:
            return 1
        if pkttype != PACKET_OUTGOING or len(frame) < 42:
            continue
        if struct.unpack("!H", frame[12:14])[0] != ETH_P_IP:
            continue
        ip = frame[14:]
        header = (ip[0] & 0x0F) * 4
        if ip[9] != socket.IPPROTO_UDP:
            continue
        sport, dport, udplen = struct.unpack("!HHH", ip[header:header + 6])
        if sport != SERVER_PORT:
            continue
        mac = lambda b: ":".join(f"{x:02x}" for x in b)
        payload = ip[header + 8:header + udplen]
        df = (ip[6] >> 6) & 1
        print(f"{ifname} {mac(frame[6:12])} > {mac(frame[0:6])} "
              f"{ipaddress.IPv4Address(ip[12:16])}:{sport} > "
              f"{ipaddress.IPv4Address(ip[16:20])}:{dport} ttl {ip[8]} df {df} "
              f"udplen {udplen} payload {hashlib.sha256(payload).hexdigest()[:16]}", flush=True)
        seen += 1
    return 0


def main(argv):
    if len(argv) >= 2 and argv[0] == "send":
        send(argv[1:])
        return 0
    if len(argv) == 3 and argv[0] == "ask":
        return ask(argv[1], float(argv[2]))
    if len(argv) == 2 and argv[0] == "catch":
        return catch(float(argv[1]))
    if len(argv) == 3 and argv[0] == "frames":
        return frames(int(argv[1]), float(argv[2]))
    print(__doc__, file=sys.stderr)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
