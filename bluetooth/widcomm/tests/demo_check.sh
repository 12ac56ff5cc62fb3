#!/usr/bin/env bash
# Runs the Bluetooth demo part against the air its setup script writes, in a fresh device root,
# and checks that it found the meter and its serial-port service.
set -euo pipefail
java="$1"; classes="$2"; setup="$3"
root="$(mktemp -d)"
trap 'rm -rf "$root"' EXIT
"$setup" "$root" > /dev/null
if [ -n "${VORK_JVM_PRELOAD:-}" ]; then
  export LD_PRELOAD="$VORK_JVM_PRELOAD"
  export ASAN_OPTIONS="handle_segv=0:allow_user_segv_handler=1:detect_leaks=0:use_sigaltstack=0:${ASAN_OPTIONS:-}"
fi
output="$(VORK_DEVICE_ROOT="$root" LD_LIBRARY_PATH="$VORK_BUILD_DIR/lib" \
  "$java" -Djava.library.path="$VORK_BUILD_DIR/lib" -cp "$classes" BluetoothDemoCheck)"
echo "$output"
grep -q 'found 00:0A:3A:58:1C:07 "Brelna Meter 7" (class 1F0500, signal -6)' <<<"$output"
grep -q 'Brelna Meter 7: serial-port service "Meter serial port" on RFCOMM channel 3' <<<"$output"
grep -q 'Label Printer: no serial-port service' <<<"$output"
