#!/usr/bin/env bash
# slhost cp beside the system's cp followed by `sync` of the copy (which is what slhost cp does:
# it flushes the copy to the disk once, at the end). Both copy the same 50 MiB file in turn,
# round after round in one run, the order swapped every round; the ratio is the median of the
# rounds' ratios, which holds steadier on a shared machine than two separate measurements.
# Prints both sides' fastest times and the ratio beside its target (slhost within 1.5x).
# Times never fail it; a copy that differs from its source does.
#
# Usage: scripts/bench-cp.sh SLHOST [ROUNDS] [MIB]     (defaults: 9 rounds, 50 MiB)
# The files go to a private folder under $SL_CP_BENCH_DIR, else build/: on a disk, where the
# flush costs what it costs (in /dev/shm it would cost nothing on either side).
set -euo pipefail
cd "$(dirname "$0")/.."
slhost=$1
rounds=${2:-9}
mib=${3:-50}
dir=$(mktemp -d "${SL_CP_BENCH_DIR:-build}/cp-bench.XXXXXX")
trap 'rm -rf "$dir"' EXIT
head -c $((mib << 20)) /dev/urandom >"$dir/source.bin"
sync "$dir/source.bin"

now() { date +%s%N; }
# copy_with SIDE: one copy by that side; its time in nanoseconds goes to $took.
copy_with() {
  local start
  start=$(now)
  if [[ $1 == cp ]]; then
    cp "$dir/source.bin" "$dir/cp.bin"
    sync "$dir/cp.bin"
  else
    "$slhost" cp "$dir/source.bin" "$dir/slhost.bin"
  fi
  took=$(($(now) - start))
  cmp -s "$dir/source.bin" "$dir/$1.bin" || { echo "bench-cp: $1 made a different copy" >&2; exit 1; }
}

ratios=()
best_cp=0
best_slhost=0
for ((round = 0; round < rounds; round++)); do
  order=(cp slhost)
  ((round % 2)) && order=(slhost cp)
  for side in "${order[@]}"; do
    rm -f "$dir/$side.bin"
    copy_with "$side"
    if [[ $side == cp ]]; then time_cp=$took; else time_slhost=$took; fi
  done
  ((best_cp == 0 || time_cp < best_cp)) && best_cp=$time_cp
  ((best_slhost == 0 || time_slhost < best_slhost)) && best_slhost=$time_slhost
  ratios+=("$(awk -v a="$time_slhost" -v b="$time_cp" 'BEGIN { printf "%.3f", a / b }')")
done
median=$(printf '%s\n' "${ratios[@]}" | sort -n | awk '{ r[NR] = $1 } END { print r[int((NR + 1) / 2)] }')
verdict=$(awk -v r="$median" 'BEGIN { print (r <= 1.5 ? "met" : "missed") }')
awk -v c="$best_cp" -v s="$best_slhost" -v mib="$mib" -v n="$rounds" 'BEGIN {
  printf "copy of %d MiB, %d rounds: cp + sync %.1f ms, slhost cp %.1f ms (fastest of each)\n",
         mib, n, c / 1e6, s / 1e6 }'
echo "slhost cp / (cp + sync): ${median}x, median of the rounds (${ratios[*]}); target <= 1.50x: $verdict"
