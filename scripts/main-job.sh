#!/usr/bin/env bash
# The main job: builds the module (Release) and runs the host program's narrated demo.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh --native-only
cmake --preset release >/dev/null
cmake --build --preset release
echo
exec build/release/bin/slhost demo
