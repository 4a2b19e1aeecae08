#!/usr/bin/env bash
# Builds the unit, tool and stand-in service tests with AddressSanitizer and UndefinedBehaviorSanitizer
# into build-asan/ (clang, with the fuzz targets beside them) and runs them; any fault fails the run.
# The application and its window tests stay in the normal build.
set -euo pipefail
cd "$(dirname "$0")/.."
folder=${TOLVAR_ASAN_DIR:-build-asan}

cmake -S . -B "$folder" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
    -DTOLVAR_FUZZ=ON >/dev/null
# The programs are listed in the top-level CMakeLists.txt (TOLVAR_SANITIZED_TESTS).
cmake --build "$folder" -j"$(nproc)" --target sanitized_tests

# LeakSanitizer stays on, with the system libraries' own leaks listed in tests/sanitizer/lsan.supp.
# UBSan halts like ASan does, with a stack.
export ASAN_OPTIONS="${ASAN_OPTIONS:-halt_on_error=1:detect_stack_use_after_return=1:strict_string_checks=1}"
export LSAN_OPTIONS="${LSAN_OPTIONS:-suppressions=$(pwd)/tests/sanitizer/lsan.supp:print_suppressions=0}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-halt_on_error=1:print_stacktrace=1}"
# Only the tests of the programs built above; the others show as <target>_NOT_BUILT, and the
# package checks need the normal build.
ctest --test-dir "$folder" --output-on-failure --timeout 300 -j"$(nproc)" -E '_NOT_BUILT$|^update_fixtures$|^debian_package'
