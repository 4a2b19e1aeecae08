#!/usr/bin/env bash
# Runs a test program on a private X display (Xvfb) inside a D-Bus session of its own, so that
# windows, application uniqueness and the status item never touch the person's desktop or another
# test. Both are gone when the program ends.
set -euo pipefail
export NO_AT_BRIDGE=1
exec xvfb-run -a -s "-screen 0 1280x1024x24 -nolisten tcp" dbus-run-session -- "$@"
