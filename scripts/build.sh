#!/usr/bin/env bash
# Configures and builds everything into build/ (the application bundle is build/Tolvar.app).
set -euo pipefail
cd "$(dirname "$0")/.."
# TOLVAR_TESTS_SANITIZED_ELSEWHERE=ON (scripts/test.sh) leaves out the test programs that only the
# sanitizer build runs; any other build has them, so their tests run here too.
cmake -S . -B build -DCMAKE_BUILD_TYPE="${CMAKE_BUILD_TYPE:-RelWithDebInfo}" \
    -DTOLVAR_TESTS_SANITIZED_ELSEWHERE="${TOLVAR_TESTS_SANITIZED_ELSEWHERE:-OFF}" >/dev/null
cmake --build build -j"$(nproc)" "$@"
