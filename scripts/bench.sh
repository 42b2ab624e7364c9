#!/usr/bin/env bash
# Builds the benchmark suite (Release, preset `bench`, in build/bench), runs it and prints the
# table of ratios that bench/ratio_table.py draws from that one run: the module beside the limit
# of the design and beside what a user would pick instead, each comparison side by side; then
# `slhost cp` of 50 MiB beside `cp` and `sync` (scripts/bench-cp.sh), and streams over SFTP
# beside OpenSSH's sftp and scp on a private local server (scripts/bench-sftp.sh). Exits
# non-zero when the build fails or a benchmark of the table is missing or reports an error;
# times never fail it.
#
# Usage: scripts/bench.sh [--quick] [--markdown] [Google Benchmark flags...]
#   --quick     small files and folders, 0.01 s per benchmark, one repetition (a smoke run:
#               its times mean little)
#   --markdown  print the table as Markdown (as in docs/performance.md)
# The run's files go to a private folder under $SL_BENCH_DIR, else /dev/shm, else the system's
# folder for temporary files, and are removed at the end. The raw results stay in
# build/bench/results.json.
set -euo pipefail
cd "$(dirname "$0")/.."

quick=0
table_flags=()
bench_flags=()
for arg in "$@"; do
  case $arg in
    --quick) quick=1 ;;
    --markdown) table_flags+=(--markdown) ;;
    *) bench_flags+=("$arg") ;;
  esac
done

if ! dpkg-query -W -f='${Status}' libbenchmark-dev 2>/dev/null | grep -q "install ok installed"; then
  echo "Google Benchmark is missing: run scripts/install-deps.sh (as root) first" >&2
  exit 1
fi

cmake --preset bench >/dev/null
cmake --build --preset bench --target sl_bench slhost

results=build/bench/results.json
if ((quick)); then
  run_flags=(--quick --benchmark_min_time=0.01)
else
  # Repetitions in random order, so that drifts of the machine touch every side alike; the
  # table takes each benchmark's fastest repetition (other work on the machine only adds time).
  run_flags=(--benchmark_min_time=0.2 --benchmark_repetitions=7
             --benchmark_enable_random_interleaving=true --benchmark_display_aggregates_only=true)
fi
build/bench/bin/sl_bench "${run_flags[@]}" --benchmark_out="$results" \
  --benchmark_out_format=json "${bench_flags[@]}"
echo
echo "Ratios (from $results):"
python3 bench/ratio_table.py "$results" --check "${table_flags[@]}"
echo
echo "slhost cp beside cp and sync (scripts/bench-cp.sh):"
if ((quick)); then
  scripts/bench-cp.sh build/bench/bin/slhost 3 8
else
  scripts/bench-cp.sh build/bench/bin/slhost
fi
if [[ -x build/bench/bin/sftp_stream_bench && -x /usr/sbin/sshd ]]; then
  echo
  echo "Streams over SFTP beside OpenSSH's sftp and scp (scripts/bench-sftp.sh):"
  if ((quick)); then
    SL_SFTP_BENCH_ROUNDS=1 scripts/bench-sftp.sh build/bench 8
  else
    scripts/bench-sftp.sh build/bench
  fi
fi
