#!/usr/bin/env python3
"""The commissioning record as real processes write it, read back by Python's csv module.

    record_processes.py RECORD_TOOL
    record_processes.py --windows LAUNCHER... RECORD_TOOL.exe   (under Wine: paths as Z:\...)

Two writers at once never interleave; a writer killed while it writes leaves only whole
lines; a torn last line is skipped and counted, and the next line does not run into it; the
file is UTF-8 with a byte order mark, RFC 4180 and CR LF as a spreadsheet reads it.
"""
import csv
import os
import signal
import subprocess
import sys
import tempfile
import time

HEADER = ["Time", "PC", "User", "Program", "MAC address", "Maker", "IP address",
          "Subnet mask", "Gateway", "Protocol", "Interface or relay agent", "Result",
          "Keep address"]
LIMIT = 60  # seconds any one wait may take


def fail(text):
    print("FAIL: " + text, file=sys.stderr)
    sys.exit(1)


def rows(path):
    """The file through Python's csv module, as a spreadsheet program reads it."""
    with open(path, "rb") as record:
        data = record.read()
    if not data.startswith(b"\xef\xbb\xbf"):
        fail("no byte order mark")
    with open(path, newline="", encoding="utf-8-sig") as record:
        return list(csv.reader(record, strict=True)), data


# The command that runs the tool, and how it names a path.
TOOL = []
WINDOWS = False


def name(path):
    return "Z:" + path.replace("/", "\\") if WINDOWS else path


def read(path):
    out = subprocess.run(TOOL + ["read", name(path)], capture_output=True, text=True,
                         check=True).stdout
    lines = out.splitlines()
    return lines[0], lines[1:]


def writer(path, count, tag, maker="locally administered"):
    """A writer, waiting for its start: start(writer) sends it the maker."""
    process = subprocess.Popen(TOOL + ["append", name(path), str(count), tag],
                               stdin=subprocess.PIPE, stdout=subprocess.DEVNULL)
    process.maker = maker
    return process


def start(process):
    process.stdin.write(process.maker.replace("\n", "\\n").encode("utf-8") + b"\n")
    process.stdin.flush()


def wait_lines(path, count):
    deadline = time.monotonic() + LIMIT
    while time.monotonic() < deadline:
        if os.path.exists(path):
            with open(path, "rb") as record:
                if record.read().count(b"\r\n") >= count:
                    return
        time.sleep(0.01)
    fail("%s never held %d lines" % (path, count))


def two_writers(folder):
    path = os.path.join(folder, "state", "quillnet", "commissioning.csv")
    count = 500
    first, second = writer(path, count, "first"), writer(path, count, "second")
    # Both are started and waiting before either writes.
    for process in (first, second):
        start(process)
    for process in (first, second):
        process.stdin.close()
        if process.wait(LIMIT) != 0:
            fail("a writer failed")
    table, data = rows(path)
    if table[0] != HEADER:
        fail("header %r" % table[0])
    if data.count(b"\r\n") != 2 * count + 1 or data.count(b"\n") != 2 * count + 1:
        fail("not one CR LF per line")
    seen = {"first": [], "second": []}
    for row in table[1:]:
        if len(row) != 13 or row[11] != "confirmed" or row[12] != "kept":
            fail("torn or mixed line: %r" % row)
        seen[row[3]].append(int(row[4].replace(":", "")[4:], 16))
    for tag, numbers in seen.items():
        if numbers != list(range(count)):
            fail("%s's lines are not all there in order" % tag)
    summary, _ = read(path)
    if summary != "entries %d damaged 0" % (2 * count):
        fail("history: " + summary)


def killed_writer(folder):
    path = os.path.join(folder, "killed.csv")
    process = writer(path, 1000000, "killed")
    start(process)
    wait_lines(path, 50)
    process.send_signal(signal.SIGKILL)
    process.wait(LIMIT)
    table, data = rows(path)
    if not data.endswith(b"\r\n"):
        fail("a killed writer left a line without its end")
    if any(len(row) != 13 for row in table[1:]):
        fail("a killed writer left a torn line")
    # Its lock went with it: the next writer is not kept waiting.
    after = writer(path, 1, "after")
    start(after)
    after.stdin.close()
    after.wait(LIMIT)
    summary, entries = read(path)
    if summary != "entries %d damaged 0" % (len(table) - 1 + 1) or \
            not entries[-1].startswith("after 02:00:00:00:00:00"):
        fail("after the kill: %s %r" % (summary, entries[-1:]))


def torn_line(folder):
    path = os.path.join(folder, "torn.csv")
    maker = 'Cisco Systems, Inc "Quoted" Soci\u00e9t\u00e9\nSecond line'
    first = writer(path, 1, "before", maker)
    start(first)
    first.stdin.close()
    first.wait(LIMIT)
    # A crash while a line was written leaves its start only.
    with open(path, "ab") as record:
        record.write(b"2026-12-09T10:00:00+01:00,pc,user,quillnet,02:00:00:00:00:09,x,10.0.0.")
    summary, _ = read(path)
    if summary != "entries 1 damaged 1":
        fail("a damaged last line: " + summary)
    second = writer(path, 1, "after", maker)
    start(second)
    second.stdin.close()
    second.wait(LIMIT)
    summary, entries = read(path)
    if summary != "entries 2 damaged 1" or not entries[1].startswith("after "):
        fail("after a torn line: %s %r" % (summary, entries))
    table, _ = rows(path)
    whole = [row for row in table[1:] if len(row) == 13]
    if [row[3] for row in whole] != ["before", "after"]:
        fail("the next line ran into the torn one: %r" % table)
    if any(row[5] != maker.replace("\n", " ") for row in whole):
        fail("maker read back as %r" % whole[0][5])


def main():
    global TOOL, WINDOWS
    WINDOWS = sys.argv[1] == "--windows"
    TOOL = sys.argv[2:] if WINDOWS else sys.argv[1:2]
    with tempfile.TemporaryDirectory() as folder:
        two_writers(folder)
        killed_writer(folder)
        torn_line(folder)
    print("PASS")


if __name__ == "__main__":
    main()
