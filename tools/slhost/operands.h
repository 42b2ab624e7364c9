// The operands of a command on the file systems they name: "NAME:path" inside an archive or a
// remote folder mounted with --fs, anything else on the default file system.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "command.h"

namespace slhost {

// An operand on its file system: "NAME:inner" for a mounted NAME (opened and registered with
// `files` under NAME's atom on first use, then found there by name), anything else on the
// default file system as OperandPath gives it: a colon counts only after a mounted NAME, so
// "col:on.txt" stays a file name. Nothing, after saying why, when the archive cannot be opened or
// the remote folder reached.
struct Located {
  Volume volume;
  std::filesystem::path path;
};
std::optional<Located> Locate(const Context& context, const sl::sdk::FileSystemService& files,
                              const std::string& operand);

// Runs `each(volume, path, operand)` for every operand in turn, as Locate places it; an operand
// that Locate cannot place (it has said why) fails. Stops once standard output has failed.
// Returns kOk, or the status of the last operand that failed.
template <class Each>
int ForEachOperand(Context& context, const sl::sdk::FileSystemService& files, Each each) {
  int status = kOk;
  for (const std::string& operand : context.operands) {
    const std::optional<Located> at = Locate(context, files, operand);
    const int one = at ? each(at->volume, at->path, operand) : kEntryFailed;
    if (one != kOk) status = one;
    if (OutputHasFailed()) break;
  }
  return status;
}

}  // namespace slhost
