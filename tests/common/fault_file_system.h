// A fault-injecting file system, written the way a host writes one: a plain SLFileSystem table
// of its own in front of another file system (normally the module's default file system), to
// which it forwards every entry through that file system's table. It fails its N-th counted
// call, once or from then on, with or without error information, so that the module's callers
// (the registry, file streams) can be driven into every failure path of the storage below.
//
//   FaultFileSystem faulty(defaultFs, AtomOf("Faulty"));
//   faulty.Arm({/*failAt=*/3, /*persistent=*/false, /*withRecord=*/true});
//   streams->OpenFileWriteStream(streams, faulty.fs(), handle, &stream);
//
// An injected failure has no effect on the file system below: nothing is forwarded, out
// arguments stay as they were (the byte count of ReadFile and WriteFile is set to 0, as the
// default file system always sets it), and a failing CloseFile leaves the handle open. With
// `partialTransfers` a failing ReadFile or WriteFile first moves half of the request through the
// file system below and reports that count with the failure, as a disk that fills up would.
//
// Error information: a failure of the file system below is passed on with a copy of its record;
// an injected failure with `withRecord` leaves a record of its own; one without clears the
// record, so GetErrorInfo yields nothing (11) and callers must go on with the bare code.
//
// References are counted but never free the object: the test owns it and checks that every
// reference the module took was given back (refCount() == 1). Handles opened through it and not
// closed by anyone are closed by its destructor and counted in openHandles() meanwhile.
//
// Thread safety: none; one thread at a time.
#pragma once

#include <atomic>
#include <cstdint>
#include <set>
#include <vector>

#include "slservices/slservices.h"

namespace sltest {

// Entry numbers of the SLFileSystem table (slot order, from 0).
enum FileSystemSlot : uint32_t {
  kGetFileSystemNameSlot,
  kCreateFolderSlot,
  kCreateAllFoldersSlot,
  kRemoveFolderSlot,
  kOpenFileSlot,
  kCloseFileSlot,
  kIsFileExistsSlot,
  kReadFileSlot,
  kWriteFileSlot,
  kFlushFileSlot,
  kGetFilePosSlot,
  kSetFilePosSlot,
  kGetFileSizeSlot,
  kRemoveFileSlot,
  kMakeDIPathFromPathSlot,
  kMakePathFromDIPathSlot,
  kSearchSlot,
  kFileSystemSlotCount
};

constexpr uint32_t SlotBit(FileSystemSlot slot) { return 1u << slot; }
constexpr uint32_t kAllSlots = (1u << kFileSystemSlotCount) - 1;

struct FaultPlan {
  uint64_t failAt = 0;                // the counted call (from 1) that fails; 0: none
  bool persistent = false;            // every counted call after it fails too
  bool withRecord = true;             // injected failures leave error information
  SLResult code = SL_OS_FAILURE;      // the code an injected failure returns
  uint32_t countedSlots = kAllSlots;  // which entries count (SlotBit of each)
  bool partialTransfers = false;      // failing reads and writes move half the request first
};

class FaultFileSystem {
 public:
  // Wraps `inner`, taking a reference of its own; reports `nameAtom` as its name.
  FaultFileSystem(SLFileSystem* inner, uint32_t nameAtom);
  ~FaultFileSystem();
  FaultFileSystem(const FaultFileSystem&) = delete;
  FaultFileSystem& operator=(const FaultFileSystem&) = delete;

  SLFileSystem* fs() { return &object_.table; }

  // Starts a new plan; the call count starts again from 0.
  void Arm(const FaultPlan& plan);
  void Disarm() { Arm(FaultPlan{}); }

  uint64_t countedCalls() const { return counted_; }
  uint64_t injectedFailures() const { return injected_; }
  uint64_t callsOf(FileSystemSlot slot) const { return callsBySlot_[slot]; }
  uint64_t injectedInto(FileSystemSlot slot) const { return injectedBySlot_[slot]; }
  // Bytes the file system below reported as written through this object.
  uint64_t bytesWritten() const { return bytesWritten_; }
  int32_t refCount() const { return refCount_.load(); }
  size_t openHandles() const { return open_.size(); }
  // The code of the record GetErrorInfo yields now (0 when it yields none).
  SLResult recordedCode() const { return hasRecord_ ? record_.code : 0; }

 private:
  struct Object {
    SLFileSystem table;  // first: the object's address is the table's
    FaultFileSystem* owner;
  };

  static FaultFileSystem& Of(const void* self);
  // Counts a call of `slot` and tells whether it is to fail.
  bool Inject(FileSystemSlot slot);
  // The injected failure's code, after leaving (or clearing) the record.
  SLResult Injected(FileSystemSlot slot);
  // Passes a result of the file system below on, with its record when it failed.
  SLResult Forwarded(SLResult result);

  static uint32_t AddRef(ServiceObject* self);
  static uint32_t Release(ServiceObject* self);
  static uint32_t GetRefCount(ServiceObject* self);
  static SLResult GetErrorInfo(ServiceObject* self, SLErrorInfo* info, uint64_t reserved);

  static SLResult GetFileSystemName(SLFileSystem* self, uint32_t* atom);
  static SLResult CreateFolder(SLFileSystem* self, const SLChar16* path);
  static SLResult CreateAllFolders(SLFileSystem* self, const SLChar16* path);
  static SLResult RemoveFolder(SLFileSystem* self, const SLChar16* path);
  static SLResult OpenFile(SLFileSystem* self, const SLChar16* path, uint32_t mode,
                           SLFileHandle* file);
  static SLResult CloseFile(SLFileSystem* self, SLFileHandle file);
  static SLResult IsFileExists(SLFileSystem* self, const SLChar16* path, uint8_t* exists);
  static SLResult ReadFile(SLFileSystem* self, SLFileHandle file, void* buffer, uint64_t size,
                           uint64_t* done);
  static SLResult WriteFile(SLFileSystem* self, SLFileHandle file, const void* buffer,
                            uint64_t size, uint64_t* done);
  static SLResult FlushFile(SLFileSystem* self, SLFileHandle file);
  static SLResult GetFilePos(SLFileSystem* self, SLFileHandle file, uint64_t* position);
  static SLResult SetFilePos(SLFileSystem* self, SLFileHandle file, int64_t position);
  static SLResult GetFileSize(SLFileSystem* self, SLFileHandle file, uint64_t* size);
  static SLResult RemoveFile(SLFileSystem* self, const SLChar16* path);
  static SLResult MakeDIPathFromPath(SLFileSystem* self, const SLChar16* path, SLChar16* out,
                                     uint64_t outSize);
  static SLResult MakePathFromDIPath(SLFileSystem* self, const SLChar16* path, SLChar16* out,
                                     uint64_t outSize);
  static SLResult Search(SLFileSystem* self, const SLChar16* pattern,
                         SLFileSystemSearchResult** result);

  Object object_;
  SLFileSystem* inner_;
  uint32_t nameAtom_;
  FaultPlan plan_;
  uint64_t counted_ = 0;
  uint64_t injected_ = 0;
  uint64_t callsBySlot_[kFileSystemSlotCount] = {};
  uint64_t injectedBySlot_[kFileSystemSlotCount] = {};
  uint64_t bytesWritten_ = 0;
  std::atomic<int32_t> refCount_{1};
  std::set<SLFileHandle> open_;
  bool hasRecord_ = false;
  SLErrorInfo record_{};
  SLChar16 message_[128] = {};
};

}  // namespace sltest
