#!/usr/bin/env bash
# Installs what the build needs, builds everything and runs the whole test suite: unit tests,
# the stand-in service's contract tests, and the application under a private X display.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh
cd build
ctest --output-on-failure --timeout 300 -j"$(nproc)"
