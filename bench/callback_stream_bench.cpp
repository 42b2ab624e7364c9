// Callback streams: bytes per second through a trivial callback (it copies from, or into, a
// 4 KiB block of its own) against the same callback called directly in 4096-byte blocks, which
// is what the stream's device does once per buffer. One stream stays open for the whole
// benchmark; each iteration is one ReadStream, WriteStream or WriteStream plus FlushStream.
#include <algorithm>
#include <cstring>
#include <vector>

#include "bench_support.h"

namespace slbench {
namespace {

constexpr uint64_t kBlock = 4096;

struct Callbacks {
  char block[kBlock];
  uint64_t flushes = 0;
};

uint64_t ReadCallback(void* context, void* buffer, uint64_t capacity) {
  const uint64_t n = std::min(capacity, kBlock);
  std::memcpy(buffer, static_cast<Callbacks*>(context)->block, n);
  return n;
}

uint64_t WriteCallback(void* context, const void* source, uint64_t size) {
  std::memcpy(static_cast<Callbacks*>(context)->block, source, std::min(size, kBlock));
  return size;
}

uint8_t FlushCallback(void* context) {
  ++static_cast<Callbacks*>(context)->flushes;
  return 1;
}

void CloseCallback(void*) {}

void StreamRead(benchmark::State& state) {
  const auto request = static_cast<uint64_t>(state.range(0));
  Callbacks callbacks;
  FillPattern(callbacks.block, kBlock);
  const SLReadHandler handler{&ReadCallback, &FlushCallback, &CloseCallback};
  SLStreamService* streams = Streams();
  SLStreamHandle stream = nullptr;
  streams->OpenReadStream(streams, &handler, &callbacks, &stream);
  std::vector<char> destination(request);
  AllocationMeter steady;
  steady.Start();
  for (auto _ : state) {
    uint64_t done = 0;
    streams->ReadStream(streams, stream, destination.data(), request, &done);
    benchmark::DoNotOptimize(destination.data());
  }
  steady.Stop(state.iterations());
  streams->CloseStream(streams, stream);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * request));
  steady.Report(state);
}

// 64 KiB per iteration, in calls of 4096 bytes straight into the destination.
void DirectRead(benchmark::State& state) {
  Callbacks callbacks;
  FillPattern(callbacks.block, kBlock);
  auto* volatile read = &ReadCallback;  // called like a table entry, never inlined
  std::vector<char> destination(64u << 10);
  for (auto _ : state) {
    for (size_t offset = 0; offset < destination.size(); offset += kBlock) {
      read(&callbacks, destination.data() + offset, kBlock);
    }
    benchmark::DoNotOptimize(destination.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * destination.size()));
}

void StreamWrite(benchmark::State& state) {
  const auto request = static_cast<uint64_t>(state.range(0));
  Callbacks callbacks;
  const SLWriteHandler handler{&WriteCallback, &FlushCallback, &CloseCallback};
  SLStreamService* streams = Streams();
  SLStreamHandle stream = nullptr;
  streams->OpenWriteStream(streams, &handler, &callbacks, &stream);
  std::vector<char> source(request);
  FillPattern(source.data(), source.size());
  AllocationMeter steady;
  steady.Start();
  for (auto _ : state) {
    uint64_t done = 0;
    streams->WriteStream(streams, stream, source.data(), request, &done);
  }
  steady.Stop(state.iterations());
  streams->CloseStream(streams, stream);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * request));
  steady.Report(state);
}

void DirectWrite(benchmark::State& state) {
  Callbacks callbacks;
  auto* volatile write = &WriteCallback;
  std::vector<char> source(64u << 10);
  FillPattern(source.data(), source.size());
  for (auto _ : state) {
    for (size_t offset = 0; offset < source.size(); offset += kBlock) {
      write(&callbacks, source.data() + offset, kBlock);
    }
    benchmark::DoNotOptimize(callbacks.block);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * source.size()));
}

// 100 bytes written and flushed: the stream hands them over in one Write call, then calls Flush.
void StreamWriteFlush(benchmark::State& state) {
  Callbacks callbacks;
  const SLWriteHandler handler{&WriteCallback, &FlushCallback, &CloseCallback};
  SLStreamService* streams = Streams();
  SLStreamHandle stream = nullptr;
  streams->OpenWriteStream(streams, &handler, &callbacks, &stream);
  char source[100];
  FillPattern(source, sizeof(source));
  AllocationMeter steady;
  steady.Start();
  for (auto _ : state) {
    uint64_t done = 0;
    streams->WriteStream(streams, stream, source, sizeof(source), &done);
    streams->FlushStream(streams, stream);
  }
  steady.Stop(state.iterations());
  streams->CloseStream(streams, stream);
  if (callbacks.flushes < static_cast<uint64_t>(state.iterations())) {
    state.SkipWithError("FlushStream did not reach the callback");
  }
  steady.Report(state);
}

void DirectWriteFlush(benchmark::State& state) {
  Callbacks callbacks;
  auto* volatile write = &WriteCallback;
  auto* volatile flush = &FlushCallback;
  char source[100];
  FillPattern(source, sizeof(source));
  for (auto _ : state) {
    write(&callbacks, source, sizeof(source));
    flush(&callbacks);
  }
  benchmark::DoNotOptimize(callbacks.block);
}

BENCHMARK(StreamRead)->Name("CallbackRead/stream")->Arg(65536)->Arg(16)->UseRealTime();
BENCHMARK(DirectRead)->Name("CallbackRead/direct/4096")->UseRealTime();
BENCHMARK(StreamWrite)->Name("CallbackWrite/stream")->Arg(65536)->Arg(100)->UseRealTime();
BENCHMARK(DirectWrite)->Name("CallbackWrite/direct/4096")->UseRealTime();
BENCHMARK(StreamWriteFlush)->Name("CallbackWrite/stream_flush/100")->UseRealTime();
BENCHMARK(DirectWriteFlush)->Name("CallbackWrite/direct_flush/100")->UseRealTime();

}  // namespace
}  // namespace slbench
