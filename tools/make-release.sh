#!/usr/bin/env bash
# Builds a signed Tolvar.app for a given version and packs it as an update archive: a zip file with
# Tolvar.app at its top level, ready for a releases folder (the stand-in service serves one under
# /downloads/).
#
#   tools/make-release.sh --version 1.2.0 --key team-key.pem --out DIR [--build-dir DIR] [--no-build]
#                         [--bundle-out DIR] [--lint-xpi] [--signed-xpi FILE]
#
# Beside the archive it writes DIR/capture@tolvar.app-EXTVERSION.xpi, the Firefox add-on as the
# bundle carries it, ready for Mozilla's unlisted signing; --lint-xpi first validates it with
# `web-ext lint` (from npm, through npx). Signing is a step of its own, with the team's AMO API keys:
#   npx web-ext sign --channel=unlisted --source-dir build/Tolvar.app/share/browser-extension/unpacked \
#       --api-key=$AMO_JWT_ISSUER --api-secret=$AMO_JWT_SECRET --artifacts-dir signed/
# then run this script again with --signed-xpi signed/<file>.xpi: the signed add-on goes into the
# bundle (share/browser-extension/signed/capture@tolvar.app.xpi), under the bundle's signature, and
# `tolvar --install` puts it in the user's Firefox. Mozilla signs each add-on version once, so raise
# the manifest's version whenever the extension changes.
#
# The bundle is the one the build writes (BUILD_DIR/Tolvar.app, built first unless --no-build),
# copied, given the version in its Info.json, normalised to the modes a signed bundle may hold
# (0755 for folders and executables, 0644 for other files) and signed with the team's Ed25519 key
# by the build's own tolvar-codesign. The signature covers Info.json, so the version is part of
# what is signed. Writes DIR/Tolvar-VERSION.zip and prints its path; with --bundle-out the signed
# bundle is also left at that folder's Tolvar.app.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
version="" key="" out="" build="$root/build" bundle_out="" build_first=1 lint_xpi=0 signed_xpi=""
while [ $# -gt 0 ]; do
    case "$1" in
        --version) version=${2:?}; shift 2 ;;
        --key) key=${2:?}; shift 2 ;;
        --out) out=${2:?}; shift 2 ;;
        --build-dir) build=${2:?}; shift 2 ;;
        --bundle-out) bundle_out=${2:?}; shift 2 ;;
        --no-build) build_first=0; shift ;;
        --lint-xpi) lint_xpi=1; shift ;;
        --signed-xpi) signed_xpi=${2:?}; shift 2 ;;
        *) echo "make-release: unknown argument $1" >&2; exit 2 ;;
    esac
done
if [ -z "$version" ] || [ -z "$key" ] || [ -z "$out" ]; then
    echo "usage: make-release.sh --version VERSION --key KEYFILE --out DIR [--build-dir DIR] [--no-build] [--bundle-out DIR]" >&2
    exit 2
fi
# The version goes into JSON and a file name: letters, digits and . + ~ - only.
if ! [[ "$version" =~ ^[0-9A-Za-z][0-9A-Za-z.+~-]*$ ]]; then
    echo "make-release: unsuitable version \"$version\"" >&2
    exit 2
fi

if [ "$build_first" = 1 ]; then
    cmake --build "$build" --target tolvar tolvar-codesign tolvar-assess tolvar_browser_extension >&2
fi
built="$build/Tolvar.app"
codesign="$built/libexec/tolvar-codesign"
for needed in "$built/Info.json" "$built/bin/tolvar" "$built/libexec/tolvar-app" "$codesign" "$built/libexec/tolvar-assess"; do
    [ -e "$needed" ] || { echo "make-release: $needed is missing; build first" >&2; exit 1; }
done

stage=$(mktemp -d "${TMPDIR:-/tmp}/tolvar-release-XXXXXX")
trap 'rm -rf "$stage"' EXIT
cp -R "$built" "$stage/Tolvar.app"
rm -rf "$stage/Tolvar.app/_CodeSignature"
sed -E "s/\"CFBundleShortVersionString\": *\"[^\"]*\"/\"CFBundleShortVersionString\": \"$version\"/" \
    "$built/Info.json" > "$stage/Tolvar.app/Info.json"
grep -q "\"CFBundleShortVersionString\": \"$version\"" "$stage/Tolvar.app/Info.json" ||
    { echo "make-release: could not set the version in Info.json" >&2; exit 1; }
# The metainfo's release names the same version, dated today.
metainfo="share/metainfo/app.tolvar.desktop.metainfo.xml"
sed -E "s|<release version=\"[^\"]*\" date=\"[^\"]*\"/>|<release version=\"$version\" date=\"$(date -u +%Y-%m-%d)\"/>|" \
    "$built/$metainfo" > "$stage/Tolvar.app/$metainfo"
grep -q "<release version=\"$version\"" "$stage/Tolvar.app/$metainfo" ||
    { echo "make-release: could not set the version in the metainfo" >&2; exit 1; }
find "$stage/Tolvar.app" -type d -exec chmod 0755 {} +
find "$stage/Tolvar.app" -type f -perm /111 -exec chmod 0755 {} +
find "$stage/Tolvar.app" -type f ! -perm /111 -exec chmod 0644 {} +

# The Firefox add-on: linted when asked, written out for signing, and Mozilla's signed copy bundled.
extension="$stage/Tolvar.app/share/browser-extension"
if [ "$lint_xpi" = 1 ]; then
    npx --yes web-ext lint --source-dir "$extension/unpacked" >&2 ||
        { echo "make-release: web-ext lint found errors in the add-on" >&2; exit 1; }
fi
if [ -n "$signed_xpi" ]; then
    bsdtar -tf "$signed_xpi" | grep -qx 'META-INF/mozilla.rsa' ||
        { echo "make-release: $signed_xpi is not an add-on signed by Mozilla" >&2; exit 1; }
    mkdir -p "$extension/signed"
    install -m 0644 "$signed_xpi" "$extension/signed/capture@tolvar.app.xpi"
fi

"$codesign" --sign "$key" "$stage/Tolvar.app"
"$codesign" --verify --deep --strict "$stage/Tolvar.app"

mkdir -p "$out"
archive="$(cd "$out" && pwd)/Tolvar-$version.zip"
rm -f "$archive.partial"
(cd "$stage" && bsdtar --format zip -cf "$archive.partial" Tolvar.app)
mv -f "$archive.partial" "$archive"
extension_version=$(sed -nE 's/.*"version" *: *"([^"]*)".*/\1/p' "$extension/unpacked/manifest.json" | head -1)
[ -n "$extension_version" ] || { echo "make-release: the extension's manifest names no version" >&2; exit 1; }
cp "$extension/capture@tolvar.app.xpi" "$out/capture@tolvar.app-$extension_version.xpi"
if [ -n "$bundle_out" ]; then
    mkdir -p "$bundle_out"
    rm -rf "$bundle_out/Tolvar.app"
    mv "$stage/Tolvar.app" "$bundle_out/Tolvar.app"
fi
echo "$archive"
