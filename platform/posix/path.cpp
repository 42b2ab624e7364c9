// UTF-16 paths to system paths and back.
#include <errno.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <cstring>
#include <new>

#include "platform/files.h"
#include "platform/posix/files_internal.h"
#include "platform/posix/name_mapping.h"

namespace sl::platform::posix {
namespace {

bool IsSeparator(char16_t c) { return c == u'/' || c == u'\\'; }

// Characters Windows refuses in names. '*' and '?' are wildcards, handled apart.
bool IsForbiddenInName(char16_t c) {
  return c < 0x20 || c == u'<' || c == u'>' || c == u'"' || c == u'|';
}

// U+F000 and U+F02F would stand for NUL and '/', which no name holds.
bool IsUnmappableByte(char16_t c) { return c == 0xF000 || c == 0xF02F; }

bool IsHighSurrogate(char32_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLowSurrogate(char32_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

// ASCII characters that stand for themselves in every name: what nearly every path is made of,
// copied without the checks below.
struct PlainAscii {
  bool table[128] = {};
  constexpr PlainAscii() {
    for (int c = 0x20; c < 0x80; ++c) table[c] = true;
    for (const char c : {'/', '\\', '*', '?', '<', '>', '"', '|'})
      table[static_cast<int>(c)] = false;
  }
};
constexpr PlainAscii kPlainAscii;

template <class Char>
bool IsDots(const Char* name, size_t length) {
  return (length == 1 || length == 2) && name[0] == '.' && name[length - 1] == '.';
}

}  // namespace

bool NativePath::Reserve(size_t bytes) {
  if (bytes <= kInlineSize) {
    data_ = inline_;
    return true;
  }
  heap_.reset(new (std::nothrow) char[bytes]);
  data_ = heap_ ? heap_.get() : inline_;
  return heap_ != nullptr;
}

NativePath::Status NativePath::Assign(const char16_t* path, bool allowWildcards) {
  data_ = inline_;
  data_[0] = '\0';
  size_ = 0;
  trailingSeparator_ = false;
  lastName_ = u"";
  lastNameLength_ = 0;
  if (path == nullptr || path[0] == u'\0') return Status::kEmpty;

  size_t units = 0;
  while (path[units] != u'\0') ++units;
  // A unit takes at most three bytes (a surrogate pair, two units, takes four).
  if (units > (SIZE_MAX - 1) / 3 || !Reserve(units * 3 + 1)) return Status::kNoMemory;

  // Windows drops trailing dots and spaces from the last name. This is done before the mapping,
  // so that U+F02E and U+F020, which stand for a dot and a space that belong to the name, stay.
  size_t lastStart = units;
  while (lastStart > 0 && !IsSeparator(path[lastStart - 1])) --lastStart;
  size_t end = units;
  if (!IsDots(path + lastStart, units - lastStart)) {
    while (end > lastStart && (path[end - 1] == u'.' || path[end - 1] == u' ')) --end;
  }
  lastName_ = path + lastStart;
  lastNameLength_ = end - lastStart;

  char* out = data_;
  bool wildcard = false;     // in the current name
  bool unmatchable = false;  // idem
  size_t nameStart = 0;
  char* nameOut = out;
  // A name whose mapped characters make it "." or ".." would climb instead of naming an entry.
  auto nameIsSound = [&](size_t nameEnd) {
    return IsDots(path + nameStart, nameEnd - nameStart) ||
           !IsDots(nameOut, static_cast<size_t>(out - nameOut));
  };
  for (size_t i = 0; i < end; ++i) {
    char32_t c = path[i];
    if (c < 0x80 && kPlainAscii.table[c]) {
      *out++ = static_cast<char>(c);
      continue;
    }
    if (IsSeparator(path[i])) {
      // Only the last name of a pattern may hold wildcards.
      if (wildcard || unmatchable || !nameIsSound(i)) return Status::kInvalidName;
      *out++ = '/';
      nameStart = i + 1;
      nameOut = out;
      continue;
    }
    if (c == u'*' || c == u'?') {
      if (!allowWildcards) return Status::kInvalidName;
      wildcard = true;
    } else if (IsForbiddenInName(path[i])) {
      if (!allowWildcards || c < 0x20) return Status::kInvalidName;
      unmatchable = true;
    } else if (IsUnmappableByte(path[i])) {
      return Status::kInvalidName;
    } else if (IsHighSurrogate(c)) {
      if (!IsLowSurrogate(path[i + 1])) return Status::kInvalidName;
      c = 0x10000 + ((c - 0xD800) << 10) + (path[i + 1] - 0xDC00);
      ++i;
    } else if (IsLowSurrogate(c)) {
      return Status::kInvalidName;
    }
    out = AppendNative(c, out);
  }
  if (!nameIsSound(end)) return Status::kInvalidName;
  if (unmatchable) return Status::kUnmatchable;
  trailingSeparator_ = IsSeparator(path[units - 1]);
  size_ = static_cast<size_t>(out - data_);
  data_[size_] = '\0';
  Normalize();
  return Status::kOk;
}

// Rewrites data_ in place; the result is never longer than the input.
void NativePath::Normalize() {
  char* const base = data_;
  const size_t n = size_;
  const bool isAbsolute = base[0] == '/';
  const size_t root = isAbsolute ? 1 : 0;
  size_t w = root;
  size_t r = root;
  auto append = [&](size_t start, size_t length) {
    if (w > root) base[w++] = '/';
    if (w != start) std::memmove(base + w, base + start, length);  // nothing dropped: in place
    w += length;
  };
  while (r < n) {
    while (r < n && base[r] == '/') ++r;
    if (r >= n) break;
    const size_t start = r;
    while (r < n && base[r] != '/') ++r;
    const size_t length = r - start;
    if (length == 1 && base[start] == '.') continue;
    if (length == 2 && base[start] == '.' && base[start + 1] == '.') {
      size_t previous = w;
      while (previous > root && base[previous - 1] != '/') --previous;
      const bool previousIsUp =
          w - previous == 2 && base[previous] == '.' && base[previous + 1] == '.';
      if (w > root && !previousIsUp) {
        w = previous > root ? previous - 1 : root;
      } else if (!isAbsolute) {
        append(start, 2);  // a relative path may climb above its start
      }
      continue;
    }
    append(start, length);
  }
  if (w == 0) base[w++] = '.';
  base[w] = '\0';
  size_ = w;
}

size_t NativePath::lastComponentOffset() const {
  const char* slash = std::strrchr(data_, '/');
  return slash == nullptr ? 0 : static_cast<size_t>(slash - data_) + 1;
}

uint32_t NativePath::MissingError() {
  const size_t offset = lastComponentOffset();
  if (offset <= 1) return kErrorFileNotFound;  // the parent is the current folder or the root
  char* const separator = data_ + offset - 1;
  *separator = '\0';
  struct stat st;
  const bool parentIsFolder = ::stat(data_, &st) == 0 && S_ISDIR(st.st_mode);
  *separator = '/';
  return parentIsFolder ? kErrorFileNotFound : kErrorPathNotFound;
}

}  // namespace sl::platform::posix
