// A folder of an SSH server served as a file system over SFTP: paths are below the URL's folder,
// files are read ahead and written behind in large pipelined requests (remote_file.h), and every
// call goes through the one connection (connection.h).
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "connection.h"
#include "slservices/sdk/file_system.hpp"

namespace sl::sftp {

class SftpFileSystem final : public sdk::FileSystemBase {
 public:
  // Connects as the URL and settings say and finds the URL's folder; throws sdk::ServiceError
  // with the code of SLSftpConnect and a sentence saying why not.
  static sdk::Ref<SftpFileSystem> Connect(const Url& url, const Settings& settings,
                                          uint32_t nameAtom);
  ~SftpFileSystem() override;
  const char* DisplayName() const override { return "SftpFileSystem"; }

  // Turns a failed call into the entry's code and record: `doing` and `path` say what failed.
  static SLResult Failure(const Reply& reply, const std::string& doing, const std::string& path);
  // The sharing of the default file system, among this file system's own open files: a file
  // open for writing is open once; one open for reading may be opened for reading again.
  bool Share(const std::string& path, bool writing);
  void Unshare(const std::string& path, bool writing);

 protected:
  SLResult OpenFile(std::u16string_view path, sdk::OpenMode mode,
                    std::unique_ptr<sdk::FileBase>* file) override;
  SLResult IsFileExists(std::u16string_view path, bool* exists) override;
  SLResult Search(std::u16string_view pattern, std::vector<std::u16string>* names) override;
  SLResult CreateFolder(std::u16string_view path) override;
  SLResult CreateAllFolders(std::u16string_view path) override;
  SLResult RemoveFolder(std::u16string_view path) override;
  SLResult RemoveFile(std::u16string_view path) override;

 private:
  struct Users {
    int readers = 0;
    bool writer = false;
  };
  enum class Kind { Missing, File, Folder, Unknown };

  SftpFileSystem(uint32_t nameAtom, const Url& url, const Settings& settings,
                 std::unique_ptr<Connection> connection)
      : FileSystemBase(nameAtom),
        url_(url),
        settings_(settings),
        connection_(std::move(connection)) {}
  // The connection for a call that names a path: the current one or, when that one is lost, a
  // new one made now. Files opened before stay on the lost one, and their calls keep failing.
  // Fails, recording why, when connecting again fails.
  SLResult Live(std::shared_ptr<Connection>* link);
  // Where an entry that names a path works: the server's path and the live connection. Fails
  // with 3 for a path that climbs above the root or is not UTF-16.
  struct Target {
    std::string remote;
    bool isRoot = false;
    std::shared_ptr<Connection> link;
  };
  SLResult Reach(std::u16string_view path, Target* target);
  // What the server has at `remote` (not following a last link); a lost connection fails.
  SLResult KindOf(Connection& link, const std::string& remote, Kind* kind);
  SLResult MakeFolder(Connection& link, const std::string& remote, bool parents);
  static std::string ParentOf(const std::string& remote);

  const Url url_;
  const Settings settings_;
  std::mutex connectionLock_;  // the pointer only
  std::mutex reconnectLock_;   // one new connection at a time
  std::shared_ptr<Connection> connection_;
  std::string root_;       // the URL's folder as the server resolved it
  std::mutex sharesLock_;  // only the map; never held across a call to the server
  std::map<std::string, Users> shares_;
};

}  // namespace sl::sftp
