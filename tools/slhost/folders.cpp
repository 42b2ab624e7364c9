// ls, mkdir and rmdir: folders and search on the default file system.
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "archive.h"
#include "command.h"

namespace slhost {

int RunLs(Context& context) {
  std::vector<std::string> options;
  if (!TakeOptions(context, {"-a"}, &options)) return kUsage;
  if (context.args.size() != 1) return UsageError(context, "expected one PATTERN");
  sl::sdk::FileSystemService files(context.module);
  const std::string& pattern = context.args[0];
  const Located at = Locate(context, files, pattern);
  const sl::sdk::FileSystem& fs = at.fs;
  std::u16string search = at.path.str();
  const bool wildcard = pattern.find_first_of("*?") != std::string::npos;
  if (!wildcard && IsFolder(fs, search)) {
    search += static_cast<char16_t>(std::filesystem::path::preferred_separator);
    search += u'*';
  }

  std::vector<std::u16string> names;
  try {
    names = fs.Search(search);
  } catch (const sl::sdk::ServiceError& error) {
    return EntryFailed(context, pattern, error);
  }
  std::sort(names.begin(), names.end());
  for (const std::u16string& name : names) {
    if (!Has(options, "-a") && (name == u"." || name == u"..")) continue;
    std::printf("%s\n", sl::sdk::ToUtf8(name).c_str());
  }
  return kOk;
}

int RunMkdir(Context& context) {
  std::vector<std::string> options;
  if (!TakeOptions(context, {"-p"}, &options)) return kUsage;
  if (context.args.empty()) return UsageError(context, "no folder given");
  sl::sdk::FileSystemService files(context.module);
  const sl::sdk::FileSystem fs = files.Default();
  const bool parents = Has(options, "-p");
  int status = kOk;
  for (const std::string& name : context.args) {
    const sl::sdk::Path16 path = FullPath(name);
    const sl::sdk::Outcome made = sl::sdk::Try([&] {
      if (parents) {
        fs.CreateAllFolders(path);
      } else {
        fs.CreateFolder(path);
      }
    });
    if (made || (parents && made.code == SL_ALREADY_EXISTS && IsFolder(fs, path))) continue;
    status =
        EntryFailed(context, name, sl::sdk::ServiceError(made.code, made.message, made.record));
  }
  return status;
}

int RunRmdir(Context& context) {
  if (context.args.empty()) return UsageError(context, "no folder given");
  sl::sdk::FileSystemService files(context.module);
  const sl::sdk::FileSystem fs = files.Default();
  int status = kOk;
  for (const std::string& name : context.args) {
    const sl::sdk::Outcome removed = sl::sdk::Try([&] { fs.RemoveFolder(FullPath(name)); });
    if (!removed) {
      status = EntryFailed(context, name,
                           sl::sdk::ServiceError(removed.code, removed.message, removed.record));
    }
  }
  return status;
}

}  // namespace slhost
