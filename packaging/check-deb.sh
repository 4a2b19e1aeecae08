#!/usr/bin/env bash
# Builds the Debian package from a build folder and checks it: the paths it must hold, its
# dependencies, lintian (no errors), and its desktop entry and metainfo validators.
#   check-deb.sh BUILD_DIR
set -euo pipefail
build=$(cd "$1" && pwd)
out="$build/package"
rm -rf "$out" && mkdir -p "$out"
(cd "$out" && cpack --config "$build/CPackConfig.cmake" -G DEB >cpack.log 2>&1) || { cat "$out/cpack.log"; exit 1; }
deb=$(ls "$out"/tolvar_*_*.deb)
echo "built $deb"

contents=$(dpkg-deb --contents "$deb")
for path in ./opt/tolvar/Tolvar.app/bin/tolvar ./opt/tolvar/Tolvar.app/libexec/tolvar-app \
    ./opt/tolvar/Tolvar.app/Info.json \
    ./opt/tolvar/Tolvar.app/libexec/tolvar-codesign ./opt/tolvar/Tolvar.app/libexec/tolvar-capture-host \
    "./usr/bin/tolvar -> /opt/tolvar/Tolvar.app/bin/tolvar" \
    ./usr/share/applications/app.tolvar.desktop.desktop \
    ./usr/share/icons/hicolor/scalable/apps/app.tolvar.desktop.svg \
    ./usr/share/icons/hicolor/48x48/apps/app.tolvar.desktop.png \
    ./usr/share/icons/hicolor/symbolic/apps/app.tolvar.desktop-symbolic.svg \
    ./usr/share/metainfo/app.tolvar.desktop.metainfo.xml ./usr/share/doc/tolvar/copyright \
    ./opt/tolvar/Tolvar.app/share/browser-extension/unpacked/manifest.json \
    ./opt/tolvar/Tolvar.app/share/browser-extension/tolvar-capture.crx \
    ./opt/tolvar/Tolvar.app/share/browser-extension/capture@tolvar.app.xpi \
    "./usr/share/chromium/extensions/tolvar-capture -> /opt/tolvar/Tolvar.app/share/browser-extension/unpacked" \
    "./usr/share/mozilla/extensions/{ec8030f7-c20a-464f-9b0e-13a3a9e97384}/capture@tolvar.app.xpi -> /opt/tolvar/Tolvar.app/share/browser-extension/capture@tolvar.app.xpi" \
    ./etc/firefox-esr/tolvar.js ./etc/chromium/native-messaging-hosts/app.tolvar.desktop.capture.json \
    ./etc/opt/chrome/native-messaging-hosts/app.tolvar.desktop.capture.json \
    ./usr/lib/mozilla/native-messaging-hosts/app.tolvar.desktop.capture.json; do
    grep -qF -- " $path" <<<"$contents" || { echo "missing from the package: $path"; exit 1; }
done
depends=$(dpkg-deb --field "$deb" Depends)
echo "Depends: $depends"
for needed in libarchive-tools libwebkit2gtk-4.1-0 libgtkmm-3.0-1v5; do
    grep -q "$needed" <<<"$depends" || { echo "Depends lacks $needed"; exit 1; }
done

# Only folders go into /usr/share/chromium/extensions: Debian's chromium wrapper fails on anything else.
if grep -E ' \./usr/share/chromium/extensions/[^ ]*\.json' <<<"$contents"; then echo "a .json in chromium's extensions folder"; exit 1; fi
dpkg-deb --ctrl-tarfile "$deb" | tar -xO ./conffiles | grep -qx /etc/firefox-esr/tolvar.js ||
    { echo "the files under /etc are not conffiles"; exit 1; }

unpacked="$out/unpacked"
dpkg-deb -x "$deb" "$unpacked"
desktop-file-validate "$unpacked/usr/share/applications/app.tolvar.desktop.desktop"
appstreamcli validate --no-net "$unpacked/usr/share/metainfo/app.tolvar.desktop.metainfo.xml"
# lintian refuses to run as root without this; errors fail the check, warnings are printed.
lintian --allow-root --fail-on error "$deb"
echo "package ok"
