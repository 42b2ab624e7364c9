#include "archive.h"

#include <cstdio>
#include <iostream>
#include <map>
#include <memory>
#include <random>

#include "slservices/sdk/zip.hpp"
#include "slservices/testing/conformance.hpp"

namespace slhost {

namespace {

// The zip library and the archives opened with it (declared after it: they go first).
struct Mounts {
  std::unique_ptr<sl::sdk::ZipArchives> library;
  std::map<std::string, std::string> paths;  // NAME -> archive path (UTF-8)
  std::map<std::string, sl::sdk::Ref<SLFileSystem>> opened;
};
Mounts& TheMounts() {
  static Mounts mounts;
  return mounts;
}

// libslzip.so beside slhost, else in ../lib (the installed layout).
const sl::sdk::ZipArchives& Library() {
  Mounts& mounts = TheMounts();
  if (!mounts.library) {
    const std::filesystem::path beside = sl::sdk::ZipArchives::BesideExecutable();
    const std::filesystem::path installed =
        beside.parent_path().parent_path() / "lib" / sl::sdk::ZipArchives::DefaultFileName();
    std::error_code ignored;
    mounts.library = sl::sdk::ZipArchives::Open(std::filesystem::exists(beside, ignored) ||
                                                        !std::filesystem::exists(installed, ignored)
                                                    ? beside
                                                    : installed);
  }
  return *mounts.library;
}

sl::sdk::Ref<SLFileSystem> OpenZip(const Context& context, const std::string& name,
                                   const std::string& path) {
  return Library().OpenArchive(path, context.module.Atom(name.c_str()));
}

}  // namespace

bool AddMount(const std::string& spec, std::string* error) {
  const size_t equals = spec.find('=');
  const std::string name = spec.substr(0, equals);
  if (equals == std::string::npos || spec.compare(equals + 1, 4, "zip:") != 0 ||
      spec.size() == equals + 5) {
    *error = "--fs takes NAME=zip:PATH, not " + spec;
  } else if (name.size() < 2 || name.find_first_of(":/\\") != std::string::npos) {
    *error = "--fs NAME must be two characters or more, without ':', '/' or '\\'";
  } else {
    TheMounts().paths[name] = spec.substr(equals + 5);
    return true;
  }
  return false;
}

std::optional<Located> Locate(const Context& context, const sl::sdk::FileSystemService& files,
                              const std::string& operand) {
  Mounts& mounts = TheMounts();
  const size_t colon = operand.find(':');
  const auto mount =
      colon == std::string::npos ? mounts.paths.end() : mounts.paths.find(operand.substr(0, colon));
  if (mount == mounts.paths.end()) return Located{Volume(files.Default()), OperandPath(operand)};
  // Inside the archive every path starts at its root: "ar:data" is "/data".
  std::filesystem::path inner = OperandPath(operand.substr(colon + 1));
  if (!inner.has_root_directory()) inner = std::filesystem::path("/") / inner;
  try {
    sl::sdk::Ref<SLFileSystem>& archive = mounts.opened[mount->first];
    if (!archive) archive = OpenZip(context, mount->first, mount->second);
    // Through the registry, as any host finds a file system by name.
    const uint32_t atom = context.module.Atom(mount->first.c_str());
    if (!sl::sdk::Try([&] { files.Find(atom); })) files.Register(archive.get());
    return Located{Volume(files.Find(atom), mount->first), inner};
  } catch (const std::exception& error) {  // no archive there, or no zip library
    Report(context, "cannot open archive " + mount->first + ": " + error.what());
    return std::nullopt;
  }
}

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
  } else if (target.rfind("zip:", 0) == 0) {
    fs = OpenZip(context, "check-fs", target.substr(4));
  } else {
    if (TheMounts().paths.count(target) != 0 && !Locate(context, files, target + ":")) {
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
