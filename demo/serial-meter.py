#!/usr/bin/env python3
"""A serial meter for the demo: answers commands on a pseudo-terminal linked as a COM port.

Usage: serial-meter.py <device root> [<COM number>]

Commands end with CR or LF; answers end with CR LF:
  *IDN?   identification
  MEAS?   one temperature reading
The meter ends on SIGTERM, or by itself after ten idle minutes, and removes its link.
"""
import os
import random
import select
import signal
import sys
import tty

root = sys.argv[1]
number = sys.argv[2] if len(sys.argv) > 2 else "3"
link = os.path.join(root, "dev", "COM" + number)

master, slave = os.openpty()
tty.setraw(slave)  # the meter holds the slave open too, so the link stays usable between opens
os.makedirs(os.path.dirname(link), exist_ok=True)
if os.path.lexists(link):
    os.remove(link)
os.symlink(os.ttyname(slave), link)


def stop(*_):
    if os.path.islink(link):
        os.remove(link)
    sys.exit(0)


signal.signal(signal.SIGTERM, stop)
signal.signal(signal.SIGINT, stop)

reading = 21.5
pending = b""
idle = 0
while idle < 600:
    ready, _, _ = select.select([master], [], [], 1.0)
    if not ready:
        idle += 1
        continue
    idle = 0
    pending += os.read(master, 1024)
    while True:
        ends = [i for i in (pending.find(b"\r"), pending.find(b"\n")) if i >= 0]
        if not ends:
            break
        line, pending = pending[: min(ends)], pending[min(ends) + 1 :]
        command = line.decode("latin-1").strip().upper()
        if not command:
            continue
        if command == "*IDN?":
            answer = "VORK-METER,SM-1,0001,1.0"
        elif command == "MEAS?":
            reading += random.uniform(-0.3, 0.3)
            answer = "%+.2f C" % reading
        else:
            answer = "ERR unknown command " + command
        print("meter: %s -> %s" % (command, answer), flush=True)
        os.write(master, (answer + "\r\n").encode("latin-1"))
stop()
