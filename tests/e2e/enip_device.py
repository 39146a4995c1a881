#!/usr/bin/env python3
"""An EtherNet/IP device's TCP/IP Interface object, as the end-to-end tests need one.

Listens on TCP 44818 and answers RegisterSession, UnRegisterSession and SendRRData carrying
Get_Attribute_Single / Set_Attribute_Single to class 0xF5 instance 1, attributes 3
(Configuration Control) and 5 (Interface Configuration), as a real device does. It checks every
request field by field: a request it would not take from a real tool is printed to stderr as
"bad request: ..." and refused.

Modes:
  keeps       starts with BOOTP and DNS enabled (0x11), takes any start-up method
  refuses     answers the set with general status 0x0E (attribute not settable)
  never       never listens (the port stays closed)
  late        opens its port 3 s after it starts
  other       reports --other in attribute 5 instead of its own address
  readback    says it took the set, but reads back the old value
  dhcp        starts with DHCP (0x02), takes any start-up method

Without --address it listens on every address it has, or comes to have (a device that takes
its address in DHCP opens its port before it has one), and reports in attribute 5 the address
it was reached at.

Prints "listening" once the port is open and "control 0x%08x" after each set it takes.
"""
import argparse
import socket
import struct
import sys
import time

PORT = 44818
HEADER = struct.Struct("<HHII8sI")  # command, length, session, status, context, options
REGISTER_SESSION = 0x0065
UNREGISTER_SESSION = 0x0066
SEND_RR_DATA = 0x006F
NULL_ADDRESS = 0x0000
UNCONNECTED_DATA = 0x00B2
GET_ATTRIBUTE_SINGLE = 0x0E
SET_ATTRIBUTE_SINGLE = 0x10
PATH_PREFIX = bytes([0x20, 0xF5, 0x24, 0x01, 0x30])
SESSION = 0x1A2B3C4D

# Encapsulation status codes.
INVALID_COMMAND = 0x0001
INCORRECT_DATA = 0x0003
INVALID_SESSION = 0x0064
# CIP general status codes.
SERVICE_NOT_SUPPORTED = 0x08
ATTRIBUTE_NOT_SETTABLE = 0x0E
NOT_ENOUGH_DATA = 0x13
ATTRIBUTE_NOT_SUPPORTED = 0x14
TOO_MUCH_DATA = 0x15
PATH_UNKNOWN = 0x05


def log(text):
    print(text, flush=True)


def bad(text):
    print("bad request: " + text, file=sys.stderr, flush=True)


def udint_address(dotted):
    """An IP address as a CIP UDINT: the first octet most significant."""
    return struct.unpack(">I", socket.inet_aton(dotted))[0]


class Device:
    def __init__(self, args):
        self.mode = args.mode
        self.other = args.other
        self.control = 0x02 if args.mode == "dhcp" else 0x11

    def attribute5(self, address):
        """Interface Configuration of the device reached at `address`."""
        reported = self.other if self.mode == "other" else address
        domain = b"plant.example"
        data = struct.pack("<IIIII", udint_address(reported),
                           udint_address("255.255.255.0"), 0, 0, 0)
        data += struct.pack("<H", len(domain)) + domain
        return data + (b"\0" if len(domain) % 2 else b"")

    def cip(self, request, address):
        """The CIP reply to one request to the device reached at `address`."""
        if len(request) < 2:
            bad("CIP request of %d bytes" % len(request))
            return bytes([0x80, 0, NOT_ENOUGH_DATA, 0])
        service, words = request[0], request[1]
        path = request[2:2 + 2 * words]
        data = request[2 + 2 * words:]
        reply = bytes([service | 0x80, 0])
        if words != 3 or len(path) != 6 or path[:5] != PATH_PREFIX:
            bad("path %s" % path.hex())
            return reply + bytes([PATH_UNKNOWN, 0])
        attribute = path[5]
        if service == GET_ATTRIBUTE_SINGLE:
            if data:
                bad("Get_Attribute_Single with %d data bytes" % len(data))
                return reply + bytes([TOO_MUCH_DATA, 0])
            if attribute == 3:
                return reply + bytes([0, 0]) + struct.pack("<I", self.control)
            if attribute == 5:
                return reply + bytes([0, 0]) + self.attribute5(address)
            return reply + bytes([ATTRIBUTE_NOT_SUPPORTED, 0])
        if service == SET_ATTRIBUTE_SINGLE:
            if attribute != 3:
                bad("Set_Attribute_Single to attribute %d" % attribute)
                return reply + bytes([ATTRIBUTE_NOT_SETTABLE, 0])
            if len(data) != 4:
                bad("Set_Attribute_Single with %d data bytes" % len(data))
                return reply + bytes([NOT_ENOUGH_DATA if len(data) < 4 else TOO_MUCH_DATA, 0])
            value = struct.unpack("<I", data)[0]
            if value & ~0x1F:
                bad("reserved bits set: 0x%08x" % value)
                return reply + bytes([0x09, 0])
            if self.mode == "refuses":
                return reply + bytes([ATTRIBUTE_NOT_SETTABLE, 0])
            # A device whose store does not take the value still says it did.
            if self.mode != "readback":
                self.control = value
            log("control 0x%08x" % value)
            return reply + bytes([0, 0])
        return reply + bytes([SERVICE_NOT_SUPPORTED, 0])

    def rr_data(self, data):
        """The CIP request of a SendRRData's data, or None with the reason printed."""
        if len(data) < 8:
            bad("SendRRData of %d bytes" % len(data))
            return None
        handle, _timeout, count = struct.unpack_from("<IHH", data, 0)
        if handle != 0 or count != 2:
            bad("interface handle %d, item count %d" % (handle, count))
            return None
        items = []
        offset = 8
        for _ in range(count):
            if len(data) < offset + 4:
                bad("items end early")
                return None
            kind, length = struct.unpack_from("<HH", data, offset)
            items.append((kind, data[offset + 4:offset + 4 + length]))
            offset += 4 + length
        if offset != len(data):
            bad("%d bytes after the items" % (len(data) - offset))
            return None
        if items[0] != (NULL_ADDRESS, b"") or items[1][0] != UNCONNECTED_DATA:
            bad("items %r" % ([kind for kind, _ in items],))
            return None
        return items[1][1]

    def serve(self, connection):
        address = connection.getsockname()[0]
        session = 0
        buffered = b""
        while True:
            while len(buffered) < HEADER.size:
                chunk = connection.recv(4096)
                if not chunk:
                    return
                buffered += chunk
            command, length, got_session, status, context, options = HEADER.unpack_from(buffered)
            while len(buffered) < HEADER.size + length:
                chunk = connection.recv(4096)
                if not chunk:
                    return
                buffered += chunk
            data = buffered[HEADER.size:HEADER.size + length]
            buffered = buffered[HEADER.size + length:]
            if status != 0 or options != 0:
                bad("status %d, options %d" % (status, options))
            answer_status, answer = 0, b""
            if command == REGISTER_SESSION:
                if data != struct.pack("<HH", 1, 0) or got_session != 0:
                    bad("RegisterSession %s, session %d" % (data.hex(), got_session))
                    answer_status, answer = INCORRECT_DATA, data
                else:
                    session, answer = SESSION, data
            elif command == UNREGISTER_SESSION:
                if got_session != session or length != 0:
                    bad("UnRegisterSession of session %d, %d bytes" % (got_session, length))
                log("unregistered")
                return
            elif command == SEND_RR_DATA:
                if session == 0 or got_session != session:
                    bad("SendRRData in session %d" % got_session)
                    answer_status = INVALID_SESSION
                else:
                    request = self.rr_data(data)
                    if request is None:
                        answer_status = INCORRECT_DATA
                    else:
                        cip = self.cip(request, address)
                        answer = struct.pack("<IHHHHHH", 0, 0, 2, NULL_ADDRESS, 0,
                                             UNCONNECTED_DATA, len(cip)) + cip
            else:
                bad("command 0x%04x" % command)
                answer_status = INVALID_COMMAND
            connection.sendall(HEADER.pack(command, len(answer), session, answer_status,
                                           context, 0) + answer)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("mode", choices=["keeps", "refuses", "never", "late", "other",
                                         "readback", "dhcp"])
    parser.add_argument("--address", default="0.0.0.0",
                        help="the device's own address; by default every address it has")
    parser.add_argument("--other", default="10.99.0.99", help="the address 'other' reports")
    args = parser.parse_args()
    device = Device(args)
    if args.mode == "never":
        log("not listening")
        while True:
            time.sleep(3600)
    if args.mode == "late":
        time.sleep(3)
    server = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    server.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    server.bind((args.address, PORT))
    server.listen(4)
    log("listening")
    while True:
        connection, _ = server.accept()
        with connection:
            try:
                device.serve(connection)
            except ConnectionError:
                pass


if __name__ == "__main__":
    main()
