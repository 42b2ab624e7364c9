// Folder search: the Search entry of the default file system and the frozen list of names it
// hands out.
//
// A search result holds the bare names the operating system reported, in its order, "." and
// ".." included, at least one of them. It never changes after Search hands it out and keeps no
// reference to the file system that made it.
//
// Thread safety: [thread-safe] GetCount and GetFileInfo.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "runtime/service_object.h"
#include "slservices/sl_filesystem.h"
#include "support/details/FileSystemSearchResult"

struct SLFileSystemSearchResultImpl
    : SOImpl::CppSLFileSystemSearchResultBase<SLFileSystemSearchResultImpl,
                                              SODetails::ServiceObjectTraits> {
  // `names` holds every name with its terminator, one after the other; `starts` the offset of
  // each, in units. One block for the whole listing, however many names it has; the offsets are
  // as wide as the block can be, so a listing of more than 4 GiB of names still finds each one.
  SLFileSystemSearchResultImpl(std::u16string names, std::vector<size_t> starts)
      : names_(std::move(names)), starts_(std::move(starts)) {}

  SLResult GetCount(uint64_t* count);
  // The name stays owned by the object and valid until it is destroyed.
  SLResult GetFileInfo(uint32_t index, const SLChar16** name);

 private:
  const std::u16string names_;
  const std::vector<size_t> starts_;
};

namespace sl::filesystem {

// Lists the entries matching `pattern` (wildcards * and ? in its last part) into a new search
// result owned by the caller. 0; 3 for a null argument or a search the OS refuses to start
// (nothing matches, missing folder, malformed pattern); 7 when memory runs out.
SLResult SearchFolder(const SLChar16* pattern, SLFileSystemSearchResult** result);

}  // namespace sl::filesystem
