// Every name a wildcard search reports, as a set: the platform tests' one way to list a folder.
#pragma once

#include <set>
#include <string>

#include "platform/files.h"

namespace sl::platform {

using Names = std::set<std::u16string>;

inline Names List(const std::u16string& pattern) {
  Names names;
  FindData entry;
  FindHandle search = FindFirstFileW(pattern.c_str(), &entry);
  if (search == InvalidHandle()) return names;
  do names.insert(entry.fileName);
  while (FindNextFileW(search, &entry));
  FindClose(search);
  return names;
}

}  // namespace sl::platform
