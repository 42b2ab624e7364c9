/* The public headers compile as C11, and C sees the same layouts as C++. */
#include "slservices/slservices.h"
#include "slservices/sl_zip.h" /* declarations only: nothing here calls it */

size_t c_sizeof_file_system(void) { return sizeof(SLFileSystem); }
size_t c_offsetof_search(void) { return offsetof(SLFileSystem, Search); }
size_t c_offsetof_get_file_info(void) { return offsetof(SLFileSystemSearchResult, GetFileInfo); }
size_t c_sizeof_error_info(void) { return sizeof(SLErrorInfo); }
size_t c_sizeof_weak_ref(void) { return sizeof(ServiceObjectWeakRef); }
size_t c_sizeof_object_info(void) { return sizeof(ServiceObjectInfo); }
