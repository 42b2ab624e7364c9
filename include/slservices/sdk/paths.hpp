// Path helpers for file systems a host writes: one spelling per path, and wildcard matching
// as folder search does it ('*' any run of units, '?' exactly one, case-sensitive).
//
//   paths::Key(u"notes\\2026/./a.txt")    -> u"/notes/2026/a.txt"
//   paths::ParentOf(u"/notes/2026/a.txt") -> u"/notes/2026"
//   paths::Matches(u"*.txt", u"a.txt")    -> true
#ifndef SLSERVICES_SDK_PATHS_HPP_
#define SLSERVICES_SDK_PATHS_HPP_

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sl::sdk::paths {

// Components separated by '/' or '\', "." skipped, ".." going up, always from the root.
// Nothing for a path that climbs above the root.
inline std::optional<std::u16string> Key(std::u16string_view path) {
  std::vector<std::u16string_view> parts;
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find_first_of(u"/\\", start);
    if (end == std::u16string_view::npos) end = path.size();
    const std::u16string_view part = path.substr(start, end - start);
    if (part == u"..") {
      if (parts.empty()) return std::nullopt;
      parts.pop_back();
    } else if (!part.empty() && part != u".") {
      parts.push_back(part);
    }
    start = end + 1;
  }
  std::u16string key;
  for (std::u16string_view part : parts) key.append(u"/").append(part);
  return key.empty() ? std::u16string(u"/") : key;
}

// Whether the path is valid UTF-16: no lone surrogate. A file system that stores names as
// UTF-8 refuses the others rather than guess.
inline bool IsUtf16(std::u16string_view path) {
  for (size_t i = 0; i < path.size(); ++i) {
    const char16_t c = path[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < path.size() && path[i + 1] >= 0xDC00 &&
        path[i + 1] <= 0xDFFF) {
      ++i;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      return false;
    }
  }
  return true;
}

// The folder of a key ("/" for a top-level name and for the root itself).
inline std::u16string ParentOf(const std::u16string& key) {
  const size_t slash = key.rfind(u'/');
  return slash == 0 || slash == std::u16string::npos ? std::u16string(u"/") : key.substr(0, slash);
}

inline bool Matches(std::u16string_view pattern, std::u16string_view name) {
  size_t p = 0, n = 0, star = std::u16string_view::npos, resume = 0;
  while (n < name.size()) {
    if (p < pattern.size() && (pattern[p] == u'?' || pattern[p] == name[n])) {
      ++p, ++n;
    } else if (p < pattern.size() && pattern[p] == u'*') {
      star = p++, resume = n;
    } else if (star != std::u16string_view::npos) {
      p = star + 1, n = ++resume;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == u'*') ++p;
  return p == pattern.size();
}

}  // namespace sl::sdk::paths

#endif  // SLSERVICES_SDK_PATHS_HPP_
