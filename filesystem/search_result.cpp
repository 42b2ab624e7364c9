#include "filesystem/search_result.h"

#include <new>
#include <utility>

#include "filesystem/default_file_system.h"
#include "platform/files.h"

namespace os = sl::platform;

namespace {

// Appends the bare name of a found entry and its terminator to `names`, and where it starts to
// `starts`; the field holds at most 259 units before its terminator.
void AppendName(const os::FindData& data, std::u16string& names, std::vector<size_t>& starts) {
  const size_t capacity = sizeof(data.fileName) / sizeof(data.fileName[0]);
  size_t length = 0;
  while (length < capacity && data.fileName[length] != u'\0') ++length;
  starts.push_back(names.size());
  names.append(data.fileName, length);
  names.push_back(u'\0');
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
void GatherNames(os::FindHandle search, os::FindData& data, std::u16string& names,
                 std::vector<size_t>& starts) {
  SearchHandleCloser closer(search);
  AppendName(data, names, starts);
  while (os::FindNextFileW(search, &data)) AppendName(data, names, starts);
}

}  // namespace

SLResult SLFileSystemSearchResultImpl::GetCount(uint64_t* count) {
  if (count == nullptr) return SL_INVALID_ARGUMENT;
  *count = starts_.size();
  return SL_OK;
}

SLResult SLFileSystemSearchResultImpl::GetFileInfo(uint32_t index, const SLChar16** name) {
  if (name == nullptr || index >= starts_.size()) return SL_INVALID_ARGUMENT;
  *name = names_.data() + starts_[index];
  return SL_OK;
}

SLResult SLFileSystemImpl::Search(const SLChar16* pattern, SLFileSystemSearchResult** result) {
  return sl::filesystem::SearchFolder(pattern, result);
}

namespace sl::filesystem {

SLResult SearchFolder(const SLChar16* pattern, SLFileSystemSearchResult** result) {
  if (pattern == nullptr || result == nullptr) return SL_INVALID_ARGUMENT;
  os::FindData data;
  // Only the names are kept, so the listing need not read any attributes.
  const os::FindHandle search = os::FindFirstFileW(pattern, &data, os::FindFields::kNameOnly);
  // Whatever the reason the OS refuses to start (no match, missing folder, bad pattern), it is
  // an invalid argument; the last error is not translated.
  if (search == os::InvalidHandle()) return SL_INVALID_ARGUMENT;
  // Running out of memory is the one exception an entry of this file system catches. The
  // memory is the listing's own, not a foreign object's failure, so it is answered like any OS
  // failure the error table does not name (7) instead of leaving the table entry as an
  // exception. When it arrives here the search handle is already closed and the names gathered
  // so far are freed; no object is handed out.
  try {
    std::u16string names;
    std::vector<size_t> starts;
    GatherNames(search, data, names, starts);
    *result = SODetails::MakeServiceObject<SLFileSystemSearchResultImpl>(std::move(names),
                                                                         std::move(starts));
  } catch (const std::bad_alloc&) {
    return SL_OS_FAILURE;
  }
  return SL_OK;
}

}  // namespace sl::filesystem
