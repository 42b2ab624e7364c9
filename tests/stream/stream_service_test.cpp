// The stream service's own side: refused calls with their records, handles that cross and
// outlive service objects, streams on several threads, what running streams allocate, and file
// streams over the module's own default file system, end to end.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "common/alloc_hook.h"
#include "common/fault_file_system.h"
#include "filesystem/file_system_service.h"
#include "stream/stream_service.h"

namespace {

using sltest::FaultFileSystem;
using ObjectPtr = SODetails::BasicServiceObjectPtr<ServiceObject>;

SLStreamService* Streams(const ObjectPtr& service) {
  return reinterpret_cast<SLStreamService*>(service.get());
}
using sltest::RecordOf;
const auto kUntouched = reinterpret_cast<SLStreamHandle>(uintptr_t{0xBAD});

struct Ctx {  // a read and a write file stream over one fault-injecting file system
  SLStreamService* ss;
  SLFileSystem* fs;
  SLStreamHandle read = nullptr, write = nullptr, out = kUntouched;
  uint64_t count = 77;
};
// clang-format off
const std::pair<uint32_t, SLResult (*)(Ctx&)> kRefused[] = {  // the entry's line, a refused call
  {8, [](Ctx& c) { return c.ss->OpenMemReadStream(c.ss, nullptr, 0, &c.out); }},
  {9, [](Ctx& c) { return c.ss->OpenFileReadStream(c.ss, nullptr, nullptr, &c.out); }},
  {10, [](Ctx& c) { return c.ss->OpenFileWriteStream(c.ss, c.fs, nullptr, nullptr); }},
  {11, [](Ctx& c) { return c.ss->OpenReadStream(c.ss, nullptr, nullptr, &c.out); }},
  {12, [](Ctx& c) { return c.ss->OpenWriteStream(c.ss, nullptr, nullptr, &c.out); }},
  {13, [](Ctx& c) { return c.ss->ReadStream(c.ss, c.write, &c.out, 4, &c.count); }},
  {14, [](Ctx& c) { return c.ss->WriteStream(c.ss, c.read, "abcd", 4, &c.count); }},
  {15, [](Ctx& c) { return c.ss->FlushStream(c.ss, nullptr); }},
};
// clang-format on

TEST(StreamService, RefusedCallsGiveThreeAndARecordAndTouchNothing) {
  ObjectPtr service = sl::stream::CreateStreamService();
  FaultFileSystem fs;
  fs.memory()->SetFile("/r", "abcdefgh");
  Ctx c{Streams(service), fs.table()};
  ASSERT_EQ(SL_OK, c.ss->OpenFileReadStream(c.ss, c.fs, fs.Open(u"/r", SL_OPEN_READ), &c.read));
  ASSERT_EQ(SL_OK, c.ss->OpenFileWriteStream(c.ss, c.fs, fs.Open(u"/w", SL_OPEN_CREATE), &c.write));
  fs.log.clear();
  for (const auto& [line, call] : kRefused) {
    EXPECT_EQ(SL_INVALID_ARGUMENT, call(c));
    EXPECT_TRUE(c.out == kUntouched && c.count == 77) << "out arguments are left as they were";
    const auto [read, info] = RecordOf(c.ss);
    EXPECT_EQ(SL_OK, read);
    EXPECT_EQ(SL_INVALID_ARGUMENT, info.code);
    EXPECT_EQ(line, info.line);
    EXPECT_STREQ("Support/include/support/details/StreamServiceCalls", info.sourceFile);
  }
  EXPECT_EQ("", fs.Trace()) << "no refused call reached a device or a reference count";
  // Both streams still work after being handed to the wrong entries.
  char bytes[8];
  EXPECT_EQ(SL_OK, c.ss->ReadStream(c.ss, c.read, bytes, 8, &c.count));
  EXPECT_EQ("abcdefgh", std::string(bytes, c.count));
  EXPECT_EQ(SL_OK, c.ss->WriteStream(c.ss, c.write, "xy", 2, &c.count));
  EXPECT_EQ(SL_OK, c.ss->CloseStream(c.ss, c.read));
  EXPECT_EQ(SL_OK, c.ss->CloseStream(c.ss, c.write));
  EXPECT_EQ("xy", *fs.memory()->FileContents("/w"));
  EXPECT_EQ(1u, fs.RefCount());
}

TEST(StreamService, SuccessesLeaveNoRecord) {
  ObjectPtr service = sl::stream::CreateStreamService();
  SLStreamService* ss = Streams(service);
  static const SLWriteHandler kSink = {[](void*, const void*, uint64_t n) { return n; },
                                       [](void*) -> uint8_t { return 1; }, [](void*) {}};
  SLStreamHandle mem = nullptr, write = nullptr;
  ASSERT_EQ(SL_OK, ss->OpenMemReadStream(ss, "abc", 3, &mem));
  ASSERT_EQ(SL_OK, ss->OpenWriteStream(ss, &kSink, nullptr, &write));
  uint64_t done = 9;
  EXPECT_EQ(SL_OK, ss->ReadStream(ss, mem, nullptr, 0, &done));
  EXPECT_EQ(0u, done) << "a zero-sized read needs no buffer";
  EXPECT_EQ(SL_OK, ss->WriteStream(ss, write, nullptr, 0, &done));
  char bytes[4];
  EXPECT_EQ(SL_OK, ss->ReadStream(ss, mem, bytes, 4, &done));
  EXPECT_EQ(SL_OK, ss->ReadStream(ss, mem, bytes, 4, &done)) << "the end is no failure";
  for (SLStreamHandle h : {mem, write, static_cast<SLStreamHandle>(nullptr)}) {
    EXPECT_EQ(SL_OK, ss->CloseStream(ss, h));
  }
  SLErrorInfo info;
  std::memset(&info, 0xAB, sizeof(info));
  EXPECT_EQ(SL_NOT_FOUND, service.object()->header.GetErrorInfo(service.object(), &info, 0));
  const SLErrorInfo zero{};
  EXPECT_EQ(0, std::memcmp(&info, &zero, sizeof(info))) << "the record handed out is zeroed";
}

// A handle belongs to no service object: any one serves it, failures are recorded on the one
// called, and streams outlive the object that opened them.
TEST(StreamService, HandlesWorkThroughAnyServiceObject) {
  FaultFileSystem fs;
  fs.memory()->SetFile("/r", "file bytes");
  SLStreamHandle read = nullptr, write = nullptr;
  ObjectPtr later = sl::stream::CreateStreamService();
  SLStreamService* ss = Streams(later);
  uint64_t done = 0;
  {
    ObjectPtr opener = sl::stream::CreateStreamService();
    SLStreamService* first = Streams(opener);
    ASSERT_EQ(SL_OK, first->OpenFileReadStream(first, fs.table(), fs.Open(u"/r", 1), &read));
    ASSERT_EQ(SL_OK, first->OpenFileWriteStream(first, fs.table(), fs.Open(u"/w", 4), &write));
    EXPECT_EQ(SL_INVALID_ARGUMENT, ss->ReadStream(ss, write, &done, 1, &done));
    EXPECT_EQ(13u, RecordOf(ss).info.line);
    EXPECT_EQ(SL_NOT_FOUND, RecordOf(first).read);
  }
  char bytes[10];
  EXPECT_EQ(SL_OK, ss->ReadStream(ss, read, bytes, 10, &done));
  EXPECT_EQ("file bytes", std::string(bytes, done));
  EXPECT_EQ(SL_OK, ss->WriteStream(ss, write, "hello", 5, &done));
  EXPECT_EQ(SL_OK, ss->CloseStream(ss, read));
  EXPECT_EQ(SL_OK, ss->CloseStream(ss, write));
  EXPECT_EQ("hello", *fs.memory()->FileContents("/w"));
  EXPECT_EQ(1u, fs.RefCount());
}

// Each thread its own streams on one service object and one default file system, and its own
// failure record.
TEST(StreamService, StreamsOnDifferentThreadsAreIndependent) {
  ObjectPtr service = sl::stream::CreateStreamService(),
            files = sl::filesystem::CreateFileSystemService();
  SLStreamService* ss = Streams(service);
  SLFileSystem* fs = nullptr;
  auto* fss = reinterpret_cast<SLFileSystemService*>(files.get());
  ASSERT_EQ(SL_OK, fss->GetDefaultFileSystem(fss, &fs));
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([ss, fs, t] {
      const std::u16string path = u"stream-thread-" + std::u16string(1, u'0' + t);
      std::string data(9000 + t, '\0'), fromMemory(data.size(), '\0'), fromFile(data.size(), '\0');
      for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * (t + 3));
      SLFileHandle file = nullptr;
      SLStreamHandle mem = nullptr, write = nullptr, read = nullptr;
      uint64_t done = 0;
      ASSERT_EQ(SL_OK, fs->OpenFile(fs, path.c_str(), SL_OPEN_CREATE, &file));
      ASSERT_EQ(SL_OK, ss->OpenFileWriteStream(ss, fs, file, &write));
      for (size_t at = 0; at < data.size(); at += 333) {
        EXPECT_EQ(SL_OK, ss->WriteStream(ss, write, &data[at],
                                         std::min<size_t>(333, data.size() - at), &done));
      }
      EXPECT_EQ(SL_OK, ss->CloseStream(ss, write));
      ASSERT_EQ(SL_OK, fs->OpenFile(fs, path.c_str(), SL_OPEN_READ, &file));
      ASSERT_EQ(SL_OK, ss->OpenFileReadStream(ss, fs, file, &read));
      ASSERT_EQ(SL_OK, ss->OpenMemReadStream(ss, data.data(), data.size(), &mem));
      for (size_t at = 0; at < data.size(); at += 700) {
        const uint64_t size = std::min<size_t>(700, data.size() - at);
        EXPECT_EQ(SL_OK, ss->ReadStream(ss, mem, &fromMemory[at], size, &done));
        EXPECT_EQ(SL_OK, ss->ReadStream(ss, read, &fromFile[at], size, &done));
      }
      // A refused call on this thread leaves this thread's record only.
      EXPECT_EQ(SL_INVALID_ARGUMENT, t % 2 == 0 ? ss->FlushStream(ss, nullptr)
                                                : ss->WriteStream(ss, read, "x", 1, &done));
      EXPECT_EQ(t % 2 == 0 ? 15u : 14u, RecordOf(ss).info.line);
      for (SLStreamHandle h : {mem, read}) EXPECT_EQ(SL_OK, ss->CloseStream(ss, h));
      EXPECT_TRUE(fromMemory == data && fromFile == data);
      EXPECT_EQ(SL_OK, fs->RemoveFile(fs, path.c_str()));
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(SL_NOT_FOUND, RecordOf(ss).read) << "no failure on the main thread";
  sltest::Release(fs);
}

// Once open, streams of every kind read, write and flush without allocating; a memory stream
// reads the caller's block in place.
TEST(StreamService, RunningStreamsAllocateNothing) {
  ObjectPtr service = sl::stream::CreateStreamService();
  SLStreamService* ss = Streams(service);
  FaultFileSystem fs;
  fs.logging = false;
  std::string block(1 << 20, 'b');
  for (const char* name : {"/r", "/w1", "/w2"}) fs.memory()->SetFile(name, block);  // in place
  sltest::FileCallbacks in{fs.table(), fs.Open(u"/r", SL_OPEN_READ)};
  sltest::FileCallbacks out{fs.table(), fs.Open(u"/w1", SL_OPEN_WRITE)};
  const SLReadHandler reader = in.reader();
  const SLWriteHandler writer = out.writer();
  SLStreamHandle h[5] = {};
  ASSERT_EQ(SL_OK, ss->OpenMemReadStream(ss, block.data(), block.size(), &h[0]));
  ASSERT_EQ(SL_OK, ss->OpenReadStream(ss, &reader, &in, &h[1]));
  ASSERT_EQ(SL_OK, ss->OpenFileReadStream(ss, fs.table(), fs.Open(u"/r", 1), &h[2]));
  ASSERT_EQ(SL_OK, ss->OpenWriteStream(ss, &writer, &out, &h[3]));
  ASSERT_EQ(SL_OK, ss->OpenFileWriteStream(ss, fs.table(), fs.Open(u"/w2", 2), &h[4]));
  std::string buffer(8192, '\0');
  for (int kind = 0; kind < 5; ++kind) {
    for (int round = 0; round < 21; ++round) {
      const uint64_t before = sltest::Allocations();
      for (const uint64_t size : {1, 100, 5000, 4096}) {
        uint64_t done = 0;
        EXPECT_EQ(SL_OK, kind < 3 ? ss->ReadStream(ss, h[kind], buffer.data(), size, &done)
                                  : ss->WriteStream(ss, h[kind], buffer.data(), size, &done));
        EXPECT_EQ(size, done);
        EXPECT_EQ(SL_OK, ss->FlushStream(ss, h[kind]));
      }
      EXPECT_EQ(round == 0 ? sltest::Allocations() : before, sltest::Allocations()) << kind;
    }
    EXPECT_EQ(SL_OK, ss->CloseStream(ss, h[kind]));
  }
  EXPECT_GT(fs.calls[sltest::kReadFile], 2 * 21 * 2u);
  EXPECT_GT(fs.written, 2 * 21 * 9000u);
  // The memory stream read the block itself, not a copy: a byte changed after the Open is read.
  ASSERT_EQ(SL_OK, ss->OpenMemReadStream(ss, block.data(), block.size(), &h[0]));
  block[0] = 'Z';
  uint64_t done = 0;
  EXPECT_EQ(SL_OK, ss->ReadStream(ss, h[0], buffer.data(), 1, &done));
  EXPECT_EQ('Z', buffer[0]);
  EXPECT_EQ(SL_OK, ss->CloseStream(ss, h[0]));
}

// A host's whole request over the module's own default file system, from the file-system
// service to the disk and back.
TEST(StreamService, FileStreamsOverTheDefaultFileSystem) {
  ObjectPtr files = sl::filesystem::CreateFileSystemService();
  auto* fss = reinterpret_cast<SLFileSystemService*>(files.get());
  SLFileSystem* fs = nullptr;
  ASSERT_EQ(SL_OK, fss->GetDefaultFileSystem(fss, &fs));
  auto* object = reinterpret_cast<ServiceObject*>(fs);
  const uint32_t refs = object->header.GetRefCount(object);
  ObjectPtr service = sl::stream::CreateStreamService();
  SLStreamService* ss = Streams(service);
  const char16_t* path = u"stream_service_test.bin";
  std::string data(10001, '\0');
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 13);
  SLFileHandle file = nullptr;
  SLStreamHandle h = nullptr;
  uint64_t done = 0, size = 0;
  ASSERT_EQ(SL_OK, fs->OpenFile(fs, path, SL_OPEN_CREATE, &file));
  ASSERT_EQ(SL_OK, ss->OpenFileWriteStream(ss, fs, file, &h));
  EXPECT_EQ(refs + 1, object->header.GetRefCount(object));
  EXPECT_EQ(SL_OK, ss->WriteStream(ss, h, data.data(), 3000, &done));
  EXPECT_EQ(SL_OK, fs->GetFileSize(fs, file, &size));
  EXPECT_EQ(0u, size) << "buffered";
  EXPECT_EQ(SL_OK, ss->FlushStream(ss, h));
  EXPECT_EQ(SL_OK, fs->GetFileSize(fs, file, &size));
  EXPECT_EQ(3000u, size);
  EXPECT_EQ(SL_OK, ss->WriteStream(ss, h, data.data() + 3000, 7000, &done));
  EXPECT_EQ(SL_OK, ss->CloseStream(ss, h));
  EXPECT_EQ(SL_NOT_FOUND, RecordOf(fs).read) << "every write, flush and the close succeeded";
  ASSERT_EQ(SL_OK, fs->OpenFile(fs, path, SL_OPEN_READ, &file));
  ASSERT_EQ(SL_OK, ss->OpenFileReadStream(ss, fs, file, &h));
  std::string back(data.size(), '\0');
  EXPECT_EQ(SL_OK, ss->ReadStream(ss, h, back.data(), 6000, &done));
  EXPECT_EQ(6000u, done);
  EXPECT_EQ(SL_OK, ss->ReadStream(ss, h, back.data() + 6000, 4001, &done));
  EXPECT_EQ(4000u, done);
  EXPECT_TRUE(back.substr(0, 10000) == data.substr(0, 10000)) << "the file's bytes in order";
  EXPECT_EQ(SL_OK, ss->CloseStream(ss, h));
  EXPECT_EQ(refs, object->header.GetRefCount(object)) << "the stream gave its reference back";
  // The close flushed the read handle, which the default file system refuses (15), and closed it:
  // the file, shared with no writer while open for reading, opens for writing again.
  const auto [read, info] = RecordOf(fs);
  EXPECT_EQ(SL_ACCESS_DENIED, info.code);
  EXPECT_EQ(20u, info.line);
  ASSERT_EQ(SL_OK, fs->OpenFile(fs, path, SL_OPEN_WRITE, &file));
  EXPECT_EQ(SL_OK, fs->CloseFile(fs, file));
  EXPECT_EQ(SL_OK, fs->RemoveFile(fs, path));
  sltest::Release(fs);
}

}  // namespace
