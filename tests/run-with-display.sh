#!/usr/bin/env bash
# Runs a test program on a private X display (Xvfb) inside a D-Bus session of its own, so that
# windows, application uniqueness and the status item never touch the person's desktop or another
# test. Both are gone when the program ends. The bus activates nothing of the machine's: only the
# services the test starts itself answer on it.
set -euo pipefail
export NO_AT_BRIDGE=1
bus_config="$(cd "$(dirname "$0")" && pwd)/session-bus.conf"
exec xvfb-run -a -s "-screen 0 1280x1024x24 -nolisten tcp" dbus-run-session --config-file="$bus_config" -- "$@"
