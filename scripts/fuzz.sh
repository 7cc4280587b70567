#!/usr/bin/env bash
# Builds every libFuzzer target (clang, ASan + UBSan) in build-fuzz/ and runs
# each for a fixed time from a scratch copy of its seed corpus (fuzz/seeds is
# never written). Fails on any crash, leak, timeout, sanitizer report or
# broken property.
# Usage: fuzz.sh [seconds per target, default 20]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-20}
[[ "$seconds" =~ ^[1-9][0-9]*$ ]] || { echo "usage: $0 [seconds per target]" >&2; exit 2; }

# -O1 with line tables only: builds in about half the time of -O2 -g and
# still gives file:line in every report.
cmake -S . -B build-fuzz -G Ninja -DHUB_FUZZ=ON -DHUB_BUILD_GUI=OFF -DHUB_BUILD_TESTS=OFF \
      -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE= \
      "-DCMAKE_CXX_FLAGS=-O1 -gline-tables-only" >/dev/null
cmake --build build-fuzz --target fuzzers

scratch=$(mktemp -d "${TMPDIR:-/tmp}/hub-fuzz.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
export ASAN_OPTIONS=detect_leaks=1
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1

failed=()
for source in fuzz/*_fuzzer.cpp; do
  name=$(basename "$source" .cpp)
  corpus="$scratch/$name/corpus"
  mkdir -p "$corpus" "$scratch/$name/artifacts"
  [ -d "fuzz/seeds/$name" ] && cp -R "fuzz/seeds/$name/." "$corpus/"
  options=(-max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1
           -artifact_prefix="$scratch/$name/artifacts/")
  [ -f "fuzz/$name.dict" ] && options+=(-dict="fuzz/$name.dict")
  log="$scratch/$name/log"
  if build-fuzz/fuzz/"$name" "${options[@]}" "$corpus" >"$log" 2>&1; then
    execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
    printf '%-22s ok: %s executions, corpus %s files\n' "$name" "${execs:-?}" "$(ls "$corpus" | wc -l)"
  else
    failed+=("$name")
    echo "$name FAILED; last lines of its log:"
    tail -n 60 "$log"
    for artifact in "$scratch/$name"/artifacts/*; do
      [ -f "$artifact" ] || continue
      mkdir -p build-fuzz/artifacts && cp "$artifact" build-fuzz/artifacts/
      echo "input kept in build-fuzz/artifacts/$(basename "$artifact") (base64: $(base64 -w0 "$artifact" | head -c 400))"
    done
  fi
done
((${#failed[@]} == 0)) || { echo "fuzzing failed: ${failed[*]}"; exit 1; }
