// What the demo's sections share: printing one call and its outcome, object headers and counts.
#pragma once

#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "slservices/sdk/sdk.hpp"
#include "table_end.h"

namespace slhost::demo {

template <class T>
ServiceObject* Obj(T* object) {
  return reinterpret_cast<ServiceObject*>(object);
}

template <class T>
uint32_t Refs(T* object) {
  return Obj(object)->header.GetRefCount(Obj(object));
}

// Prints one call's outcome; a failure also shows the record the object keeps for this thread.
template <class T>
bool Show(const char* what, SLResult result, T* object) {
  std::printf("  %-44s -> %" PRIu32 "\n", what, result);
  if (!SL_FAILED(result)) return true;
  SLErrorInfo info{};
  if (Obj(object)->header.GetErrorInfo(Obj(object), &info, 0) == SL_OK) {
    std::printf("     GetErrorInfo: \"%s\" (line %" PRIu32 " of %s)\n",
                sl::sdk::ToUtf8(info.message).c_str(), info.line, info.sourceFile);
  }
  return false;
}

inline void PrintHeader(const ServiceObject* object) {
  const ServiceFunctionTable& header = object->header;
  const TableEnd end = ReadTableEnd(object);
  std::printf("    %s: id 0x%08" PRIx32 ", %" PRIu32 " entries, \"%s\", stamp 0x%08" PRIx32
              ", references %" PRIu32 "\n",
              header.interfaceName, header.interfaceId, header.tableSize / 8, end.marker, end.stamp,
              header.GetRefCount(const_cast<ServiceObject*>(object)));
}

// The sections of the tour after the default file system's; each returns 0 when every step
// that must succeed did.
int CallbackTour(SLStreamService* streams);
int MemoryTour(const sl::sdk::Module& module, SLFileSystemService* service,
               SLStreamService* streams, sl::sdk::Ref<sl::sdk::MemoryFileSystem>* memory);

}  // namespace slhost::demo
