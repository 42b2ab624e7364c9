#!/usr/bin/env bash
# The native test suite under valgrind memcheck: the Debug build without sanitizers (the same
# folder as the debug preset, so CI builds it once for both), then every test executable run
# once as a whole under
#   valgrind --error-exitcode=1 --leak-check=full
# so that any invalid access, use of uninitialised memory or definite or indirect leak fails the
# check. The executables that replace operator new keep their own (valgrind watches the malloc
# beneath it instead); valgrind.supp holds the reports about code that is not ours.
# SL_VALGRIND_FILTER (a gtest filter) leaves out the long thread races, which valgrind runs one
# thread at a time; the TSan build runs them in full.
set -euo pipefail
cd "$(dirname "$0")/../.."
build=${SL_VALGRIND_BUILD_DIR:-build/debug}
suppressions=$PWD/scripts/checks/valgrind.supp
filter=${SL_VALGRIND_FILTER:--ConcurrencyStress.LockAgainstTheFinalReleaseDestroysExactlyOnce:WeakRef.LockRacingTheFinalReleaseDestroysExactlyOnce}

cmake --preset debug -B "$build" >/dev/null
# Let ccache reuse these compilations across build folders and checkouts.
cmake --build "$build"

status=0
passed=0
failed=0
for exe in $(find "$build/bin" -maxdepth 2 -type f -executable -name '*_test' | sort); do
  name=$(basename "$exe")
  log="$build/valgrind-$name.log"
  start=$SECONDS
  # Each executable runs where ctest runs it: the folder it lives in.
  if (cd "$(dirname "$exe")" &&
      valgrind --error-exitcode=1 --leak-check=full --errors-for-leak-kinds=definite,indirect \
        --show-leak-kinds=definite,indirect --track-origins=yes --quiet \
        --suppressions="$suppressions" --soname-synonyms=somalloc=nouserintercepts \
        "./$name" --gtest_filter="$filter" --gtest_brief=1) >"$log" 2>&1; then
    passed=$((passed + 1))
    echo "    ok   $name ($((SECONDS - start))s)"
  else
    failed=$((failed + 1))
    status=1
    echo "    FAIL $name ($((SECONDS - start))s), log: $log"
    grep -E '==[0-9]+==|FAILED' "$log" | head -40
  fi
done
echo "valgrind: $passed passed, $failed failed"
exit $status
