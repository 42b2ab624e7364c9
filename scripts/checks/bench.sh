#!/usr/bin/env bash
# Keeps the benchmark suite working: builds it and runs its quick mode once. Times are printed
# but never judged here (CI machines are shared and small); a build failure or a benchmark that
# fails or goes missing fails the check. About a minute and a half on two cores, most of it the
# Release build.
set -euo pipefail
cd "$(dirname "$0")/../.."
exec scripts/bench.sh --quick
