#include "command.h"

#include <algorithm>
#include <cstdio>

#include "output.h"

namespace slhost {

int Report(const Context& context, const std::string& message, int code) {
  std::fprintf(stderr, "slhost %s: %s\n", context.command.c_str(), message.c_str());
  return code;
}

std::string FailureText(const std::string& shown, const std::string& why,
                        const sl::sdk::ServiceError& error) {
  const std::string where = shown.empty() ? "" : shown + ": ";
  // With nothing more found out, the code's general meaning has to do.
  if (why.empty()) return where + error.what() + " (" + sl::sdk::Explain(error.code()) + ")";
  return where + why + " (" + error.what() + ")";
}

int EntryFailed(const Context& context, const std::string& shown, const std::string& why,
                const sl::sdk::ServiceError& error) {
  return Report(context, FailureText(shown, why, error));
}

namespace {
bool outputFailed = false;
}  // namespace

int OutputFailed(const Context& context) {
  if (!outputFailed) Report(context, "standard output: " + output::LastError());
  outputFailed = true;
  return kEntryFailed;
}

bool OutputHasFailed() { return outputFailed; }

std::filesystem::path OperandPath(const std::string& operand) {
  // The command line holds UTF-8 on every system (console::Utf8Arguments); u8path keeps the
  // bytes as they are elsewhere, and PathToUtf16 then makes the module's form of them.
  std::filesystem::path path = std::filesystem::u8path(operand);
  // "notes/" is the folder notes: its parent is the one holding notes.
  while (!path.has_filename() && path.has_relative_path()) path = path.parent_path();
  return path;
}

std::string Shown(const std::filesystem::path& path) {
  try {
    return path.u8string();
  } catch (const std::exception&) {  // a name no UTF-8 can hold (a lone surrogate on Windows)
    return sl::sdk::ToUtf8(sl::sdk::PathToUtf16(path));
  }
}

std::filesystem::path Child(const std::filesystem::path& folder,
                            const std::filesystem::path& name) {
  // Joined with '/', which every system takes, so a message spells the child the way the
  // command line spelled its folder ("tree/a/b.txt"; `/` would use '\' on Windows).
  std::filesystem::path child = folder;
  if (!child.empty() && child.has_filename()) child += "/";
  return child += name;
}

std::filesystem::path Child(const std::filesystem::path& folder, const std::u16string& name) {
  return Child(folder, sl::sdk::ToPath(name));
}

sl::sdk::Path16 FullPath(const std::filesystem::path& path) {
  std::error_code error;
  std::filesystem::path full = std::filesystem::absolute(path, error);
  return sl::sdk::PathToUtf16(error ? path : full.make_preferred());
}

sl::sdk::Path16 FolderPattern(const std::filesystem::path& folder, std::u16string_view pattern) {
  std::u16string full = FullPath(folder).str();
  if (full.empty() || (full.back() != u'/' && full.back() != u'\\')) {
    full += static_cast<char16_t>(std::filesystem::path::preferred_separator);
  }
  return full.append(pattern);
}

sl::sdk::Path16 Volume::Full(const std::filesystem::path& path) const {
  // Inside an archive names are plain text: '*' and '?' stay wildcards.
  return IsMount() ? sl::sdk::Path16(sl::sdk::ToUtf16(path.generic_u8string())) : FullPath(path);
}

sl::sdk::Path16 Volume::Pattern(const std::filesystem::path& folder,
                                std::u16string_view pattern) const {
  if (!IsMount()) return FolderPattern(folder, pattern);
  std::u16string full = Full(folder).str();
  if (full.empty() || full.back() != u'/') full += u'/';
  return full.append(pattern);
}

std::string Volume::Show(const std::filesystem::path& path) const {
  if (!IsMount()) return Shown(path);
  std::string inner = path.generic_u8string();
  inner.erase(0, std::min(inner.find_first_not_of('/'), inner.size()));
  return mount_ + ":" + inner;
}

}  // namespace slhost
