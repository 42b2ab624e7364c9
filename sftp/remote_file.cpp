#include "remote_file.h"

#include <libssh2.h>
#include <libssh2_sftp.h>

#include <algorithm>
#include <cstring>
#include <utility>

#include "sftp_file_system.h"

namespace sl::sftp {

RemoteFile::~RemoteFile() {
  if (handle_ != nullptr) Close();
}

SLResult RemoteFile::Fetch(uint64_t offset, char* into, uint64_t size, uint64_t* done) {
  *done = 0;
  while (*done < size) {
    const uint64_t at = offset + *done;
    const Reply reply = link_->Run([&](auto*, auto*) -> int64_t {
      if (libssh2_sftp_tell64(handle_) != at) libssh2_sftp_seek64(handle_, at);
      return libssh2_sftp_read(handle_, into + *done, static_cast<size_t>(size - *done));
    });
    if (reply.failed) return SftpFileSystem::Failure(reply, "reading", path_);
    if (reply.value == 0) break;  // the end of the file
    *done += static_cast<uint64_t>(reply.value);
  }
  return SL_OK;
}

// Each call passes what is in flight and what may be added: libssh2 sends the added bytes as
// many requests at once and returns as the first answers come, counting only what the server
// took. What is added stays below the room the server's window leaves, less a margin. Why:
// libssh2 sends a request that does not fit in the window in part and goes on, and the next
// request of another file (or another kind) would then follow half a request; the server would
// read garbage and wait for ever. With the margin every request fits whole.
SLResult RemoteFile::Send(uint64_t offset, const char* from, uint64_t size, uint64_t* sent) {
  constexpr uint64_t kMargin = 256 * 1024;
  constexpr uint64_t kOneRequest = 32 * 1024;  // libssh2's requests carry 30000 bytes
  *sent = 0;
  uint64_t requested = offset;  // the end of the bytes made into requests
  while (*sent < size) {
    const uint64_t at = offset + *sent;
    const Reply reply = link_->Run([&](auto*, auto* channel) -> int64_t {
      if (libssh2_sftp_tell64(handle_) != at) {
        libssh2_sftp_seek64(handle_, at);
        requested = at;
      }
      const uint64_t window =
          libssh2_channel_window_write_ex(libssh2_sftp_get_channel(channel), nullptr);
      const uint64_t inFlight = requested - at;
      uint64_t more = window > kMargin ? window - kMargin : 0;
      if (inFlight == 0 && more == 0) {  // nothing of this file in flight: one request fits
        more = window > 1024 ? std::min(window - 1024, kOneRequest) : 1;
      }
      more = std::min(more, size - *sent - inFlight);
      requested += more;
      return libssh2_sftp_write(handle_, from + *sent, static_cast<size_t>(inFlight + more));
    });
    if (reply.failed) return SftpFileSystem::Failure(reply, "writing", path_);
    if (reply.value == 0) {
      return SftpFileSystem::Failure(Reply{0, true, false, 0, "the server took no bytes"},
                                     "writing", path_);
    }
    *sent += static_cast<uint64_t>(reply.value);
  }
  unsynced_ = true;
  return SL_OK;
}

SLResult RemoteFile::SendGathered() {
  if (gathered_.empty()) return SL_OK;
  uint64_t sent = 0;
  const SLResult code = Send(gatheredAt_, gathered_.data(), gathered_.size(), &sent);
  gathered_.clear();
  return code;
}

SLResult RemoteFile::Read(uint64_t offset, void* buffer, uint64_t size, uint64_t* done) {
  if (const SLResult code = SendGathered(); SL_FAILED(code)) return code;
  const bool inside = offset >= aheadAt_ && offset < aheadAt_ + ahead_.size();
  if (!inside) {
    const bool following = !ahead_.empty() && offset == aheadAt_ + ahead_.size();
    window_ = following ? std::min(window_ * 2, kLastWindow) : kFirstWindow;
    ahead_.clear();
    if (size >= kLastWindow) return Fetch(offset, static_cast<char*>(buffer), size, done);
    ahead_.resize(window_);
    uint64_t filled = 0;
    const SLResult code = Fetch(offset, ahead_.data(), window_, &filled);
    ahead_.resize(SL_FAILED(code) ? 0 : filled);
    aheadAt_ = offset;
    if (SL_FAILED(code)) return code;
  }
  const uint64_t skip = offset - aheadAt_;
  *done = std::min<uint64_t>(size, ahead_.size() - std::min<uint64_t>(skip, ahead_.size()));
  if (*done != 0) std::memcpy(buffer, ahead_.data() + skip, static_cast<size_t>(*done));
  return SL_OK;
}

SLResult RemoteFile::Write(uint64_t offset, const void* buffer, uint64_t size, uint64_t* done) {
  if (!writing_) return Fail(SL_ACCESS_DENIED, path_ + " is open for reading only");
  ahead_.clear();
  const char* bytes = static_cast<const char*>(buffer);
  if (!gathered_.empty() &&
      (offset != gatheredAt_ + gathered_.size() || gathered_.size() + size > kGathered)) {
    if (const SLResult code = SendGathered(); SL_FAILED(code)) return code;
  }
  if (gathered_.empty() && size >= kGathered) {
    const SLResult code = Send(offset, bytes, size, done);
    size_ = std::max(size_, offset + *done);
    return code;
  }
  if (gathered_.empty()) {
    gathered_.reserve(kGathered);
    gatheredAt_ = offset;
  }
  gathered_.insert(gathered_.end(), bytes, bytes + size);
  size_ = std::max(size_, offset + size);
  *done = size;
  return SL_OK;
}

SLResult RemoteFile::Size(uint64_t* size) {
  if (writing_) {  // no one else writes it through this file system
    *size = size_;
    return SL_OK;
  }
  LIBSSH2_SFTP_ATTRIBUTES attributes{};
  const Reply reply = link_->Run(
      [&](auto*, auto*) -> int64_t { return libssh2_sftp_fstat_ex(handle_, &attributes, 0); });
  if (reply.failed) return SftpFileSystem::Failure(reply, "reading the size of", path_);
  *size = attributes.filesize;
  return SL_OK;
}

SLResult RemoteFile::Flush() {
  if (const SLResult code = SendGathered(); SL_FAILED(code)) return code;
  if (!unsynced_ || !link_->CanSync()) return SL_OK;
  const Reply reply =
      link_->Run([&](auto*, auto*) -> int64_t { return libssh2_sftp_fsync(handle_); });
  if (reply.failed && !reply.lost && reply.status == LIBSSH2_FX_OP_UNSUPPORTED) {
    link_->NoSync();  // a server without "fsync@openssh.com": what was sent is all
    return SL_OK;
  }
  if (reply.failed) return SftpFileSystem::Failure(reply, "flushing", path_);
  unsynced_ = false;
  return SL_OK;
}

SLResult RemoteFile::Close() {
  const SLResult sent = SendGathered();
  Handle* handle = std::exchange(handle_, nullptr);
  const Reply reply =
      link_->Release([&](auto*, auto*) -> int64_t { return libssh2_sftp_close_handle(handle); });
  fs_.Unshare(path_, writing_);
  if (SL_FAILED(sent)) return sent;
  return reply.failed ? SftpFileSystem::Failure(reply, "closing", path_) : SL_OK;
}

}  // namespace sl::sftp
