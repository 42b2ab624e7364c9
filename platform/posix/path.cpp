// UTF-16 paths to system paths and back, and errno to Win32 error codes.
#include <errno.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <cstring>
#include <new>

#include "platform/files.h"
#include "platform/posix/files_internal.h"

namespace sl::platform::posix {
namespace {

bool IsSeparator(char16_t c) { return c == u'/' || c == u'\\'; }

// Characters Windows refuses in names. '*' and '?' are wildcards, handled apart.
bool IsForbiddenInName(char16_t c) {
  return c < 0x20 || c == u'<' || c == u'>' || c == u'"' || c == u'|';
}

bool IsHighSurrogate(char32_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLowSurrogate(char32_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

char* EncodeUtf8(char32_t c, char* out) {
  if (c < 0x80) {
    *out++ = static_cast<char>(c);
  } else if (c < 0x800) {
    *out++ = static_cast<char>(0xC0 | (c >> 6));
    *out++ = static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    *out++ = static_cast<char>(0xE0 | (c >> 12));
    *out++ = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    *out++ = static_cast<char>(0x80 | (c & 0x3F));
  } else {
    *out++ = static_cast<char>(0xF0 | (c >> 18));
    *out++ = static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    *out++ = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    *out++ = static_cast<char>(0x80 | (c & 0x3F));
  }
  return out;
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
  if (path == nullptr || path[0] == u'\0') return Status::kEmpty;

  size_t units = 0;
  while (path[units] != u'\0') ++units;
  // A unit takes at most three bytes (a surrogate pair, two units, takes four).
  if (units > (SIZE_MAX - 1) / 3 || !Reserve(units * 3 + 1)) return Status::kNoMemory;

  char* out = data_;
  bool wildcard = false;     // in the current component
  bool unmatchable = false;  // idem
  for (size_t i = 0; i < units; ++i) {
    char32_t c = path[i];
    if (IsSeparator(path[i])) {
      // Only the last component of a pattern may hold wildcards.
      if (wildcard || unmatchable) return Status::kInvalidName;
      *out++ = '/';
      continue;
    }
    if (c == u'*' || c == u'?') {
      if (!allowWildcards) return Status::kInvalidName;
      wildcard = true;
    } else if (IsForbiddenInName(path[i])) {
      if (!allowWildcards || c < 0x20) return Status::kInvalidName;
      unmatchable = true;
    } else if (IsHighSurrogate(c)) {
      if (!IsLowSurrogate(path[i + 1])) return Status::kInvalidName;
      c = 0x10000 + ((c - 0xD800) << 10) + (path[i + 1] - 0xDC00);
      ++i;
    } else if (IsLowSurrogate(c)) {
      return Status::kInvalidName;
    }
    out = EncodeUtf8(c, out);
  }
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
    std::memmove(base + w, base + start, length);
    w += length;
  };
  while (r < n) {
    while (r < n && base[r] == '/') ++r;
    if (r >= n) break;
    const size_t start = r;
    while (r < n && base[r] != '/') ++r;
    size_t length = r - start;
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
    // Windows drops trailing dots and spaces from the last component only.
    if (r >= n) {
      while (length > 0 && (base[start + length - 1] == '.' || base[start + length - 1] == ' ')) {
        --length;
      }
      if (length == 0) continue;
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

uint32_t ErrorFromStatus(NativePath::Status status, uint32_t emptyError) {
  switch (status) {
    case NativePath::Status::kOk:
      return kErrorSuccess;
    case NativePath::Status::kEmpty:
      return emptyError;
    case NativePath::Status::kInvalidName:
      return kErrorInvalidName;
    case NativePath::Status::kUnmatchable:
      return kErrorFileNotFound;
    case NativePath::Status::kNoMemory:
      return kErrorNotEnoughMemory;
  }
  return kErrorInvalidParameter;
}

uint32_t ErrorFromErrno(int err) {
  switch (err) {
    case 0:
      return kErrorSuccess;
    case ENOENT:
      return kErrorFileNotFound;
    case ENOTDIR:
      return kErrorPathNotFound;
    case EACCES:
    case EPERM:
    case EISDIR:
      return kErrorAccessDenied;
    case EROFS:
      return kErrorWriteProtect;
    case EEXIST:
      return kErrorAlreadyExists;
    case ENOTEMPTY:
      return kErrorDirNotEmpty;
    case EBADF:
      return kErrorInvalidHandle;
    case EINVAL:
    case EOVERFLOW:
      return kErrorInvalidParameter;
    case ENAMETOOLONG:
      return kErrorFilenameExcedRange;
    case ELOOP:
      return kErrorCantResolveFilename;
    case ENOMEM:
      return kErrorNotEnoughMemory;
    case EMFILE:
    case ENFILE:
      return kErrorTooManyOpenFiles;
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
      return kErrorDiskFull;
    case EBUSY:
    case ETXTBSY:
      return kErrorSharingViolation;
    default:
      return kErrorGenFailure;
  }
}

int Utf8ToUtf16(const char* utf8, size_t length, char16_t* out, size_t capacity) {
  const auto* in = reinterpret_cast<const unsigned char*>(utf8);
  size_t count = 0;
  size_t i = 0;
  while (i < length) {
    char32_t c = in[i];
    size_t extra = 0;
    char32_t minimum = 0;
    if (c < 0x80) {
      extra = 0;
    } else if ((c & 0xE0) == 0xC0) {
      extra = 1;
      c &= 0x1F;
      minimum = 0x80;
    } else if ((c & 0xF0) == 0xE0) {
      extra = 2;
      c &= 0x0F;
      minimum = 0x800;
    } else if ((c & 0xF8) == 0xF0) {
      extra = 3;
      c &= 0x07;
      minimum = 0x10000;
    } else {
      return -1;
    }
    if (length - i <= extra) return -1;
    for (size_t k = 1; k <= extra; ++k) {
      if ((in[i + k] & 0xC0) != 0x80) return -1;
      c = (c << 6) | (in[i + k] & 0x3F);
    }
    // Overlong forms, encoded surrogates and values past U+10FFFF are not UTF-8.
    if (c < minimum || c > 0x10FFFF || IsHighSurrogate(c) || IsLowSurrogate(c)) return -1;
    i += extra + 1;
    const size_t needed = c >= 0x10000 ? 2 : 1;
    if (count + needed >= capacity) return -1;
    if (needed == 2) {
      c -= 0x10000;
      out[count++] = static_cast<char16_t>(0xD800 + (c >> 10));
      out[count++] = static_cast<char16_t>(0xDC00 + (c & 0x3FF));
    } else {
      out[count++] = static_cast<char16_t>(c);
    }
  }
  out[count] = u'\0';
  return static_cast<int>(count);
}

}  // namespace sl::platform::posix

namespace sl::platform {

std::u16string TempDirectory() {
  const char* dir = ::getenv("TMPDIR");
  if (dir == nullptr || dir[0] != '/') dir = "/tmp";
  const size_t length = std::strlen(dir);
  std::u16string result(length + 1, u'\0');
  const int units = posix::Utf8ToUtf16(dir, length, result.data(), result.size());
  if (units <= 0) return u"/tmp/";
  result.resize(static_cast<size_t>(units));
  if (result.back() != u'/') result.push_back(u'/');
  return result;
}

}  // namespace sl::platform
