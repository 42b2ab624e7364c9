// UTF-8 <-> UTF-16 for hosts: the module takes and gives NUL-terminated UTF-16 paths, hosts
// usually hold std::string or std::filesystem::path.
//
//   sl::sdk::Path16 path = std::filesystem::temp_directory_path() / "notes.txt";
//   fs->OpenFile(fs, path.c_str(), SL_OPEN_READ, &file);
//   std::string text = sl::sdk::ToUtf8(info.message);
//
// Malformed input never throws: an invalid UTF-8 sequence or a lone surrogate becomes U+FFFD.
#ifndef SLSERVICES_SDK_TEXT_HPP_
#define SLSERVICES_SDK_TEXT_HPP_

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <utility>

#include "slservices/sl_result.h"

namespace sl::sdk {

namespace text_detail {

constexpr char32_t kReplacement = 0xFFFD;

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
  if (c < 0x80) {
    out.push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (c >> 6)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (c >> 12)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (c >> 18)));
    out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
}

// Decodes one code point at `i`, advancing it; overlong forms, surrogates encoded in UTF-8,
// values above U+10FFFF and truncated sequences give U+FFFD and skip one byte.
inline char32_t DecodeUtf8(std::string_view in, size_t& i) {
  const auto byte = [&](size_t k) { return static_cast<unsigned char>(in[k]); };
  const unsigned char lead = byte(i);
  size_t extra = 0;
  char32_t c = 0;
  char32_t minimum = 0;
  if (lead < 0x80) {
    ++i;
    return lead;
  } else if ((lead & 0xE0) == 0xC0) {
    extra = 1, c = lead & 0x1F, minimum = 0x80;
  } else if ((lead & 0xF0) == 0xE0) {
    extra = 2, c = lead & 0x0F, minimum = 0x800;
  } else if ((lead & 0xF8) == 0xF0) {
    extra = 3, c = lead & 0x07, minimum = 0x10000;
  } else {
    ++i;
    return kReplacement;
  }
  if (i + extra >= in.size()) {
    ++i;
    return kReplacement;
  }
  for (size_t k = 1; k <= extra; ++k) {
    if ((byte(i + k) & 0xC0) != 0x80) {
      ++i;
      return kReplacement;
    }
    c = (c << 6) | (byte(i + k) & 0x3F);
  }
  if (c < minimum || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
    ++i;
    return kReplacement;
  }
  i += extra + 1;
  return c;
}

}  // namespace text_detail

inline std::u16string ToUtf16(std::string_view utf8) {
  std::u16string out;
  out.reserve(utf8.size());
  for (size_t i = 0; i < utf8.size();) {
    text_detail::AppendUtf16(out, text_detail::DecodeUtf8(utf8, i));
  }
  return out;
}

inline std::string ToUtf8(std::u16string_view utf16) {
  std::string out;
  out.reserve(utf16.size());
  for (size_t i = 0; i < utf16.size(); ++i) {
    char32_t c = utf16[i];
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
inline std::u16string FromNative(const std::string& bytes) { return ToUtf16(bytes); }
inline void ToNative(std::u16string_view utf16, std::wstring* wide) {
  wide->assign(utf16.begin(), utf16.end());
}
inline void ToNative(std::u16string_view utf16, std::string* bytes) { *bytes = ToUtf8(utf16); }
}  // namespace text_detail

// A path in the module's form. On Windows the native wide form is taken unit for unit (any
// name the system can hold survives); elsewhere the native bytes are read as UTF-8.
inline std::u16string PathToUtf16(const std::filesystem::path& path) {
  return text_detail::FromNative(path.native());
}

inline std::filesystem::path ToPath(std::u16string_view utf16) {
  std::filesystem::path::string_type native;
  text_detail::ToNative(utf16, &native);
  return std::filesystem::path(std::move(native));
}

// A path or name argument for the module, made from whatever the host holds.
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
