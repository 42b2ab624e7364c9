// The module's five exports and its two class records. The records live here, in one
// translation unit, so that their start-up order, and with it the list order, is certain:
// "FileSystemService" is registered first, "StreamService" second, so the list reads
// "StreamService", "FileSystemService". At unload they are destroyed in reverse order of
// construction ("StreamService" first), after the class list, which is built later.
#include "filesystem/file_system_service.h"
#include "module/class_registry.h"
#include "slservices/sl_module.h"
#include "stream/stream_service.h"

namespace {

using sl::module::ClassList;
using sl::module::ServiceFactoryRecord;

ServiceFactoryRecord* g_classListHead = nullptr;  // constant-initialised before start-up

ServiceFactoryRecord g_fileSystemServiceRecord(&g_classListHead, SL_CLASS_FILE_SYSTEM_SERVICE,
                                               &sl::filesystem::CreateFileSystemService);
ServiceFactoryRecord g_streamServiceRecord(&g_classListHead, SL_CLASS_STREAM_SERVICE,
                                           &sl::stream::CreateStreamService);

ClassList& TheClassList() {
  static ClassList list(&g_classListHead);
  return list;
}

SLResult DoNothing() { return SL_OK; }

}  // namespace

extern "C" {

SLResult ReflectServiceObjectInfo(const ServiceObjectInfo** info, uint32_t* count) {
  return TheClassList().Reflect(info, count);
}

SLResult CreateServiceObject(uint32_t classAtom, ServiceObject** object) {
  return sl::module::CreateFromList(g_classListHead, classAtom, object);
}

SLResult ServiceObjectModuleInitialize(void) { return DoNothing(); }
SLResult ServiceObjectModuleOnCleanup(void) { return DoNothing(); }
SLResult ServiceObjectModuleOnFree(void) { return DoNothing(); }

}  // extern "C"
