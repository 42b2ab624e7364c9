// File read streams over the default file system against the limit of the design (one OS read
// of 4096 bytes per buffer refill, straight into the destination) and against what a user would
// pick instead: std::ifstream and fread. Every side reads the whole cached file per iteration,
// opening and closing it, into a destination of the request's size.
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <vector>

#include "bench_support.h"

namespace slbench {
namespace {

const std::string& ReadFilePath() { return CachedFile("read.bin", config().readFileBytes); }

void Finish(benchmark::State& state, uint64_t total) {
  if (total != config().readFileBytes) state.SkipWithError("the file was not read whole");
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * config().readFileBytes));
}

// One whole read of the file through a stream, `request` bytes per ReadStream; the total read.
uint64_t ReadThroughStream(const std::u16string& path, std::vector<char>& destination,
                           AllocationMeter& steady) {
  SLStreamService* streams = Streams();
  SLFileSystem* fs = DefaultFileSystem();
  const uint64_t request = destination.size();
  SLFileHandle file = nullptr;
  SLStreamHandle stream = nullptr;
  if (fs->OpenFile(fs, path.c_str(), SL_OPEN_READ, &file) != SL_OK ||
      streams->OpenFileReadStream(streams, fs, file, &stream) != SL_OK) {
    return 0;
  }
  uint64_t total = 0;
  uint64_t calls = 0;
  uint64_t done = 0;
  steady.Start();
  do {
    streams->ReadStream(streams, stream, destination.data(), request, &done);
    total += done;
    ++calls;
  } while (done == request);
  steady.Stop(calls);
  benchmark::DoNotOptimize(destination.data());
  streams->CloseStream(streams, stream);
  return total;
}

// One whole read of the file with one read() per `block` bytes, each straight into the
// destination (filled again and again), as the stream's device does for every refill.
uint64_t ReadRaw(const std::string& path, size_t block, std::vector<char>& destination) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  uint64_t total = 0;
  size_t offset = 0;
  for (;;) {
    const ssize_t n = ::read(fd, destination.data() + offset, block);
    if (n <= 0) break;
    total += static_cast<uint64_t>(n);
    offset = (offset + block) % destination.size();
  }
  benchmark::DoNotOptimize(destination.data());
  ::close(fd);
  return total;
}

void StreamRead(benchmark::State& state) {
  const std::u16string path = ToUtf16(ReadFilePath());
  std::vector<char> destination(static_cast<size_t>(state.range(0)));
  AllocationMeter steady;
  uint64_t total = 0;
  for (auto _ : state) total = ReadThroughStream(path, destination, steady);
  Finish(state, total);
  steady.Report(state);
}

void RawRead(benchmark::State& state) {
  const std::string& path = ReadFilePath();
  std::vector<char> destination(64u << 10);
  uint64_t total = 0;
  for (auto _ : state) total = ReadRaw(path, static_cast<size_t>(state.range(0)), destination);
  Finish(state, total);
}

// The stream with 64 KiB requests and the raw 4096-byte loop, one whole file each per iteration,
// in alternating order (RunPaired).
void PairedStreamRaw(benchmark::State& state) {
  const std::string& path = ReadFilePath();
  const std::u16string path16 = ToUtf16(path);
  std::vector<char> requests(64u << 10);
  std::vector<char> blocks(64u << 10);
  AllocationMeter steady;
  uint64_t streamTotal = 0;
  uint64_t rawTotal = 0;
  RunPaired(
      state, [&] { streamTotal = ReadThroughStream(path16, requests, steady); },
      [&] { rawTotal = ReadRaw(path, 4096, blocks); });
  if (streamTotal != config().readFileBytes || rawTotal != config().readFileBytes) {
    state.SkipWithError("the file was not read whole");
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * 2 * config().readFileBytes));
}

// The default file system's ReadFile entry called directly, 4096 bytes per call straight into
// the destination: the stream's refills without the stream, to tell the cost of the file-system
// path from that of the stream's buffer.
void FileSystemRead(benchmark::State& state) {
  const auto block = static_cast<uint64_t>(state.range(0));
  const std::u16string path = ToUtf16(ReadFilePath());
  SLFileSystem* fs = DefaultFileSystem();
  std::vector<char> destination(64u << 10);
  AllocationMeter steady;
  uint64_t total = 0;
  for (auto _ : state) {
    SLFileHandle file = nullptr;
    if (fs->OpenFile(fs, path.c_str(), SL_OPEN_READ, &file) != SL_OK) {
      state.SkipWithError("open failed");
      break;
    }
    total = 0;
    uint64_t calls = 0;
    uint64_t done = 0;
    size_t offset = 0;
    steady.Start();
    do {
      fs->ReadFile(fs, file, destination.data() + offset, block, &done);
      total += done;
      ++calls;
      offset = (offset + block) % destination.size();
    } while (done == block);
    steady.Stop(calls);
    benchmark::DoNotOptimize(destination.data());
    fs->CloseFile(fs, file);
  }
  Finish(state, total);
  steady.Report(state);
}

void IfstreamRead(benchmark::State& state) {
  const auto request = static_cast<std::streamsize>(state.range(0));
  const std::string& path = ReadFilePath();
  std::vector<char> destination(static_cast<size_t>(request));
  uint64_t total = 0;
  for (auto _ : state) {
    std::ifstream in(path, std::ios::binary);
    total = 0;
    for (;;) {
      in.read(destination.data(), request);
      total += static_cast<uint64_t>(in.gcount());
      if (in.gcount() != request) break;
    }
    benchmark::DoNotOptimize(destination.data());
  }
  Finish(state, total);
}

void FreadRead(benchmark::State& state) {
  const auto request = static_cast<size_t>(state.range(0));
  const std::string& path = ReadFilePath();
  std::vector<char> destination(request);
  uint64_t total = 0;
  for (auto _ : state) {
    std::FILE* in = std::fopen(path.c_str(), "rb");
    total = 0;
    for (;;) {
      const size_t n = std::fread(destination.data(), 1, request, in);
      total += n;
      if (n != request) break;
    }
    benchmark::DoNotOptimize(destination.data());
    std::fclose(in);
  }
  Finish(state, total);
}

BENCHMARK(StreamRead)->Name("FileRead/stream")->Arg(65536)->Arg(16)->UseRealTime();
BENCHMARK(RawRead)->Name("FileRead/raw_read")->Arg(4096)->Arg(65536)->UseRealTime();
BENCHMARK(PairedStreamRaw)->Name("FileRead/paired_stream_raw/65536")->UseManualTime();
BENCHMARK(FileSystemRead)->Name("FileRead/fs_ReadFile")->Arg(4096)->UseRealTime();
BENCHMARK(IfstreamRead)->Name("FileRead/ifstream")->Arg(65536)->Arg(16)->UseRealTime();
BENCHMARK(FreadRead)->Name("FileRead/fread")->Arg(65536)->Arg(16)->UseRealTime();

}  // namespace
}  // namespace slbench
