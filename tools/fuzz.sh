#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (AddressSanitizer and UndefinedBehaviorSanitizer
# included) and runs each from its seed corpus in tests/fuzz/corpus for a bounded time. Any crash,
# sanitizer report, broken check or input slower than the per-input limit fails the run; the
# input that did it is left in <build>/artifacts.
# Usage: tools/fuzz.sh [build-folder] [seconds-per-target]   (default: build/fuzz 60)
set -euo pipefail
cd "$(dirname "$0")/.."
build="${1:-build/fuzz}"
seconds="${2:-60}"
targets=(picture markers settings project)
# The settings target drives the whole window, whose toolkit caches fill up lazily: checking
# for leaks after each such input costs more than the input. The sanitizer pass of the tests
# checks the window for leaks instead.
declare -A extra=([settings]="-detect_leaks=0")

tools/install-deps.sh --fuzz
cmake -S . -B "$build" -DCMAKE_CXX_COMPILER=clang++-14 -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DPELTRIX_FUZZ=ON -DPELTRIX_WERROR=ON -DPELTRIX_BUILD_TESTS=OFF -DPELTRIX_BUILD_BENCH=OFF \
  -DPELTRIX_BUILD_TOOLS=OFF
cmake --build "$build" -j"$(nproc)" --target "${targets[@]/#/fuzz_}"

export ASAN_OPTIONS="halt_on_error=1:abort_on_error=1:detect_leaks=1"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1"
export LSAN_OPTIONS="suppressions=$PWD/tests/lsan.supp:print_suppressions=0"
export QT_QPA_PLATFORM=offscreen
mkdir -p "$build/artifacts"
summary=()
for target in "${targets[@]}"; do
  # New inputs go to a working folder; the committed seeds are only read.
  work="$build/corpus/$target"
  mkdir -p "$work"
  log="$build/fuzz_$target.log"
  echo "fuzz_$target: $seconds s"
  # -timeout bounds each input; the outer timeout also covers a start that never finishes.
  # shellcheck disable=SC2086 # the extra options are words
  if ! timeout $((seconds + 120)) "$build/tests/fuzz/fuzz_$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2560 \
      -print_final_stats=1 -artifact_prefix="$build/artifacts/$target-" ${extra[$target]:-} \
      "$work" "tests/fuzz/corpus/$target" > "$log" 2>&1; then
    tail -n 60 "$log"
    echo "fuzz_$target failed; the input is in $build/artifacts" >&2
    exit 1
  fi
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
  summary+=("fuzz_$target: $runs executions in $seconds s, corpus $(ls "$work" | wc -l) + $(ls "tests/fuzz/corpus/$target" | wc -l) seeds")
done
printf '%s\n' "${summary[@]}"
