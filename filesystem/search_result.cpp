#include "filesystem/search_result.h"

#include <new>
#include <utility>

#include "filesystem/default_file_system.h"
#include "platform/files.h"

namespace os = sl::platform;

namespace {

// The bare name of a found entry; the field holds at most 259 units before its terminator.
std::u16string NameOf(const os::FindData& data) {
  const size_t capacity = sizeof(data.fileName) / sizeof(data.fileName[0]);
  size_t length = 0;
  while (length < capacity && data.fileName[length] != u'\0') ++length;
  return std::u16string(data.fileName, length);
}

// Closes a search handle when the listing ends, however it ends.
class SearchHandleCloser {
 public:
  explicit SearchHandleCloser(os::FindHandle handle) : handle_(handle) {}
  SearchHandleCloser(const SearchHandleCloser&) = delete;
  SearchHandleCloser& operator=(const SearchHandleCloser&) = delete;
  ~SearchHandleCloser() { os::FindClose(handle_); }

 private:
  os::FindHandle handle_;
};

// Gathers every entry the search reports, the one FindFirstFileW found first. The first false
// return of FindNextFileW ends the listing, whatever its reason: the names so far are the
// result. The search handle is closed before the function returns, also when it throws.
std::vector<std::u16string> GatherNames(os::FindHandle search, os::FindData& data) {
  SearchHandleCloser closer(search);
  std::vector<std::u16string> names;
  names.push_back(NameOf(data));
  while (os::FindNextFileW(search, &data)) names.push_back(NameOf(data));
  return names;
}

}  // namespace

SLResult SLFileSystemSearchResultImpl::GetCount(uint64_t* count) {
  if (count == nullptr) return SL_INVALID_ARGUMENT;
  *count = names_.size();
  return SL_OK;
}

SLResult SLFileSystemSearchResultImpl::GetFileInfo(uint32_t index, const SLChar16** name) {
  if (name == nullptr || index >= names_.size()) return SL_INVALID_ARGUMENT;
  *name = names_[index].c_str();
  return SL_OK;
}

SLResult SLFileSystemImpl::Search(const SLChar16* pattern, SLFileSystemSearchResult** result) {
  return sl::filesystem::SearchFolder(pattern, result);
}

namespace sl::filesystem {

SLResult SearchFolder(const SLChar16* pattern, SLFileSystemSearchResult** result) {
  if (pattern == nullptr || result == nullptr) return SL_INVALID_ARGUMENT;
  os::FindData data;
  const os::FindHandle search = os::FindFirstFileW(pattern, &data);
  // Whatever the reason the OS refuses to start (no match, missing folder, bad pattern), it is
  // an invalid argument; the last error is not translated.
  if (search == os::InvalidHandle()) return SL_INVALID_ARGUMENT;
  // Running out of memory is the one exception an entry of this file system catches. The
  // memory is the listing's own, not a foreign object's failure, so it is answered like any OS
  // failure the error table does not name (7) instead of leaving the table entry as an
  // exception. When it arrives here the search handle is already closed and the names gathered
  // so far are freed; no object is handed out.
  try {
    std::vector<std::u16string> names = GatherNames(search, data);
    *result = SODetails::MakeServiceObject<SLFileSystemSearchResultImpl>(std::move(names));
  } catch (const std::bad_alloc&) {
    return SL_OS_FAILURE;
  }
  return SL_OK;
}

}  // namespace sl::filesystem
