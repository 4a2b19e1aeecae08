#!/usr/bin/env bash
# Checks the Debian package's browser routes with the real browsers: the package's files are laid
# over the system folders in a private mount namespace (the machine's own folders stay untouched),
# then Debian's chromium (through /usr/bin/chromium) and firefox-esr start as a user starts them,
# each with a fresh home, and each must report the page in its front tab to the packaged host.
# Firefox's profile exists before the "install", so its first start after it must run the add-on.
# Last, the package's removal script runs there and must leave none of its files under /etc.
#   check-browsers.sh BUILD_DIR  (as root, under tests/run-with-display.sh, after check-deb.sh built
#                                 BUILD_DIR/package/tolvar_*.deb)
set -euo pipefail
deb=$(realpath "$(ls "$1"/package/tolvar_*_*.deb)")
if [ "$(id -u)" -ne 0 ]; then echo "check-browsers: needs root for a private mount namespace"; exit 77; fi
if [ -z "${CHECK_BROWSERS_INSIDE:-}" ]; then
    exec env CHECK_BROWSERS_INSIDE=1 unshare --mount --propagation private -- "$0" "$@"
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/tolvar-browsers-XXXXXX")
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill -- "-$pid" 2>/dev/null || kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
package="$work/package"
dpkg-deb -x "$deb" "$package"

# A folder of the system, replaced (in this namespace only) by a copy holding the package's files too.
overlay() {
    local folder=$1 copy="$work/overlay$1"
    mkdir -p "$copy"
    if [ -d "$folder" ]; then cp -a "$folder/." "$copy/"; else return 1; fi
    if [ -d "$package$folder" ]; then cp -a "$package$folder/." "$copy/"; fi
    mount --bind "$copy" "$folder"
}
overlay /opt
overlay /etc
overlay /usr/share/chromium
overlay /usr/lib/mozilla
overlay /usr/share/mozilla

# Starts a program in a process group of its own, killed at the end.
start() {
    setsid "$@" >>"$work/browsers.log" 2>&1 &
    pids+=("$!")
}
stop_all() {
    for pid in "${pids[@]}"; do kill -- "-$pid" 2>/dev/null || true; done
    for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
    pids=()
}

# Waits (at most 60 s) for the browser's report to name the page.
expect_report() {
    local browser=$1 page=$2 state="$XDG_RUNTIME_DIR/tolvar-capture/$1.json"
    for _ in $(seq 120); do
        if grep -qF "\"address\":\"$page\"" "$state" 2>/dev/null; then
            echo "$browser reported $page"
            return 0
        fi
        sleep 0.5
    done
    echo "check-browsers: no report of $page from $browser; state: $(cat "$state" 2>/dev/null)"
    tail -40 "$work/browsers.log"
    exit 1
}

user() {
    export HOME="$work/$1" XDG_CONFIG_HOME="$work/$1/.config" XDG_DATA_HOME="$work/$1/.local/share"
    export XDG_CACHE_HOME="$work/$1/.cache" XDG_RUNTIME_DIR="$work/$1/runtime"
    mkdir -p "$XDG_RUNTIME_DIR" && chmod 0700 "$XDG_RUNTIME_DIR"
}
page() {
    mkdir -p "$work/pages"
    printf '<!doctype html><meta charset="utf-8"><title>%s</title><p>Worth keeping.</p>\n' "$2" >"$work/pages/$1.html"
    echo "file://$work/pages/$1.html"
}

user chromium-user
article=$(page chromium "Read in Chromium")
start /usr/bin/chromium --no-sandbox --disable-gpu --no-first-run --no-default-browser-check \
    --disable-background-networking --disable-component-update --disable-sync --password-store=basic "$article"
expect_report chromium "$article"
stop_all

user firefox-user
profile="$HOME/profile"
mkdir -p "$profile"
# The profile's first life, before Tolvar was installed: no system add-ons.
umount /usr/share/mozilla
start firefox-esr --no-remote --profile "$profile" about:blank
for _ in $(seq 60); do [ -e "$profile/extensions.json" ] && break; sleep 0.5; done
sleep 2
stop_all
[ -e "$profile/extensions.json" ] || { echo "check-browsers: firefox did not start"; tail -20 "$work/browsers.log"; exit 1; }
! grep -q 'capture@tolvar.app' "$profile/extensions.json" || { echo "check-browsers: the add-on was there too early"; exit 1; }
# Installed now; the next start of the same profile runs the add-on.
mount --bind "$work/overlay/usr/share/mozilla" /usr/share/mozilla
article=$(page firefox "Read in Firefox")
start firefox-esr --no-remote --profile "$profile" "$article"
expect_report firefox "$article"
stop_all

# Removing the package takes its files under /etc too, not only at purge (dpkg removes the rest).
dpkg-deb --ctrl-tarfile "$deb" | tar -xO ./postrm >"$work/postrm"
sh "$work/postrm" remove
for conffile in $(dpkg-deb --ctrl-tarfile "$deb" | tar -xO ./conffiles); do
    [ ! -e "$conffile" ] || { echo "check-browsers: $conffile stays after removal"; exit 1; }
done
echo "browsers ok"
