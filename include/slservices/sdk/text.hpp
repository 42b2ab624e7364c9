// UTF-8 <-> UTF-16 for hosts: the module takes and gives NUL-terminated UTF-16 paths, hosts
// usually hold std::string or std::filesystem::path.
//
//   sl::sdk::Path16 path = std::filesystem::temp_directory_path() / "notes.txt";
//   fs->OpenFile(fs, path.c_str(), SL_OPEN_READ, &file);
//   std::string text = sl::sdk::ToUtf8(info.message);
//
// Malformed input never throws. On Windows an invalid UTF-8 sequence or a lone surrogate
// becomes U+FFFD, and nothing else is changed.
//
// Elsewhere names are bytes, and the SDK speaks the form in which the default file system hands
// them out: a byte that a Windows name cannot carry is U+F000 + that byte. Native paths
// (std::filesystem::path, through PathToUtf16, Path16 and ToPath) are mapped both ways:
//   - '\' '<' '>' '"' '|' '?' '*' and the control characters in a name, a dot or a space that
//     ends a name ("." and ".." excepted), each byte that is not part of valid UTF-8, and each
//     byte of a character that is itself in U+F000-U+F0FF (so that it comes back unchanged);
//   - back, every U+F000 + b is the byte b.
// Plain text keeps its bytes the same way, and no more: ToUtf16 maps only bytes that are not
// UTF-8 (and U+F000-U+F0FF), so that '*' stays a wildcard and '\' a separator; ToUtf8 writes
// every U+F000 + b as the byte b, so that a name prints as the shell shows it. Text that holds
// U+F000-U+F0FF itself (private-use symbols) therefore prints as single bytes there.
//
//   PathToUtf16("notes/st*r.txt")  -> u"notes/st\uF02Ar.txt"
//   PathToUtf16("notes/draft.")    -> u"notes/draft\uF02E"
//   ToUtf8(u"st\uF02Ar.txt")       -> "st*r.txt"
#ifndef SLSERVICES_SDK_TEXT_HPP_
#define SLSERVICES_SDK_TEXT_HPP_

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <utility>

#include "slservices/core/name_bytes.hpp"
#include "slservices/sl_result.h"

namespace sl::sdk {

namespace text_detail {

constexpr char32_t kReplacement = 0xFFFD;
using core::name_bytes::kByteBase;

#ifdef _WIN32
constexpr bool kNamesAreBytes = false;
#else
constexpr bool kNamesAreBytes = true;
#endif

using core::name_bytes::IsByteCharacter;
using core::name_bytes::IsForbiddenInName;

inline void AppendUtf16(std::u16string& out, char32_t c) {
  if (c < 0x10000) {
    out.push_back(static_cast<char16_t>(c));
  } else {
    c -= 0x10000;
    out.push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
    out.push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
  }
}

inline void AppendUtf8(std::string& out, char32_t c) {
  char bytes[4];
  out.append(bytes, core::name_bytes::EncodeUtf8(c, bytes));
}

inline size_t DecodeUtf8(std::string_view in, size_t i, char32_t* c) {
  return core::name_bytes::DecodeUtf8(reinterpret_cast<const unsigned char*>(in.data()), in.size(),
                                      i, c);
}

// UTF-8 to UTF-16. `asNames`: the text is a path of a system whose names are bytes, so what a
// Windows name cannot hold is mapped as well (see the top of this file).
inline std::u16string Decode(std::string_view in, bool asNames) {
  std::u16string out;
  out.reserve(in.size());
  size_t nameStart = 0;
  for (size_t i = 0; i < in.size();) {
    char32_t c = 0;
    const size_t bytes = DecodeUtf8(in, i, &c);
    if (kNamesAreBytes && (bytes == 0 || IsByteCharacter(c))) {
      for (const size_t end = i + (bytes == 0 ? 1 : bytes); i < end; ++i) {
        out.push_back(static_cast<char16_t>(kByteBase + static_cast<unsigned char>(in[i])));
      }
      continue;
    }
    if (bytes == 0) {
      out.push_back(static_cast<char16_t>(kReplacement));
      ++i;
      continue;
    }
    i += bytes;
    if (asNames && c == U'/') {
      nameStart = i;
    } else if (asNames) {
      const bool endsName = i == in.size() || in[i] == '/';
      const size_t length = i - nameStart;
      const bool dots = (length == 1 || length == 2) && in[nameStart] == '.' && c == U'.';
      if (IsForbiddenInName(c) || (endsName && !dots && (c == U'.' || c == U' '))) c += kByteBase;
    }
    AppendUtf16(out, c);
  }
  return out;
}

// A pattern whose last part came from native text has its '*' and '?' mapped: they are
// wildcards there again.
inline std::u16string WithWildcards(std::u16string pattern) {
  if (!kNamesAreBytes) return pattern;
  const size_t last = pattern.find_last_of(u"/\\");
  for (size_t i = last == std::u16string::npos ? 0 : last + 1; i < pattern.size(); ++i) {
    if (pattern[i] == kByteBase + u'*') pattern[i] = u'*';
    if (pattern[i] == kByteBase + u'?') pattern[i] = u'?';
  }
  return pattern;
}

}  // namespace text_detail

inline std::u16string ToUtf16(std::string_view utf8) { return text_detail::Decode(utf8, false); }

inline std::string ToUtf8(std::u16string_view utf16) {
  std::string out;
  out.reserve(utf16.size());
  for (size_t i = 0; i < utf16.size(); ++i) {
    char32_t c = utf16[i];
    if (text_detail::kNamesAreBytes && text_detail::IsByteCharacter(c)) {
      out.push_back(static_cast<char>(c - text_detail::kByteBase));
      continue;
    }
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < utf16.size() && utf16[i + 1] >= 0xDC00 &&
        utf16[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (utf16[i + 1] - 0xDC00);
      ++i;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      c = text_detail::kReplacement;
    }
    text_detail::AppendUtf8(out, c);
  }
  return out;
}

// A NUL-terminated string the module handed out (null gives "").
inline std::string ToUtf8(const SLChar16* utf16) {
  return utf16 == nullptr ? std::string() : ToUtf8(std::u16string_view(utf16));
}

namespace text_detail {
// The native strings of std::filesystem::path: UTF-16 units on Windows, UTF-8 bytes elsewhere.
inline std::u16string FromNative(const std::wstring& wide) {
  return std::u16string(wide.begin(), wide.end());
}
inline std::u16string FromNative(const std::string& bytes) { return Decode(bytes, true); }
inline void ToNative(std::u16string_view utf16, std::wstring* wide) {
  wide->assign(utf16.begin(), utf16.end());
}
inline void ToNative(std::u16string_view utf16, std::string* bytes) { *bytes = ToUtf8(utf16); }
}  // namespace text_detail

// A path in the module's form. On Windows the native wide form is taken unit for unit (any
// name the system can hold survives); elsewhere the native bytes are read as UTF-8, with the
// mapping described at the top, so that every name reaches its own file. ToPath undoes it.
inline std::u16string PathToUtf16(const std::filesystem::path& path) {
  return text_detail::FromNative(path.native());
}

inline std::filesystem::path ToPath(std::u16string_view utf16) {
  std::filesystem::path::string_type native;
  text_detail::ToNative(utf16, &native);
  return std::filesystem::path(std::move(native));
}

// A path or name argument for the module, made from whatever the host holds. UTF-8 text is
// taken as the module's own form ('\\' separates, '*' is a wildcard or refused); a
// std::filesystem::path is a native path and is mapped as PathToUtf16 maps.
class Path16 {
 public:
  Path16(const char* utf8) : text_(ToUtf16(std::string_view(utf8))) {}
  Path16(std::string_view utf8) : text_(ToUtf16(utf8)) {}
  Path16(const std::string& utf8) : text_(ToUtf16(std::string_view(utf8))) {}
  Path16(std::u16string utf16) : text_(std::move(utf16)) {}
  Path16(const char16_t* utf16) : text_(utf16) {}
  Path16(const std::filesystem::path& path) : text_(PathToUtf16(path)) {}

  const SLChar16* c_str() const { return text_.c_str(); }
  const std::u16string& str() const { return text_; }
  std::string utf8() const { return ToUtf8(text_); }

 private:
  std::u16string text_;
};

}  // namespace sl::sdk

#endif  // SLSERVICES_SDK_TEXT_HPP_
