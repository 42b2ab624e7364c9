// The default file system "Default": a thin layer over the operating system's file functions.
//
// Paths go to the operating system exactly as given; the SLFileHandle handed out is the
// operating system's own file handle. Every OS failure becomes a result code through
// TranslateOsError (os_error.h). The object keeps no state: the file state lives in the handles
// callers hold, and the only thing shared is the process-wide atom of "Default".
//
// Thread safety: [thread-safe] every entry; calls on one handle share its file position.
// No entry allocates memory on the read, write, position, size or flush paths.
#pragma once

#include <cstdint>

#include "runtime/service_object.h"
#include "slservices/sl_filesystem.h"
#include "support/details/FileSystemCalls"

struct SLFileSystemImpl
    : SOImpl::CppSLFileSystemBase<SLFileSystemImpl, SODetails::ServiceObjectTraits> {
  SLResult GetFileSystemName(uint32_t* atom);
  SLResult CreateFolder(const SLChar16* path);
  SLResult CreateAllFolders(const SLChar16* path);
  SLResult RemoveFolder(const SLChar16* path);
  SLResult OpenFile(const SLChar16* path, uint32_t mode, SLFileHandle* file);
  SLResult CloseFile(SLFileHandle file);
  SLResult IsFileExists(const SLChar16* path, uint8_t* exists);
  SLResult ReadFile(SLFileHandle file, void* buffer, uint64_t size, uint64_t* done);
  SLResult WriteFile(SLFileHandle file, const void* buffer, uint64_t size, uint64_t* done);
  SLResult FlushFile(SLFileHandle file);
  SLResult GetFilePos(SLFileHandle file, uint64_t* position);
  SLResult SetFilePos(SLFileHandle file, int64_t position);
  SLResult GetFileSize(SLFileHandle file, uint64_t* size);
  SLResult RemoveFile(const SLChar16* path);
  SLResult MakeDIPathFromPath(const SLChar16* path, SLChar16* out, uint64_t outSize);
  SLResult MakePathFromDIPath(const SLChar16* path, SLChar16* out, uint64_t outSize);
  // Defined with the search results, in search_result.cpp.
  SLResult Search(const SLChar16* pattern, SLFileSystemSearchResult** result);
};

namespace sl::filesystem {

// A new default file system; the caller owns its one reference.
SLFileSystem* CreateDefaultFileSystem();

}  // namespace sl::filesystem
