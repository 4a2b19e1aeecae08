#!/usr/bin/env bash
# Shows an update in place: signs the build as its own version A (a copy installed in
# build/run/update-demo/installed), puts a signed release of the next version B and a feed naming it
# into the stand-in service's releases folder, and runs A in automation mode on a private X display
# until A has installed B and started again as B.
set -euo pipefail
cd "$(dirname "$0")/.."

if [ "${1:-}" = --drive ]; then
    # Inside the private display: starts the installed copy in a process group of its own, waits for
    # its "self-update" event, for it to quit and for the instance it relaunches to load its first
    # page, then ends the group, relaunched instance included.
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

source scripts/common.sh
build_application
releases="$build/run/releases"
demo="$build/run/update-demo"
codesign="$build/Tolvar.app/libexec/tolvar-codesign"
mkdir -p "$demo" "$releases"
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

start_service "$releases"
printf '{"version": "%s", "url": "%s", "notes": "%s", "zip": "%s"}\n' "$next" "$base/downloads/" \
    "Made by scripts/run.sh --update-demo." "$base/downloads/Tolvar-$next.zip" > "$releases/version.json"
look="$demo/automation"
rm -rf "$look" && mkdir -p "$look"
echo "Running Tolvar $current on a private X display until it has updated itself to $next."
status=0
TOLVAR_E2E_DIR="$look" TOLVAR_E2E_SESSION="$session" TOLVAR_START_URL="$base/app" \
    TOLVAR_UPDATE_FEED="$base/downloads/version.json" \
    on_private_display "$(pwd)/scripts/update-demo.sh" --drive "$demo/installed/Tolvar.app/bin/tolvar" "$look" ||
    status=$?
echo "The journal's self-update event: $(grep '"event":"self-update"' "$look/events.jsonl" || echo none)"
echo "Version now installed:           $(version_of "$demo/installed/Tolvar.app")"
echo "Its signature:                   $("$codesign" --verify --deep --strict "$demo/installed/Tolvar.app" 2>&1 | tail -n 1)"
echo "What the application did:        $look/events.jsonl"
exit "$status"
