#!/usr/bin/env bash
# Installs what the build needs, builds everything and runs the whole test suite: the unit, tool and
# stand-in service tests once under ASan and UBSan and each fuzz target briefly, then every test in the
# normal build: unit tests, the stand-in service's contract tests, and the application under private
# X and Wayland displays.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh
scripts/sanitize.sh
scripts/fuzz.sh "${TOLVAR_FUZZ_SECONDS:-5}"
cd build
# A test that fails is run once more before it counts, since these machines are shared and a window
# test can miss a deadline under load; each failure still shows in the output.
ctest --output-on-failure --timeout 300 -j"$(nproc)" --repeat until-pass:2
