// A host-made object with a hand-written table: any table size, any null entries, counted
// AddRef/Release and a failure record of its own. Used to check that the module calls other
// objects only by the calling rules.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

#include "slservices/slservices.h"

namespace sltest {

struct ForeignFileSystem {
  SLFileSystem table;  // must stay first: the object's address is the table's
  int addRefs = 0;
  int releases = 0;
  uint32_t nameAtom = 0x1234;
  SLResult nameResult = SL_OK;
  bool hasErrorRecord = false;
  SLErrorInfo record{};
  std::vector<const char*> calls;

  explicit ForeignFileSystem(uint32_t tableSize = SL_FILESYSTEM_TABLE_SIZE) {
    std::memset(&table, 0, sizeof(table));
    table.header.interfaceId = SL_FILESYSTEM_ID;
    table.header.tableSize = tableSize;
    table.header.interfaceName = "SLFileSystem";
    table.header.AddRef = &AddRef;
    table.header.Release = &Release;
    table.header.GetErrorInfo = &GetErrorInfo;
    table.GetFileSystemName = &GetFileSystemName;
    std::memcpy(table.endMarker, "EOFT", 4);
  }

  SLFileSystem* fs() { return &table; }
  static ForeignFileSystem* Of(const void* self) {
    return static_cast<ForeignFileSystem*>(const_cast<void*>(self));
  }

  static uint32_t AddRef(ServiceObject* self) { return ++Of(self)->addRefs; }
  static uint32_t Release(ServiceObject* self) { return ++Of(self)->releases; }
  static SLResult GetErrorInfo(ServiceObject* self, SLErrorInfo* info, uint64_t) {
    ForeignFileSystem* me = Of(self);
    if (!me->hasErrorRecord) {
      std::memset(info, 0, sizeof(*info));
      return SL_NOT_FOUND;
    }
    *info = me->record;
    return SL_OK;
  }
  static SLResult GetFileSystemName(SLFileSystem* self, uint32_t* atom) {
    ForeignFileSystem* me = Of(self);
    me->calls.push_back("GetFileSystemName");
    if (me->nameResult == SL_OK) *atom = me->nameAtom;
    return me->nameResult;
  }
};

}  // namespace sltest
