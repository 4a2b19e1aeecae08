#!/usr/bin/env bash
# Installs what the build needs, builds everything and runs the whole test suite: unit tests,
# the stand-in service's contract tests, and the application under a private X display; then the
# unit, tool and stand-in service tests once more under ASan and UBSan, and each fuzz target briefly.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh
cd build
ctest --output-on-failure --timeout 300 -j"$(nproc)"
cd ..
scripts/sanitize.sh
scripts/fuzz.sh "${TOLVAR_FUZZ_SECONDS:-5}"
