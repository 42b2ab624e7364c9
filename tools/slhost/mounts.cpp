#include "mounts.h"

#include <filesystem>
#include <map>
#include <memory>
#include <string_view>

#include "slservices/sdk/sftp.hpp"
#include "slservices/sdk/zip.hpp"

namespace slhost {

namespace {

constexpr std::string_view kZip = "zip:";
constexpr std::string_view kSftp = "sftp://";

// "zip:a.zip" starts with kZip; "zip:" alone names nothing.
bool StartsWith(const std::string& text, std::string_view start) {
  return text.size() > start.size() && text.compare(0, start.size(), start) == 0;
}

// The libraries and the file systems opened with them (declared after them: they go first).
struct Mounts {
  std::unique_ptr<sl::sdk::ZipArchives> zip;
  std::unique_ptr<sl::sdk::SftpConnections> sftp;
  std::map<std::string, std::string> sources;  // NAME -> "zip:PATH" or "sftp://..." (UTF-8)
  std::map<std::string, sl::sdk::Ref<SLFileSystem>> opened;
};
Mounts& TheMounts() {
  static Mounts mounts;
  return mounts;
}

// A library beside slhost, else in ../lib (the installed layout), loaded on first use.
template <class Library>
const Library& Loaded(std::unique_ptr<Library>* slot) {
  if (!*slot) {
    const std::filesystem::path beside = Library::BesideExecutable();
    const std::filesystem::path installed =
        beside.parent_path().parent_path() / "lib" / Library::DefaultFileName();
    std::error_code ignored;
    *slot = Library::Open(std::filesystem::exists(beside, ignored) ||
                                  !std::filesystem::exists(installed, ignored)
                              ? beside
                              : installed);
  }
  return **slot;
}

}  // namespace

bool IsSource(const std::string& text) { return StartsWith(text, kZip) || StartsWith(text, kSftp); }

sl::sdk::Ref<SLFileSystem> OpenSource(const Context& context, const std::string& name,
                                      const std::string& source) {
  const uint32_t atom = context.module.Atom(name.c_str());
  if (StartsWith(source, kSftp)) return Loaded(&TheMounts().sftp).Connect(source, atom);
  return Loaded(&TheMounts().zip).OpenArchive(source.substr(kZip.size()), atom);
}

bool AddMount(const std::string& spec, std::string* error) {
  const size_t equals = spec.find('=');
  const std::string name = spec.substr(0, equals);
  if (equals == std::string::npos || !IsSource(spec.substr(equals + 1))) {
    *error = "--fs takes NAME=zip:PATH or NAME=sftp://[USER@]HOST[:PORT][/PATH], not " + spec;
  } else if (name.size() < 2 || name.find_first_of(":/\\") != std::string::npos) {
    *error = "--fs NAME must be two characters or more, without ':', '/' or '\\'";
  } else {
    TheMounts().sources[name] = spec.substr(equals + 1);
    return true;
  }
  return false;
}

void CloseMounts() {
  Mounts& mounts = TheMounts();
  mounts.opened.clear();
  mounts.zip.reset();
  mounts.sftp.reset();
}

bool IsMounted(const std::string& name) { return TheMounts().sources.count(name) != 0; }

std::string MountedWhat(const std::string& name) {
  return StartsWith(TheMounts().sources.at(name), kSftp) ? "remote folder" : "archive";
}

Volume Mounted(const Context& context, const sl::sdk::FileSystemService& files,
               const std::string& name) {
  Mounts& mounts = TheMounts();
  const std::string& source = mounts.sources.at(name);
  sl::sdk::Ref<SLFileSystem>& opened = mounts.opened[name];
  if (!opened) opened = OpenSource(context, name, source);
  const uint32_t atom = context.module.Atom(name.c_str());
  if (!sl::sdk::Try([&] { files.Find(atom); })) files.Register(opened.get());
  return Volume(files.Find(atom), name,
                StartsWith(source, kSftp) ? Volume::kRemote : Volume::kArchive);
}

}  // namespace slhost
