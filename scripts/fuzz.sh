#!/usr/bin/env bash
# Builds the fuzz targets with clang's libFuzzer into build-fuzz/ and runs each briefly
# (CTest label "fuzz"; 20 seconds a target). Extra arguments go to ctest.
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
"$top/scripts/setup.sh"
if ! command -v clang++ > /dev/null || ! ls /usr/lib/llvm-*/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a > /dev/null 2>&1; then
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends clang libclang-rt-dev
fi
export VORK_BUILD="$top/build-fuzz"
CC=clang CXX=clang++ "$top/scripts/build.sh" -DVORK_FUZZ=ON -DVORK_BENCHMARKS=OFF
cd "$VORK_BUILD"
ctest --output-on-failure -L fuzz "$@"
