// One SSH connection with its SFTP channel: connecting, checking the host key, logging in, and
// then running libssh2's calls one at a time. libssh2 allows one thread in a session at once,
// so every call takes the connection's lock, and holds it for that one call only: a transfer is
// many calls, and other files' calls run between them. Each call waits for the network at most
// the timeout; when the connection fails (the server closed it, or did not answer in time) it
// is lost for good: its socket is shut, so later calls fail at once instead of waiting again.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "url.h"

struct _LIBSSH2_SESSION;
struct _LIBSSH2_SFTP;

namespace sl::sftp {

class KnownHosts;

// What the host set besides the URL (SLSftpOptions), already merged with the URL's options.
struct Settings {
  uint32_t timeoutMs = 30000;
  std::string knownHosts;  // empty: ~/.ssh/known_hosts
  std::string identity;    // empty: the agent, then ~/.ssh/id_ed25519, id_ecdsa, id_rsa
  std::string passphrase;
};

// Set while the process exits, once the handlers registered after libssh2 started have run:
// libssh2's cryptography may have been torn down by then, so a file system that a host keeps in
// a static object, and that goes after them, must call nothing of libssh2 any more.
extern std::atomic<bool> exiting;

// How one call ended.
struct Reply {
  int64_t value = 0;         // the call's own result when it did not fail
  bool failed = false;       // the server refused (status) or the connection is lost
  bool lost = false;         // the connection is lost: `why` says how
  unsigned long status = 0;  // the server's SFTP status when it refused
  std::string why;           // a sentence for the record
};

class Connection {
 public:
  using Session = _LIBSSH2_SESSION;
  using Channel = _LIBSSH2_SFTP;

  // Connects as `url` and `settings` say; throws sdk::ServiceError with the code of
  // SLSftpConnect and a sentence saying why not.
  static std::unique_ptr<Connection> Open(const Url& url, const Settings& settings);
  ~Connection();
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  // Runs one libssh2 call, `call(session, channel)`, under the lock. The call returns its
  // result, or a negative libssh2 code; a call that makes a pointer returns kNoPointer for a
  // null one, and the session's last code is read instead.
  static constexpr int64_t kNoPointer = -1;
  template <class Call>
  Reply Run(Call&& call) {
    std::lock_guard<std::mutex> guard(lock_);
    if (!lost_.empty() || exiting) return Lost();
    Reply reply;
    reply.value = KeepWindowOpen();
    if (reply.value >= 0) reply.value = call(session_, channel_);
    if (reply.value < 0) Explain(&reply);
    return reply;
  }

  // Runs a call that frees what libssh2 holds for a handle (closing it), also on a lost
  // connection: there it fails at once on the shut socket, and libssh2 still frees the handle.
  template <class Call>
  Reply Release(Call&& call) {
    std::lock_guard<std::mutex> guard(lock_);
    if (exiting) return Lost();
    Reply reply;
    reply.value = call(session_, channel_);
    if (reply.value < 0) {
      if (lost_.empty())
        Explain(&reply);
      else
        reply = Lost();
    }
    return reply;
  }

  // Whether the connection is lost: then every call fails at once.
  bool IsLost() const { return isLost_.load(); }
  // How it was lost ("" while it is not).
  std::string HowLost() {
    std::lock_guard<std::mutex> guard(lock_);
    return lost_;
  }

  // "user@host:port", for messages.
  const std::string& Name() const { return name_; }
  // Whether the server took "fsync@openssh.com" (true until it says it does not know it).
  bool CanSync() const { return canSync_; }
  void NoSync() { canSync_ = false; }

 private:
  Connection() = default;
  void Connect(const Url& url, const Settings& settings);
  // Asks the server for a kind of host key that the known-hosts file holds for it, if any.
  void PreferKnownHostKeys(const Url& url, const KnownHosts& hosts);
  void CheckHostKey(const Url& url, const KnownHosts& hosts);
  void LogIn(const std::string& user, const Settings& settings);
  // Fills `reply` for a call that failed; marks the connection lost unless the server answered.
  void Explain(Reply* reply);
  Reply Lost() const;
  // Keeps the window of what the server may send far above what the files' requests can have
  // in flight; a negative libssh2 code when the adjustment cannot be sent. Why: a thread that
  // sends (a write) and waits for the server's room holds the session and reads nothing, while
  // answers to other files' reads pile up; were the window to close on them, the server would
  // stop reading requests, its room would stay shut, and the writer would wait for ever.
  int KeepWindowOpen();

  std::mutex lock_;
  int socket_ = -1;
  Session* session_ = nullptr;
  Channel* channel_ = nullptr;
  std::string name_;
  uint32_t timeoutMs_ = 30000;
  std::string lost_;  // set once, under the lock: how the connection was lost
  std::atomic<bool> isLost_{false};
  std::atomic<bool> canSync_{true};
};

// A sentence for an SFTP status code.
std::string StatusText(unsigned long status);

}  // namespace sl::sftp
