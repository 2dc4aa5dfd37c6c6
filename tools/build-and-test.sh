#!/usr/bin/env bash
# Installs the build dependencies (Debian 12), builds every target and runs every test.
# Usage: tools/build-and-test.sh [build-folder]   (default: build/tests)
set -euo pipefail
cd "$(dirname "$0")/.."
build="${1:-build/tests}"
tools/install-deps.sh --tests
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPELTRIX_BUILD_BENCH=OFF
cmake --build "$build" -j"$(nproc)"
QT_QPA_PLATFORM=offscreen ctest --test-dir "$build" --output-on-failure
