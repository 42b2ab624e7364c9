#include "foreign_file_system.h"

#include <string.h>

const SLChar16 kForeignFailureMessage[] = u"Foreign::GetFileSystemName() failed";

static ForeignFileSystem* Of(void* self) { return (ForeignFileSystem*)self; }

static uint32_t AddRef(ServiceObject* self) {
  ++Of(self)->addRefCalls;
  return (uint32_t)++Of(self)->refCount;
}

static uint32_t Release(ServiceObject* self) {
  ++Of(self)->releaseCalls;
  return (uint32_t)--Of(self)->refCount;
}

static uint32_t GetRefCount(ServiceObject* self) { return (uint32_t)Of(self)->refCount; }

static SLResult GetErrorInfo(ServiceObject* self, SLErrorInfo* info, uint64_t reserved) {
  (void)reserved;
  if (info == NULL) return SL_INVALID_ARGUMENT;
  memset(info, 0, sizeof(*info));
  if (!Of(self)->hasRecord) return SL_NOT_FOUND;
  info->code = Of(self)->nameResult;
  info->line = 4242;
  info->message = kForeignFailureMessage;
  info->functionName = "ForeignGetFileSystemName";
  info->sourceFile = "foreign_file_system.c";
  return SL_OK;
}

static SLResult GetFileSystemName(SLFileSystem* self, uint32_t* atom) {
  ForeignFileSystem* fs = Of(self);
  ++fs->nameCalls;
  if (fs->writesAtom) *atom = fs->atom;
  return fs->nameResult;
}

void ForeignFileSystemInit(ForeignFileSystem* fs, uint32_t atom) {
  memset(fs, 0, sizeof(*fs));
  fs->table.header.interfaceId = SL_FILESYSTEM_ID;
  fs->table.header.tableSize = SL_FILESYSTEM_TABLE_SIZE;
  fs->table.header.interfaceName = "SLFileSystem";
  fs->table.header.AddRef = AddRef;
  fs->table.header.Release = Release;
  fs->table.header.GetRefCount = GetRefCount;
  fs->table.header.GetErrorInfo = GetErrorInfo;
  fs->table.GetFileSystemName = GetFileSystemName;
  memcpy(fs->table.endMarker, "EOFT", 4);
  fs->table.tableStamp = SL_FILESYSTEM_STAMP;
  fs->atom = atom;
  fs->writesAtom = 1;
  fs->refCount = 1;
}
