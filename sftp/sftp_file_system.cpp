#include "sftp_file_system.h"

#include <libssh2.h>
#include <libssh2_sftp.h>

#include "remote_file.h"
#include "slservices/sdk/paths.hpp"

namespace sl::sftp {

namespace {

using Handle = LIBSSH2_SFTP_HANDLE;

bool IsSeparator(char16_t c) { return c == u'/' || c == u'\\'; }

bool IsMissing(const Reply& reply) {
  return !reply.lost &&
         (reply.status == LIBSSH2_FX_NO_SUCH_FILE || reply.status == LIBSSH2_FX_NO_SUCH_PATH);
}

unsigned Length(const std::string& text) { return static_cast<unsigned>(text.size()); }

}  // namespace

sdk::Ref<SftpFileSystem> SftpFileSystem::Connect(const Url& url, const Settings& settings,
                                                 uint32_t nameAtom) {
  std::unique_ptr<Connection> connection = Connection::Open(url, settings);
  const std::string wanted = url.home ? (url.path.empty() ? "." : url.path) : url.path;
  char resolved[4096];
  const Reply found = connection->Run([&](auto*, auto* channel) -> int64_t {
    return libssh2_sftp_symlink_ex(channel, wanted.data(), Length(wanted), resolved,
                                   sizeof(resolved) - 1, LIBSSH2_SFTP_REALPATH);
  });
  const std::string shown = connection->Name() + (url.home ? " ~/" : " ") + url.path;
  if (found.failed) {
    throw sdk::ServiceError(IsMissing(found)                               ? SL_NOT_FOUND
                            : found.status == LIBSSH2_FX_PERMISSION_DENIED ? SL_ACCESS_DENIED
                                                                           : SL_OS_FAILURE,
                            "cannot find the folder " + shown + ": " + found.why);
  }
  const std::string root(resolved, static_cast<size_t>(found.value));
  LIBSSH2_SFTP_ATTRIBUTES attributes{};
  const Reply stat = connection->Run([&](auto*, auto* channel) -> int64_t {
    return libssh2_sftp_stat_ex(channel, root.data(), Length(root), LIBSSH2_SFTP_STAT, &attributes);
  });
  if (stat.failed) {
    throw sdk::ServiceError(IsMissing(stat) ? SL_NOT_FOUND : SL_OS_FAILURE,
                            "cannot find the folder " + shown + ": " + stat.why);
  }
  if (!LIBSSH2_SFTP_S_ISDIR(attributes.permissions)) {
    throw sdk::ServiceError(SL_ACCESS_DENIED, shown + " is a file, not a folder");
  }
  sdk::Ref<SftpFileSystem> fs = sdk::Ref<SftpFileSystem>::Adopt(
      new SftpFileSystem(nameAtom, url, settings, std::move(connection)));
  fs->root_ = root;
  return fs;
}

SftpFileSystem::~SftpFileSystem() {
  CloseOpenFiles();  // their handles go before the connection
}

SLResult SftpFileSystem::Live(std::shared_ptr<Connection>* link) {
  {
    std::lock_guard<std::mutex> guard(connectionLock_);
    *link = connection_;
  }
  if (!(*link)->IsLost()) return SL_OK;
  // Threads that find the connection lost at once wait for the first one's new connection.
  std::lock_guard<std::mutex> one(reconnectLock_);
  {
    std::lock_guard<std::mutex> guard(connectionLock_);
    if (connection_ != *link) {
      *link = connection_;
      return SL_OK;
    }
  }
  const std::string lost = (*link)->HowLost();
  try {
    std::shared_ptr<Connection> fresh = Connection::Open(url_, settings_);
    std::lock_guard<std::mutex> guard(connectionLock_);
    connection_ = fresh;
    *link = std::move(fresh);
    return SL_OK;
  } catch (const sdk::ServiceError& failure) {
    return Fail(SL_OS_FAILURE, lost + "; connecting again failed: " + failure.what());
  }
}

SLResult SftpFileSystem::Failure(const Reply& reply, const std::string& doing,
                                 const std::string& path) {
  SLResult code = SL_OS_FAILURE;
  if (IsMissing(reply)) {
    code = SL_NOT_FOUND;
  } else if (!reply.lost && (reply.status == LIBSSH2_FX_PERMISSION_DENIED ||
                             reply.status == LIBSSH2_FX_WRITE_PROTECT)) {
    code = SL_ACCESS_DENIED;
  } else if (!reply.lost && reply.status == LIBSSH2_FX_FILE_ALREADY_EXISTS) {
    code = SL_ALREADY_EXISTS;
  }
  return Fail(code, doing + " " + path + ": " + reply.why);
}

bool SftpFileSystem::Share(const std::string& path, bool writing) {
  std::lock_guard<std::mutex> guard(sharesLock_);
  Users& users = shares_[path];
  if (users.writer || (writing && users.readers != 0)) {
    if (!users.writer && users.readers == 0) shares_.erase(path);
    return false;
  }
  if (writing) {
    users.writer = true;
  } else {
    ++users.readers;
  }
  return true;
}

void SftpFileSystem::Unshare(const std::string& path, bool writing) {
  std::lock_guard<std::mutex> guard(sharesLock_);
  const auto found = shares_.find(path);
  if (found == shares_.end()) return;
  if (writing) {
    found->second.writer = false;
  } else {
    --found->second.readers;
  }
  if (!found->second.writer && found->second.readers == 0) shares_.erase(found);
}

SLResult SftpFileSystem::Reach(std::u16string_view path, Target* target) {
  if (!sdk::paths::IsUtf16(path)) {
    return Fail(SL_INVALID_ARGUMENT, "the path is not valid UTF-16 (a lone surrogate)");
  }
  const std::optional<std::u16string> key = sdk::paths::Key(path);
  if (!key) return Fail(SL_INVALID_ARGUMENT, "the path climbs above the file system's root");
  target->isRoot = *key == u"/";
  target->remote = target->isRoot ? root_ : (root_ == "/" ? "" : root_) + sdk::ToUtf8(*key);
  return Live(&target->link);
}

std::string SftpFileSystem::ParentOf(const std::string& remote) {
  const size_t slash = remote.rfind('/');
  return slash == 0 || slash == std::string::npos ? "/" : remote.substr(0, slash);
}

SLResult SftpFileSystem::KindOf(Connection& link, const std::string& remote, Kind* kind) {
  LIBSSH2_SFTP_ATTRIBUTES attributes{};
  Reply reply;
  for (const int follow : {LIBSSH2_SFTP_STAT, LIBSSH2_SFTP_LSTAT}) {  // a dangling link: a file
    reply = link.Run([&](auto*, auto* channel) -> int64_t {
      return libssh2_sftp_stat_ex(channel, remote.data(), Length(remote), follow, &attributes);
    });
    if (!IsMissing(reply)) break;
  }
  if (reply.lost) return Failure(reply, "looking at", remote);
  *kind = !reply.failed ? (LIBSSH2_SFTP_S_ISDIR(attributes.permissions) ? Kind::Folder : Kind::File)
          : IsMissing(reply) ? Kind::Missing
                             : Kind::Unknown;
  return SL_OK;
}

SLResult SftpFileSystem::OpenFile(std::u16string_view path, sdk::OpenMode mode,
                                  std::unique_ptr<sdk::FileBase>* file) {
  Target target;
  if (const SLResult code = Reach(path, &target); SL_FAILED(code)) return code;
  if (target.isRoot) return Fail(SL_ACCESS_DENIED, "a folder: " + target.remote);
  const bool writing = mode != sdk::OpenMode::Read;
  if (!Share(target.remote, writing)) {
    return Fail(SL_OS_FAILURE,
                target.remote + (writing ? " is open in this file system already"
                                         : " is open for writing in this file system"));
  }
  const unsigned long flags =
      mode == sdk::OpenMode::Read ? LIBSSH2_FXF_READ
      : mode == sdk::OpenMode::Write
          ? LIBSSH2_FXF_READ | LIBSSH2_FXF_WRITE
          : LIBSSH2_FXF_READ | LIBSSH2_FXF_WRITE | LIBSSH2_FXF_CREAT | LIBSSH2_FXF_TRUNC;
  Handle* handle = nullptr;
  const Reply opened = target.link->Run([&](auto*, auto* channel) -> int64_t {
    handle = libssh2_sftp_open_ex(channel, target.remote.data(), Length(target.remote), flags, 0666,
                                  LIBSSH2_SFTP_OPENFILE);
    return handle != nullptr ? 0 : Connection::kNoPointer;
  });
  // A folder as it fails to open for writing, or opens for reading (the server reads it as a
  // file would), and a missing folder on the way, tell apart what the server's code does not.
  Kind kind = Kind::File;
  SLResult code = SL_OK;
  if (opened.failed && !opened.lost) {
    code = KindOf(*target.link, IsMissing(opened) ? ParentOf(target.remote) : target.remote, &kind);
    if (!SL_FAILED(code) && IsMissing(opened) && kind != Kind::Folder) {
      code = Fail(SL_OS_FAILURE, "opening " + target.remote + ": a folder on the way is missing");
    }
  }
  LIBSSH2_SFTP_ATTRIBUTES attributes{};
  if (!opened.failed && mode != sdk::OpenMode::Create) {
    const Reply stat = target.link->Run(
        [&](auto*, auto*) -> int64_t { return libssh2_sftp_fstat_ex(handle, &attributes, 0); });
    if (stat.failed) code = Failure(stat, "opening", target.remote);
    if (!stat.failed && LIBSSH2_SFTP_S_ISDIR(attributes.permissions)) kind = Kind::Folder;
  }
  if (!SL_FAILED(code) && kind == Kind::Folder && !IsMissing(opened)) {
    code = Fail(SL_ACCESS_DENIED, "a folder: " + target.remote);
  }
  if (!SL_FAILED(code) && opened.failed) code = Failure(opened, "opening", target.remote);
  if (SL_FAILED(code)) {
    if (handle != nullptr) {
      target.link->Release(
          [&](auto*, auto*) -> int64_t { return libssh2_sftp_close_handle(handle); });
    }
    Unshare(target.remote, writing);
    return code;
  }
  *file = std::make_unique<RemoteFile>(*this, target.link, handle, target.remote, writing,
                                       mode == sdk::OpenMode::Create ? 0 : attributes.filesize);
  return SL_OK;
}

SLResult SftpFileSystem::IsFileExists(std::u16string_view path, bool* exists) {
  Target target;
  if (const SLResult code = Reach(path, &target); SL_FAILED(code)) return code;
  LIBSSH2_SFTP_ATTRIBUTES attributes{};
  const Reply reply = target.link->Run([&](auto*, auto* channel) -> int64_t {
    return libssh2_sftp_stat_ex(channel, target.remote.data(), Length(target.remote),
                                LIBSSH2_SFTP_LSTAT, &attributes);
  });
  if (reply.lost) return Failure(reply, "looking for", target.remote);
  *exists = !reply.failed;
  return SL_OK;
}

// One pass over the folder's listing, matched here with the wildcard rules of every file
// system; the server's "." and ".." come with it, as the default file system lists them.
SLResult SftpFileSystem::Search(std::u16string_view pattern, std::vector<std::u16string>* names) {
  if (!pattern.empty() && IsSeparator(pattern.back())) {
    return Fail(SL_INVALID_ARGUMENT, "a pattern that ends in a separator names no entry");
  }
  Target target;
  if (const SLResult code = Reach(pattern, &target); SL_FAILED(code)) return code;
  if (target.isRoot) return Fail(SL_INVALID_ARGUMENT, "an empty pattern");
  const std::string folder = ParentOf(target.remote);
  const std::u16string wanted = sdk::ToUtf16(target.remote.substr(target.remote.rfind('/') + 1));
  Handle* listing = nullptr;
  const Reply opened = target.link->Run([&](auto*, auto* channel) -> int64_t {
    listing =
        libssh2_sftp_open_ex(channel, folder.data(), Length(folder), 0, 0, LIBSSH2_SFTP_OPENDIR);
    return listing != nullptr ? 0 : Connection::kNoPointer;
  });
  if (opened.lost) return Failure(opened, "listing", folder);
  if (opened.failed) return Fail(SL_INVALID_ARGUMENT, "no such folder: " + folder);
  Reply read;
  char name[4096];
  do {
    LIBSSH2_SFTP_ATTRIBUTES attributes{};
    read = target.link->Run([&](auto*, auto*) -> int64_t {
      return libssh2_sftp_readdir_ex(listing, name, sizeof(name), nullptr, 0, &attributes);
    });
    if (read.failed || read.value <= 0) break;
    std::u16string found = sdk::ToUtf16(std::string_view(name, static_cast<size_t>(read.value)));
    if (sdk::paths::Matches(wanted, found)) names->push_back(std::move(found));
  } while (true);
  target.link->Release([&](auto*, auto*) -> int64_t { return libssh2_sftp_close_handle(listing); });
  return read.failed ? Failure(read, "listing", folder) : SL_OK;
}

SLResult SftpFileSystem::MakeFolder(Connection& link, const std::string& remote, bool parents) {
  const Reply made = link.Run([&](auto*, auto* channel) -> int64_t {
    return libssh2_sftp_mkdir_ex(channel, remote.data(), Length(remote), 0777);
  });
  if (!made.failed) return SL_OK;
  if (made.lost) return Failure(made, "making the folder", remote);
  Kind kind = Kind::Missing;
  if (const SLResult code = KindOf(link, remote, &kind); SL_FAILED(code)) return code;
  if (kind == Kind::Folder && parents) return SL_OK;
  if (kind == Kind::Folder || kind == Kind::File) {
    return Fail(SL_ALREADY_EXISTS, "making the folder " + remote + ": " +
                                       (kind == Kind::File ? "a file" : "a folder") +
                                       " of that name exists");
  }
  if (made.status == LIBSSH2_FX_PERMISSION_DENIED || kind != Kind::Missing) {
    return Failure(made, "making the folder", remote);
  }
  const std::string parent = ParentOf(remote);
  if (!parents || parent == remote) {
    return Fail(SL_OS_FAILURE, "making the folder " + remote + ": a folder on the way is missing");
  }
  if (const SLResult code = MakeFolder(link, parent, true); SL_FAILED(code)) {
    // A file on the way is a missing folder for the one asked for.
    return code == SL_ALREADY_EXISTS
               ? Fail(SL_OS_FAILURE, "making the folder " + remote + ": a file is in the way")
               : code;
  }
  return MakeFolder(link, remote, true);
}

SLResult SftpFileSystem::CreateFolder(std::u16string_view path) {
  Target target;
  if (const SLResult code = Reach(path, &target); SL_FAILED(code)) return code;
  if (target.isRoot) return Fail(SL_ALREADY_EXISTS, "the root folder exists");
  return MakeFolder(*target.link, target.remote, false);
}

SLResult SftpFileSystem::CreateAllFolders(std::u16string_view path) {
  Target target;
  if (const SLResult code = Reach(path, &target); SL_FAILED(code)) return code;
  return target.isRoot ? SL_OK : MakeFolder(*target.link, target.remote, true);
}

SLResult SftpFileSystem::RemoveFolder(std::u16string_view path) {
  Target target;
  if (const SLResult code = Reach(path, &target); SL_FAILED(code)) return code;
  if (target.isRoot) return Fail(SL_ACCESS_DENIED, "the root folder stays");
  const Reply removed = target.link->Run([&](auto*, auto* channel) -> int64_t {
    return libssh2_sftp_rmdir_ex(channel, target.remote.data(), Length(target.remote));
  });
  if (!removed.failed) return SL_OK;
  if (removed.lost || removed.status == LIBSSH2_FX_PERMISSION_DENIED) {
    return Failure(removed, "removing the folder", target.remote);
  }
  // A file answers as a missing folder to some servers and as a failure to others.
  Kind kind = Kind::Missing;
  if (const SLResult code = KindOf(*target.link, target.remote, &kind); SL_FAILED(code))
    return code;
  if (kind == Kind::Missing) return Failure(removed, "removing the folder", target.remote);
  return Fail(SL_OS_FAILURE,
              "removing the folder " + target.remote + ": " +
                  (kind == Kind::File ? "a file, not a folder" : "it is not empty, or in use"));
}

SLResult SftpFileSystem::RemoveFile(std::u16string_view path) {
  Target target;
  if (const SLResult code = Reach(path, &target); SL_FAILED(code)) return code;
  if (target.isRoot) return Fail(SL_ACCESS_DENIED, "the root folder stays");
  {
    std::lock_guard<std::mutex> guard(sharesLock_);  // open for writing: not to be removed
    const auto found = shares_.find(target.remote);
    if (found != shares_.end() && found->second.writer) {
      return Fail(SL_OS_FAILURE, target.remote + " is open for writing in this file system");
    }
  }
  const Reply removed = target.link->Run([&](auto*, auto* channel) -> int64_t {
    return libssh2_sftp_unlink_ex(channel, target.remote.data(), Length(target.remote));
  });
  if (!removed.failed) return SL_OK;
  if (!removed.lost && !IsMissing(removed)) {
    Kind kind = Kind::Missing;
    if (const SLResult code = KindOf(*target.link, target.remote, &kind); SL_FAILED(code))
      return code;
    if (kind == Kind::Folder) return Fail(SL_ACCESS_DENIED, "a folder: " + target.remote);
  }
  return Failure(removed, "removing", target.remote);
}

}  // namespace sl::sftp
