// The suite's entry: its own --quick first (smaller files and folders), then Google Benchmark's
// flags (--benchmark_filter, --benchmark_min_time, --benchmark_out, ...).
#include <benchmark/benchmark.h>

#include <string>

#include "bench_support.h"

int main(int argc, char** argv) {
  slbench::Configure(&argc, argv);
  const slbench::Config& config = slbench::config();
  benchmark::AddCustomContext("sl_quick", config.quick ? "1" : "0");
  benchmark::AddCustomContext("sl_folder", config.folder);
  benchmark::AddCustomContext("sl_read_file_bytes", std::to_string(config.readFileBytes));
  benchmark::AddCustomContext("sl_write_bytes", std::to_string(config.writeFileBytes));
  benchmark::AddCustomContext("sl_search_entries", std::to_string(config.searchEntries));
#ifdef SL_BENCH_ZIP
  benchmark::AddCustomContext("sl_zip", "1");
#endif
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
