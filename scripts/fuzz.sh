#!/usr/bin/env bash
# Builds the libFuzzer targets of fuzz/ into build-asan/ and runs each for the given number of
# seconds (default 5), starting from its seeds in fuzz/corpus/<target>/. New inputs the fuzzer finds
# are kept in build-asan/fuzz-corpus/<target>/, so a later run goes on from there; a crash leaves
# its input in build-asan/fuzz-artifacts/ and fails the run. As many targets run at once as there
# are cores.
#   scripts/fuzz.sh 600          # ten minutes per target
#   scripts/fuzz.sh 60 json      # one target
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-5}
shift || true
folder=${TOLVAR_ASAN_DIR:-build-asan}
names=("$@")
if [ ${#names[@]} -eq 0 ]; then
    for harness in fuzz/*.cpp; do names+=("$(basename "$harness" .cpp)"); done
fi

cmake -S . -B "$folder" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
    -DTOLVAR_FUZZ=ON >/dev/null
cmake --build "$folder" -j"$(nproc)" --target "${names[@]/#/fuzz_}"

export ASAN_OPTIONS="${ASAN_OPTIONS:-halt_on_error=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-halt_on_error=1:print_stacktrace=1}"
mkdir -p "$folder/fuzz-artifacts"

# Runs one target; on a crash prints the end of its log.
fuzz_one() {
    local name=$1 log="$folder/fuzz-$1.log"
    mkdir -p "$folder/fuzz-corpus/$name"
    if ! "$folder/fuzz/fuzz_$name" -max_total_time="$seconds" -max_len=65536 -timeout=10 -rss_limit_mb=2048 \
            -artifact_prefix="$folder/fuzz-artifacts/$name-" -print_final_stats=1 \
            "$folder/fuzz-corpus/$name" "fuzz/corpus/$name" 2>"$log"; then
        tail -n 60 "$log" >&2
        echo "fuzz: $name failed" >&2
        return 1
    fi
    echo "fuzz: $name for ${seconds}s, $(grep -E '^stat::number_of_executed_units' "$log" || echo "no stats")"
}

# A fuzzer keeps one core busy: as many run at once as there are cores (TOLVAR_FUZZ_JOBS).
jobs=${TOLVAR_FUZZ_JOBS:-$(nproc)}
running=0 failed=0
for name in "${names[@]}"; do
    if [ "$running" -ge "$jobs" ]; then
        wait -n || failed=1
        running=$((running - 1))
    fi
    fuzz_one "$name" &
    running=$((running + 1))
done
while [ "$running" -gt 0 ]; do
    wait -n || failed=1
    running=$((running - 1))
done
if [ "$failed" -ne 0 ]; then echo "fuzz: a target failed (see above)" >&2; exit 1; fi
echo "fuzz: all ${#names[@]} targets clean"
