#!/usr/bin/env bash
# Prepares the simulated air of the Bluetooth demo in the device root given as $1: a handheld
# radio, a meter in range that offers a serial-port service, and a printer beside it.
set -euo pipefail
root="${1:?device root expected}"
mkdir -p "$root/bluetooth"
cat > "$root/bluetooth/air.txt" <<'AIR'
# The simulated air of the Bluetooth demo (see docs/substitute-platform.md, "Bluetooth").
local 00:0B:0D:00:00:01 "Field PDA"
inquiry complete 800
discovery complete 100

device 00:0A:3A:58:1C:07 "Brelna Meter 7" class 1F0500 after 150 responses 2 every 300 rssi 250
service
attribute 0x0000 u32:0x00010001
attribute 0x0001 ( uuid16:0x1101 )
attribute 0x0004 ( ( uuid16:0x0100 ) ( uuid16:0x0003 u8:3 ) )
attribute 0x0005 ( uuid16:0x1002 )
attribute 0x0100 text:"Meter serial port"

device 00:0A:3A:44:55:66 "Label Printer" class 040680 after 400
service
attribute 0x0000 u32:0x00010001
attribute 0x0001 ( uuid16:0x1105 )
attribute 0x0100 text:"OBEX Object Push"
AIR
