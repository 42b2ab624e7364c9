#include "command.h"

#include <algorithm>
#include <cstdio>

namespace slhost {

namespace {

constexpr char16_t kSeparator = std::filesystem::path::preferred_separator;

const Command* Lookup(const std::string& name) {
  for (const Command& command : Commands()) {
    if (name == command.name) return &command;
  }
  return nullptr;
}

}  // namespace

int UsageError(const Context& context, const std::string& message) {
  std::fprintf(stderr, "slhost %s: %s\n", context.command.c_str(), message.c_str());
  if (const Command* command = Lookup(context.command)) {
    std::fprintf(stderr, "usage: slhost [--module PATH] %s\n", command->synopsis);
  }
  return kUsage;
}

int EntryFailed(const Context& context, const std::string& subject,
                const sl::sdk::ServiceError& error) {
  std::fprintf(stderr, "slhost %s: %s%s%s\n  %s: %s\n", context.command.c_str(), subject.c_str(),
               subject.empty() ? "" : ": ", error.what(), sl::sdk::HexCode(error.code()).c_str(),
               sl::sdk::Explain(error.code()));
  return kEntryFailed;
}

bool TakeOptions(Context& context, const std::vector<std::string>& allowed,
                 std::vector<std::string>* options) {
  auto& args = context.args;
  while (!args.empty() && args.front().size() > 1 && args.front()[0] == '-') {
    const std::string option = args.front();
    args.erase(args.begin());
    if (option == "--") break;
    if (std::find(allowed.begin(), allowed.end(), option) == allowed.end()) {
      UsageError(context, "unknown option " + option);
      return false;
    }
    options->push_back(option);
  }
  return true;
}

bool Has(const std::vector<std::string>& options, const char* option) {
  return std::find(options.begin(), options.end(), option) != options.end();
}

sl::sdk::Path16 FullPath(const std::string& argument) {
  const std::filesystem::path path = sl::sdk::ToPath(sl::sdk::ToUtf16(argument));
  std::error_code error;
  std::filesystem::path full = std::filesystem::absolute(path, error);
  return error ? path : full.make_preferred();
}

bool IsFolder(const sl::sdk::FileSystem& fs, const sl::sdk::Path16& path) {
  std::u16string pattern = path.str();
  if (pattern.empty()) return false;
  if (pattern.back() != u'/' && pattern.back() != u'\\') pattern += kSeparator;
  pattern += u'*';
  // A folder's search finds at least "." on the default file system; a file's finds nothing.
  return sl::sdk::Try([&] { fs.Search(pattern); }).ok();
}

}  // namespace slhost
