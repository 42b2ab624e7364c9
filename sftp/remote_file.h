// An open file of the server. Reads fetch a window ahead of the position, growing while the
// reads follow one another, so that a stream reading 4 KiB at a time makes one exchange per
// window; libssh2 keeps further requests in flight behind each one. Writes that follow one
// another are gathered and sent as one pipelined write when the gathering is full, and before
// anything that must see them: a read, a write elsewhere, a flush, the size of a file open for
// reading, closing.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "connection.h"
#include "slservices/sdk/file_system.hpp"

struct _LIBSSH2_SFTP_HANDLE;

namespace sl::sftp {

class SftpFileSystem;

class RemoteFile final : public sdk::FileBase {
 public:
  using Handle = _LIBSSH2_SFTP_HANDLE;
  static constexpr uint64_t kFirstWindow = 32 * 1024;
  static constexpr uint64_t kLastWindow = 2 * 1024 * 1024;
  static constexpr uint64_t kGathered = 2 * 1024 * 1024;

  // Takes over `handle`, open on `path` (the server's path) through `link` and shared as
  // `writing` says; `size` is the file's size at the open.
  RemoteFile(SftpFileSystem& fs, std::shared_ptr<Connection> link, Handle* handle, std::string path,
             bool writing, uint64_t size)
      : fs_(fs),
        link_(std::move(link)),
        handle_(handle),
        path_(std::move(path)),
        writing_(writing),
        size_(size) {}
  // A file the file system closes as it goes: what is gathered is sent, as far as it can be.
  ~RemoteFile() override;

  SLResult Read(uint64_t offset, void* buffer, uint64_t size, uint64_t* done) override;
  SLResult Write(uint64_t offset, const void* buffer, uint64_t size, uint64_t* done) override;
  SLResult Size(uint64_t* size) override;
  SLResult Flush() override;
  SLResult Close() override;

 private:
  // Reads up to `size` bytes at `offset` from the server, stopping early only at the end.
  SLResult Fetch(uint64_t offset, char* into, uint64_t size, uint64_t* done);
  // Writes all `size` bytes at `offset`; `sent` counts the bytes the server took.
  SLResult Send(uint64_t offset, const char* from, uint64_t size, uint64_t* sent);
  // Sends what is gathered; it is dropped whether or not the server takes it.
  SLResult SendGathered();

  SftpFileSystem& fs_;
  std::shared_ptr<Connection> link_;  // the connection the file was opened on, lost or not
  Handle* handle_;                    // null once closed
  std::string path_;
  bool writing_;
  uint64_t size_;          // files open for writing: the size as this handle made it
  bool unsynced_ = false;  // written since the last flush

  std::vector<char> ahead_;  // the file's bytes from aheadAt_ on
  uint64_t aheadAt_ = 0;
  uint64_t window_ = kFirstWindow;
  std::vector<char> gathered_;  // bytes to write at gatheredAt_
  uint64_t gatheredAt_ = 0;
};

}  // namespace sl::sftp
