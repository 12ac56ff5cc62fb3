#!/usr/bin/env bash
# Runs BlueZChild in VMs of their own and checks what they print (native and Java output share
# the process's standard output) and that each VM ends by itself.
set -euo pipefail
java="$1"; classes="$2"
root="$(mktemp -d)"
trap 'rm -rf "$root"' EXIT
if [ -n "${VORK_JVM_PRELOAD:-}" ]; then
  export LD_PRELOAD="$VORK_JVM_PRELOAD"
  export ASAN_OPTIONS="handle_segv=0:allow_user_segv_handler=1:detect_leaks=0:use_sigaltstack=0:${ASAN_OPTIONS:-}"
fi
run() {
  VORK_DEVICE_ROOT="$root" LD_LIBRARY_PATH="$VORK_BUILD_DIR/lib" timeout 60 \
    "$java" -Djava.library.path="$VORK_BUILD_DIR/lib" -cp "$classes" BlueZChild "$1"
}
expect() {
  grep -qxF -- "$2" <<<"$1" || { echo "missing line: $2"; exit 1; }
}

# HotSpot's ThrowNew never answers a failure: it leaves the error of the failed construction
# pending, and the native carries on. (A VM that answers one makes the native print
# "** Error throwing BlueZ exception - exiting **" and the message instead.)
out="$(run throw-failure)"; echo "$out"
if grep -qxF -- "** Error throwing BlueZ exception - exiting **" <<<"$out"; then
  expect "$out" "Message:"
  expect "$out" "Local Device class not supported by Widcomm"
else
  grep -q "^threw java.lang.NoSuchMethodError: .*Mute" <<<"$out" || { echo "no pending error"; exit 1; }
fi

out="$(run no-resolver)"; echo "$out"
expect "$out" "threw de.brelna.bluetooth.stack.BlueZException: Local Device class not supported by Widcomm"

out="$(run stack-down)"; echo "$out"
expect "$out" "Stack status changed! down"
expect "$out" "stackDown calls: 1"
