// The URL that names a remote folder: sftp://[USER@]HOST[:PORT][/PATH][?OPTION=VALUE&...].
// Parsing only: nothing here touches the network.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace sl::sftp {

struct Url {
  std::string user;  // empty: the local user's name
  std::string host;  // without the brackets of an IPv6 address
  uint16_t port = 22;
  // The folder served, with %XX decoded: absolute ("/srv/data"), or below the login folder when
  // `home` is set ("" for the login folder itself, else "data/in").
  std::string path;
  bool home = true;
  uint32_t timeoutMs = 0;  // 0: not given
  std::string knownHosts;  // empty: not given
  std::string identity;    // empty: not given
};

// The URL's parts, or false with a sentence that says what is wrong.
bool ParseUrl(std::string_view text, Url* url, std::string* error);

}  // namespace sl::sftp
