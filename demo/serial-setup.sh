#!/usr/bin/env bash
# Serial demo: starts a meter on a pseudo-terminal linked as COM3 of the device in $1 and
# prints the meter's process id.
set -euo pipefail
root="$1"
here="$(cd "$(dirname "$0")" && pwd)"
mkdir -p "$root/dev"
rm -f "$root/dev/COM3"
python3 "$here/serial-meter.py" "$root" 3 >"$root/serial-meter.log" 2>&1 </dev/null &
pid=$!
for _ in $(seq 100); do
  [ -L "$root/dev/COM3" ] && break
  sleep 0.05
done
if [ ! -L "$root/dev/COM3" ]; then
  echo "serial-setup: the meter did not come up (see $root/serial-meter.log)" >&2
  kill "$pid" 2>/dev/null || true
  exit 1
fi
echo "$pid"
