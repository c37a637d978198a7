#!/usr/bin/env bash
# Installs what is missing, configures and builds. Extra arguments go to
# CMake (e.g. -DNEBRIX_SANITIZE=ON); BUILD_DIR names the build folder.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build_dir=${BUILD_DIR:-build}
"$root/scripts/install-packages.sh"
cmake -S "$root" -B "$root/$build_dir" "$@" >/dev/null
cmake --build "$root/$build_dir" -j "$(nproc)"
