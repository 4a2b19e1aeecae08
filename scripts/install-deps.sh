#!/usr/bin/env bash
# Installs the Debian packages that building, running and testing Tolvar Desktop need; with
# --runtime only those that running a release needs, with --build only those that building
# everything (the tests too) needs, so that the rest can install while it compiles
# (scripts/test.sh). Safe to run again: apt-get only installs what is missing.
set -euo pipefail

# What running a release (Tolvar.app from a zip) needs; the README's install line lists the same.
runtime=(
  libgtkmm-3.0-1v5 libwebkit2gtk-4.1-0 libsoup-3.0-0 libayatana-appindicator3-1 libkeybinder-3.0-0
  libicu72 libssl3 libsqlite3-0 libarchive-tools
  # the web engine's page sandbox
  bubblewrap xdg-dbus-proxy
)
# What building needs.
build=(
  g++ cmake make pkg-config
  libgtkmm-3.0-dev libwebkit2gtk-4.1-dev libsoup-3.0-dev
  libayatana-appindicator3-dev libkeybinder-3.0-dev
  nlohmann-json3-dev libicu-dev libssl-dev libsqlite3-dev
  # icons, and the Debian package
  librsvg2-bin dpkg-dev
  # the user benchmark synthesizes keys in-process
  libx11-dev libxtst-dev
  # the browser extension's signing key and id are made at configure time
  openssl
)
# What building the tests and benchmarks needs.
test_libraries=(libgtest-dev libgmock-dev libbenchmark-dev)
# What testing needs: test libraries, headless GUI runs, entry and package checkers, a real browser
# for the page-capture tests.
tests=(
  # the sanitizer and fuzzing builds (clang's ASan, UBSan and libFuzzer runtimes)
  clang libclang-rt-14-dev
  xvfb xauth xdotool x11-utils xclip dbus dbus-x11 at-spi2-core imagemagick
  desktop-file-utils appstream lintian libglib2.0-bin
  chromium
  # the Firefox routes of the browser extension
  firefox-esr
  # a Wayland compositor and clipboard tools for the quick-save tests on Wayland
  weston wl-clipboard
  # a self-signed certificate and a TLS server for the untrusted-certificate test
  openssl
  # the global shortcut against Debian's real KDE Plasma portal stack, and GNOME's keyboard
  # shortcut schemas
  xdg-desktop-portal xdg-desktop-portal-kde libkf5globalaccel-bin
  gnome-settings-daemon-common gsettings-desktop-schemas
)

case "${1:-}" in
  --runtime) packages=("${runtime[@]}") ;;
  --build) packages=("${runtime[@]}" "${build[@]}" "${test_libraries[@]}") ;;
  "") packages=("${runtime[@]}" "${build[@]}" "${test_libraries[@]}" "${tests[@]}") ;;
  *) echo "usage: $0 [--runtime | --build]" >&2; exit 2 ;;
esac

sudo=""
if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi

# One query for all (it fails for names dpkg has never seen): the packages installed; any other is missing.
installed=" $({ dpkg-query -W -f='${db:Status-Status} ${Package}\n' "${packages[@]}" 2>/dev/null || true; } |
              awk '$1 == "installed" { printf "%s ", $2 }')"
missing=()
for p in "${packages[@]}"; do
  [[ "$installed" == *" $p "* ]] || missing+=("$p")
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "install-deps: all packages present"
  exit 0
fi

echo "install-deps: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
# Package lists refreshed within the hour (by an earlier run of this script) are fresh enough.
if [ -z "$(find /var/lib/apt/lists -maxdepth 1 -name '*_Packages*' -mmin -60 -print -quit)" ]; then
  $sudo apt-get update -q
fi
options=(-o DPkg::Lock::Timeout=600)
# A CI machine is thrown away after the run, so dpkg need not sync every file it unpacks to disk.
if [ "${CI:-}" = true ]; then options+=(-o Dpkg::Options::=--force-unsafe-io); fi
$sudo apt-get install "${options[@]}" -y -q --no-install-recommends "${missing[@]}"
