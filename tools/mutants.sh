#!/usr/bin/env bash
# Applies each mutation of tools/mutants.txt to the sources in turn, rebuilds the targets its tests
# need in the given build folder, runs those tests and prints whether they failed, as they must.
# Every mutated file is restored, also when the run is interrupted.
#
#   tools/mutants.sh <build-folder> [id...]     (all mutations when no id is given)
#
# tools/mutants.txt: one mutation a line, six fields separated by tabs: id, file (from the source
# root), the original text, its replacement, the build targets the tests need (separated by spaces)
# and a ctest regex naming the tests that must fail. The texts are taken literally (one line, no
# tabs, none empty); the original must occur exactly once. Lines starting with # are comments.
# The build folder must have been built in full before.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
table="$root/tools/mutants.txt"
[[ $# -ge 1 ]] || { echo "usage: $0 <build-folder> [id...]" >&2; exit 2; }
build=$(cd "$1" && pwd)
shift
wanted=("$@")
log="$build/mutants-logs"
mkdir -p "$log"

backup=""
target=""
restore() {
    if [[ -n "$backup" ]]; then
        cp "$backup" "$target"   # a fresh time stamp, so the build recompiles the restored file
        rm -f "$backup"
        backup=""
    fi
}
trap restore EXIT
trap 'restore; exit 130' INT TERM

# Replaces the original text, which must occur exactly once, by the replacement.
mutate() {
    /usr/bin/python3 - "$@" <<'PY'
import sys
path, original, replacement = sys.argv[1:4]
with open(path, encoding="utf-8") as f:
    text = f.read()
count = text.count(original)
if count != 1:
    sys.exit(f"{path}: the original text occurs {count} times, not once: {original!r}")
with open(path, "w", encoding="utf-8") as f:
    f.write(text.replace(original, replacement))
PY
}

selected() {
    while IFS=$'\t' read -r id file original replacement targets regex; do
        [[ -z "$id" || "$id" == \#* ]] && continue
        [[ -n "$regex" ]] || { echo "$id: the line has fewer than six fields" >&2; exit 1; }
        if [[ ${#wanted[@]} -gt 0 && ! " ${wanted[*]} " =~ " $id " ]]; then continue; fi
        printf '%s\t%s\t%s\t%s\t%s\t%s\n' "$id" "$file" "$original" "$replacement" "$targets" "$regex"
    done <"$table"
}

build_targets() {  # targets... ; output to the file named by $out
    local args=()
    for t in "$@"; do args+=(--target "$t"); done
    cmake --build "$build" -j2 "${args[@]}" </dev/null >"$out" 2>&1
}

started=$SECONDS
mutations=$(selected)
[[ -n "$mutations" ]] || { echo "no mutation selected" >&2; exit 2; }

# The tests must pass on the unmutated sources, or a failure would prove nothing.
all_targets=$(cut -f5 <<<"$mutations" | tr ' ' '\n' | sort -u | tr '\n' ' ')
all_tests=$(cut -f6 <<<"$mutations" | paste -sd'|')
out="$log/unmutated.build"
# shellcheck disable=SC2086
build_targets $all_targets || { echo "the unmutated sources do not build: see $out" >&2; exit 1; }
if ! (cd "$build" && ctest -R "$all_tests" --no-tests=error --timeout 300 </dev/null >"$log/unmutated.test" 2>&1); then
    echo "the tests fail on the unmutated sources: see $log/unmutated.test" >&2
    exit 1
fi
echo "unmutated: the selected tests pass ($((SECONDS - started)) s)"

results=()
missed=0
broken=0
while IFS=$'\t' read -r id file original replacement targets regex; do
    target="$root/$file"
    backup=$(mktemp)
    cp "$target" "$backup"
    mutate "$target" "$original" "$replacement"   # exits the script (restoring) when not found once
    began=$SECONDS
    out="$log/$id.build"
    # shellcheck disable=SC2086
    if ! build_targets $targets; then
        verdict="NO-BUILD"
        broken=$((broken + 1))
    elif (cd "$build" && ctest -R "$regex" --no-tests=error --timeout 300 </dev/null >"$log/$id.test" 2>&1); then
        verdict="MISSED"
        missed=$((missed + 1))
    elif grep -q "No tests were found" "$log/$id.test"; then
        verdict="NO-TESTS"
        broken=$((broken + 1))
    else
        verdict="CAUGHT"
    fi
    restore
    results+=("$(printf '%-26s %-8s %5ss  %s' "$id" "$verdict" "$((SECONDS - began))" "$regex")")
    echo "${results[-1]}"
done <<<"$mutations"

echo "rebuilding the restored sources" >&2
out="$log/restored.build"
# shellcheck disable=SC2086
build_targets $all_targets || echo "warning: the restored sources do not build: see $out" >&2
echo
printf '%-26s %-8s %6s  %s\n' "mutation" "verdict" "time" "tests"
printf '%s\n' "${results[@]}"
echo "${#results[@]} mutations, $missed missed, $broken not run properly, $((SECONDS - started)) s in all"
[[ $missed -eq 0 && $broken -eq 0 ]]
