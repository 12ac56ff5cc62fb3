#!/usr/bin/env bash
# Runs every JUnit 5 test class found on the given class path in a real JVM whose
# java.library.path is build/lib. In a sanitizer build the sanitizer runtime is preloaded.
set -euo pipefail
java="$1"; cp="$2"; shift 2
export LD_LIBRARY_PATH="$VORK_BUILD_DIR/lib${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}"
if [ -n "${VORK_JVM_PRELOAD:-}" ]; then
  export LD_PRELOAD="${VORK_JVM_PRELOAD}"
  # The JVM uses SIGSEGV for its own purposes and allocates on its own terms.
  export ASAN_OPTIONS="handle_segv=0:allow_user_segv_handler=1:detect_leaks=0:use_sigaltstack=0:${ASAN_OPTIONS:-}"
fi
scan="${cp%%:*}"
exec "$java" -Xss4m -Djava.library.path="$VORK_BUILD_DIR/lib" -jar "$VORK_JUNIT_JAR" \
  --class-path "$cp" --scan-class-path "$scan" --disable-banner --details=tree \
  --fail-if-no-tests "$@"
