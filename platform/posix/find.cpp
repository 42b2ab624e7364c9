// Folder searches with Windows wildcards.
//
// Only the last component of a pattern may hold wildcards: '*' matches any run of UTF-16 units,
// '?' exactly one unit. Once a name is used up, the rest of the pattern may hold dots and stars
// only: a dot before a star matches the end of a name as well as a dot, so "*.*" and "*.*.*"
// match every name and "name.*" matches "name". Case matters in the comparison, as it does when
// the file system looks a name up (Windows ignores case in both).
//
// A listing with wildcards reports "." and ".." as Windows does for every folder but a root.
// A pattern without wildcards reports that one entry under its bare name; a symbolic link that
// leads nowhere (dangling, or a loop) is such an entry, as the listing shows it.
//
// Every entry is reported. Names are shown in UTF-16 with the bytes that a Windows name cannot
// carry mapped to U+F000-U+F0FF (name_mapping.h), so that each reported name, put back into a
// path, reaches the same entry. Patterns match the mapped names: "st\uF02A*" finds "st*r.txt".
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <cstring>
#include <new>

#include "platform/files.h"
#include "platform/posix/files_internal.h"
#include "platform/posix/name_mapping.h"

namespace sl::platform::posix {
namespace {

constexpr size_t kMaxName = 260;  // units, with the NUL

struct Search {
  DIR* dir;  // nullptr for a pattern without wildcards, whose one entry is already reported
  bool atRoot;
  bool namesOnly;
  size_t patternLength;
  char16_t pattern[kMaxName];
};

bool Matches(const Search& search, const char16_t* name, size_t nameLength) {
  const char16_t* pattern = search.pattern;
  const size_t patternLength = search.patternLength;
  size_t p = 0;
  size_t n = 0;
  size_t star = SIZE_MAX;  // position after the last '*' seen
  size_t starName = 0;     // name position that '*' was tried to match up to
  while (n < nameLength) {
    if (p < patternLength && pattern[p] == u'*') {
      star = ++p;
      starName = n;
    } else if (p < patternLength && (pattern[p] == u'?' || pattern[p] == name[n])) {
      ++p;
      ++n;
    } else if (star != SIZE_MAX) {
      p = star;
      n = ++starName;
    } else {
      return false;
    }
  }
  while (p < patternLength && (pattern[p] == u'*' || pattern[p] == u'.')) ++p;
  return p == patternLength;
}

bool IsDots(const char* name) {
  return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

void Report(const char16_t* name, size_t length, uint32_t attributes, FindData* data) {
  data->fileAttributes = attributes;
  std::memcpy(data->fileName, name, length * sizeof(char16_t));
  data->fileName[length] = u'\0';
}

// The attributes of a listed entry. A folder is told by the listing itself; anything else needs
// a stat for its write bit. A link is reported as what it points to, a dangling one as itself.
// An entry removed since the listing read it is still reported, as the listing saw it: no entry
// that the folder listed is left out.
uint32_t AttributesOfEntry(int folder, const dirent& entry) {
  if (entry.d_type == DT_DIR) return kFileAttributeDirectory;
  struct stat st;
  return StatEntry(folder, entry.d_name, &st) == 0 ? AttributesOf(st) : kFileAttributeNormal;
}

// Moves to the next entry that matches; false at the end of the folder.
bool Next(Search& search, FindData* data) {
  if (search.dir == nullptr) return false;
  for (;;) {
    const dirent* entry = ::readdir(search.dir);
    if (entry == nullptr) return false;
    const char* raw = entry->d_name;
    if (search.atRoot && IsDots(raw)) continue;
    char16_t name[kMaxName];
    // Names of at most 255 bytes always fit; a longer one, on a system that had it, is left out.
    const int length = NativeToUtf16(raw, std::strlen(raw), name, kMaxName);
    if (length <= 0) continue;
    const auto units = static_cast<size_t>(length);
    if (!Matches(search, name, units)) continue;
    const uint32_t attributes =
        search.namesOnly ? 0 : AttributesOfEntry(::dirfd(search.dir), *entry);
    Report(name, units, attributes, data);
    return true;
  }
}

bool HasWildcards(const char16_t* text, size_t length) {
  for (size_t i = 0; i < length; ++i) {
    if (text[i] == u'*' || text[i] == u'?') return true;
  }
  return false;
}

}  // namespace
}  // namespace sl::platform::posix

namespace sl::platform {

using posix::Fail;

FindHandle FindFirstFileW(const char16_t* pattern, FindData* data, FindFields fields) {
  if (data == nullptr) {
    Fail(kErrorInvalidParameter);
    return InvalidHandle();
  }
  posix::NativePath native;
  const posix::NativePath::Status status = native.Assign(pattern, true);
  if (status != posix::NativePath::Status::kOk) {
    Fail(posix::ErrorFromStatus(status, kErrorPathNotFound));
    return InvalidHandle();
  }
  // "folder\" names no entry to look for.
  if (native.trailingSeparator()) {
    Fail(kErrorFileNotFound);
    return InvalidHandle();
  }
  const size_t offset = native.lastComponentOffset();
  const char* last = native.c_str() + offset;
  auto* search = new (std::nothrow) posix::Search{};
  if (search == nullptr) {
    Fail(kErrorNotEnoughMemory);
    return InvalidHandle();
  }
  // The pattern is matched against names in their UTF-16 form, taken as the caller wrote it:
  // in the system path, a '*' that is a wildcard and one that U+F02A stands for look the same.
  // Without wildcards, the entry's own name is reported.
  const bool wildcards = posix::HasWildcards(native.lastName(), native.lastNameLength());
  int length = -1;
  if (!wildcards) {
    length = posix::NativeToUtf16(last, native.size() - offset, search->pattern, posix::kMaxName);
  } else if (native.lastNameLength() < posix::kMaxName) {
    length = static_cast<int>(native.lastNameLength());
    std::memcpy(search->pattern, native.lastName(), native.lastNameLength() * sizeof(char16_t));
  }
  // No entry is called "", "." or "..", nor has a name that long.
  if (length <= 0 || posix::IsDots(last)) {
    delete search;
    Fail(kErrorFileNotFound);
    return InvalidHandle();
  }
  search->patternLength = static_cast<size_t>(length);
  search->namesOnly = fields == FindFields::kNameOnly;

  if (!wildcards) {
    struct stat st;
    if (const int err = posix::StatEntry(AT_FDCWD, native.c_str(), &st); err != 0) {
      delete search;
      Fail(err == ENOENT ? native.MissingError() : posix::ErrorFromErrno(err));
      return InvalidHandle();
    }
    posix::Report(search->pattern, search->patternLength, posix::AttributesOf(st), data);
  } else {
    search->atRoot = offset == 1;
    char* const text = native.data();
    const char saved = offset > 0 ? text[offset - 1] : '\0';
    if (offset > 1) text[offset - 1] = '\0';
    const char* folder = offset == 0 ? "." : offset == 1 ? "/" : text;
    search->dir = ::opendir(folder);
    const int err = errno;
    if (offset > 1) text[offset - 1] = saved;
    if (search->dir == nullptr) {
      delete search;
      // Whatever is missing, it is a folder on the way.
      Fail(err == ENOENT || err == ENOTDIR ? kErrorPathNotFound : posix::ErrorFromErrno(err));
      return InvalidHandle();
    }
    if (!posix::Next(*search, data)) {
      ::closedir(search->dir);
      delete search;
      Fail(kErrorFileNotFound);
      return InvalidHandle();
    }
  }

  if (!posix::ShareTable::Instance().AddSearch(search)) {
    if (search->dir != nullptr) ::closedir(search->dir);
    delete search;
    Fail(kErrorNotEnoughMemory);
    return InvalidHandle();
  }
  return search;
}

bool FindNextFileW(FindHandle h, FindData* data) {
  if (h == nullptr || h == InvalidHandle()) return Fail(kErrorInvalidHandle);
  if (!posix::ShareTable::Instance().IsSearch(h)) return Fail(kErrorInvalidHandle);
  if (data == nullptr) return Fail(kErrorInvalidParameter);
  if (!posix::Next(*static_cast<posix::Search*>(h), data)) return Fail(kErrorNoMoreFiles);
  return true;
}

bool FindClose(FindHandle h) {
  if (h == nullptr || h == InvalidHandle()) return Fail(kErrorInvalidHandle);
  if (!posix::ShareTable::Instance().RemoveSearch(h)) return Fail(kErrorInvalidHandle);
  auto* search = static_cast<posix::Search*>(h);
  if (search->dir != nullptr) ::closedir(search->dir);
  delete search;
  return true;
}

}  // namespace sl::platform
