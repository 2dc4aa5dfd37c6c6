#!/usr/bin/env bash
# Installs the build dependencies (Debian 12), builds every target (the benchmarks and tools
# too, so that they cannot rot) with warnings as errors, and runs every test.
# Usage: tools/build-and-test.sh [build-folder]   (default: build/tests)
set -euo pipefail
cd "$(dirname "$0")/.."
build="${1:-build/tests}"
tools/install-deps.sh --tests
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPELTRIX_WERROR=ON
cmake --build "$build" -j"$(nproc)"
QT_QPA_PLATFORM=offscreen ctest --test-dir "$build" --output-on-failure
