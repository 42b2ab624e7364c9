// What streams do with their devices: one table of programs, each run on a file stream over the
// fault-injecting file system and on a callback stream whose callbacks call the same file
// system, so both show their device calls in one trace: refills, buffered writes, partial writes,
// failures, short tables and the close sequences.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdlib>
#include <sstream>
#include <string>

#include "common/fault_file_system.h"
#include "slservices/sdk/ref.hpp"
#include "stream/file_adaptor.h"
#include "stream/stream_service.h"

namespace {

using namespace sltest;  // NOLINT: the table names entries
using F = FaultFileSystem;

std::string Pattern(size_t size) {
  std::string bytes(size, '\0');
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>(i * 7 + i / 251);
  return bytes;
}

enum Kind { kFile = 1, kCallbacks = 2, kBoth = 3, kMemory = 4 };
constexpr bool kIn = true, kOut = false;

struct Program {
  const char* name;
  int kinds;
  bool input;
  size_t size;  // read streams: the file's (or block's) bytes; write streams: the bytes it holds
                // at the end, the first ones written, in order
  // "r5000=4096": ReadStream of 5000 gives 4096; "w10": WriteStream of the next 10 bytes
  // ("w10*3": three times); "f": FlushStream; "c": CloseStream.
  const char* steps;
  // The file system's calls after the Open. Callback streams hold no reference: no Release.
  const char* trace;
  void (*setup)(F&);
};

void None(F&) {}
// clang-format off
const Program kPrograms[] = {
  // Reads: one device read of 4096 per refill, none while the buffer holds the request; an end is for good.
  {"refills", kBoth, kIn, 10000, "r1=1 r4000=4000 r95=95 r1=1 r6000=5903 r1=0 r1=0", "Read(4096) Read(4096) Read(4096) Read(4096)", None},
  {"short reads continue", kBoth, kIn, 300, "r250=250", "Read(4096) Read(4096) Read(4096)", [](F& f) { f.faults[kReadFile].caps = {100, 100, 100}; }},
  {"the end after some bytes", kBoth, kIn, 6, "r10=6 r10=0 r1=0 c", "Read(4096) Read(4096) Flush Flush Close Release", None},
  {"a read returning 1 delivers", kBoth, kIn, 100, "r200=100", "Read(4096) Read(4096)", [](F& f) { f.faults[kReadFile] = {1, false, true, SL_NOT_DONE, 4096}; }},
  {"a raised read failure counts 0", kFile, kIn, 10000, "r5000=0 r10=0 c", "Read(4096) Read(4096)! Flush Flush Close Release", [](F& f) { f.faults[kReadFile] = {2}; }},
  {"a bare read failure's bytes count", kFile, kIn, 50, "r100=50", "Read(4096)! Read(4096) Read(4096)", [](F& f) { f.faults[kReadFile] = {1, false, false, SL_OS_FAILURE, 30}; }},
  {"a failing callback read ends", kCallbacks, kIn, 10000, "r5000=4096 r10=0 c", "Read(4096) Read(4096)! Flush Flush Close", [](F& f) { f.faults[kReadFile] = {2}; }},
  // Close of a read stream: two flushes and the close, whatever the state; failures absorbed.
  {"close unread", kBoth, kIn, 4, "f c", "Flush! Flush! Close Release", [](F& f) { f.faults[kFlushFile] = {1, true}; }},
  {"close mid-buffer", kBoth, kIn, 4, "r2=2 f c", "Read(4096) Flush Flush Close! Release", [](F& f) { f.faults[kCloseFile] = {1}; }},
  {"memory", kMemory, kIn, 10, "r4=4 r0=0 r4=4 r4=2 r4=0 r4=0 c", "", None},
  {"empty memory", kMemory, kIn, 0, "r1=0 r1=0 c", "", None},
  // Writes: whole buffers; FlushStream hands over, then flushes; the close synchronises three times, then closes.
  {"buffered until flushed", kBoth, kOut, 15, "w10 f f w5 c", "Write(10) Flush Flush Write(5) Flush Flush Flush Close Release", None},
  {"whole buffers", kBoth, kOut, 15000, "w10*1000 w5000 f", "Write(4096) Write(4096) Write(4096) Write(2712) Flush", None},
  {"close of an empty stream", kBoth, kOut, 0, "c", "Flush! Flush! Flush! Close Release", [](F& f) { f.faults[kFlushFile] = {1, true, false}; }},
  // A partial write leaves the rest buffered from the first byte not taken: each byte once, in order.
  {"partial writes", kBoth, kOut, 10, "w10 f f f c", "Write(10) Flush Write(6) Flush Write(4) Flush Flush Flush Flush Close Release", [](F& f) { f.faults[kWriteFile].caps = {4, 2}; }},
  {"partial then more", kBoth, kOut, 12, "w10 f w2 f", "Write(10) Flush Write(8) Flush", [](F& f) { f.faults[kWriteFile].caps = {4}; }},
  {"partial then full", kBoth, kOut, 4096, "w10 f w5000 c", "Write(10) Flush Write(4092) Write(4090) Flush Flush Flush Close Release", [](F& f) { f.faults[kWriteFile].caps = {4, 2}; }},
  // A full buffer not taken whole makes the stream bad: it passes nothing on until the close.
  {"full buffer partly taken", kBoth, kOut, 4096, "w5000 w4 f c", "Write(4096) Write(3996) Flush Write(2996) Flush Write(2496) Flush Close Release", [](F& f) { f.faults[kWriteFile].caps = {100, 1000, 500}; }},
  {"full buffer refused", kBoth, kOut, 0, "w5000 w5000 w1 f c", "Write(4096) Write(4096) Flush Write(4096) Flush Write(4096) Flush Close Release", [](F& f) { f.faults[kWriteFile].caps = {0, 0, 0, 0}; }},
  // Raised failures make a file write stream bad; the close still synchronises.
  {"raised write failure", kFile, kOut, 3, "w3 f w3 f c", "Write(3)! Write(3) Flush Flush Flush Close Release", [](F& f) { f.faults[kWriteFile] = {1}; }},
  {"raised flush failure", kFile, kOut, 3, "w3 f w3 f c", "Write(3) Flush! Flush Flush Flush Close Release", [](F& f) { f.faults[kFlushFile] = {1}; }},
  {"failing close", kBoth, kOut, 3, "w3 c", "Write(3) Flush Flush Flush Close! Release", [](F& f) { f.faults[kCloseFile] = {1, false, false}; }},
  {"raised close failure", kFile, kOut, 3, "w3 c", "Write(3) Flush Flush Flush Close! Release", [](F& f) { f.faults[kCloseFile] = {1}; }},
  // The calling rules: entries beyond the table's size or empty are not called.
  {"table of 56: no ReadFile", kFile, kIn, 10, "r10=0 r10=0 c", "Close Release", [](F& f) { f.table()->header.tableSize = 56; }},
  {"table of 40: no CloseFile", kFile, kIn, 10, "c", "Release", [](F& f) { f.table()->header.tableSize = 40; }},
  {"table of 40, writing", kFile, kOut, 0, "w4097 c", "Release", [](F& f) { f.table()->header.tableSize = 40; }},
  {"empty entries", kFile, kOut, 0, "w3 f c", "Close Release", [](F& f) { f.table()->FlushFile = nullptr, f.table()->WriteFile = nullptr; }},
  {"no AddRef and Release", kFile, kIn, 3, "r3=3 c", "Read(4096) Flush Flush Close", [](F& f) { f.table()->header.AddRef = f.table()->header.Release = nullptr; }},
};
// clang-format on

class StreamDevices : public ::testing::TestWithParam<Program> {};

void RunProgram(const Program& p, Kind kind) {
  SCOPED_TRACE(kind == kFile ? "file stream" : kind == kCallbacks ? "callback stream" : "memory");
  auto service = sl::stream::CreateStreamService();
  auto* ss = reinterpret_cast<SLStreamService*>(service.get());
  FaultFileSystem fs;
  const std::string data = Pattern(20000);
  fs.memory()->SetFile("/f", p.input ? data.substr(0, p.size) : "");
  sltest::FileCallbacks file{fs.table(), fs.Open(u"/f", p.input ? SL_OPEN_READ : SL_OPEN_WRITE)};
  p.setup(fs);
  const SLReadHandler reader = file.reader();
  const SLWriteHandler writer = file.writer();
  void* context = &file;
  SLStreamHandle h = nullptr;
  const SLResult opened = kind == kMemory ? ss->OpenMemReadStream(ss, data.data(), p.size, &h)
                          : kind == kFile
                              ? (p.input ? ss->OpenFileReadStream(ss, fs.table(), file.file, &h)
                                         : ss->OpenFileWriteStream(ss, fs.table(), file.file, &h))
                          : p.input ? ss->OpenReadStream(ss, &reader, context, &h)
                                    : ss->OpenWriteStream(ss, &writer, context, &h);
  ASSERT_EQ(SL_OK, opened);
  const bool counted = kind == kFile && fs.table()->header.AddRef != nullptr;
  EXPECT_EQ(counted ? 2u : 1u, fs.RefCount()) << "a file stream holds one reference";
  fs.log.clear();
  std::istringstream steps(p.steps);
  std::string step;
  size_t at = 0;
  bool closed = false;
  while (steps >> step) {
    SCOPED_TRACE(step);
    const uint64_t size = std::strtoull(step.c_str() + 1, nullptr, 10);
    uint64_t done = ~uint64_t{0};
    if (step[0] == 'r') {
      std::string bytes(size, '\0');
      ASSERT_EQ(SL_OK, ss->ReadStream(ss, h, bytes.data(), size, &done));
      EXPECT_EQ(std::strtoull(step.c_str() + step.find('=') + 1, nullptr, 10), done);
      EXPECT_TRUE(bytes.compare(0, done, data, at, done) == 0) << "the next bytes of the file";
      at += done;
    } else if (step[0] == 'w') {
      const size_t times =
          step.find('*') == std::string::npos ? 1 : std::stoul(step.substr(step.find('*') + 1));
      for (size_t i = 0; i < times; ++i, at += size) {
        ASSERT_EQ(SL_OK, ss->WriteStream(ss, h, data.data() + at, size, &done));
        EXPECT_EQ(size, done) << "a write stream reports the size it was given";
      }
    } else {
      ASSERT_EQ(SL_OK, step == "f" ? ss->FlushStream(ss, h) : ss->CloseStream(ss, h));
      closed = closed || step == "c";
    }
  }
  std::string trace = p.trace;
  if (kind == kCallbacks && trace.size() >= 8 &&
      trace.compare(trace.size() - 8, 8, " Release") == 0) {
    trace.resize(trace.size() - 8);
  }
  EXPECT_EQ(trace, fs.Trace());
  if (!closed) {
    EXPECT_EQ(SL_OK, ss->CloseStream(ss, h));
  }
  EXPECT_EQ(1u, fs.RefCount()) << "every reference given back";
  if (!p.input) {
    EXPECT_TRUE(*fs.memory()->FileContents("/f") == data.substr(0, p.size));
  }
  SLErrorInfo info{};
  EXPECT_EQ(SL_NOT_FOUND, service.object()->header.GetErrorInfo(service.object(), &info, 0))
      << "device failures are not the service's";
}

TEST_P(StreamDevices, Program) {
  for (const Kind kind : {kFile, kCallbacks, kMemory}) {
    if ((GetParam().kinds & kind) != 0) RunProgram(GetParam(), kind);
  }
}

INSTANTIATE_TEST_SUITE_P(Table, StreamDevices, ::testing::ValuesIn(kPrograms),
                         [](const ::testing::TestParamInfo<Program>& row) {
                           std::string name = row.param.name;
                           for (char& c : name)
                             c = std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
                           return name;
                         });

// A stream keeps its file system alive after the registry and the caller let go of it, and its
// close gives back the last reference.
TEST(StreamReferences, AStreamHoldsTheLastReferenceToItsFileSystem) {
  auto service = sl::stream::CreateStreamService();
  auto* ss = reinterpret_cast<SLStreamService*>(service.get());
  for (const bool input : {true, false}) {
    auto fs = sl::sdk::MakeRef<FaultFileSystem>();
    fs->memory()->SetFile("/f", "still here");
    sl::sdk::Ref<SLFileSystem> table = sl::sdk::Ref<SLFileSystem>::Share(fs->table());
    const sl::sdk::WeakRef<SLFileSystem> weak = sl::sdk::MakeWeak(table);
    SLStreamHandle h = nullptr;
    const SLFileHandle file = fs->Open(u"/f", input ? SL_OPEN_READ : SL_OPEN_WRITE);
    ASSERT_EQ(SL_OK, input ? ss->OpenFileReadStream(ss, table.get(), file, &h)
                           : ss->OpenFileWriteStream(ss, table.get(), file, &h));
    fs.reset();
    table.reset();
    ASSERT_TRUE(weak.IsAlive());
    char bytes[10];
    uint64_t done = 0;
    EXPECT_EQ(SL_OK, input ? ss->ReadStream(ss, h, bytes, 10, &done)
                           : ss->WriteStream(ss, h, "0123456789", 10, &done));
    EXPECT_EQ(10u, done);
    EXPECT_EQ(SL_OK, ss->CloseStream(ss, h));
    EXPECT_FALSE(weak.IsAlive()) << "the close released the last reference";
  }
}

// Streams never position their files; the device positions through the table all the same.
TEST(StreamFileAdaptor, SeeksThroughTheTableAndGivesMinusOneWhenItCannot) {
  FaultFileSystem fs;
  fs.memory()->SetFile("/f", Pattern(1000));
  const SLFileHandle file = fs.Open(u"/f", SL_OPEN_READ);
  ASSERT_EQ(SL_OK, fs.table()->SetFilePos(fs.table(), file, 100));
  SLStreamServiceImpl::_FileAdaptor device(sl::sdk::Ref<SLFileSystem>::Share(fs.table()), file);
  fs.log.clear();
  EXPECT_EQ(std::streampos(110), device.seek(10, std::ios_base::cur));
  EXPECT_EQ(std::streampos(990), device.seek(-10, std::ios_base::end));
  EXPECT_EQ(std::streampos(7), device.seek(7, std::ios_base::beg));
  EXPECT_EQ("Pos Seek(110) Size Seek(990) Seek(7)", fs.Trace());
  fs.Arm(sltest::kSetFilePos, {1, false, false});
  EXPECT_EQ(std::streampos(-1), device.seek(8, std::ios_base::beg));
  fs.Arm(sltest::kSetFilePos, {1});
  EXPECT_THROW(device.seek(8, std::ios_base::beg), ServiceObjectException);
  fs.table()->GetFileSize = nullptr;
  EXPECT_EQ(std::streampos(-1), device.seek(0, std::ios_base::end));
  uint64_t position = 0;
  EXPECT_EQ(SL_OK, fs.table()->GetFilePos(fs.table(), file, &position));
  EXPECT_EQ(7u, position);
}

}  // namespace
