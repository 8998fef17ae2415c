#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for a fixed time (default 30 seconds; the
# first argument overrides it), starting from the seed corpus in tests/fuzz/corpus. A crash fails
# the run and leaves its input in build/fuzz/artifacts.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-30}
build=build/fuzz

CC=clang CXX=clang++ cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DPYTARNTEXT_BUILD_FUZZERS=ON -DPYTARNTEXT_BUILD_MODULE=OFF
cmake --build "$build" --parallel 2
mkdir -p "$build/artifacts"

for target in json_parser bm25_model bm25_state token_frequency jieba_cut jieba_differential; do
  corpus="$build/corpus/$target"
  mkdir -p "$corpus"
  # Standard error is closed: the parser and the segmenter report every bad input there.
  if ! "$build/${target}_fuzzer" -max_total_time="$seconds" -close_fd_mask=2 -print_final_stats=1 \
      -artifact_prefix="$build/artifacts/${target}-" "$corpus" "tests/fuzz/corpus/$target" \
      >"$build/$target.log" 2>&1; then
    echo "$target: crashed; the report:"
    for input in "$build/artifacts/${target}-"*; do "$build/${target}_fuzzer" "$input" 2>&1 | tail -40 || true; done
    exit 1
  fi
  echo "$target: $(grep -a -o 'stat::number_of_executed_units: *[0-9]*' "$build/$target.log" | grep -o '[0-9]*$') executions in ${seconds}s, no crash"
done
