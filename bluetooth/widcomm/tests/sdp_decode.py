#!/usr/bin/env python3
"""A plain SDP data element decoder, written apart from the Java one, to check it.

Each argument is the hexadecimal text of a byte array that begins with one data element
(bytes after it are ignored). One line is printed per argument:
  nil | u<bits>:<value> | i<bits>:<value> | uuid:<32 hex digits> | str:<hex> | url:<hex>
  | bool:true|false | seq(<items>) | alt(<items>)
Integers wider than 32 bits (and unsigned 64-bit ones) are printed as hex bytes: u64:#<hex>.
A broken element prints "error".
"""
import sys

BASE = bytes.fromhex("0000000000001000800000805F9B34FB")


class Broken(Exception):
    pass


def take(data, pos, count):
    if count < 0 or pos + count > len(data):
        raise Broken()
    return data[pos:pos + count], pos + count


def decode(data, pos):
    header, pos = take(data, pos, 1)
    kind, size = header[0] >> 3, header[0] & 7
    if kind == 0:
        if size:
            raise Broken()
        return "nil", pos
    if kind in (1, 2):
        if size > 4:
            raise Broken()
        width = 1 << size
        raw, pos = take(data, pos, width)
        prefix = ("u" if kind == 1 else "i") + str(8 * width)
        if width >= 16 or (width == 8 and kind == 1):
            return prefix + ":#" + raw.hex().upper(), pos
        return prefix + ":" + str(int.from_bytes(raw, "big", signed=(kind == 2))), pos
    if kind == 3:
        width = {1: 2, 2: 4, 4: 16}.get(size)
        if width is None:
            raise Broken()
        raw, pos = take(data, pos, width)
        full = raw if width == 16 else raw.rjust(4, b"\0") + BASE[4:]
        return "uuid:" + full.hex().upper(), pos
    if kind == 5:
        if size:
            raise Broken()
        raw, pos = take(data, pos, 1)
        return "bool:" + ("true" if raw[0] else "false"), pos
    if kind in (4, 6, 7, 8):
        if size not in (5, 6, 7):
            raise Broken()
        raw, pos = take(data, pos, 1 << (size - 5))
        length = int.from_bytes(raw, "big")
        body, after = take(data, pos, length)
        if kind == 4:
            return "str:" + body.hex().upper(), after
        if kind == 8:
            return "url:" + body.hex().upper(), after
        items = []
        while pos < after:
            item, pos = decode(data[:after], pos)
            items.append(item)
        return ("seq(" if kind == 6 else "alt(") + " ".join(items) + ")", after
    raise Broken()


def main(arguments):
    for text in arguments:
        try:
            print(decode(bytes.fromhex(text), 0)[0])
        except (Broken, ValueError):
            print("error")


if __name__ == "__main__":
    main(sys.argv[1:])
