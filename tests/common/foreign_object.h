// The knobs the runtime and file-system tests turn on a host-made file system, on the one fake
// of the tests (fault_file_system.h): its table as a plain member to bend, the name it reports
// or the code its name entry fails with, a failure record of the test's own making, and AddRef
// and Release calls that are counted but free nothing. No GetRefCount or GetWeakRef entry.
#pragma once

#include <vector>

#include "common/fault_file_system.h"

namespace sltest {

struct ForeignFileSystem : FaultFileSystem {
  explicit ForeignFileSystem(uint32_t tableSize = SL_FILESYSTEM_TABLE_SIZE) {
    ServiceFunctionTable& header = table.header;
    header.tableSize = tableSize;
    header.GetRefCount = nullptr;
    header.GetWeakRef = nullptr;
    header.AddRef = [](ServiceObject* self) { return static_cast<uint32_t>(++Of(self).addRefs); };
    header.Release = [](ServiceObject* self) { return static_cast<uint32_t>(++Of(self).releases); };
    header.GetErrorInfo = [](ServiceObject* self, SLErrorInfo* info, uint64_t) {
      *info = Of(self).hasErrorRecord ? Of(self).record : SLErrorInfo{};
      return Of(self).hasErrorRecord ? SL_OK : SL_NOT_FOUND;
    };
    table.GetFileSystemName = [](SLFileSystem* self, uint32_t* atom) {
      ForeignFileSystem& me = Of(self);
      me.calls.push_back("GetFileSystemName");
      if (me.nameResult == SL_OK) *atom = me.nameAtom;
      return me.nameResult;
    };
  }
  static ForeignFileSystem& Of(void* self) {
    return *static_cast<ForeignFileSystem*>(
        reinterpret_cast<sl::sdk::Shell<SLFileSystem>*>(self)->owner);
  }
  SLFileSystem* fs() { return &table; }

  SLFileSystem& table = *FaultFileSystem::table();  // hides table(): tests write table.header
  int addRefs = 0;
  int releases = 0;
  uint32_t nameAtom = 0x1234;
  SLResult nameResult = SL_OK;
  bool hasErrorRecord = false;
  SLErrorInfo record{};
  std::vector<const char*> calls;
};

}  // namespace sltest
