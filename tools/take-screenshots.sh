#!/usr/bin/env bash
# Takes the metainfo's screenshots from the application itself: the built Tolvar runs in automation
# mode on a private display against the stand-in service, signed in as its demo user; the journal's
# pictures of the main window and of the quick-save panel are copied out. They are published at the
# addresses the metainfo names (https://tolvar.app/desktop/screenshots/).
#   tools/take-screenshots.sh [OUT_DIR]     (default build/screenshots)
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/common.sh
build_application
out=${1:-$build/screenshots}
start_service "$build/run/releases"
work="$build/run/screenshots"
rm -rf "$work" && mkdir -p "$work" "$out"

# On the private display: start Tolvar, wait for its window picture, open the panel with an address
# on the clipboard, wait for the panel's picture, quit.
on_private_display bash -c '
    wait_for() { for _ in $(seq 300); do grep -q "\"event\":\"$1\"" "$2/events.jsonl" 2>/dev/null && return; sleep 0.1; done; }
    TOLVAR_E2E_DIR="$1" TOLVAR_E2E_SESSION="$2" TOLVAR_START_URL="$3/app" "$4/Tolvar.app/bin/tolvar" &
    app=$!
    wait_for main-snapshot "$1"
    printf "%s" "https://example.org/reading/list" | xclip -selection clipboard
    printf "present\n" >> "$1/cmd"
    wait_for presented "$1"
    kill "$app"; wait "$app" || true
' _ "$work" "$session" "$base" "$build"

cp "$work/main-window.png" "$out/main-window.png"
cp "$(ls "$work"/*-presented.png | head -n 1)" "$out/quick-save-panel.png"
echo "Screenshots: $out/main-window.png $out/quick-save-panel.png"
