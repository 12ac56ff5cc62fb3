#!/usr/bin/env python3
"""Checks that a trace (one XML element per line, no root) is well-formed XML.

Usage: xmlcheck.py FILE. The lines are wrapped in a root element and parsed with
xml.etree; prints the parser's complaint and exits 1 when the trace is not well-formed,
otherwise prints the number of records and exits 0.
"""
import sys
import xml.etree.ElementTree as ET

with open(sys.argv[1], "rb") as f:
    data = f.read()
try:
    root = ET.fromstring(b"<trace>" + data + b"</trace>")
except ET.ParseError as e:
    print(e)
    sys.exit(1)
print(len(root))
