// check-fs FS [--scratch DIR] [--sample PATH] [--threads N]: the SDK's conformance kit against a
// file system of the module, an archive, a remote folder or the SDK's in-memory one.
#include <filesystem>
#include <iostream>
#include <random>
#include <string>

#include "command.h"
#include "mounts.h"
#include "operands.h"
#include "slservices/testing/conformance.hpp"

namespace slhost {

int RunCheckFs(Context& context) {
  const std::string target = context.operands[0];
  sl::sdk::CheckOptions options;
  options.sample = sl::sdk::ToUtf16(context.Value("--sample"));
  if (!context.Value("--threads").empty()) {
    options.threads = static_cast<unsigned>(std::stoul(context.Value("--threads")));
  }
  const std::string scratch = context.Value("--scratch");
  // The default file system takes full paths; the others their own.
  if (!scratch.empty()) {
    options.scratch =
        target == "Default" ? FullPath(OperandPath(scratch)).str() : sl::sdk::ToUtf16(scratch);
  }

  sl::sdk::FileSystemService files(context.module);
  sl::sdk::Ref<SLFileSystem> fs;
  std::filesystem::path madeScratch;
  if (target == "memory") {
    auto memory = sl::sdk::MakeRef<sl::sdk::MemoryFileSystem>(context.module.Atom("Memory"));
    memory->SetFile("/data/sample.txt", std::string(20000, 'm') + "\nthe memory sample\n");
    memory->SetFile("/scratch/.keep", "");
    if (options.sample.empty()) options.sample = u"/data/sample.txt";
    if (options.scratch.empty()) options.scratch = u"/scratch";
    fs = sl::sdk::Ref<SLFileSystem>::Share(memory->table());
  } else if (IsSource(target)) {  // zip:PATH, sftp://...
    fs = OpenSource(context, "check-fs", target);
  } else {
    if (IsMounted(target) && !Locate(context, files, target + ":")) {
      return kEntryFailed;
    }
    fs = files.Find(context.module.Atom(target.c_str())).ref();
    if (target == "Default" && options.scratch.empty()) {
      madeScratch = std::filesystem::temp_directory_path() /
                    ("slhost-check-fs-" + std::to_string(std::random_device()()));
      std::filesystem::create_directories(madeScratch);
      options.scratch = FullPath(madeScratch).str();
    }
  }
  const int failures = sl::sdk::CheckFileSystem(fs.get(), options, std::cout);
  std::cout.flush();
  if (!madeScratch.empty()) {
    std::error_code ignored;
    std::filesystem::remove_all(madeScratch, ignored);
  }
  return failures == 0 ? kOk : kEntryFailed;
}

}  // namespace slhost
