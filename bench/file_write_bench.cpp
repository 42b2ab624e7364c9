// File write streams over the default file system against the limit of the design (one OS
// write per 4096 bytes) and against fwrite. Each iteration creates (or truncates) the file,
// writes the run's byte count in requests of one size, and closes it. Closing a stream asks the
// file system to flush three times (FlushFile, an fsync each); the other sides fsync once
// before closing, so the flush to disk is in every side. In a memory-backed folder (the
// default, /dev/shm) an fsync reaches no disk on any side.
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <vector>

#include "bench_support.h"

namespace slbench {
namespace {

uint64_t Pieces(uint64_t request) { return config().writeFileBytes / request; }

void Finish(benchmark::State& state, uint64_t bytesPerIteration) {
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytesPerIteration));
}

void StreamWrite(benchmark::State& state) {
  const auto request = static_cast<uint64_t>(state.range(0));
  const uint64_t pieces = Pieces(request);
  const std::u16string path = Path16Of("write_stream.bin");
  SLStreamService* streams = Streams();
  SLFileSystem* fs = DefaultFileSystem();
  std::vector<char> source(request);
  FillPattern(source.data(), source.size());
  AllocationMeter steady;
  for (auto _ : state) {
    SLFileHandle file = nullptr;
    SLStreamHandle stream = nullptr;
    if (fs->OpenFile(fs, path.c_str(), SL_OPEN_CREATE, &file) != SL_OK ||
        streams->OpenFileWriteStream(streams, fs, file, &stream) != SL_OK) {
      state.SkipWithError("open failed");
      break;
    }
    uint64_t done = 0;
    steady.Start();
    for (uint64_t i = 0; i < pieces; ++i) {
      streams->WriteStream(streams, stream, source.data(), request, &done);
    }
    steady.Stop(pieces);
    streams->CloseStream(streams, stream);
  }
  Finish(state, pieces * request);
  steady.Report(state);
}

void RawWrite(benchmark::State& state) {
  const auto block = static_cast<size_t>(state.range(0));
  const std::string path = PathOf("write_raw.bin");
  const uint64_t bytes = config().writeFileBytes;
  std::vector<char> source(block);
  FillPattern(source.data(), source.size());
  for (auto _ : state) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    for (uint64_t written = 0; written < bytes; written += block) {
      if (::write(fd, source.data(), block) != static_cast<ssize_t>(block)) {
        state.SkipWithError("write failed");
        break;
      }
    }
    ::fsync(fd);
    ::close(fd);
  }
  Finish(state, bytes);
}

void Fwrite(benchmark::State& state) {
  const auto request = static_cast<size_t>(state.range(0));
  const uint64_t pieces = Pieces(request);
  const std::string path = PathOf("write_fwrite.bin");
  std::vector<char> source(request);
  FillPattern(source.data(), source.size());
  for (auto _ : state) {
    std::FILE* out = std::fopen(path.c_str(), "wb");
    for (uint64_t i = 0; i < pieces; ++i) std::fwrite(source.data(), 1, request, out);
    std::fflush(out);
    ::fsync(::fileno(out));
    std::fclose(out);
  }
  Finish(state, pieces * request);
}

// 100 bytes written and flushed per iteration: one WriteFile and one FlushFile (an fsync) on the
// stream's side, one write() and one fsync() on the other. The file is started afresh every
// 10,000 iterations to keep it small; that reopening is left out of the allocation count.
constexpr int kFlushesPerFile = 10000;
constexpr size_t kFlushedBytes = 100;

void StreamWriteFlush(benchmark::State& state) {
  const std::u16string path = Path16Of("flush_stream.bin");
  SLStreamService* streams = Streams();
  SLFileSystem* fs = DefaultFileSystem();
  char source[kFlushedBytes];
  FillPattern(source, sizeof(source));
  SLStreamHandle stream = nullptr;
  const auto open = [&] {
    SLFileHandle file = nullptr;
    return fs->OpenFile(fs, path.c_str(), SL_OPEN_CREATE, &file) == SL_OK &&
           streams->OpenFileWriteStream(streams, fs, file, &stream) == SL_OK;
  };
  if (!open()) {
    state.SkipWithError("open failed");
    return;
  }
  AllocationMeter steady;
  int inFile = 0;
  steady.Start();
  for (auto _ : state) {
    uint64_t done = 0;
    streams->WriteStream(streams, stream, source, sizeof(source), &done);
    streams->FlushStream(streams, stream);
    if (++inFile == kFlushesPerFile) {
      steady.Stop(static_cast<uint64_t>(inFile));
      inFile = 0;
      streams->CloseStream(streams, stream);
      if (!open()) {
        state.SkipWithError("open failed");
        return;
      }
      steady.Start();
    }
  }
  steady.Stop(static_cast<uint64_t>(inFile));
  streams->CloseStream(streams, stream);
  steady.Report(state);
}

void RawWriteFsync(benchmark::State& state) {
  const std::string path = PathOf("flush_raw.bin");
  char source[kFlushedBytes];
  FillPattern(source, sizeof(source));
  const auto open = [&] {
    return ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  };
  int fd = open();
  int inFile = 0;
  for (auto _ : state) {
    if (::write(fd, source, sizeof(source)) != static_cast<ssize_t>(sizeof(source))) {
      state.SkipWithError("write failed");
      break;
    }
    ::fsync(fd);
    if (++inFile == kFlushesPerFile) {
      inFile = 0;
      ::close(fd);
      fd = open();
    }
  }
  ::close(fd);
}

BENCHMARK(StreamWrite)->Name("FileWrite/stream")->Arg(65536)->Arg(100)->UseRealTime();
BENCHMARK(RawWrite)->Name("FileWrite/raw_write")->Arg(4096)->UseRealTime();
BENCHMARK(Fwrite)->Name("FileWrite/fwrite")->Arg(65536)->Arg(100)->UseRealTime();
BENCHMARK(StreamWriteFlush)->Name("FileWrite/stream_flush/100")->UseRealTime();
BENCHMARK(RawWriteFsync)->Name("FileWrite/raw_write_fsync/100")->UseRealTime();

}  // namespace
}  // namespace slbench
