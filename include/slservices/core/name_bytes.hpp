// How a name of a system whose names are bytes is spelt in UTF-16, one character at a time: the
// rules that the module's POSIX emulation (native names it lists) and the SDK (native paths a
// host holds, text.hpp) share, so that both spell every name alike. Dependency-free.
//
// A byte that a Windows name cannot carry is the character U+F000 + that byte: each byte of a
// sequence that is not UTF-8, each byte of a character that is itself in U+F000-U+F0FF, the
// characters IsForbiddenInName names, and a dot or a space that ends a name ("." and ".."
// excepted).
#ifndef SLSERVICES_CORE_NAME_BYTES_HPP_
#define SLSERVICES_CORE_NAME_BYTES_HPP_

#include <cstddef>

namespace sl::core::name_bytes {

constexpr char32_t kByteBase = 0xF000;

// Whether `c` stands for the byte `c - kByteBase`.
inline bool IsByteCharacter(char32_t c) { return c >= kByteBase && c <= kByteBase + 0xFF; }

// What a Windows name cannot hold anywhere in it ('/' is the separator of both).
inline bool IsForbiddenInName(char32_t c) {
  return c < 0x20 || c == U'\\' || c == U'<' || c == U'>' || c == U'"' || c == U'|' || c == U'?' ||
         c == U'*';
}

// The character whose UTF-8 form starts at in[i] (i < length), and the count of its bytes; 0
// when the sequence is not UTF-8 (a bad lead or continuation byte, cut short, overlong, an
// encoded surrogate, past U+10FFFF).
inline size_t DecodeUtf8(const unsigned char* in, size_t length, size_t i, char32_t* c) {
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

// The UTF-8 form of `c` written at `out` (at most four bytes); returns the end of it.
inline char* EncodeUtf8(char32_t c, char* out) {
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

}  // namespace sl::core::name_bytes

#endif  // SLSERVICES_CORE_NAME_BYTES_HPP_
