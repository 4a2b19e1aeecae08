#!/usr/bin/env bash
# Builds Tolvar Desktop and the local stand-in service, starts the service with its demo user and
# opens the application on it. Without a display the application runs on a private X display in
# automation mode, signed in as the demo user, and leaves a picture of its window to look at.
#
# scripts/run.sh --update-demo shows an update in place instead (scripts/update-demo.sh).
# TOLVAR_BUILD_DIR names another, already configured build folder to use instead of build/.
set -euo pipefail
cd "$(dirname "$0")/.."

case "${1:-}" in
    "") ;;
    --update-demo) exec scripts/update-demo.sh ;;
    *) echo "usage: scripts/run.sh [--update-demo]" >&2; exit 2 ;;
esac

source scripts/common.sh
build_application
start_service "$build/run/releases"
# Every page the application opens itself (the first page, New Bookmark, Save Clipboard URL) comes
# from the stand-in service.
export TOLVAR_SERVICE_URL="$base"

if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
    echo "Starting Tolvar on your display; quit it from its Tolvar menu."
    "$build/Tolvar.app/bin/tolvar"
else
    look="$build/run/automation"
    rm -rf "$look" && mkdir -p "$look"
    echo "No display: running Tolvar on a private X display for ${TOLVAR_RUN_SECONDS:-20} seconds."
    TOLVAR_E2E_DIR="$look" TOLVAR_E2E_SESSION="$session" \
        on_private_display timeout -s TERM "${TOLVAR_RUN_SECONDS:-20}" "$build/Tolvar.app/bin/tolvar" || true
    echo "What the application did:      $look/events.jsonl"
    echo "A picture of its main window:  $look/main-window.png"
fi
