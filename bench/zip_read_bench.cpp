// A deflated member of a zip archive read through a file read stream over the zip file system,
// against libzip's own read loop on the same member (zip_fread into a 64 KiB buffer), in the
// same run. The archive is made once per run; both sides keep it open and open the member per
// iteration. The member is text-like (about 3:1 under deflate), so inflating dominates both.
#include <zip.h>

#include <vector>

#include "bench_support.h"
#include "zip_file_system.h"

namespace slbench {
namespace {

constexpr char kMember[] = "member.txt";

const std::string& ArchivePath() {
  static const std::string path = [] {
    static const char* words[] = {"archive ", "member ", "stream ",   "folder ", "file ",    "zip ",
                                  "deflate ", "read ",   "checksum ", "handle ", "thread\n", "b "};
    std::string text;
    text.reserve(config().readFileBytes + 16);
    for (uint32_t seed = 7; text.size() < config().readFileBytes;) {
      text += words[((seed = seed * 1103515245u + 12345u) >> 16) % 12];
    }
    text.resize(config().readFileBytes);
    const std::string archivePath = PathOf("read.zip");
    int error = 0;
    zip_t* archive = zip_open(archivePath.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
    zip_source_t* source = zip_source_buffer(archive, text.data(), text.size(), 0);
    const zip_int64_t index = zip_file_add(archive, kMember, source, 0);
    zip_set_file_compression(archive, static_cast<zip_uint64_t>(index), ZIP_CM_DEFLATE, 0);
    zip_close(archive);
    return archivePath;
  }();
  return path;
}

SLFileSystem* ZipFileSystem() {
  static SLFileSystem* const fs =
      sl::archive::ZipFileSystem::Open(ArchivePath(), 1).detach()->table();
  return fs;
}

zip_t* LibzipArchive() {
  static zip_t* const archive = [] {
    int error = 0;
    return zip_open(ArchivePath().c_str(), ZIP_RDONLY, &error);
  }();
  return archive;
}

// One whole read of the member through a file read stream, 64 KiB per ReadStream.
uint64_t ReadThroughStream(std::vector<char>& destination) {
  SLStreamService* streams = Streams();
  SLFileSystem* fs = ZipFileSystem();
  SLFileHandle file = nullptr;
  SLStreamHandle stream = nullptr;
  if (fs->OpenFile(fs, u"member.txt", SL_OPEN_READ, &file) != SL_OK ||
      streams->OpenFileReadStream(streams, fs, file, &stream) != SL_OK) {
    return 0;
  }
  uint64_t total = 0;
  uint64_t done = 0;
  do {
    streams->ReadStream(streams, stream, destination.data(), destination.size(), &done);
    total += done;
  } while (done == destination.size());
  benchmark::DoNotOptimize(destination.data());
  streams->CloseStream(streams, stream);
  return total;
}

// The same member with libzip alone: zip_fread into the 64 KiB destination until the end.
uint64_t ReadWithLibzip(std::vector<char>& destination) {
  zip_file_t* file = zip_fopen(LibzipArchive(), kMember, 0);
  if (file == nullptr) return 0;
  uint64_t total = 0;
  for (zip_int64_t n; (n = zip_fread(file, destination.data(), destination.size())) > 0;) {
    total += static_cast<uint64_t>(n);
  }
  benchmark::DoNotOptimize(destination.data());
  zip_fclose(file);
  return total;
}

void Finish(benchmark::State& state, uint64_t total, int sides) {
  if (total != config().readFileBytes) state.SkipWithError("the member was not read whole");
  state.SetBytesProcessed(
      static_cast<int64_t>(state.iterations() * sides * config().readFileBytes));
}

void StreamRead(benchmark::State& state) {
  std::vector<char> destination(static_cast<size_t>(state.range(0)));
  uint64_t total = 0;
  for (auto _ : state) total = ReadThroughStream(destination);
  Finish(state, total, 1);
}

void LibzipRead(benchmark::State& state) {
  std::vector<char> destination(static_cast<size_t>(state.range(0)));
  uint64_t total = 0;
  for (auto _ : state) total = ReadWithLibzip(destination);
  Finish(state, total, 1);
}

// Both sides in turn, iteration after iteration, in alternating order (RunPaired).
void PairedStreamLibzip(benchmark::State& state) {
  std::vector<char> destination(64u << 10);
  uint64_t streamTotal = 0;
  uint64_t libzipTotal = 0;
  RunPaired(
      state, [&] { streamTotal = ReadThroughStream(destination); },
      [&] { libzipTotal = ReadWithLibzip(destination); });
  Finish(state, streamTotal == libzipTotal ? streamTotal : 0, 2);
}

BENCHMARK(StreamRead)->Name("ZipRead/stream")->Arg(65536)->UseRealTime();
BENCHMARK(LibzipRead)->Name("ZipRead/libzip_fread")->Arg(65536)->UseRealTime();
BENCHMARK(PairedStreamLibzip)->Name("ZipRead/paired_stream_libzip/65536")->UseManualTime();

}  // namespace
}  // namespace slbench
