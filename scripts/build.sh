#!/usr/bin/env bash
# Configures and builds everything into build/ (the application bundle is build/Tolvar.app).
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build -DCMAKE_BUILD_TYPE="${CMAKE_BUILD_TYPE:-RelWithDebInfo}" >/dev/null
cmake --build build -j"$(nproc)" "$@"
