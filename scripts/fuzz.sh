#!/usr/bin/env bash
# Builds the libFuzzer targets of fuzz/ into build-asan/ and runs each for the given number of
# seconds (default 5), starting from its seeds in fuzz/corpus/<target>/. New inputs the fuzzer finds
# are kept in build-asan/fuzz-corpus/<target>/, so a later run goes on from there; a crash leaves
# its input in build-asan/fuzz-artifacts/ and fails the run.
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
for name in "${names[@]}"; do
    mkdir -p "$folder/fuzz-corpus/$name"
    echo "fuzz: $name for ${seconds}s"
    "$folder/fuzz/fuzz_$name" -max_total_time="$seconds" -max_len=65536 -timeout=10 -rss_limit_mb=2048 \
        -artifact_prefix="$folder/fuzz-artifacts/$name-" -print_final_stats=1 \
        "$folder/fuzz-corpus/$name" "fuzz/corpus/$name" 2>"$folder/fuzz-$name.log" ||
        { tail -n 60 "$folder/fuzz-$name.log" >&2; echo "fuzz: $name failed" >&2; exit 1; }
    grep -E '^stat::number_of_executed_units' "$folder/fuzz-$name.log" || true
done
echo "fuzz: all ${#names[@]} targets clean"
