#!/usr/bin/env bash
# Prepares the simulated handheld for the widgets demo: nothing beyond the device root; the
# demo draws on the default 240 x 320 screen and saves <device root>/widgets-demo.png.
set -euo pipefail
root="$1"
mkdir -p "$root"
rm -f "$root/widgets-demo.png"
