#!/usr/bin/env bash
# Builds Tolvar Desktop and the local stand-in service, starts the service with its demo user and
# opens the application on it. Without a display the application runs on a private X display in
# automation mode, signed in as the demo user, and leaves a picture of its window to look at.
#
# scripts/run.sh --update-demo shows an update in place instead: it signs the build as its own
# version A (a copy installed in build/run/update-demo/installed), puts a signed release of the next
# version B and a feed naming it into the service's releases folder, and runs A in automation mode
# on a private X display until A has installed B and started again as B.
# TOLVAR_BUILD_DIR names another, already configured build folder to use instead of build/.
set -euo pipefail
cd "$(dirname "$0")/.."

if [ "${1:-}" = --update-demo-drive ]; then
    # Inside the demo's private display: starts the installed copy in a process group of its own,
    # waits for its "self-update" event, for it to quit and for the instance it relaunches to load
    # its first page, then ends the group, relaunched instance included.
    app=$2 journal="$3/events.jsonl" deadline=$((SECONDS + ${4:-120}))
    setsid "$app" &
    group=$!
    trap 'kill -TERM -- -"$group" 2>/dev/null || true' EXIT
    wait_for() {
        until eval "$1"; do
            [ "$SECONDS" -lt "$deadline" ] || { echo "update demo: $2" >&2; exit 1; }
            sleep 0.2
        done
    }
    wait_for "grep -q '\"event\":\"self-update\"' '$journal' 2>/dev/null" "no self-update event"
    wait_for "! kill -0 $group 2>/dev/null" "the application did not quit to start again"
    lines=$(wc -l < "$journal")
    wait_for "tail -n +$((lines + 1)) '$journal' | grep -q '\"event\":\"web-loaded\"'" \
        "the new version did not start"
    sleep 1
    exit 0
fi
update_demo=0
case "${1:-}" in
    "") ;;
    --update-demo) update_demo=1 ;;
    *) echo "usage: scripts/run.sh [--update-demo]" >&2; exit 2 ;;
esac

scripts/install-deps.sh
if [ -n "${TOLVAR_BUILD_DIR:-}" ]; then
    cmake --build "$TOLVAR_BUILD_DIR" --target tolvar tolvar-devservice
    build=$(cd "$TOLVAR_BUILD_DIR" && pwd)
else
    scripts/build.sh --target tolvar tolvar-devservice
    build=$(pwd)/build
fi

root=$(pwd)
data="$build/run/service-data"
releases="$build/run/releases"
mkdir -p "$data" "$releases"

if [ "$update_demo" = 1 ]; then
    demo="$build/run/update-demo"
    codesign="$build/Tolvar.app/libexec/tolvar-codesign"
    mkdir -p "$demo"
    # A team key of this checkout's own, made once; it stays in the build folder.
    [ -f "$demo/team.pem" ] || "$codesign" --generate-key "$demo/team.pem" >/dev/null
    version_of() { sed -nE 's/.*"CFBundleShortVersionString": *"([^"]*)".*/\1/p' "$1/Info.json"; }
    current=$(version_of "$build/Tolvar.app")
    # The next version: the last number of the current one plus one (0.1.0 becomes 0.1.1).
    next=$(echo "$current" | awk -F. -v OFS=. '{ $NF = $NF + 1; print }')
    release() {
        tools/make-release.sh --no-build --build-dir "$build" --key "$demo/team.pem" "$@" > "$demo/release.log" 2>&1 ||
            { cat "$demo/release.log" >&2; return 1; }
    }
    release --version "$current" --out "$demo/archives" --bundle-out "$demo/installed"
    release --version "$next" --out "$releases"
    echo "Signed Tolvar $current installed in $demo/installed; Tolvar $next released into $releases"
fi
session="demo-session-$(od -An -N8 -tx1 /dev/urandom | tr -d ' \n')"

# The service prints its address on its first line.
coproc SERVICE { exec "$build/bin/tolvar-devservice" --port 0 --data "$data" \
    --releases "$releases" --demo-session "$session"; }
service_pid=$SERVICE_PID
trap 'kill "$service_pid" 2>/dev/null || true; wait "$service_pid" 2>/dev/null || true' EXIT
read -r -t 20 base <&"${SERVICE[0]}" || { echo "the stand-in service did not start" >&2; exit 1; }
echo "Stand-in service: $base (demo user \"demo\", password \"tolvar-demo\")"
export TOLVAR_START_URL="$base/app"

if [ "$update_demo" = 1 ]; then
    printf '{"version": "%s", "url": "%s", "notes": "%s", "zip": "%s"}\n' "$next" "$base/downloads/" \
        "Made by scripts/run.sh --update-demo." "$base/downloads/Tolvar-$next.zip" > "$releases/version.json"
    look="$demo/automation"
    rm -rf "$look" && mkdir -p "$look"
    echo "Running Tolvar $current on a private X display until it has updated itself to $next."
    status=0
    TOLVAR_E2E_DIR="$look" TOLVAR_E2E_SESSION="$session" TOLVAR_UPDATE_FEED="$base/downloads/version.json" \
        NO_AT_BRIDGE=1 xvfb-run -a -s "-screen 0 1280x1024x24 -nolisten tcp" dbus-run-session -- \
        "$root/scripts/run.sh" --update-demo-drive "$demo/installed/Tolvar.app/bin/tolvar" "$look" || status=$?
    echo "The journal's self-update event: $(grep '"event":"self-update"' "$look/events.jsonl" || echo none)"
    echo "Version now installed:           $(version_of "$demo/installed/Tolvar.app")"
    echo "Its signature:                   $("$codesign" --verify --deep --strict "$demo/installed/Tolvar.app" 2>&1 | tail -n 1)"
    echo "What the application did:        $look/events.jsonl"
    exit "$status"
fi

if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
    echo "Starting Tolvar on your display; quit it from its Tolvar menu."
    "$build/Tolvar.app/bin/tolvar"
else
    look="$build/run/automation"
    rm -rf "$look" && mkdir -p "$look"
    echo "No display: running Tolvar on a private X display for ${TOLVAR_RUN_SECONDS:-20} seconds."
    TOLVAR_E2E_DIR="$look" TOLVAR_E2E_SESSION="$session" NO_AT_BRIDGE=1 \
        xvfb-run -a -s "-screen 0 1280x1024x24 -nolisten tcp" dbus-run-session -- \
        timeout -s TERM "${TOLVAR_RUN_SECONDS:-20}" "$build/Tolvar.app/bin/tolvar" || true
    echo "What the application did:      $look/events.jsonl"
    echo "A picture of its main window:  $look/main-window.png"
fi
