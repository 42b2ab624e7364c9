// Why an entry failed, found out through the file system's own entries. The module's codes
// are coarse: 7 stands for a missing folder on the way, a file in use and a folder not empty
// alike, a missing file gives 7 or 11 depending on which part of the path is missing, and a
// search that cannot list a folder gives 3 just as one that matches nothing. So after a
// failure slhost asks the file system what it can (does the folder on the way exist, is it a
// folder, may it be listed, is it empty) and says what it found in one plain sentence.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "command.h"
#include "slservices/sdk/sdk.hpp"

namespace slhost {

// Questions about one path, asked through the file system's entries only. A failing entry
// counts as "no": these run after a failure and must not throw another.
class Probe {
 public:
  explicit Probe(const Volume& volume) : volume_(volume) {}

  // IsFileExists: files and folders alike. A path behind a folder that may not be searched
  // does not exist as far as the system says.
  bool Exists(const std::filesystem::path& path) const;
  // IsFileExists of the path with a separator added: only a folder has one. Unlike a search
  // this needs no right to read the folder. A mounted file system may take "a.txt/" for
  // "a.txt" (an archive does): there a folder is what a search can look into.
  bool IsFolder(const std::filesystem::path& path) const;
  // The folder's names without "." and ".."; nothing when it cannot be listed (a search of a
  // folder always finds "." at least, so a failing one means it may not be read).
  std::optional<std::vector<std::u16string>> List(const std::filesystem::path& folder) const;

 private:
  const Volume& volume_;
};

// What was tried on a path when its entry failed.
enum class Action {
  kLook,          // anything that needs the path to exist, file or folder
  kRead,          // OpenFile to read an existing file
  kCreate,        // OpenFile to create (or empty) a file
  kRemoveFile,    // RemoveFile
  kCreateFolder,  // CreateFolder
  kRemoveFolder,  // RemoveFolder
  kList,          // Search of the folder's contents
};

struct Finding {
  std::string why;          // one plain sentence, empty when nothing more could be told
  bool unreadable = false;  // a folder on the way may not be read: what lies behind is unknown
};

// The first thing on the way to `path` that stops it: a missing folder, a file where a folder
// should be, a folder that may not be read. Empty when the folder holding `path` is there.
Finding WayTo(const Volume& volume, const std::filesystem::path& path);
// Why `action` on `path` failed with `code`.
Finding Why(const Volume& volume, const std::filesystem::path& path, Action action, SLResult code);

}  // namespace slhost
