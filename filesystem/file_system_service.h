// The file-system service ("FileSystemService"): owns one default file system and keeps a
// registry of file systems under the name atom each one reports about itself.
//
// The name key of a file system is always asked of the file system itself, through its own
// GetFileSystemName entry called by the calling rules: a table too short for that entry or a
// null entry leaves the key at 0xFFFFFFFF; a failure with error information raises
// ServiceObjectException out of the entry (not caught); one without is ignored.
//
// Thread safety: GetDefaultFileSystem and GetRegisteredFileSystemByName may run concurrently.
// RegisterFileSystem and UnregisterFileSystem must not overlap any other call on the same
// object: the registry has no lock.
#pragma once

#include <cstdint>
#include <map>

#include "runtime/service_object.h"
#include "runtime/service_object_ptr.h"
#include "slservices/sl_filesystem.h"
#include "support/details/FileSystemServiceCalls"

struct SLFileSystemServiceImpl
    : SOImpl::CppSLFileSystemServiceBase<SLFileSystemServiceImpl, SODetails::ServiceObjectTraits> {
  // Creates the default file system and registers it under its own name (count 2 afterwards).
  SLFileSystemServiceImpl();
  // Unregisters the default's name, releases every remaining entry, then the default.
  ~SLFileSystemServiceImpl();

  SLResult GetDefaultFileSystem(SLFileSystem** fileSystem);
  SLResult RegisterFileSystem(SLFileSystem* fileSystem);
  SLResult UnregisterFileSystem(SLFileSystem* fileSystem);
  SLResult GetRegisteredFileSystemByName(uint32_t name, SLFileSystem** fileSystem);

 private:
  using FileSystemPtr = SODetails::BasicServiceObjectPtr<SLFileSystem>;

  // The atom the file system reports through its own GetFileSystemName, or 0xFFFFFFFF.
  static uint32_t NameKeyOf(SLFileSystem* fileSystem);
  // Removes and releases the entry under the file system's name key: 0, or 11 when none.
  SLResult RemoveEntryNamedAs(SLFileSystem* fileSystem);

  FileSystemPtr defaultFileSystem_;
  std::map<uint32_t, FileSystemPtr> registry_;
};

namespace sl::filesystem {

// The "FileSystemService" class's factory: a new service with its default file system; the
// reference holds its one count.
SODetails::BasicServiceObjectPtr<ServiceObject> CreateFileSystemService();

}  // namespace sl::filesystem
