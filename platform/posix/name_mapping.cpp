#include "platform/posix/name_mapping.h"

namespace sl::platform::posix {
namespace {

constexpr char32_t kMapBase = 0xF000;

bool IsForbiddenInWindowsName(char32_t c) {
  return c < 0x20 || c == U'\\' || c == U'<' || c == U'>' || c == U'"' || c == U'|' || c == U'?' ||
         c == U'*';
}

// The character whose UTF-8 form starts at in[i], and the count of its bytes; 0 bytes when the
// sequence is not valid UTF-8 (bad lead or continuation byte, cut short, overlong, a surrogate,
// or past U+10FFFF).
size_t DecodeUtf8(const unsigned char* in, size_t length, size_t i, char32_t* c) {
  const unsigned char lead = in[i];
  size_t extra = 0;
  char32_t value = 0;
  char32_t minimum = 0;
  if (lead < 0x80) {
    *c = lead;
    return 1;
  } else if ((lead & 0xE0) == 0xC0) {
    extra = 1, value = lead & 0x1F, minimum = 0x80;
  } else if ((lead & 0xF0) == 0xE0) {
    extra = 2, value = lead & 0x0F, minimum = 0x800;
  } else if ((lead & 0xF8) == 0xF0) {
    extra = 3, value = lead & 0x07, minimum = 0x10000;
  } else {
    return 0;
  }
  if (length - i <= extra) return 0;
  for (size_t k = 1; k <= extra; ++k) {
    if ((in[i + k] & 0xC0) != 0x80) return 0;
    value = (value << 6) | (in[i + k] & 0x3F);
  }
  if (value < minimum || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return 0;
  *c = value;
  return extra + 1;
}

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
        if (!put(kMapBase + in[i])) return -1;
      }
      continue;
    }
    i += bytes;
    if (IsForbiddenInWindowsName(c) || (i == length && !dots && (c == U'.' || c == U' '))) {
      c += kMapBase;
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
  if (IsMappedByte(c)) {
    *out++ = static_cast<char>(c - kMapBase);
  } else if (c < 0x80) {
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
