#include "nodes.h"

#include <algorithm>

#include "diagnosis.h"

namespace slhost {

namespace {

namespace fs = std::filesystem;

Kind KindOf(fs::file_type type) {
  switch (type) {
    case fs::file_type::regular:
      return Kind::kFile;
    case fs::file_type::directory:
      return Kind::kFolder;
    case fs::file_type::symlink:
      return Kind::kLink;
    case fs::file_type::fifo:
      return Kind::kFifo;
    case fs::file_type::socket:
      return Kind::kSocket;
    case fs::file_type::block:
    case fs::file_type::character:
      return Kind::kDevice;
    case fs::file_type::not_found:
      return Kind::kMissing;
    default:
      return Kind::kUnknown;
  }
}

fs::path Normal(const fs::path& path) {
  std::error_code ignored;
  return fs::absolute(path, ignored).lexically_normal();
}

// By the names alone: "a/b" lies in "a".
bool IsWithinByName(const fs::path& inner, const fs::path& outer) {
  const fs::path a = Normal(inner);
  const fs::path b = Normal(outer);
  return std::mismatch(b.begin(), b.end(), a.begin(), a.end()).first == b.end();
}

}  // namespace

Node Look(const Volume& volume, const fs::path& path, bool follow) {
  if (volume.IsMount()) {
    const Probe probe(volume);
    if (!probe.Exists(path)) return {Kind::kMissing, {}};
    if (probe.IsFolder(path)) return {Kind::kFolder, {}};
    Node node{Kind::kFile, {}};
    sl::sdk::Try([&] { node.size = volume.fs().Open(volume.Full(path), SL_OPEN_READ).Size(); });
    return node;
  }
  std::error_code error;
  const fs::file_status status = follow ? fs::status(path, error) : fs::symlink_status(path, error);
  Node node{KindOf(status.type()), {}};
  if (node.kind == Kind::kFile) {
    const uintmax_t size = fs::file_size(path, error);
    if (!error) node.size = size;
  }
  return node;
}

const char* KindName(Kind kind) {
  switch (kind) {
    case Kind::kFile:
      return "file";
    case Kind::kFolder:
      return "folder";
    case Kind::kLink:
      return "link";
    case Kind::kFifo:
      return "FIFO";
    case Kind::kSocket:
      return "socket";
    case Kind::kDevice:
      return "device";
    case Kind::kMissing:
      return "nothing";
    case Kind::kUnknown:
      break;
  }
  return "unknown";
}

bool IsWithin(const Volume& volume, const fs::path& inner, const fs::path& outer) {
  if (volume.IsMount()) return IsWithinByName(inner, outer);
  // The folders on the way to `inner`, links and ".." resolved as far as they exist, each
  // compared with `outer` by identity.
  std::error_code error;
  const fs::path resolved = fs::weakly_canonical(fs::absolute(inner, error), error);
  if (error) return IsWithinByName(inner, outer);
  for (fs::path at = resolved; !at.empty(); at = at.parent_path()) {
    std::error_code ignored;
    if (fs::equivalent(at, outer, ignored)) return true;
    if (at == at.parent_path()) break;
  }
  return false;
}

bool IsSameFile(const Volume& volume, const fs::path& a, const fs::path& b) {
  if (volume.IsMount()) return Normal(a) == Normal(b);
  std::error_code error;
  return fs::equivalent(a, b, error) && !error;
}

bool NamesFolder(const std::string& operand) {
  if (operand.empty()) return false;
  const char last = operand.back();
  return last == '/' || (last == '\\' && fs::path::preferred_separator == '\\');
}

bool RefusedAsFolder(const Context& context, const Volume& volume, const fs::path& path,
                     const std::string& operand) {
  if (!NamesFolder(operand)) return false;
  const Kind kind = Look(volume, path, true).kind;
  if (kind == Kind::kFolder || kind == Kind::kMissing || kind == Kind::kUnknown) return false;
  Report(context,
         operand + ": Not a directory (" + volume.Show(path) + " is a " + KindName(kind) + ")");
  return true;
}

}  // namespace slhost
