#include "platform/posix/name_mapping.h"

#include "slservices/core/name_bytes.hpp"

namespace sl::platform::posix {
namespace {

using sl::core::name_bytes::DecodeUtf8;
using sl::core::name_bytes::IsForbiddenInName;
using sl::core::name_bytes::kByteBase;

// One name (no '/'). Returns the units written, or -1 when `room` is too small.
int NameToUtf16(const unsigned char* in, size_t length, char16_t* out, size_t room) {
  const bool dots = (length == 1 && in[0] == '.') || (length == 2 && in[0] == '.' && in[1] == '.');
  size_t count = 0;
  auto put = [&](char32_t unit) {
    if (count == room) return false;
    out[count++] = static_cast<char16_t>(unit);
    return true;
  };
  for (size_t i = 0; i < length;) {
    char32_t c = 0;
    const size_t bytes = DecodeUtf8(in, length, i, &c);
    if (bytes == 0 || IsMappedByte(c)) {
      // Each byte alone: invalid UTF-8, or a character the other direction would read as a byte.
      const size_t end = i + (bytes == 0 ? 1 : bytes);
      for (; i < end; ++i) {
        if (!put(kByteBase + in[i])) return -1;
      }
      continue;
    }
    i += bytes;
    if (IsForbiddenInName(c) || (i == length && !dots && (c == U'.' || c == U' '))) {
      c += kByteBase;
    }
    if (c >= 0x10000) {
      c -= 0x10000;
      if (!put(0xD800 + (c >> 10)) || !put(0xDC00 + (c & 0x3FF))) return -1;
    } else if (!put(c)) {
      return -1;
    }
  }
  return static_cast<int>(count);
}

}  // namespace

char* AppendNative(char32_t c, char* out) {
  if (!IsMappedByte(c)) return sl::core::name_bytes::EncodeUtf8(c, out);
  *out++ = static_cast<char>(c - kByteBase);
  return out;
}

int NativeToUtf16(const char* native, size_t length, char16_t* out, size_t capacity) {
  if (capacity == 0) return -1;
  const auto* in = reinterpret_cast<const unsigned char*>(native);
  size_t count = 0;
  size_t start = 0;
  for (;;) {
    size_t end = start;
    while (end < length && in[end] != '/') ++end;
    const int units = NameToUtf16(in + start, end - start, out + count, capacity - 1 - count);
    if (units < 0) return -1;
    count += static_cast<size_t>(units);
    if (end == length) break;
    if (count == capacity - 1) return -1;
    out[count++] = u'/';
    start = end + 1;
  }
  out[count] = u'\0';
  return static_cast<int>(count);
}

}  // namespace sl::platform::posix
