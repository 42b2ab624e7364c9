// The one fake file system of the tests and fuzzers: a file system written as a host writes one
// (on the SDK's FileSystemBase), in front of another one (a new in-memory file system by
// default, or the module's default file system). It forwards every entry through the other's
// table, records every call, and fails or shortens calls as its fault records say, one record
// per entry:
//
//   auto fs = sl::sdk::MakeRef<sltest::FaultFileSystem>();
//   fs->memory()->SetFile("/a", "0123456789");
//   fs->Arm(sltest::kReadFile, {2, true});         // the second ReadFile from now on fails, and
//                                                  // every later one
//   fs->faults[sltest::kWriteFile].caps = {4, 2};  // the next two writes take at most 4, then 2
//   ... a stream over fs->table() ...
//   EXPECT_EQ(fs->Trace(), "Read(4096) Read(4096)! Flush Flush Close Release");
//
// An injected failure forwards nothing (a failing ReadFile or WriteFile first moves up to `moved`
// bytes and reports them) and returns the record's code, with a failure record or without one:
// then GetErrorInfo answers 11 and the module's callers go on with the bare code. The table is
// the test's to bend (table(): its size, empty entries) to check the calling rules. Only the
// name and the file entries are its own: each open file forwards to one of the file system below,
// and the positions the base keeps are counted, logged and failed in front of the base's entries.
// Folder entries, search and path mapping answer as the base does. One thread at a time. It may
// live on the stack if its creator keeps its own reference to the end: RefCount() is then 1
// again once the module has given back every reference it took.
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "slservices/sdk/memory_file_system.hpp"

namespace sltest {

// Objects as the module sees them, through their tables.
inline ServiceObject* AsObject(const void* object) {
  return static_cast<ServiceObject*>(const_cast<void*>(object));
}
inline uint32_t Release(const void* object) {
  return AsObject(object)->header.Release(AsObject(object));
}
// The calling thread's failure record on an object, and what GetErrorInfo answered.
struct Record {
  SLResult read;
  SLErrorInfo info;
};
inline Record RecordOf(const void* object) {
  Record record{SL_OK, {}};
  record.read = AsObject(object)->header.GetErrorInfo(AsObject(object), &record.info, 0);
  return record;
}
inline uint32_t AtomOf(const char* name) {  // from the atom library the executable links
  uint32_t atom = SL_UNRESOLVED_ATOM;
  SLGetAtomFromString(name, &atom);
  return atom;
}

// The SLFileSystem entries in table order, then the two counted base entries.
// clang-format off
enum Entry : int {
  kGetFileSystemName, kCreateFolder, kCreateAllFolders, kRemoveFolder, kOpenFile, kCloseFile,
  kIsFileExists, kReadFile, kWriteFile, kFlushFile, kGetFilePos, kSetFilePos, kGetFileSize,
  kRemoveFile, kAddRef, kRelease, kEntries
};
// clang-format on

struct Fault {
  Fault(uint64_t call = 0, bool always = false, bool recorded = true,
        SLResult result = SL_OS_FAILURE,
        uint64_t bytes = 0)  // NOLINT: {2, true} reads as a record
      : at(call), forGood(always), record(recorded), code(result), moved(bytes) {}
  uint64_t at;   // the call of the entry (from 1) that fails; 0: none
  bool forGood;  // every later call fails too
  bool record;   // the failure leaves a record for GetErrorInfo
  SLResult code;
  uint64_t moved;             // ReadFile, WriteFile: bytes a failing call still moves
  std::deque<uint64_t> caps;  // ReadFile, WriteFile: the next calls move at most this many
};

struct Call {
  Entry entry;
  uint64_t size;   // asked for or offered (ReadFile, WriteFile), the position (SetFilePos)
  uint64_t moved;  // what a ReadFile or WriteFile moved
  SLResult code;
  bool recorded;  // a failure that left a record (the module raises it)
};

class FaultFileSystem : public sl::sdk::FileSystemBase {
 public:
  static constexpr uint32_t kName = 0x46415554;
  explicit FaultFileSystem(SLFileSystem* inner = nullptr, uint32_t nameAtom = kName);
  ~FaultFileSystem() override;
  const char* DisplayName() const override { return "FaultFileSystem"; }

  sl::sdk::MemoryFileSystem* memory() const { return memory_.get(); }
  // Opens a file of the file system below (not counted, not recorded).
  SLFileHandle Open(const char16_t* path, uint32_t mode);
  // The calls so far, as "Read(4096) Flush! Release" ("!": it failed), each entry by a short
  // name: Name Mkdir MkdirAll Rmdir Open Close Exists Read Write Flush Pos Seek Size Remove.
  std::string Trace() const;
  // Sets an entry's fault record, counting its `at` from the entry's next call.
  void Arm(Entry entry, Fault fault);

  std::array<Fault, kEntries> faults;
  std::array<uint64_t, kEntries> calls{};
  std::vector<Call> log;
  bool logging = true;    // off: recording allocates nothing
  uint64_t failures = 0;  // injected so far
  uint64_t written = 0;   // bytes WriteFile handed to the file system below

 protected:
  SLResult OpenFile(std::u16string_view path, sl::sdk::OpenMode mode,
                    std::unique_ptr<sl::sdk::FileBase>* file) override;

 private:
  class Forwarded;
  static FaultFileSystem& Of(void* self);
  bool Injects(Entry entry);
  SLResult Finish(Entry entry, uint64_t size, SLResult code, bool injected, uint64_t moved = 0);
  template <class Forward>
  SLResult Pass(Entry entry, Forward forward, uint64_t size = 0) {
    const bool injected = Injects(entry);
    return Finish(entry, size, injected ? faults[entry].code : forward(), injected);
  }
  template <class Forward>
  SLResult Move(Entry entry, uint64_t size, uint64_t* done, Forward forward);
  // A position entry of the base with this entry's counting, logging and faults in front.
  template <class Forward>
  SLResult Position(Entry entry, uint64_t size, Forward forward);
  // Runs a base file entry; a call that the base refuses before an open file sees it (a handle
  // already closed) is counted and logged too, so traces show every call, the wrong ones most.
  template <class Forward>
  SLResult Refused(Entry entry, uint64_t size, Forward forward);

  sl::sdk::Ref<sl::sdk::MemoryFileSystem> memory_;
  sl::sdk::Ref<SLFileSystem> inner_;
  SLFileSystem* below_;
  bool silent_ = false;  // the last failure left no record
  decltype(ServiceFunctionTable::GetErrorInfo) recordOf_;
  decltype(SLFileSystem::GetFilePos) positionOf_;
  decltype(SLFileSystem::SetFilePos) seekOf_;
  // The base's file entries, behind Refused.
  decltype(SLFileSystem::ReadFile) readOf_;
  decltype(SLFileSystem::WriteFile) writeOf_;
  decltype(SLFileSystem::FlushFile) flushOf_;
  decltype(SLFileSystem::CloseFile) closeOf_;
};

// Callback records over one open file of a file system: each callback is one call of its table
// (Read: ReadFile, all ones when that fails; Write: WriteFile; Flush: FlushFile, 0 when that
// fails; Close: CloseFile), so callback streams show in the same trace as file streams.
struct FileCallbacks {
  SLFileSystem* fs;
  SLFileHandle file;
  SLReadHandler reader() const;
  SLWriteHandler writer() const;
};

}  // namespace sltest
