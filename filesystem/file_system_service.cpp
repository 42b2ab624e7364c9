#include "filesystem/file_system_service.h"

#include <utility>

#include "filesystem/default_file_system.h"
#include "runtime/calling_rules.h"

SLFileSystemServiceImpl::SLFileSystemServiceImpl()
    : defaultFileSystem_(FileSystemPtr::Adopt(sl::filesystem::CreateDefaultFileSystem())) {
  // The registry is empty, so the default's name is free. Should anything here throw, the
  // members release what was built: the registry's entries, then the default file system.
  const uint32_t key = NameKeyOf(defaultFileSystem_.get());
  auto [entry, inserted] = registry_.try_emplace(key);
  if (inserted) entry->second = FileSystemPtr::Share(defaultFileSystem_.get());
}

SLFileSystemServiceImpl::~SLFileSystemServiceImpl() {
  // Whatever entry holds the default's name at this moment goes first; the result is of no
  // interest and nothing is reported.
  RemoveEntryNamedAs(defaultFileSystem_.get());
  registry_.clear();
  defaultFileSystem_.reset();
}

uint32_t SLFileSystemServiceImpl::NameKeyOf(SLFileSystem* fileSystem) {
  uint32_t key = SL_UNRESOLVED_ATOM;
  SLResult result = SL_OK;
  // Not called when the table is too short or the entry null; a failure passes through the
  // result check, which throws when the file system has error information for this thread.
  SL_CALL_ENTRY(fileSystem, SLFileSystem, GetFileSystemName, &result, &key);
  return key;
}

SLResult SLFileSystemServiceImpl::RemoveEntryNamedAs(SLFileSystem* fileSystem) {
  // The object at hand is not compared with the one in the entry: the name decides.
  const auto entry = registry_.find(NameKeyOf(fileSystem));
  if (entry == registry_.end()) return SL_NOT_FOUND;
  const FileSystemPtr removed = std::move(entry->second);  // released on the way out
  registry_.erase(entry);
  return SL_OK;
}

SLResult SLFileSystemServiceImpl::GetDefaultFileSystem(SLFileSystem** fileSystem) {
  if (fileSystem == nullptr) return SL_INVALID_ARGUMENT;
  *fileSystem = FileSystemPtr(defaultFileSystem_).detach();
  return SL_OK;
}

SLResult SLFileSystemServiceImpl::RegisterFileSystem(SLFileSystem* fileSystem) {
  if (fileSystem == nullptr) return SL_INVALID_ARGUMENT;
  // The key is taken before anything changes, so a throwing name entry leaves the registry as
  // it was.
  const uint32_t key = NameKeyOf(fileSystem);
  // The entry is made before the reference is taken, so running out of memory takes none.
  auto [entry, inserted] = registry_.try_emplace(key);
  if (!inserted) return SL_ALREADY_EXISTS;  // whichever object holds the name keeps it
  entry->second = FileSystemPtr::Share(fileSystem);
  return SL_OK;
}

SLResult SLFileSystemServiceImpl::UnregisterFileSystem(SLFileSystem* fileSystem) {
  if (fileSystem == nullptr) return SL_INVALID_ARGUMENT;
  return RemoveEntryNamedAs(fileSystem);
}

SLResult SLFileSystemServiceImpl::GetRegisteredFileSystemByName(uint32_t name,
                                                                SLFileSystem** fileSystem) {
  if (name == 0 || fileSystem == nullptr) return SL_INVALID_ARGUMENT;
  const auto entry = registry_.find(name);
  if (entry == registry_.end()) return SL_NOT_FOUND;
  *fileSystem = FileSystemPtr(entry->second).detach();
  return SL_OK;
}

namespace sl::filesystem {

SODetails::BasicServiceObjectPtr<ServiceObject> CreateFileSystemService() {
  return SODetails::BasicServiceObjectPtr<ServiceObject>::Adopt(
      reinterpret_cast<ServiceObject*>(SODetails::MakeServiceObject<SLFileSystemServiceImpl>()));
}

}  // namespace sl::filesystem
