#!/usr/bin/env bash
# Builds the libFuzzer targets (the clang "fuzz" preset) and fuzzes each one
# on a copy of its saved corpus; prints executions and coverage per target
# and fails if any target crashes or breaks an invariant.
#   scripts/fuzz.sh short   about a minute per target (part of make test)
#   scripts/fuzz.sh long    longer runs (make fuzz); FUZZ_SECONDS overrides
# Crash inputs are kept in build/fuzz/findings/<target>/.
set -euo pipefail
cd "$(dirname "$0")/.."

mode=${1:-short}
case "$mode" in
  short) seconds=${FUZZ_SECONDS:-60} ;;
  long) seconds=${FUZZ_SECONDS:-1800} ;;
  *) echo "usage: $0 short|long" >&2; exit 2 ;;
esac

targets=(fuzz_track_index fuzz_track_stream fuzz_text_format fuzz_track_entry)
build=build/fuzz

cmake --preset fuzz >/dev/null
if [ "$mode" = long ]; then
  # The whole project, so that it keeps compiling with clang as well.
  cmake --build "$build" -j "$(nproc)"
  # The saved corpora and regressions replay once through libFuzzer first.
  ctest --test-dir "$build" -R '_corpus$' --output-on-failure
else
  # The test command replays the corpora in the sanitizer builds already;
  # here only the fuzz targets are built, to keep it short.
  cmake --build "$build" -j "$(nproc)" --target "${targets[@]}"
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/kestrel-fuzz.XXXXXX")
trap 'rm -rf "$work"' EXIT
failed=()
summary=()
for target in "${targets[@]}"; do
  # A target whose code has not landed yet is left out by CMake.
  if [ ! -x "$build/fuzz/$target" ]; then
    summary+=("$(printf '%-18s not built' "$target")")
    continue
  fi
  corpus="$work/$target"
  findings="$build/findings/$target"
  mkdir -p "$corpus" "$findings"
  cp fuzz/corpus/"$target"/* "$corpus"/
  if [ -d fuzz/regressions/"$target" ]; then cp fuzz/regressions/"$target"/* "$corpus"/; fi
  log="$build/findings/$target.log"
  echo "fuzz: $target for ${seconds}s"
  status=0
  "$build/fuzz/$target" "$corpus" -max_total_time="$seconds" -max_len=16384 -timeout=10 \
    -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$findings/" >"$log" 2>&1 || status=$?
  # The last status line holds the coverage; the final stats the executions.
  runs=$(grep -m1 '^stat::number_of_executed_units:' "$log" | awk '{print $2}' || true)
  last=$(grep -E '^#[0-9]+' "$log" | tail -n 1 || true)
  cov=$(sed -nE 's/.* cov: ([0-9]+).*/\1/p' <<<"$last")
  ft=$(sed -nE 's/.* ft: ([0-9]+).*/\1/p' <<<"$last")
  files=$(find "$corpus" -type f | wc -l)
  summary+=("$(printf '%-18s executions %-10s cov %-6s ft %-6s corpus %s' \
    "$target" "${runs:-?}" "${cov:-?}" "${ft:-?}" "$files")")
  if [ "$status" -ne 0 ]; then
    failed+=("$target")
    echo "fuzz: $target FAILED (exit $status); log $log, inputs in $findings" >&2
    grep -E 'invariant broken|ERROR: |runtime error|SUMMARY' "$log" | head -n 20 >&2 || true
  fi
done

printf '%s\n' "${summary[@]}"
if [ ${#failed[@]} -gt 0 ]; then
  echo "fuzz: failures in ${failed[*]}" >&2
  exit 1
fi
echo "fuzz: no failures"
