// Host-side fakes for the stream tests: a file system with a hand-written C table and the two
// callback records. Each logs the calls it receives, in order, as short strings such as
// "ReadFile(4096)", "Flush" or "Release", so a test can compare a whole sequence at once.
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "slservices/sl_stream.h"

namespace streamtest {

using CallLog = std::vector<std::string>;

// A file system made by the host: table size and entries as the test sets them, counted
// AddRef/Release (logged as well), and a failure record that GetErrorInfo hands out when
// `failuresHaveRecord` is set. Not thread-safe: one fake per thread.
class FakeFileSystem {
 public:
  explicit FakeFileSystem(uint32_t tableSize = SL_FILESYSTEM_TABLE_SIZE);
  FakeFileSystem(const FakeFileSystem&) = delete;
  FakeFileSystem& operator=(const FakeFileSystem&) = delete;

  SLFileSystem* fs() { return &object_.table; }
  SLFileSystem& table() { return object_.table; }
  // The handle the tests open streams with; every file entry checks that it gets this one.
  SLFileHandle file() const { return reinterpret_cast<SLFileHandle>(uintptr_t{0x5EED}); }

  // ReadFile delivers `content` from `readPos` on, at most `readChunk` bytes per call, and
  // returns `readCode` (1 passes the check like 0).
  std::string content;
  size_t readPos = 0;
  uint64_t readChunk = UINT64_MAX;
  SLResult readCode = SL_OK;
  // The n-th WriteFile (from 1) takes at most `writeCounts[n - 1]` bytes while there are
  // counts, `writeAccept` after that, into `written`.
  std::vector<uint64_t> writeCounts;
  uint64_t writeAccept = UINT64_MAX;
  std::string written;
  // What GetFilePos reports and SetFilePos sets; GetFileSize reports the size of `content`.
  int64_t position = 0;

  // The n-th call (from 1) of an entry fails with `failCode`; 0 never fails. A failing read
  // still reports `failedReadCount` bytes.
  int failReadOnCall = 0;
  int failWriteOnCall = 0;
  int failFlushOnCall = 0;
  bool failClose = false;
  uint64_t failedReadCount = 0;
  SLResult failCode = SL_OS_FAILURE;
  bool failuresHaveRecord = true;

  CallLog calls;
  // Quiet: no call log and no copy of the written bytes, so the fake itself allocates nothing.
  bool quiet = false;
  int readCalls = 0;
  int writeCalls = 0;
  int flushCalls = 0;
  int closeCalls = 0;
  uint64_t writtenBytes = 0;
  int refCount = 1;  // the test's own reference
  int addRefs = 0;
  int releases = 0;
  int wrongHandles = 0;
  bool hasRecord = false;
  SLErrorInfo record{};

 private:
  struct Object {
    SLFileSystem table;  // first: the object's address is the table's
    FakeFileSystem* owner;
  };
  static FakeFileSystem& Of(const void* self);
  void Log(std::string call);
  SLResult Fail(const char* entry);
  void Check(SLFileHandle file);

  static uint32_t AddRef(ServiceObject* self);
  static uint32_t Release(ServiceObject* self);
  static uint32_t GetRefCount(ServiceObject* self);
  static SLResult GetErrorInfo(ServiceObject* self, SLErrorInfo* info, uint64_t reserved);
  static SLResult CloseFile(SLFileSystem* self, SLFileHandle file);
  static SLResult ReadFile(SLFileSystem* self, SLFileHandle file, void* buffer, uint64_t size,
                           uint64_t* done);
  static SLResult WriteFile(SLFileSystem* self, SLFileHandle file, const void* buffer,
                            uint64_t size, uint64_t* done);
  static SLResult FlushFile(SLFileSystem* self, SLFileHandle file);
  static SLResult GetFilePos(SLFileSystem* self, SLFileHandle file, uint64_t* position);
  static SLResult SetFilePos(SLFileSystem* self, SLFileHandle file, int64_t position);
  static SLResult GetFileSize(SLFileSystem* self, SLFileHandle file, uint64_t* size);

  Object object_;
};

// An SLReadHandler over `data`, at most `chunk` bytes per Read; at the end Read returns
// `endResult` (0, or all ones). `fixedResult`, when set, is returned by every Read instead.
struct ReadHandlerFake {
  SLReadHandler handler() const;
  void* context() { return this; }

  std::string data;
  size_t pos = 0;
  uint64_t chunk = UINT64_MAX;
  uint64_t endResult = 0;
  bool useFixedResult = false;
  uint64_t fixedResult = 0;
  uint8_t flushResult = 1;
  CallLog calls;
};

// An SLWriteHandler: each Write takes the next count from `accept` (all bytes once it is
// empty) and keeps what it took in `written`; `offered` keeps what each call was offered.
struct WriteHandlerFake {
  SLWriteHandler handler() const;
  void* context() { return this; }

  std::deque<uint64_t> accept;
  std::string written;
  std::vector<std::string> offered;
  uint8_t flushResult = 1;
  CallLog calls;
};

}  // namespace streamtest
