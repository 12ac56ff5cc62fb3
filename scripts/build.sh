#!/usr/bin/env bash
# Configures and builds into build/ (or the folder in VORK_BUILD, with extra CMake options
# from the arguments).
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
build="${VORK_BUILD:-$top/build}"
cmake -S "$top" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" > "$build.configure.log" 2>&1 ||
  { cat "$build.configure.log"; exit 1; }
cmake --build "$build" -j2
