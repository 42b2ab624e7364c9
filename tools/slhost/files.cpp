// cat, stat and rm: files of the default file system or of a file system mounted with --fs,
// through the file system's own entries. ReadFile reports every failure, which a read stream
// could only show as an early end.
#include <cinttypes>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "command.h"
#include "console.h"
#include "diagnosis.h"
#include "nodes.h"
#include "operands.h"
#include "output.h"

namespace slhost {

namespace {

namespace fs = std::filesystem;

constexpr int kMaxDepth = 256;  // folders inside each other; deeper means a link that loops

int CatStandardInput(const Context& context) {
  std::vector<char> block(output::kBlock);
  for (;;) {
    const long long got = console::ReadSome(stdin, block.data(), block.size());
    if (got < 0) return Report(context, "standard input: " + output::LastError());
    if (got == 0) return output::Flush() ? kOk : OutputFailed(context);
    if (!output::Write(block.data(), static_cast<size_t>(got))) return OutputFailed(context);
  }
}

int CatFile(const Context& context, const Located& at) {
  const Volume& volume = at.volume;
  const fs::path& path = at.path;
  sl::sdk::File file;
  try {
    file = volume.fs().Open(volume.Full(path), SL_OPEN_READ);
  } catch (const sl::sdk::ServiceError& error) {
    return EntryFailed(context, volume.Show(path),
                       Why(volume, path, Action::kRead, error.code()).why, error);
  }
  std::vector<char> block(output::kBlock);
  uint64_t moved = 0;
  for (;;) {
    uint64_t got = 0;
    try {
      got = file.Read(block.data(), block.size());
    } catch (const sl::sdk::ServiceError& error) {
      return EntryFailed(context, volume.Show(path),
                         "reading stopped after " + std::to_string(moved) + " bytes", error);
    }
    if (got == 0) break;
    if (!output::Write(block.data(), static_cast<size_t>(got))) return OutputFailed(context);
    moved += got;
  }
  return output::Flush() ? kOk : OutputFailed(context);
}

// Removes a file, or a folder with everything in it; stops at the first failure.
int RemoveTree(const Context& context, const Volume& volume, const fs::path& path, int depth) {
  const sl::sdk::FileSystem& fs = volume.fs();
  const sl::sdk::Path16 full = volume.Full(path);
  // A file, or a link: removed as itself, never followed.
  const sl::sdk::Outcome file = sl::sdk::Try([&] { fs.RemoveFile(full); });
  if (file) return kOk;
  const Probe probe(volume);
  if (!probe.IsFolder(path)) {
    return EntryFailed(context, volume.Show(path),
                       Why(volume, path, Action::kRemoveFile, file.code).why, ErrorOf(file));
  }
  // An empty folder, or on Windows a link to a folder, goes at once.
  if (sl::sdk::Try([&] { fs.RemoveFolder(full); })) return kOk;
  if (depth >= kMaxDepth) {
    return Report(context, volume.Show(path) + ": more than " + std::to_string(kMaxDepth) +
                               " folders deep (a link that loops?)");
  }
  std::vector<std::u16string> names;
  const sl::sdk::Outcome listed = sl::sdk::Try([&] { names = fs.Search(volume.Pattern(path)); });
  if (!listed) {
    return EntryFailed(context, volume.Show(path),
                       Why(volume, path, Action::kList, listed.code).why, ErrorOf(listed));
  }
  for (const std::u16string& name : names) {
    if (name == u"." || name == u"..") continue;
    const int status = RemoveTree(context, volume, Child(path, name), depth + 1);
    if (status != kOk) return status;
  }
  const sl::sdk::Outcome folder = sl::sdk::Try([&] { fs.RemoveFolder(full); });
  if (folder) return kOk;
  return EntryFailed(context, volume.Show(path),
                     Why(volume, path, Action::kRemoveFolder, folder.code).why, ErrorOf(folder));
}

}  // namespace

int RunCat(Context& context) {
  sl::sdk::FileSystemService files(context.module);
  int status = kOk;
  for (const std::string& operand : context.operands) {
    int one = kEntryFailed;
    if (IsStandardStream(operand)) {
      one = CatStandardInput(context);
    } else if (const std::optional<Located> at = Locate(context, files, operand)) {
      if (!RefusedAsFolder(context, at->volume, at->path, operand)) one = CatFile(context, *at);
    }
    if (one == kOk) continue;
    status = one;
    if (OutputHasFailed()) break;  // nothing more can be written
  }
  return status;
}

int RunStat(Context& context) {
  sl::sdk::FileSystemService files(context.module);
  return ForEachOperand(
      context, files,
      [&](const Volume& volume, const fs::path& path, const std::string& operand) -> int {
        if (RefusedAsFolder(context, volume, path, operand)) return kEntryFailed;
        int status = kOk;
        std::string text = operand + "\n";
        std::string failure;
        // A link is shown as itself; "link/" is the folder it leads to.
        const Node node = Look(volume, path, NamesFolder(operand));
        switch (node.kind) {
          case Kind::kMissing:
          case Kind::kUnknown: {
            const Finding found = Why(volume, path, Action::kLook, SL_NOT_FOUND);
            text += found.unreadable ? "  exists: unknown\n" : "  exists: no\n";
            if (found.unreadable) failure = volume.Show(path) + ": " + found.why;
            status = kEntryFailed;
            break;
          }
          case Kind::kFile:
            text += "  exists: yes\n  type: file\n";
            try {
              const uint64_t size =
                  node.size ? *node.size : volume.fs().Open(volume.Full(path), SL_OPEN_READ).Size();
              text += "  size: " + std::to_string(size) + " bytes\n";
            } catch (const sl::sdk::ServiceError& error) {
              text += "  size: unknown\n";
              failure = FailureText(volume.Show(path),
                                    Why(volume, path, Action::kRead, error.code()).why, error);
              status = kEntryFailed;
            }
            break;
          case Kind::kLink: {
            std::error_code error;
            const fs::path leadsTo = fs::read_symlink(path, error);
            text += "  exists: yes\n  type: link\n";
            if (!error) text += "  leads to: " + Shown(leadsTo) + "\n";
            break;
          }
          default:
            text += std::string("  exists: yes\n  type: ") + KindName(node.kind) + "\n";
            break;
        }
        // What stat found, then (after it, in that order on a terminal) why it found no more.
        if (!output::Write(text.data(), text.size()) || !output::Flush())
          return OutputFailed(context);
        if (!failure.empty()) Report(context, failure);
        return status;
      });
}

int RunRm(Context& context) {
  sl::sdk::FileSystemService files(context.module);
  const bool recursive = context.Has(kRecursive);
  return ForEachOperand(
      context, files,
      [&](const Volume& volume, const fs::path& path, const std::string& operand) -> int {
        if (RefusedAsFolder(context, volume, path, operand)) return kEntryFailed;
        if (recursive &&
            (path.filename() == "." || path.filename() == ".." || path == path.root_path())) {
          return Report(context, "refusing to remove " + operand + " with all it holds");
        }
        if (recursive) return RemoveTree(context, volume, path, 0) != kOk ? kEntryFailed : kOk;
        const sl::sdk::Outcome removed =
            sl::sdk::Try([&] { volume.fs().RemoveFile(volume.Full(path)); });
        if (removed) return kOk;
        return EntryFailed(context, volume.Show(path),
                           Why(volume, path, Action::kRemoveFile, removed.code).why,
                           ErrorOf(removed));
      });
}

}  // namespace slhost
