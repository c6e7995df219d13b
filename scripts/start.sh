#!/usr/bin/env bash
# Builds autodump (installing what is missing) into build-start/ and starts it.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/install_missing.sh
ensure_packages cmake make g++
ensure_dump_client
. tests/harness.sh
exec "$(build_program build-start)"
