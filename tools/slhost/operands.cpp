#include "operands.h"

#include <exception>

#include "archive.h"

namespace slhost {

std::optional<Located> Locate(const Context& context, const sl::sdk::FileSystemService& files,
                              const std::string& operand) {
  const size_t colon = operand.find(':');
  const std::string name = colon == std::string::npos ? "" : operand.substr(0, colon);
  if (!IsMounted(name)) return Located{Volume(files.Default()), OperandPath(operand)};
  // Inside the archive every path starts at its root: "ar:data" is "/data".
  std::filesystem::path inner = OperandPath(operand.substr(colon + 1));
  if (!inner.has_root_directory()) inner = std::filesystem::path("/") / inner;
  try {
    return Located{Volume(Mounted(context, files, name), name), inner};
  } catch (const std::exception& error) {  // no archive there, or no zip library
    Report(context, "cannot open archive " + name + ": " + error.what());
    return std::nullopt;
  }
}

}  // namespace slhost
