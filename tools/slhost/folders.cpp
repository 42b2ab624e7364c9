// ls, mkdir and rmdir: folders and search on the default file system.
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "command.h"
#include "diagnosis.h"
#include "output.h"

namespace slhost {

namespace fs = std::filesystem;

int RunLs(Context& context) {
  sl::sdk::FileSystemService files(context.module);
  const sl::sdk::FileSystem fs = files.Default();
  const std::string& operand = context.operands[0];
  const fs::path path = OperandPath(operand);
  const std::string last = Shown(path.filename());
  const bool wildcard = last.find_first_of("*?") != std::string::npos;
  // A folder's name lists the folder; a search for it alone would find just its name.
  const bool folder = !wildcard && Probe(fs).IsFolder(path);
  const sl::sdk::Path16 search = folder ? FolderPattern(path) : FullPath(path);

  std::vector<std::u16string> names;
  const sl::sdk::Outcome found = sl::sdk::Try([&] { names = fs.Search(search); });
  if (!found) {
    // The search answers 3 whether the folder is missing, may not be read, or holds nothing
    // that matches: the folder tells which.
    Finding why;
    if (folder) {
      why = Why(fs, path, Action::kList, found.code);
    } else if (wildcard) {
      const fs::path parent = path.parent_path().empty() ? fs::path(".") : path.parent_path();
      why = Why(fs, parent, Action::kList, found.code);
      if (why.why.empty()) why.why = "nothing in " + Shown(parent) + " matches " + last;
    } else {
      why = Why(fs, path, Action::kLook, found.code);
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
  const sl::sdk::FileSystem fs = files.Default();
  const bool parents = context.Has(kParents);
  int status = kOk;
  for (const std::string& operand : context.operands) {
    const fs::path path = OperandPath(operand);
    const sl::sdk::Path16 full = FullPath(path);
    const sl::sdk::Outcome made = sl::sdk::Try([&] {
      if (parents) {
        fs.CreateAllFolders(full);
      } else {
        fs.CreateFolder(full);
      }
    });
    if (made || (parents && made.code == SL_ALREADY_EXISTS && Probe(fs).IsFolder(path))) continue;
    status = EntryFailed(context, Shown(path), Why(fs, path, Action::kCreateFolder, made.code).why,
                         ErrorOf(made));
  }
  return status;
}

int RunRmdir(Context& context) {
  sl::sdk::FileSystemService files(context.module);
  const sl::sdk::FileSystem fs = files.Default();
  int status = kOk;
  for (const std::string& operand : context.operands) {
    const fs::path path = OperandPath(operand);
    const sl::sdk::Outcome removed = sl::sdk::Try([&] { fs.RemoveFolder(FullPath(path)); });
    if (removed) continue;
    status = EntryFailed(context, Shown(path),
                         Why(fs, path, Action::kRemoveFolder, removed.code).why, ErrorOf(removed));
  }
  return status;
}

}  // namespace slhost
