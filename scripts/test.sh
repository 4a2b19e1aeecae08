#!/usr/bin/env bash
# Installs what the build needs, builds everything and runs the whole test suite: the unit, tool and
# stand-in service tests once under ASan and UBSan and each fuzz target briefly, in build-asan/; then
# every other test in the normal build: the application under private X and Wayland displays, the
# browsers, the installer, the updater and the Debian package. Each phase says how long it took.
set -euo pipefail
cd "$(dirname "$0")/.."

# Each phase's wall time, the processor time of what it ran (work, which load does not inflate as it
# does the wall time), and the load average at its end.
times_file=$(mktemp)
children_cpu() {  # sets cpu to the processor seconds of every finished child so far
    times >"$times_file"  # in this shell: a subshell would count only its own children
    cpu=$(tail -n 1 "$times_file" | awk '{ sub(/s$/, "", $1); sub(/s$/, "", $2); split($1, u, "m")
                                           split($2, s, "m"); printf "%d", u[1] * 60 + u[2] + s[1] * 60 + s[2] }')
}
phase_start=$SECONDS phase_cpu=0
phase_done() {
    children_cpu
    echo "test.sh: $1: $((SECONDS - phase_start)) s, $((cpu - phase_cpu)) s of processor time" \
         "(load $(cut -d' ' -f1-3 /proc/loadavg))"
    phase_start=$SECONDS phase_cpu=$cpu
}

scripts/install-deps.sh --build
phase_done "packages for the build"

# The rest (browsers, displays, clang, package checkers) installs while the normal build compiles.
deps_log=$(mktemp)
scripts/install-deps.sh >"$deps_log" 2>&1 </dev/null &
deps=$!
# Never leave apt half-way: a failed build waits for the installation before the script ends.
trap 'wait "$deps" 2>/dev/null || true; rm -f "$deps_log" "$times_file"' EXIT

# The unit, tool and stand-in service test programs are built and run in build-asan/ only.
TOLVAR_TESTS_SANITIZED_ELSEWHERE=ON scripts/build.sh
phase_done "normal build"
deps_status=0
wait "$deps" || deps_status=$?
cat "$deps_log"
if [ "$deps_status" -ne 0 ]; then echo "test.sh: installing the test packages failed" >&2; exit 1; fi
phase_done "waiting for the test packages"

scripts/sanitize.sh
phase_done "sanitizer build and tests"
scripts/fuzz.sh "${TOLVAR_FUZZ_SECONDS:-5}"
phase_done "fuzz targets"

# One test per core: at twice as many the panel's keyboard focus and the pages' loads missed their
# deadlines now and then. A test that keeps a core busy, or drives the whole application with its
# compositor and portal, claims two slots (PROCESSORS 2), and the longest start first (COST), since a
# clean clone has no timings of an earlier run.
# A test that fails is run once more before it counts, since these machines are shared and a window
# test can miss a deadline under load; each failure still shows in the output. Passing tests run once.
(cd build && ctest --output-on-failure --timeout 300 -j"$(nproc)" --repeat until-pass:2)
phase_done "tests in the normal build"
children_cpu
echo "test.sh: all passed in $SECONDS s, $cpu s of processor time"
