// What a path is (file, folder, link, FIFO, socket, device) and a file's size, learnt without
// opening it, and whether two paths are one file or one folder lies inside another.
//
// Opening is no way to look: a FIFO waits for a writer before the open returns, and a device
// such as /dev/zero reads for ever. The module's SLFileSystem has no entry that tells a type or a
// size without opening the file, so on the default file system slhost (a host on the same
// system, whose paths are the system's own) asks the system through std::filesystem, which
// reads a file's attributes (lstat and stat, or the attributes on Windows) and opens nothing. A
// file system mounted with --fs (an archive, a remote folder) shows only files and folders: its
// own entries answer there, a search telling a folder and an opened file its size.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

#include "command.h"

namespace slhost {

enum class Kind {
  kMissing,  // nothing there, or a link that leads nowhere when followed
  kFile,
  kFolder,
  kLink,  // only when links are not followed
  kFifo,
  kSocket,
  kDevice,
  kUnknown,  // the system would not say (a folder on the way may not be read, a link loops)
};

struct Node {
  Kind kind = Kind::kMissing;
  std::optional<uint64_t> size;  // a file's, when the system told it
};

// What stands at `path`. `follow`: a link answers for what it leads to; else for itself.
Node Look(const Volume& volume, const std::filesystem::path& path, bool follow);

// "file", "folder", "link", "FIFO", "socket", "device"; "nothing" and "unknown" for the rest.
const char* KindName(Kind kind);

// Whether `inner` is the folder `outer` or lies inside it, where `outer` exists and `inner` may
// not exist yet. On the default file system by identity (one folder reached through a link, "."
// or ".." is the same folder), on a mounted file system by name.
bool IsWithin(const Volume& volume, const std::filesystem::path& inner,
              const std::filesystem::path& outer);

// Whether both paths name one existing file: by identity on the default file system (a hard link
// and a link are the file itself), by name on a mounted file system.
bool IsSameFile(const Volume& volume, const std::filesystem::path& a,
                const std::filesystem::path& b);

// An operand ending in a separator ("notes/", "ar:data/") names a folder, or a link to one.
bool NamesFolder(const std::string& operand);

// For an operand that names a folder but finds something else there: says so in the system's
// words ("a.txt/: Not a directory (a.txt is a file)") and returns true. A missing path passes:
// each command tells of it in its own way.
bool RefusedAsFolder(const Context& context, const Volume& volume,
                     const std::filesystem::path& path, const std::string& operand);

}  // namespace slhost
