#!/usr/bin/env bash
# Builds Tolvar Desktop and the local stand-in service, starts the service with its demo user and
# opens the application on it. Without a display the application runs on a private X display in
# automation mode, signed in as the demo user, and leaves a picture of its window to look at.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh --target tolvar tolvar-devservice

root=$(pwd)
data="$root/build/run/service-data"
mkdir -p "$data" "$root/build/run/releases"
session="demo-session-$(od -An -N8 -tx1 /dev/urandom | tr -d ' \n')"

# The service prints its address on its first line.
coproc SERVICE { exec "$root/build/bin/tolvar-devservice" --port 0 --data "$data" \
    --releases "$root/build/run/releases" --demo-session "$session"; }
service_pid=$SERVICE_PID
trap 'kill "$service_pid" 2>/dev/null || true; wait "$service_pid" 2>/dev/null || true' EXIT
read -r -t 20 base <&"${SERVICE[0]}" || { echo "the stand-in service did not start" >&2; exit 1; }
echo "Stand-in service: $base (demo user \"demo\", password \"tolvar-demo\")"
export TOLVAR_START_URL="$base/app"

if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
    echo "Starting Tolvar on your display; quit it from its Tolvar menu."
    "$root/build/Tolvar.app/bin/tolvar"
else
    look="$root/build/run/automation"
    rm -rf "$look" && mkdir -p "$look"
    echo "No display: running Tolvar on a private X display for ${TOLVAR_RUN_SECONDS:-20} seconds."
    TOLVAR_E2E_DIR="$look" TOLVAR_E2E_SESSION="$session" NO_AT_BRIDGE=1 \
        xvfb-run -a -s "-screen 0 1280x1024x24 -nolisten tcp" dbus-run-session -- \
        timeout -s TERM "${TOLVAR_RUN_SECONDS:-20}" "$root/build/Tolvar.app/bin/tolvar" || true
    echo "What the application did:      $look/events.jsonl"
    echo "A picture of its main window:  $look/main-window.png"
fi
