#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, ASan+UBSan) and runs each for FUZZ_SECONDS seconds,
# starting from its seed corpus in fuzz/corpus/<target>/ when there is one, with inputs allowed
# to grow as large as its largest seed (at least 4096 bytes). Fails on a crash, a leak or a
# sanitizer report.
set -euo pipefail
cd "$(dirname "$0")/.."

SECONDS_PER_TARGET=${FUZZ_SECONDS:-60}
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j "$(nproc)"

shopt -s nullglob
status=0
for target in build/fuzz/fuzz/*_fuzzer; do
  name=$(basename "$target")
  work=$(mktemp -d)
  seeds=()
  max_len=4096
  if [ -d "fuzz/corpus/$name" ]; then
    seeds=("fuzz/corpus/$name")
    largest=$(find "fuzz/corpus/$name" -type f -printf '%s\n' | sort -n | tail -n 1)
    [ -n "$largest" ] && [ "$largest" -gt "$max_len" ] && max_len=$largest
  fi
  echo "-- $name for ${SECONDS_PER_TARGET}s (max_len $max_len)"
  if ! "$target" -max_total_time="$SECONDS_PER_TARGET" -max_len="$max_len" -print_final_stats=0 \
      -artifact_prefix="$work/" "$work" "${seeds[@]}" >"$work/log" 2>&1; then
    tail -n 60 "$work/log"
    echo "FAILED: $name (artifacts in $work)"
    status=1
    continue
  fi
  grep -E '^(#[0-9]+.*DONE|Done)' "$work/log" | tail -n 1 || true
  rm -rf "$work"
done
exit $status
