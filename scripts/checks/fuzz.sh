#!/usr/bin/env bash
# Short fuzz runs: builds the fuzz preset (clang, libFuzzer, ASan+UBSan) and runs each harness
# for SL_FUZZ_SECONDS (default 60) over a copy of its seed corpus in fuzz/corpus/ (the zip
# fuzzer's archives are made by fuzz/zip_corpus.py), the harnesses side by side (one core each). Fails on any crash, leak, timeout or model mismatch; the input
# that failed is kept under the build folder. The long run is in docs/reliability.md.
# Usage: scripts/checks/fuzz.sh [harness...]   (default: every harness)
set -euo pipefail
cd "$(dirname "$0")/../.."
build=${SL_FUZZ_BUILD_DIR:-build/fuzz}
seconds=${SL_FUZZ_SECONDS:-60}
harnesses=("$@")
cmake --preset fuzz -B "$build" >/dev/null
if ((${#harnesses[@]} == 0)); then
  harnesses=(abi_fuzzer stream_model_fuzzer)
  # The zip fuzzer exists where the zip library is built (libzip found).
  if grep -q "build bin/zip_fuzzer:" "$build/build.ninja"; then harnesses+=(zip_fuzzer); fi
fi
cmake --build "$build" --target "${harnesses[@]}"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
pids=()
for harness in "${harnesses[@]}"; do
  mkdir -p "$work/$harness" "$build/fuzz-artifacts/$harness"
  if [[ $harness == zip_fuzzer ]]; then
    python3 fuzz/zip_corpus.py "$work/$harness"
  else
    cp -r "fuzz/corpus/${harness%_fuzzer}/." "$work/$harness/"
  fi
  echo "=== $harness: ${seconds}s over $(ls "$work/$harness" | wc -l) seed inputs"
  ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    "$build/bin/$harness" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
    -print_final_stats=1 -artifact_prefix="$PWD/$build/fuzz-artifacts/$harness/" \
    "$work/$harness" >"$build/$harness.log" 2>&1 &
  pids+=($!)
done

status=0
for i in "${!harnesses[@]}"; do
  harness=${harnesses[$i]}
  if wait "${pids[$i]}"; then
    echo "=== $harness passed:"
    grep -E 'stat::number_of_executed_units|stat::new_units_added' "$build/$harness.log" |
      sed 's/^/    /'
  else
    status=1
    echo "=== $harness FAILED (input kept in $build/fuzz-artifacts/$harness/):"
    grep -E -A20 'ERROR|stream model:|abi fuzzer:|zip fuzzer:' "$build/$harness.log" | head -60
  fi
done
exit $status
