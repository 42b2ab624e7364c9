// ls, mkdir and rmdir: folders and search on the default file system, or on a file system
// mounted with --fs (an archive, a remote folder).
#include <algorithm>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "command.h"
#include "diagnosis.h"
#include "nodes.h"
#include "operands.h"
#include "output.h"

namespace slhost {

namespace fs = std::filesystem;

int RunLs(Context& context) {
  sl::sdk::FileSystemService files(context.module);
  const std::string& operand = context.operands[0];
  const std::optional<Located> at = Locate(context, files, operand);
  if (!at) return kEntryFailed;
  const Volume& volume = at->volume;
  const fs::path& path = at->path;
  if (RefusedAsFolder(context, volume, path, operand)) return kEntryFailed;
  const std::string last = Shown(path.filename());
  const bool wildcard = last.find_first_of("*?") != std::string::npos;
  // A folder's name lists the folder; a search for it alone would find just its name.
  const bool folder = !wildcard && Probe(volume).IsFolder(path);
  const sl::sdk::Path16 search = folder ? volume.Pattern(path) : volume.Full(path);

  std::vector<std::u16string> names;
  const sl::sdk::Outcome found = sl::sdk::Try([&] { names = volume.fs().Search(search); });
  if (!found) {
    // The search answers 3 whether the folder is missing, may not be read, or holds nothing
    // that matches: the folder tells which.
    Finding why;
    if (folder) {
      why = Why(volume, path, Action::kList, found.code);
    } else if (wildcard) {
      const fs::path parent = path.parent_path().empty() ? fs::path(".") : path.parent_path();
      why = Why(volume, parent, Action::kList, found.code);
      if (why.why.empty()) why.why = "nothing in " + volume.Show(parent) + " matches " + last;
    } else {
      why = Why(volume, path, Action::kLook, found.code);
    }
    return EntryFailed(context, operand, why.why, ErrorOf(found));
  }
  std::sort(names.begin(), names.end());
  for (const std::u16string& name : names) {
    if (!context.Has(kAll) && (name == u"." || name == u"..")) continue;
    const std::string line = Shown(sl::sdk::ToPath(name)) + "\n";
    if (!output::Write(line.data(), line.size())) return OutputFailed(context);
  }
  return output::Flush() ? kOk : OutputFailed(context);
}

int RunMkdir(Context& context) {
  sl::sdk::FileSystemService files(context.module);
  const bool parents = context.Has(kParents);
  return ForEachOperand(
      context, files, [&](const Volume& volume, const fs::path& path, const std::string&) -> int {
        const sl::sdk::Path16 full = volume.Full(path);
        const sl::sdk::Outcome made = sl::sdk::Try([&] {
          if (parents) {
            volume.fs().CreateAllFolders(full);
          } else {
            volume.fs().CreateFolder(full);
          }
        });
        if (made || (parents && made.code == SL_ALREADY_EXISTS && Probe(volume).IsFolder(path))) {
          return kOk;
        }
        return EntryFailed(context, volume.Show(path),
                           Why(volume, path, Action::kCreateFolder, made.code).why, ErrorOf(made));
      });
}

int RunRmdir(Context& context) {
  sl::sdk::FileSystemService files(context.module);
  return ForEachOperand(
      context, files, [&](const Volume& volume, const fs::path& path, const std::string&) -> int {
        const sl::sdk::Outcome removed =
            sl::sdk::Try([&] { volume.fs().RemoveFolder(volume.Full(path)); });
        if (removed) return kOk;
        return EntryFailed(context, volume.Show(path),
                           Why(volume, path, Action::kRemoveFolder, removed.code).why,
                           ErrorOf(removed));
      });
}

}  // namespace slhost
