#!/usr/bin/env bash
# Installs the Debian packages that building, running and testing Tolvar Desktop need.
# Safe to run again: apt-get only installs what is missing.
set -euo pipefail

packages=(
  # toolchain and tests
  g++ cmake make pkg-config libgtest-dev libgmock-dev libbenchmark-dev
  # application stack
  libgtkmm-3.0-dev libwebkit2gtk-4.1-dev libsoup-3.0-dev
  libayatana-appindicator3-dev libkeybinder-3.0-dev
  nlohmann-json3-dev libicu-dev libssl-dev libsqlite3-dev libarchive-tools
  # headless GUI runs and tests
  xvfb xauth xdotool xclip dbus dbus-x11 at-spi2-core imagemagick
  # the user benchmark synthesizes keys in-process
  libx11-dev libxtst-dev
  # a real browser for the page-capture tests
  chromium
)

sudo=""
if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "install-deps: all packages present"
  exit 0
fi

echo "install-deps: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -q
$sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
