#!/usr/bin/env bash
# Makes the signed bundles the update tests share: a team key and another key, the running build at
# version 1.0 and the offered build at 2.0 of the same team (as bundles and as an update archive).
#   make-fixtures.sh BUILD_DIR OUT_DIR
set -euo pipefail
build=$1 out=$2
source_dir=$(cd "$(dirname "$0")/../.." && pwd)
codesign="$build/Tolvar.app/libexec/tolvar-codesign"
rm -rf "$out.partial" && mkdir -p "$out.partial"
"$codesign" --generate-key "$out.partial/team.pem" > "$out.partial/team.txt"
"$codesign" --generate-key "$out.partial/other.pem" > "$out.partial/other.txt"
release() {
    "$source_dir/tools/make-release.sh" --no-build --build-dir "$build" --version "$1" --key "$out.partial/team.pem" \
        --out "$out.partial/releases" --bundle-out "$out.partial/$1" >/dev/null 2>&1
}
release 1.0
release 2.0
rm -rf "$out" && mv "$out.partial" "$out"
