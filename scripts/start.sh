#!/usr/bin/env bash
# Builds autodump (installing what is missing) and starts it.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/packages.sh
ensure_packages cmake make g++ mariadb-client
cmake -S . -B build -DBUILD_TESTING=OFF > /dev/null
cmake --build build -j"$(nproc)" > /dev/null
exec build/autodump
