#include "archive.h"

#include <map>
#include <memory>

#include "slservices/sdk/zip.hpp"

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

}  // namespace

sl::sdk::Ref<SLFileSystem> OpenZip(const Context& context, const std::string& name,
                                   const std::string& path) {
  return Library().OpenArchive(path, context.module.Atom(name.c_str()));
}

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

bool IsMounted(const std::string& name) { return TheMounts().paths.count(name) != 0; }

sl::sdk::FileSystem Mounted(const Context& context, const sl::sdk::FileSystemService& files,
                            const std::string& name) {
  Mounts& mounts = TheMounts();
  sl::sdk::Ref<SLFileSystem>& archive = mounts.opened[name];
  if (!archive) archive = OpenZip(context, name, mounts.paths.at(name));
  const uint32_t atom = context.module.Atom(name.c_str());
  if (!sl::sdk::Try([&] { files.Find(atom); })) files.Register(archive.get());
  return files.Find(atom);
}

}  // namespace slhost
