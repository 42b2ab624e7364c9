// A private OpenSSH server on 127.0.0.1 for the tests of the SFTP file system: it runs
// tests/network/local_sshd.sh in a temporary folder of its own and reads what the script left
// there (port, login name, host key, login key).
//
//   sl::testing::LocalSshServer server;
//   ASSERT_TRUE(server.Start()) << server.error();
//   std::string url = server.Url("/tmp/data");   // sftp://me@127.0.0.1:PORT/tmp/data?...
//   server.Pause();   // a stalled server: connections hang
//   server.Resume();
//   server.Kill();    // a dead server: connections drop
//   server.Start();   // it comes back on the same port with the same keys
//
// The login user is the one running the test (root included). Linux only. One thread at a time.
#pragma once

#include <string>
#include <string_view>

namespace sl::testing {

class LocalSshServer {
 public:
  LocalSshServer() = default;
  ~LocalSshServer();  // stops the server and removes its folder
  LocalSshServer(const LocalSshServer&) = delete;
  LocalSshServer& operator=(const LocalSshServer&) = delete;

  // Starts the server: the first time in a new temporary folder with fresh keys, later (after
  // Stop or Kill) in the same folder, on the same port, with the same keys. False on failure,
  // with the script's output and sshd's log in error().
  bool Start();
  // Stops the server and every connection it serves. True when nothing was running too.
  bool Stop();
  // SIGKILL, SIGSTOP, SIGCONT to the server and every connection it serves. False when it does
  // not run (error() says why).
  bool Kill();
  bool Pause();
  bool Resume();

  int port() const { return port_; }
  const std::string& user() const { return user_; }
  const std::string& knownHosts() const { return knownHosts_; }  // path of the known-hosts file
  const std::string& identity() const { return identity_; }      // path of the private key
  const std::string& directory() const { return directory_; }    // the server's folder
  const std::string& error() const { return error_; }
  std::string Log() const;  // sshd's own messages (LogLevel ERROR)

  // The URL of a folder of this server for SLSftpConnect, trusting its host key and logging in
  // with its key: sftp://USER@127.0.0.1:PORT/PATH?known_hosts=FILE&identity=FILE. PATH as the
  // URL takes it ("/srv/x" absolute, "~/x" or "/~/x" below the login folder, "" the login
  // folder itself).
  std::string Url(std::string_view path = "") const;

 private:
  bool Run(const char* command);

  std::string directory_;
  std::string user_;
  std::string knownHosts_;
  std::string identity_;
  std::string error_;
  int port_ = 0;
  bool running_ = false;
};

// The URL of Url() from its parts, each escaped as its place in the URL needs: in the user and
// the path every byte but letters, digits and -._~ (and '/' in the path) becomes %XX; in the
// option values every byte but those and '/'.
std::string SftpUrl(std::string_view user, int port, std::string_view path,
                    std::string_view knownHosts, std::string_view identity);

}  // namespace sl::testing
