#include "operands.h"

#include <exception>

#include "mounts.h"

namespace slhost {

std::optional<Located> Locate(const Context& context, const sl::sdk::FileSystemService& files,
                              const std::string& operand) {
  const size_t colon = operand.find(':');
  const std::string name = colon == std::string::npos ? "" : operand.substr(0, colon);
  if (!IsMounted(name)) return Located{Volume(files.Default()), OperandPath(operand)};
  // Inside a mounted file system every path starts at its root: "ar:data" is "/data".
  std::filesystem::path inner = OperandPath(operand.substr(colon + 1));
  if (!inner.has_root_directory()) inner = std::filesystem::path("/") / inner;
  try {
    return Located{Mounted(context, files, name), inner};
  } catch (const std::exception& error) {  // no archive or folder there, or no library for it
    Report(context, "cannot open " + MountedWhat(name) + " " + name + ": " + error.what());
    return std::nullopt;
  }
}

}  // namespace slhost
