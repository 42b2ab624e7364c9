// The library's one export: a plain C function that opens an archive as a file system.
#include <cstring>
#include <new>
#include <type_traits>

#include "slservices/sl_zip.h"
#include "zip_file_system.h"

static_assert(std::is_same_v<decltype(&SLZipOpenArchive), SLZipOpenArchiveFn>,
              "the export and its pointer type agree");

namespace {

void Tell(char* reason, uint64_t size, const char* text) {
  if (reason == nullptr || size == 0) return;
  const size_t length = std::min<size_t>(std::strlen(text), static_cast<size_t>(size - 1));
  std::memcpy(reason, text, length);
  reason[length] = '\0';
}

}  // namespace

extern "C" SLResult SLZipOpenArchive(const char* utf8Path, uint32_t nameAtom,
                                     SLFileSystem** fileSystem, char* reason, uint64_t reasonSize) {
  if (utf8Path == nullptr || fileSystem == nullptr) {
    Tell(reason, reasonSize, "a null path or out pointer");
    return SL_INVALID_ARGUMENT;
  }
  try {
    *fileSystem = sl::archive::ZipFileSystem::Open(utf8Path, nameAtom).detach()->table();
    return SL_OK;
  } catch (const sl::sdk::ServiceError& error) {
    Tell(reason, reasonSize, error.what());
    return error.code();
  } catch (const std::bad_alloc&) {
    Tell(reason, reasonSize, "out of memory");
  } catch (const std::exception& error) {
    Tell(reason, reasonSize, error.what());
  }
  return SL_OS_FAILURE;
}
