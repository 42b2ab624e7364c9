#include "network/ssh_server.h"

#include <stdio.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <system_error>

#include "common/temp_directory.h"

#ifndef SL_LOCAL_SSHD_SCRIPT
#error \
    "SL_LOCAL_SSHD_SCRIPT names tests/network/local_sshd.sh (set by tests/network/CMakeLists.txt)"
#endif

namespace sl::testing {
namespace {

// The byte string as one word of sh: in single quotes, a quote as '\''.
std::string ShellQuote(std::string_view text) {
  std::string quoted = "'";
  for (char c : text) {
    if (c == '\'') {
      quoted += "'\\''";
    } else {
      quoted += c;
    }
  }
  return quoted + "'";
}

// The file's text without its trailing line break; empty when it cannot be read.
std::string ReadLine(const std::string& path) {
  std::ifstream file(path);
  std::string line;
  std::getline(file, line);
  return line;
}

bool Unreserved(unsigned char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
         c == '.' || c == '_' || c == '~';
}

std::string Escape(std::string_view text, bool keepSlash) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string escaped;
  for (char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (Unreserved(byte) || (keepSlash && byte == '/')) {
      escaped += c;
    } else {
      escaped += '%';
      escaped += kHex[byte >> 4];
      escaped += kHex[byte & 15];
    }
  }
  return escaped;
}

}  // namespace

std::string SftpUrl(std::string_view user, int port, std::string_view path,
                    std::string_view knownHosts, std::string_view identity) {
  std::string url = "sftp://" + Escape(user, false) + "@127.0.0.1:" + std::to_string(port);
  if (!path.empty()) {
    if (path.front() != '/') url += '/';
    url += Escape(path, true);
  }
  url += "?known_hosts=" + Escape(knownHosts, true);
  url += "&identity=" + Escape(identity, true);
  return url;
}

LocalSshServer::~LocalSshServer() {
  Stop();
  if (!directory_.empty()) {
    std::error_code ignored;
    std::filesystem::remove_all(directory_, ignored);
  }
}

bool LocalSshServer::Run(const char* command) {
  const std::string line = "bash " + ShellQuote(SL_LOCAL_SSHD_SCRIPT) + " " + command + " " +
                           ShellQuote(directory_) + " 2>&1";
  FILE* pipe = popen(line.c_str(), "r");
  if (pipe == nullptr) {
    error_ = "cannot run " + line;
    return false;
  }
  std::string output;
  char buffer[4096];
  size_t got;
  while ((got = fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, got);
  const int status = pclose(pipe);
  if (status != 0) {
    error_ = "local_sshd.sh " + std::string(command) + " failed (status " + std::to_string(status) +
             "): " + output;
    return false;
  }
  return true;
}

bool LocalSshServer::Start() {
  error_.clear();
  if (running_) return true;
  if (directory_.empty()) {
    std::string pattern =
        std::filesystem::path(sltest::TempDirectory()).string() + "sl-sshd-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) {
      error_ = "cannot make a folder like " + pattern;
      return false;
    }
    directory_ = pattern;
  }
  if (!Run("start")) return false;
  running_ = true;
  const std::string portText = ReadLine(directory_ + "/port");
  port_ = atoi(portText.c_str());
  user_ = ReadLine(directory_ + "/user");
  knownHosts_ = directory_ + "/known_hosts";
  identity_ = directory_ + "/id_ed25519";
  if (port_ <= 0 || port_ > 65535 || user_.empty()) {
    error_ = "local_sshd.sh left port '" + portText + "' and user '" + user_ + "'";
    return false;
  }
  return true;
}

bool LocalSshServer::Stop() {
  error_.clear();
  if (!running_) return true;
  running_ = false;
  return Run("stop");
}

bool LocalSshServer::Kill() {
  error_.clear();
  if (!running_) {
    error_ = "the server does not run";
    return false;
  }
  running_ = false;
  return Run("kill");
}

bool LocalSshServer::Pause() {
  error_.clear();
  return Run("pause");
}

bool LocalSshServer::Resume() {
  error_.clear();
  return Run("resume");
}

std::string LocalSshServer::Log() const {
  std::ifstream file(directory_ + "/sshd.log");
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}

std::string LocalSshServer::Url(std::string_view path) const {
  return SftpUrl(user_, port_, path, knownHosts_, identity_);
}

}  // namespace sl::testing
