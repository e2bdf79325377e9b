#!/usr/bin/env bash
# Runs one JVM test against libquibex.so:
#   run_jvm_test.sh <java> <libjsig.so> <java arguments...>
# The JDK's signal-chaining library is preloaded: libquibex replaces the
# handlers of SIGSEGV and four other signals when it is loaded, and the
# desktop JVM needs its own handlers for implicit null checks and garbage
# collection (an Android runtime chains such handlers by itself). The test
# fails on a non-zero exit and on any JNI problem the JVM reports under
# -Xcheck:jni, which HotSpot prints on standard output.
set -u
java=$1
jsig=$2
shift 2

log=$(mktemp)
trap 'rm -f "$log"' EXIT

LD_PRELOAD="$jsig${LD_PRELOAD:+:$LD_PRELOAD}" "$java" "$@" 2>&1 | tee "$log"
status=${PIPESTATUS[0]}

if grep -q -E 'WARNING in native method|FATAL ERROR in native method|handler modified|WARNING: JNI local refs' "$log"; then
  echo "run_jvm_test: the JVM reported a JNI problem (see above)"
  exit 1
fi
if [ "$status" -ne 0 ]; then
  echo "run_jvm_test: the JVM exited with status $status"
  exit 1
fi
exit 0
