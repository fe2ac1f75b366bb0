#!/usr/bin/env bash
# Builds every fuzz target with clang (libFuzzer, AddressSanitizer, UndefinedBehaviorSanitizer)
# and runs each for FUZZ_SECONDS (default 60) from its seed corpus. Fails on any crash, leak,
# sanitizer report or timeout; the input that caused it is left in $FUZZ_BUILD_DIR/artifacts/.
#   FUZZ_SECONDS=60 bash fuzz/run.sh              all targets
#   FUZZ_SECONDS=300 bash fuzz/run.sh fuzz_xls    one target
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
BUILD=${FUZZ_BUILD_DIR:-build-fuzz}
SECONDS_EACH=${FUZZ_SECONDS:-60}
TARGETS=("$@")
[ ${#TARGETS[@]} -gt 0 ] || TARGETS=(fuzz_cfb fuzz_xls fuzz_formula fuzz_numbertext fuzz_cursorfile fuzz_inputsfile fuzz_road)

CC=${CC:-clang} CXX=${CXX:-clang++} cmake -S fuzz -B "$BUILD" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
nice -n 10 cmake --build "$BUILD" -j2 -- --no-print-directory >/dev/null

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-halt_on_error=1:print_stacktrace=1}
# Qt (number-text target) loads system libraries whose leaks are not ours.
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$ROOT/fuzz/lsan.supp}
export QT_QPA_PLATFORM=offscreen

status=0
for t in "${TARGETS[@]}"; do
  name=${t#fuzz_}
  work="$BUILD/corpus/$name"        # grows while fuzzing; the committed seeds stay as they are
  art="$BUILD/artifacts/$name"
  mkdir -p "$work" "$art"
  log="$BUILD/$t.log"
  echo "== $t: ${SECONDS_EACH}s"
  if nice -n 10 "$BUILD/$t" -max_total_time="$SECONDS_EACH" -timeout=10 -rss_limit_mb=2048 \
       -max_len=65536 -print_final_stats=1 -artifact_prefix="$art/" \
       "$work" "fuzz/corpus/$name" >"$log" 2>&1; then
    { grep -E '^stat::(number_of_executed_units|peak_rss_mb)' "$log" || true; } | tr -s ' \n' ' '; echo
  else
    echo "FAILED: $t (log $log, inputs in $art)"
    grep -E 'ERROR|SUMMARY|runtime error|==[0-9]+==' "$log" | head -20 || true
    status=1
  fi
done
exit $status
