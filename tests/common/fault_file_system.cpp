#include "common/fault_file_system.h"

#include <cstring>

namespace sltest {
namespace {

const char* const kSlotNames[kFileSystemSlotCount] = {
    "GetFileSystemName",  "CreateFolder", "CreateAllFolders", "RemoveFolder", "OpenFile",
    "CloseFile",          "IsFileExists", "ReadFile",         "WriteFile",    "FlushFile",
    "GetFilePos",         "SetFilePos",   "GetFileSize",      "RemoveFile",   "MakeDIPathFromPath",
    "MakePathFromDIPath", "Search"};

constexpr char16_t kInjectedMessage[] = u"FaultFileSystem: injected failure";

}  // namespace

FaultFileSystem::FaultFileSystem(SLFileSystem* inner, uint32_t nameAtom)
    : inner_(inner), nameAtom_(nameAtom) {
  std::memset(&object_.table, 0, sizeof(object_.table));
  object_.owner = this;
  SLFileSystem& t = object_.table;
  t.header.interfaceId = SL_FILESYSTEM_ID;
  t.header.tableSize = SL_FILESYSTEM_TABLE_SIZE;
  t.header.interfaceName = "SLFileSystem";
  t.header.AddRef = &AddRef;
  t.header.Release = &Release;
  t.header.GetRefCount = &GetRefCount;
  t.header.GetErrorInfo = &GetErrorInfo;  // no weak references: GetWeakRef stays null
  t.GetFileSystemName = &GetFileSystemName;
  t.CreateFolder = &CreateFolder;
  t.CreateAllFolders = &CreateAllFolders;
  t.RemoveFolder = &RemoveFolder;
  t.OpenFile = &OpenFile;
  t.CloseFile = &CloseFile;
  t.IsFileExists = &IsFileExists;
  t.ReadFile = &ReadFile;
  t.WriteFile = &WriteFile;
  t.FlushFile = &FlushFile;
  t.GetFilePos = &GetFilePos;
  t.SetFilePos = &SetFilePos;
  t.GetFileSize = &GetFileSize;
  t.RemoveFile = &RemoveFile;
  t.MakeDIPathFromPath = &MakeDIPathFromPath;
  t.MakePathFromDIPath = &MakePathFromDIPath;
  t.Search = &Search;
  std::memcpy(t.endMarker, SL_END_OF_TABLE_MARKER, sizeof(t.endMarker));
  t.tableStamp = SL_FILESYSTEM_STAMP;
  ServiceObject* base = reinterpret_cast<ServiceObject*>(inner_);
  base->header.AddRef(base);
}

FaultFileSystem::~FaultFileSystem() {
  for (SLFileHandle file : open_) inner_->CloseFile(inner_, file);
  ServiceObject* base = reinterpret_cast<ServiceObject*>(inner_);
  base->header.Release(base);
}

void FaultFileSystem::Arm(const FaultPlan& plan) {
  plan_ = plan;
  counted_ = 0;
}

FaultFileSystem& FaultFileSystem::Of(const void* self) {
  return *reinterpret_cast<const Object*>(self)->owner;
}

bool FaultFileSystem::Inject(FileSystemSlot slot) {
  ++callsBySlot_[slot];
  if ((plan_.countedSlots & SlotBit(slot)) == 0) return false;
  ++counted_;
  if (plan_.failAt == 0) return false;
  return counted_ == plan_.failAt || (plan_.persistent && counted_ > plan_.failAt);
}

SLResult FaultFileSystem::Injected(FileSystemSlot slot) {
  ++injected_;
  ++injectedBySlot_[slot];
  hasRecord_ = plan_.withRecord;
  if (hasRecord_) {
    std::memset(message_, 0, sizeof(message_));
    std::memcpy(message_, kInjectedMessage, sizeof(kInjectedMessage));
    record_ = SLErrorInfo{plan_.code, 0, message_, kSlotNames[slot], "fault_file_system.cpp"};
  }
  return plan_.code;
}

SLResult FaultFileSystem::Forwarded(SLResult result) {
  if (!SL_FAILED(result)) return result;
  // The record of the file system below belongs to it; keep a copy that stays ours.
  SLErrorInfo below{};
  ServiceObject* base = reinterpret_cast<ServiceObject*>(inner_);
  hasRecord_ = base->header.GetErrorInfo(base, &below, 0) == SL_OK;
  if (hasRecord_) {
    std::memset(message_, 0, sizeof(message_));
    for (size_t i = 0; below.message != nullptr && below.message[i] != 0 &&
                       i + 1 < sizeof(message_) / sizeof(message_[0]);
         ++i) {
      message_[i] = below.message[i];
    }
    record_ = below;
    record_.message = message_;
  }
  return result;
}

uint32_t FaultFileSystem::AddRef(ServiceObject* self) {
  return static_cast<uint32_t>(Of(self).refCount_.fetch_add(1) + 1);
}

uint32_t FaultFileSystem::Release(ServiceObject* self) {
  return static_cast<uint32_t>(Of(self).refCount_.fetch_sub(1) - 1);
}

uint32_t FaultFileSystem::GetRefCount(ServiceObject* self) {
  return static_cast<uint32_t>(Of(self).refCount_.load());
}

SLResult FaultFileSystem::GetErrorInfo(ServiceObject* self, SLErrorInfo* info, uint64_t) {
  FaultFileSystem& me = Of(self);
  if (info == nullptr) return SL_INVALID_ARGUMENT;
  if (!me.hasRecord_) {
    std::memset(info, 0, sizeof(*info));
    return SL_NOT_FOUND;
  }
  *info = me.record_;
  return SL_OK;
}

SLResult FaultFileSystem::GetFileSystemName(SLFileSystem* self, uint32_t* atom) {
  FaultFileSystem& me = Of(self);
  if (me.Inject(kGetFileSystemNameSlot)) return me.Injected(kGetFileSystemNameSlot);
  if (atom == nullptr) return SL_INVALID_ARGUMENT;
  *atom = me.nameAtom_;
  return SL_OK;
}

SLResult FaultFileSystem::CreateFolder(SLFileSystem* self, const SLChar16* path) {
  FaultFileSystem& me = Of(self);
  if (me.Inject(kCreateFolderSlot)) return me.Injected(kCreateFolderSlot);
  return me.Forwarded(me.inner_->CreateFolder(me.inner_, path));
}

SLResult FaultFileSystem::CreateAllFolders(SLFileSystem* self, const SLChar16* path) {
  FaultFileSystem& me = Of(self);
  if (me.Inject(kCreateAllFoldersSlot)) return me.Injected(kCreateAllFoldersSlot);
  return me.Forwarded(me.inner_->CreateAllFolders(me.inner_, path));
}

SLResult FaultFileSystem::RemoveFolder(SLFileSystem* self, const SLChar16* path) {
  FaultFileSystem& me = Of(self);
  if (me.Inject(kRemoveFolderSlot)) return me.Injected(kRemoveFolderSlot);
  return me.Forwarded(me.inner_->RemoveFolder(me.inner_, path));
}

SLResult FaultFileSystem::OpenFile(SLFileSystem* self, const SLChar16* path, uint32_t mode,
                                   SLFileHandle* file) {
  FaultFileSystem& me = Of(self);
  if (me.Inject(kOpenFileSlot)) return me.Injected(kOpenFileSlot);
  const SLResult result = me.inner_->OpenFile(me.inner_, path, mode, file);
  if (result == SL_OK) me.open_.insert(*file);
  return me.Forwarded(result);
}

SLResult FaultFileSystem::CloseFile(SLFileSystem* self, SLFileHandle file) {
  FaultFileSystem& me = Of(self);
  if (me.Inject(kCloseFileSlot)) return me.Injected(kCloseFileSlot);
  const SLResult result = me.inner_->CloseFile(me.inner_, file);
  if (result == SL_OK) me.open_.erase(file);
  return me.Forwarded(result);
}

SLResult FaultFileSystem::IsFileExists(SLFileSystem* self, const SLChar16* path, uint8_t* exists) {
  FaultFileSystem& me = Of(self);
  if (me.Inject(kIsFileExistsSlot)) return me.Injected(kIsFileExistsSlot);
  return me.Forwarded(me.inner_->IsFileExists(me.inner_, path, exists));
}

SLResult FaultFileSystem::ReadFile(SLFileSystem* self, SLFileHandle file, void* buffer,
                                   uint64_t size, uint64_t* done) {
  FaultFileSystem& me = Of(self);
  if (me.Inject(kReadFileSlot)) {
    uint64_t moved = 0;
    if (me.plan_.partialTransfers && file != nullptr && buffer != nullptr && size > 1) {
      me.inner_->ReadFile(me.inner_, file, buffer, size / 2, &moved);
    }
    if (done != nullptr) *done = moved;
    return me.Injected(kReadFileSlot);
  }
  return me.Forwarded(me.inner_->ReadFile(me.inner_, file, buffer, size, done));
}

SLResult FaultFileSystem::WriteFile(SLFileSystem* self, SLFileHandle file, const void* buffer,
                                    uint64_t size, uint64_t* done) {
  FaultFileSystem& me = Of(self);
  uint64_t moved = 0;
  if (me.Inject(kWriteFileSlot)) {
    if (me.plan_.partialTransfers && file != nullptr && buffer != nullptr && size > 1) {
      me.inner_->WriteFile(me.inner_, file, buffer, size / 2, &moved);
      me.bytesWritten_ += moved;
    }
    if (done != nullptr) *done = moved;
    return me.Injected(kWriteFileSlot);
  }
  // The count goes straight to the caller's (or a local) counter, so that a refused call leaves
  // the caller's as it was.
  uint64_t* count = done != nullptr ? done : &moved;
  const SLResult result = me.inner_->WriteFile(me.inner_, file, buffer, size, count);
  if (file != nullptr && buffer != nullptr && size != 0) me.bytesWritten_ += *count;
  return me.Forwarded(result);
}

SLResult FaultFileSystem::FlushFile(SLFileSystem* self, SLFileHandle file) {
  FaultFileSystem& me = Of(self);
  if (me.Inject(kFlushFileSlot)) return me.Injected(kFlushFileSlot);
  return me.Forwarded(me.inner_->FlushFile(me.inner_, file));
}

SLResult FaultFileSystem::GetFilePos(SLFileSystem* self, SLFileHandle file, uint64_t* position) {
  FaultFileSystem& me = Of(self);
  if (me.Inject(kGetFilePosSlot)) return me.Injected(kGetFilePosSlot);
  return me.Forwarded(me.inner_->GetFilePos(me.inner_, file, position));
}

SLResult FaultFileSystem::SetFilePos(SLFileSystem* self, SLFileHandle file, int64_t position) {
  FaultFileSystem& me = Of(self);
  if (me.Inject(kSetFilePosSlot)) return me.Injected(kSetFilePosSlot);
  return me.Forwarded(me.inner_->SetFilePos(me.inner_, file, position));
}

SLResult FaultFileSystem::GetFileSize(SLFileSystem* self, SLFileHandle file, uint64_t* size) {
  FaultFileSystem& me = Of(self);
  if (me.Inject(kGetFileSizeSlot)) return me.Injected(kGetFileSizeSlot);
  return me.Forwarded(me.inner_->GetFileSize(me.inner_, file, size));
}

SLResult FaultFileSystem::RemoveFile(SLFileSystem* self, const SLChar16* path) {
  FaultFileSystem& me = Of(self);
  if (me.Inject(kRemoveFileSlot)) return me.Injected(kRemoveFileSlot);
  return me.Forwarded(me.inner_->RemoveFile(me.inner_, path));
}

SLResult FaultFileSystem::MakeDIPathFromPath(SLFileSystem* self, const SLChar16* path,
                                             SLChar16* out, uint64_t outSize) {
  FaultFileSystem& me = Of(self);
  if (me.Inject(kMakeDIPathFromPathSlot)) return me.Injected(kMakeDIPathFromPathSlot);
  return me.Forwarded(me.inner_->MakeDIPathFromPath(me.inner_, path, out, outSize));
}

SLResult FaultFileSystem::MakePathFromDIPath(SLFileSystem* self, const SLChar16* path,
                                             SLChar16* out, uint64_t outSize) {
  FaultFileSystem& me = Of(self);
  if (me.Inject(kMakePathFromDIPathSlot)) return me.Injected(kMakePathFromDIPathSlot);
  return me.Forwarded(me.inner_->MakePathFromDIPath(me.inner_, path, out, outSize));
}

SLResult FaultFileSystem::Search(SLFileSystem* self, const SLChar16* pattern,
                                 SLFileSystemSearchResult** result) {
  FaultFileSystem& me = Of(self);
  if (me.Inject(kSearchSlot)) return me.Injected(kSearchSlot);
  return me.Forwarded(me.inner_->Search(me.inner_, pattern, result));
}

}  // namespace sltest
