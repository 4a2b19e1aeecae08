#!/usr/bin/env bash
# Builds Tolvar and the user benchmark, and runs it: start-up, memory, quick-save latency, save
# round trip, update-check throughput and idle activity, beside a bare WebKitGTK window and
# Chromium; and Tolvar in the tray (--background, its page asleep and woken) beside a bare GTK
# tray program. Prints a table and one JSON line. Arguments go to the benchmark (--quick for one short
# round, --rounds N, --verbose for the breakdowns by process and by thread).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh >&2
scripts/build.sh --target tolvar-user-bench >&2
echo "machine: $(nproc) CPUs, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //'), $(uname -sr)" >&2
echo "load before: $(uptime)" >&2
build/bench/tolvar-user-bench "$@"
echo "load after: $(uptime)" >&2
