#!/usr/bin/env bash
# The whole test suite: native Debug, ASan+UBSan, TSan and the Windows build under Wine, then
# the extra checks under scripts/checks/ (each an executable script that exits non-zero on
# failure), in name order.
# Usage: scripts/test-all.sh [preset...]   (default: every preset and every check)
set -uo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh || exit 1

presets=("$@")
run_checks=0
if ((${#presets[@]} == 0)); then
  presets=(debug asan tsan windows)
  run_checks=1
fi

total_passed=0
total_failed=0
status=0
for preset in "${presets[@]}"; do
  echo "=== $preset: configure and build"
  if ! cmake --preset "$preset" >/dev/null || ! cmake --build --preset "$preset"; then
    echo "=== $preset: build failed"
    status=1
    total_failed=$((total_failed + 1))
    continue
  fi
  echo "=== $preset: test"
  log=$(mktemp)
  # A broken read count can turn a copy loop into an endless writer: no test file may grow past
  # 6 GiB (the position tests make sparse files a little past 4 GiB).
  (ulimit -f $((6 * 1024 * 1024)) && ctest --preset "$preset") 2>&1 | tee "$log"
  result=${PIPESTATUS[0]}
  summary=$(grep -E '[0-9]+% tests passed, [0-9]+ tests? failed out of [0-9]+' "$log" | tail -1)
  rm -f "$log"
  if [[ $summary =~ ([0-9]+)\ tests?\ failed\ out\ of\ ([0-9]+) ]]; then
    failed=${BASH_REMATCH[1]}
    ran=${BASH_REMATCH[2]}
    total_passed=$((total_passed + ran - failed))
    total_failed=$((total_failed + failed))
  else
    total_failed=$((total_failed + 1))
  fi
  ((result == 0)) || status=1
done

if ((run_checks)); then
  for check in scripts/checks/*.sh; do
    [[ -x $check ]] || continue
    echo "=== check: $check"
    if "$check"; then
      total_passed=$((total_passed + 1))
      echo "=== check passed: $check"
    else
      total_failed=$((total_failed + 1))
      status=1
      echo "=== check FAILED: $check"
    fi
  done
fi

echo
echo "presets: ${presets[*]}"
echo "all: ${total_passed} passed, ${total_failed} failed"
exit $status
