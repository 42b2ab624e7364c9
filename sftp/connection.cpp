#include "connection.h"

#include <libssh2.h>
#include <libssh2_sftp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <vector>

#include "slservices/sdk/error.hpp"
#include "tcp_connect.h"

namespace sl::sftp {

namespace {

[[noreturn]] void Refuse(SLResult code, const std::string& why) {
  throw sdk::ServiceError(code, why);
}

std::string Home() {
  const char* home = std::getenv("HOME");
  return home != nullptr ? home : "";
}

// OpenSSH's spelling of a key's fingerprint: "SHA256:" and the hash in base64 without padding.
std::string Fingerprint(const unsigned char* hash) {
  static const char kDigits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string text = "SHA256:";
  for (size_t i = 0; i < 32; i += 3) {
    const uint32_t chunk =
        (hash[i] << 16) | (i + 1 < 32 ? hash[i + 1] << 8 : 0) | (i + 2 < 32 ? hash[i + 2] : 0);
    const size_t digits = i + 2 < 32 ? 4 : i + 1 < 32 ? 3 : 2;
    for (size_t d = 0; d < digits; ++d) text.push_back(kDigits[(chunk >> (18 - 6 * d)) & 63]);
  }
  return text;
}

// The kinds of host key libssh2 takes, in the order asked for: libssh2's own order puts ECDSA
// before Ed25519, while OpenSSH's client asks for Ed25519 first, so a known_hosts file that
// OpenSSH wrote often holds only a server's Ed25519 key. Kinds that the file holds for the host
// are asked for before these (PreferKnownHostKeys).
struct KeyKind {
  int hostKeyType;
  const char* name;
  int knownHostBits;
};
constexpr KeyKind kKeyKinds[] = {
    {LIBSSH2_HOSTKEY_TYPE_ED25519, "ssh-ed25519", LIBSSH2_KNOWNHOST_KEY_ED25519},
    {LIBSSH2_HOSTKEY_TYPE_ECDSA_256, "ecdsa-sha2-nistp256", LIBSSH2_KNOWNHOST_KEY_ECDSA_256},
    {LIBSSH2_HOSTKEY_TYPE_ECDSA_384, "ecdsa-sha2-nistp384", LIBSSH2_KNOWNHOST_KEY_ECDSA_384},
    {LIBSSH2_HOSTKEY_TYPE_ECDSA_521, "ecdsa-sha2-nistp521", LIBSSH2_KNOWNHOST_KEY_ECDSA_521},
    {LIBSSH2_HOSTKEY_TYPE_RSA, "ssh-rsa", LIBSSH2_KNOWNHOST_KEY_SSHRSA},
    {LIBSSH2_HOSTKEY_TYPE_DSS, "ssh-dss", LIBSSH2_KNOWNHOST_KEY_SSHDSS},
};
KeyKind KindOf(int hostKeyType) {
  for (const KeyKind& kind : kKeyKinds) {
    if (kind.hostKeyType == hostKeyType) return kind;
  }
  return {hostKeyType, "an unknown kind of key", LIBSSH2_KNOWNHOST_KEY_UNKNOWN};
}

std::string LastError(_LIBSSH2_SESSION* session) {
  char* message = nullptr;
  libssh2_session_last_error(session, &message, nullptr, 0);
  return message != nullptr && message[0] != '\0' ? message : "no reason given";
}

}  // namespace

// A known-hosts file as libssh2 reads it.
class KnownHosts {
 public:
  // The file that `settings` name, else ~/.ssh/known_hosts; read once for a connection.
  KnownHosts(_LIBSSH2_SESSION* session, const Settings& settings)
      : file_(!settings.knownHosts.empty() ? settings.knownHosts : Home() + "/.ssh/known_hosts"),
        hosts_(libssh2_knownhost_init(session)) {
    if (hosts_ == nullptr) Refuse(SL_OS_FAILURE, "libssh2 cannot hold known hosts");
    readable_ =
        libssh2_knownhost_readfile(hosts_, file_.c_str(), LIBSSH2_KNOWNHOST_FILE_OPENSSH) >= 0;
  }
  ~KnownHosts() { libssh2_knownhost_free(hosts_); }
  KnownHosts(const KnownHosts&) = delete;
  KnownHosts& operator=(const KnownHosts&) = delete;

  const std::string& file() const { return file_; }
  bool readable() const { return readable_; }
  // A LIBSSH2_KNOWNHOST_CHECK_* code for `key` (raw, of `kind`) under the URL's host and port.
  int Check(const Url& url, const char* key, size_t length, const KeyKind& kind) const {
    return libssh2_knownhost_checkp(
        hosts_, url.host.c_str(), url.port, key, length,
        LIBSSH2_KNOWNHOST_TYPE_PLAIN | LIBSSH2_KNOWNHOST_KEYENC_RAW | kind.knownHostBits, nullptr);
  }
  // Whether the file holds a key of `kind` for the URL's host and port: asked with a key that
  // no entry has, which answers "mismatch" exactly when an entry of that kind names the host
  // (hashed names included).
  bool Holds(const Url& url, const KeyKind& kind) const {
    static const char kNoKey[] = "none";
    return Check(url, kNoKey, sizeof(kNoKey) - 1, kind) == LIBSSH2_KNOWNHOST_CHECK_MISMATCH;
  }

 private:
  std::string file_;
  LIBSSH2_KNOWNHOSTS* hosts_;
  bool readable_ = false;
};

std::atomic<bool> exiting{false};

namespace {

struct ExitWatch {
  ~ExitWatch() { exiting = true; }
};

}  // namespace

std::string StatusText(unsigned long status) {
  switch (status) {
    case LIBSSH2_FX_EOF:
      return "the server says the end of the file is reached";
    case LIBSSH2_FX_NO_SUCH_FILE:
    case LIBSSH2_FX_NO_SUCH_PATH:
      return "the server has no such file";
    case LIBSSH2_FX_PERMISSION_DENIED:
      return "the server denies permission";
    case LIBSSH2_FX_WRITE_PROTECT:
      return "the server's file system is read-only";
    case LIBSSH2_FX_FILE_ALREADY_EXISTS:
      return "the server says the name exists";
    case LIBSSH2_FX_DIR_NOT_EMPTY:
      return "the server says the folder is not empty";
    case LIBSSH2_FX_NOT_A_DIRECTORY:
      return "the server says a name on the way is not a folder";
    case LIBSSH2_FX_NO_SPACE_ON_FILESYSTEM:
    case LIBSSH2_FX_QUOTA_EXCEEDED:
      return "the server's disk or quota is full";
    case LIBSSH2_FX_OP_UNSUPPORTED:
      return "the server does not support the request";
    case LIBSSH2_FX_INVALID_HANDLE:
      return "the server does not know the handle";
    default:
      return "the server reports a failure (SFTP status " + std::to_string(status) + ")";
  }
}

std::unique_ptr<Connection> Connection::Open(const Url& url, const Settings& settings) {
  // Once per process, before any session. The watch is made after libssh2 starts, so it goes
  // before what libssh2's start registered for the exit. A static object rather than atexit:
  // its destructor is tied to this library, which a host may unload before it exits.
  static const int initialised = [] {
    const int code = libssh2_init(0);
    static ExitWatch watch;
    return code;
  }();
  if (initialised != 0) Refuse(SL_OS_FAILURE, "libssh2 cannot start its cryptography");
  std::unique_ptr<Connection> connection(new Connection());
  connection->Connect(url, settings);
  return connection;
}

void Connection::Connect(const Url& url, const Settings& settings) {
  timeoutMs_ = settings.timeoutMs;
  std::string user = url.user;
  if (user.empty()) {
    const char* name = std::getenv("USER");
    user = name != nullptr ? name : "";
  }
  const std::string where =
      url.host.find(':') != std::string::npos ? "[" + url.host + "]" : url.host;
  name_ = user + "@" + where + ":" + std::to_string(url.port);
  std::string why;
  socket_ = ConnectSocket(url.host, url.port, timeoutMs_, &why);
  if (socket_ < 0) Refuse(SL_OS_FAILURE, why);
  session_ = libssh2_session_init();
  if (session_ == nullptr) Refuse(SL_OS_FAILURE, "libssh2 cannot make a session");
  libssh2_session_set_blocking(session_, 1);
  libssh2_session_set_timeout(session_, static_cast<long>(timeoutMs_));
  const KnownHosts knownHosts(session_, settings);
  PreferKnownHostKeys(url, knownHosts);
  if (libssh2_session_handshake(session_, socket_) != 0) {
    Refuse(SL_OS_FAILURE, "the SSH handshake with " + name_ + " failed: " + LastError(session_));
  }
  CheckHostKey(url, knownHosts);
  LogIn(user, settings);
  channel_ = libssh2_sftp_init(session_);
  if (channel_ == nullptr) {
    Refuse(SL_OS_FAILURE, name_ + " offers no SFTP subsystem: " + LastError(session_));
  }
  if (KeepWindowOpen() < 0) Refuse(SL_OS_FAILURE, name_ + ": " + LastError(session_));
}

void Connection::PreferKnownHostKeys(const Url& url, const KnownHosts& hosts) {
  std::string held;
  std::string others;
  for (const KeyKind& kind : kKeyKinds) {
    std::string& list = hosts.Holds(url, kind) ? held : others;
    list += (list.empty() ? "" : ",") + std::string(kind.name);
  }
  const std::string order = held.empty() ? others : others.empty() ? held : held + "," + others;
  libssh2_session_method_pref(session_, LIBSSH2_METHOD_HOSTKEY, order.c_str());
}

void Connection::CheckHostKey(const Url& url, const KnownHosts& hosts) {
  size_t length = 0;
  int type = 0;
  const char* key = libssh2_session_hostkey(session_, &length, &type);
  const auto* hash = reinterpret_cast<const unsigned char*>(
      libssh2_hostkey_hash(session_, LIBSSH2_HOSTKEY_HASH_SHA256));
  if (key == nullptr || hash == nullptr) {
    Refuse(SL_OS_FAILURE, name_ + " sent no host key: " + LastError(session_));
  }
  const KeyKind kind = KindOf(type);
  const std::string& file = hosts.file();
  const std::string shown =
      (url.port == 22 ? url.host : "[" + url.host + "]:" + std::to_string(url.port)) + " (" +
      kind.name + " " + Fingerprint(hash) + ")";
  switch (hosts.Check(url, key, length, kind)) {
    case LIBSSH2_KNOWNHOST_CHECK_MATCH:
      return;
    case LIBSSH2_KNOWNHOST_CHECK_MISMATCH:
      Refuse(SL_ACCESS_DENIED, "the host key of " + shown + " does not match the one in " + file +
                                   ": it changed, or another machine answers in its place; "
                                   "refused");
    case LIBSSH2_KNOWNHOST_CHECK_NOTFOUND:
      Refuse(SL_ACCESS_DENIED, "the host key of " + shown + " is unknown: it is not in " + file +
                                   (hosts.readable() ? "" : " (which cannot be read)") +
                                   "; refused (add it there once you have checked it)");
    default:
      Refuse(SL_OS_FAILURE,
             "the host key of " + shown + " cannot be checked: " + LastError(session_));
  }
}

void Connection::LogIn(const std::string& user, const Settings& settings) {
  std::vector<std::string> tried;
  auto withFile = [&](const std::string& path) {
    tried.push_back(path);
    return libssh2_userauth_publickey_fromfile_ex(session_, user.c_str(),
                                                  static_cast<unsigned>(user.size()), nullptr,
                                                  path.c_str(), settings.passphrase.c_str()) == 0;
  };
  if (!settings.identity.empty()) {
    if (withFile(settings.identity)) return;
  } else {
    if (std::getenv("SSH_AUTH_SOCK") != nullptr) {
      tried.push_back("the agent");
      LIBSSH2_AGENT* agent = libssh2_agent_init(session_);
      bool in = false;
      if (agent != nullptr && libssh2_agent_connect(agent) == 0 &&
          libssh2_agent_list_identities(agent) == 0) {
        libssh2_agent_publickey* identity = nullptr;
        while (!in && libssh2_agent_get_identity(agent, &identity, identity) == 0) {
          in = libssh2_agent_userauth(agent, user.c_str(), identity) == 0;
        }
        libssh2_agent_disconnect(agent);
      }
      if (agent != nullptr) libssh2_agent_free(agent);
      if (in) return;
    }
    for (const char* name : {"id_ed25519", "id_ecdsa", "id_rsa"}) {
      const std::string path = Home() + "/.ssh/" + name;
      if (access(path.c_str(), R_OK) == 0 && withFile(path)) return;
    }
  }
  std::string list;
  for (const std::string& way : tried) list += (list.empty() ? "" : ", ") + way;
  Refuse(SL_ACCESS_DENIED, "no key logs in as " + user + " on " + name_ + " (tried " +
                               (list.empty() ? "none: no agent and no key in ~/.ssh" : list) +
                               "): " + LastError(session_));
}

Connection::~Connection() {
  if (exiting) {  // libssh2's cryptography may be gone: leave the rest to the process's end
    if (socket_ >= 0) close(socket_);
    return;
  }
  if (channel_ != nullptr) libssh2_sftp_shutdown(channel_);
  if (session_ != nullptr) {
    if (lost_.empty()) libssh2_session_disconnect(session_, "closing");
    libssh2_session_free(session_);
  }
  if (socket_ >= 0) close(socket_);
}

void Connection::Explain(Reply* reply) {
  const int code = reply->value == kNoPointer ? libssh2_session_last_errno(session_)
                                              : static_cast<int>(reply->value);
  reply->failed = true;
  if (code == LIBSSH2_ERROR_SFTP_PROTOCOL) {
    reply->status = libssh2_sftp_last_error(channel_);
    reply->why = StatusText(reply->status);
    return;
  }
  if (code == LIBSSH2_ERROR_ALLOC || code == LIBSSH2_ERROR_BUFFER_TOO_SMALL) {
    reply->why = code == LIBSSH2_ERROR_ALLOC ? "out of memory" : "a reply too large to take";
    return;
  }
  // Anything else leaves the session in a state no later call can trust.
  lost_ = "the connection to " + name_ + " is lost: " +
          (code == LIBSSH2_ERROR_TIMEOUT
               ? "the server did not answer within " + Duration(timeoutMs_)
               : LastError(session_) + " (libssh2 " + std::to_string(code) + ")");
  shutdown(socket_, SHUT_RDWR);
  isLost_ = true;
  *reply = Lost();
}

int Connection::KeepWindowOpen() {
  constexpr unsigned long kWindow = 1ul << 30;
  LIBSSH2_CHANNEL* channel = libssh2_sftp_get_channel(channel_);
  const unsigned long open = libssh2_channel_window_read_ex(channel, nullptr, nullptr);
  if (open >= kWindow / 2) return 0;
  unsigned int granted = 0;
  return libssh2_channel_receive_window_adjust2(channel, kWindow - open, 1, &granted);
}

Reply Connection::Lost() const {
  Reply reply;
  reply.value = -1;
  reply.failed = true;
  reply.lost = true;
  reply.why = !lost_.empty() ? lost_ : "the process is exiting";
  return reply;
}

}  // namespace sl::sftp
