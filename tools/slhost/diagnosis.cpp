#include "diagnosis.h"

#include "command.h"

namespace slhost {

namespace {

namespace fs = std::filesystem;

// The folder that holds `path`: "." for a bare name.
fs::path FolderOf(const fs::path& path) {
  const fs::path parent = path.parent_path();
  return parent.empty() ? fs::path(".") : parent;
}

std::string Count(size_t n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

}  // namespace

bool Probe::Exists(const fs::path& path) const {
  bool exists = false;
  sl::sdk::Try([&] { exists = volume_.fs().Exists(volume_.Full(path)); });
  return exists;
}

bool Probe::IsFolder(const fs::path& path) const {
  if (volume_.IsMount()) {
    return sl::sdk::Try([&] { volume_.fs().Search(volume_.Pattern(path)); }).ok();
  }
  bool folder = false;
  sl::sdk::Try([&] { folder = volume_.fs().Exists(volume_.Pattern(path, u"")); });
  return folder;
}

std::optional<std::vector<std::u16string>> Probe::List(const fs::path& folder) const {
  std::vector<std::u16string> names;
  if (!sl::sdk::Try([&] { names = volume_.fs().Search(volume_.Pattern(folder)); })) {
    return std::nullopt;
  }
  std::vector<std::u16string> entries;
  for (std::u16string& name : names) {
    if (name != u"." && name != u"..") entries.push_back(std::move(name));
  }
  return entries;
}

Finding WayTo(const Volume& volume, const fs::path& path) {
  const Probe probe(volume);
  const fs::path parent = path.parent_path();
  if (parent.empty() || parent == path) return {};  // the current folder, or the root
  // Up from the parent to the nearest folder that exists; `missing` ends as the topmost part
  // that does not.
  fs::path missing;
  fs::path at = parent;
  while (!probe.Exists(at)) {
    missing = at;
    const fs::path up = at.parent_path();
    if (up.empty() || up == at) {
      at.clear();
      break;
    }
    at = up;
  }
  if (missing.empty()) {
    if (!probe.IsFolder(parent)) return {volume.Show(parent) + " is a file, not a folder"};
    return {};
  }
  if (!at.empty()) {
    if (!probe.IsFolder(at)) return {volume.Show(at) + " is a file, not a folder"};
    if (!probe.List(at)) {
      return {"folder " + volume.Show(at) + " may not be read: " + volume.Show(missing) +
                  " is not there or cannot be reached",
              true};
    }
  }
  return {"folder " + volume.Show(missing) + " does not exist"};
}

Finding Why(const Volume& volume, const fs::path& path, Action action, SLResult code) {
  const Probe probe(volume);
  // A mounted file system refuses a path it cannot take (one that climbs above its root) before
  // looking for anything, and says so itself; and an archive never takes a change.
  if (volume.IsMount() && code == SL_INVALID_ARGUMENT && action != Action::kList) return {};
  if (volume.IsArchive() && code == SL_ACCESS_DENIED && action != Action::kRead &&
      action != Action::kLook && action != Action::kList) {
    return {"archive " + volume.mount() + " is read-only"};
  }
  // A remote folder whose connection is lost fails every call at once, the probes too: nothing
  // more can be found out. The entry's record tells why (the server closed the connection, or
  // did not answer in time); when the entry failed for a reason of its own just before the loss
  // (RemoveFile given a folder), the root's record does.
  if (volume.IsRemote()) {
    const sl::sdk::Outcome root = sl::sdk::Try([&] { volume.fs().Exists(volume.Full("/")); });
    if (!root) {
      std::string why = "remote folder " + volume.mount() + " cannot be reached any more";
      if (code != SL_OS_FAILURE) why += ": " + root.message;
      return {why};
    }
  }
  Finding way = WayTo(volume, path);
  if (!way.why.empty()) return way;
  const std::string name = volume.Show(path);

  if (!probe.Exists(path)) {
    const fs::path folder = FolderOf(path);
    if (!probe.List(folder)) {
      if (action == Action::kCreate || action == Action::kCreateFolder) {
        return {"folder " + volume.Show(folder) + " may not be read, nor written", true};
      }
      return {"folder " + volume.Show(folder) + " may not be read: " + name +
                  " is not there or cannot be reached",
              true};
    }
    switch (action) {
      case Action::kCreate:
        return {code == SL_ACCESS_DENIED
                    ? "you may not create files in folder " + volume.Show(folder)
                    : ""};
      case Action::kCreateFolder:
        return {code == SL_ACCESS_DENIED
                    ? "you may not create folders in folder " + volume.Show(folder)
                    : ""};
      case Action::kList:
        return {"folder " + name + " does not exist"};
      case Action::kRemoveFolder:
        return {"no such folder"};
      case Action::kLook:
        return {"no such file or folder"};
      default:
        return {"no such file"};
    }
  }

  const bool folder = probe.IsFolder(path);
  const std::string inUse = name + " is in use: another program (or this one) holds it open";
  switch (action) {
    case Action::kLook:
      return {};
    case Action::kRead:
      if (folder) return {name + " is a folder, not a file"};
      if (code == SL_ACCESS_DENIED) return {"you may not read " + name};
      return {code == SL_OS_FAILURE ? inUse : ""};
    case Action::kCreate:
      if (folder) return {name + " is a folder, not a file"};
      if (code == SL_ACCESS_DENIED) return {name + " is read-only, or you may not write it"};
      return {code == SL_OS_FAILURE ? inUse : ""};
    case Action::kRemoveFile:
      if (folder) return {name + " is a folder: rmdir removes an empty one, rm -r a whole tree"};
      if (code == SL_ACCESS_DENIED) return {name + " is read-only, or you may not remove it"};
      return {code == SL_OS_FAILURE ? inUse : ""};
    case Action::kCreateFolder:
      return {folder ? "folder " + name + " already exists"
                     : "a file named " + name + " is in the way"};
    case Action::kRemoveFolder:
    case Action::kList: {
      if (!folder) return {name + " is a file, not a folder"};
      const auto entries = probe.List(path);
      if (!entries) return {"folder " + name + " may not be read", true};
      if (action == Action::kList) return {};
      if (!entries->empty()) {
        return {"folder " + name + " is not empty: it holds " +
                Count(entries->size(), "entry", "entries")};
      }
      if (code == SL_ACCESS_DENIED) return {"you may not remove folder " + name};
      return {code == SL_OS_FAILURE ? inUse : ""};
    }
  }
  return {};
}

}  // namespace slhost
