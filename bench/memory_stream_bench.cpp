// Memory read streams: a 1 MiB request against memcpy of the same block (the stream reads the
// caller's bytes in place, so memcpy is the limit), and 1-, 16- and 64-byte requests against
// std::istream::read on a plain Boost.Iostreams stream over the same bytes.
#include <boost/iostreams/device/array.hpp>
#include <boost/iostreams/stream.hpp>

#include <cstring>
#include <vector>

#include "bench_support.h"

namespace slbench {
namespace {

namespace io = boost::iostreams;

const std::vector<char>& Block() {
  static const std::vector<char> block = [] {
    std::vector<char> bytes(config().memoryBytes);
    FillPattern(bytes.data(), bytes.size());
    return bytes;
  }();
  return block;
}

// Both sides of the 1 MiB comparison copy into this one buffer, so that neither gains from a
// luckier placement of its destination relative to the block.
std::vector<char>& WholeBlockDestination() {
  static std::vector<char> destination(Block().size());
  return destination;
}

// Open, one read of the whole block, close: the whole life of a stream per iteration.
void StreamWholeBlock(benchmark::State& state) {
  const std::vector<char>& block = Block();
  std::vector<char>& destination = WholeBlockDestination();
  SLStreamService* streams = Streams();
  AllocationMeter steady;
  for (auto _ : state) {
    SLStreamHandle stream = nullptr;
    streams->OpenMemReadStream(streams, block.data(), block.size(), &stream);
    uint64_t done = 0;
    steady.Start();
    streams->ReadStream(streams, stream, destination.data(), block.size(), &done);
    steady.Stop(1);
    benchmark::DoNotOptimize(destination.data());
    streams->CloseStream(streams, stream);
    if (done != block.size()) state.SkipWithError("short read");
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * block.size()));
  steady.Report(state);
}

void MemcpyWholeBlock(benchmark::State& state) {
  const std::vector<char>& block = Block();
  std::vector<char>& destination = WholeBlockDestination();
  for (auto _ : state) {
    std::memcpy(destination.data(), block.data(), block.size());
    benchmark::DoNotOptimize(destination.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * block.size()));
}

// One small read per iteration from a stream that is opened again whenever the block runs out
// (once per megabyte; the allocations of that reopening are left out of the count).
void StreamSmallReads(benchmark::State& state) {
  const auto request = static_cast<uint64_t>(state.range(0));
  const std::vector<char>& block = Block();
  std::vector<char> destination(request);
  SLStreamService* streams = Streams();
  SLStreamHandle stream = nullptr;
  streams->OpenMemReadStream(streams, block.data(), block.size(), &stream);
  AllocationMeter steady;
  uint64_t calls = 0;
  steady.Start();
  for (auto _ : state) {
    uint64_t done = 0;
    streams->ReadStream(streams, stream, destination.data(), request, &done);
    ++calls;
    benchmark::DoNotOptimize(destination.data());
    if (done != request) {
      steady.Stop(calls);
      calls = 0;
      streams->CloseStream(streams, stream);
      streams->OpenMemReadStream(streams, block.data(), block.size(), &stream);
      steady.Start();
    }
  }
  steady.Stop(calls);
  streams->CloseStream(streams, stream);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * request));
  steady.Report(state);
}

void BoostSmallReads(benchmark::State& state) {
  const auto request = static_cast<std::streamsize>(state.range(0));
  const std::vector<char>& block = Block();
  std::vector<char> destination(static_cast<size_t>(request));
  const io::array_source source(block.data(), block.size());
  io::stream<io::array_source> in(source);
  for (auto _ : state) {
    in.read(destination.data(), request);
    benchmark::DoNotOptimize(destination.data());
    if (in.gcount() != request) {
      in.close();
      in.clear();
      in.open(source);
    }
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * request));
}

BENCHMARK(StreamWholeBlock)->Name("MemRead/stream/1048576")->UseRealTime();
BENCHMARK(MemcpyWholeBlock)->Name("MemRead/memcpy/1048576")->UseRealTime();
BENCHMARK(StreamSmallReads)->Name("MemRead/stream")->Arg(1)->Arg(16)->Arg(64)->UseRealTime();
BENCHMARK(BoostSmallReads)->Name("MemRead/boost_stream")->Arg(1)->Arg(16)->Arg(64)->UseRealTime();

}  // namespace
}  // namespace slbench
