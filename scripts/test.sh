#!/usr/bin/env bash
# Installs what is missing, builds, and runs the whole test suite (C++ units, programs on a
# simulated device, and natives inside a real JVM).
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
"$top/scripts/setup.sh"
"$top/scripts/build.sh"
cd "${VORK_BUILD:-$top/build}"
ctest --output-on-failure -j2 -LE 'fuzz|bench' "$@"
