# Shared by scripts/run.sh and scripts/update-demo.sh (sourced, not run).

# Installs the packages and builds the application and the stand-in service. Sets $build, the build
# folder (TOLVAR_BUILD_DIR names another, already configured one).
build_application() {
    scripts/install-deps.sh
    if [ -n "${TOLVAR_BUILD_DIR:-}" ]; then
        cmake --build "$TOLVAR_BUILD_DIR" --target tolvar tolvar-devservice
        build=$(cd "$TOLVAR_BUILD_DIR" && pwd)
    else
        scripts/build.sh --target tolvar tolvar-devservice
        build=$(pwd)/build
    fi
}

# Starts the stand-in service with the demo user signed in under a fresh $session, serving
# releases from $1. Sets $base, its address; the service stops when the script exits.
start_service() {
    local releases=$1 data="$build/run/service-data"
    mkdir -p "$data" "$releases"
    session="demo-session-$(od -An -N8 -tx1 /dev/urandom | tr -d ' \n')"
    # The service prints its address on its first line.
    coproc SERVICE { exec "$build/bin/tolvar-devservice" --port 0 --data "$data" \
        --releases "$releases" --demo-session "$session"; }
    service_pid=$SERVICE_PID
    trap 'kill "$service_pid" 2>/dev/null || true; wait "$service_pid" 2>/dev/null || true' EXIT
    read -r -t 20 base <&"${SERVICE[0]}" || { echo "the stand-in service did not start" >&2; exit 1; }
    echo "Stand-in service: $base (demo user \"demo\", password \"tolvar-demo\")"
}

# Runs a command on a private X display inside a D-Bus session of its own.
on_private_display() {
    NO_AT_BRIDGE=1 xvfb-run -a -s "-screen 0 1280x1024x24 -nolisten tcp" dbus-run-session -- "$@"
}
