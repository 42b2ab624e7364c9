#include "url.h"

#include <cctype>
#include <charconv>

namespace sl::sftp {

namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// %XX decoded; false for a '%' not followed by two hex digits, or one that makes a NUL.
bool Decode(std::string_view in, std::string* out) {
  out->clear();
  for (size_t i = 0; i < in.size(); ++i) {
    if (in[i] != '%') {
      out->push_back(in[i]);
      continue;
    }
    const int high = i + 2 < in.size() ? HexValue(in[i + 1]) : -1;
    const int low = i + 2 < in.size() ? HexValue(in[i + 2]) : -1;
    if (high < 0 || low < 0 || (high == 0 && low == 0)) return false;
    out->push_back(static_cast<char>(high * 16 + low));
    i += 2;
  }
  return true;
}

bool ParseNumber(std::string_view text, uint64_t most, uint64_t* value) {
  if (text.empty()) return false;
  const auto [end, failure] = std::from_chars(text.data(), text.data() + text.size(), *value);
  return failure == std::errc() && end == text.data() + text.size() && *value <= most;
}

bool ParseOption(std::string_view pair, Url* url, std::string* error) {
  const size_t equals = pair.find('=');
  const std::string_view name = pair.substr(0, equals);
  std::string value;
  if (equals == std::string_view::npos || !Decode(pair.substr(equals + 1), &value) ||
      value.empty()) {
    *error = "the option \"" + std::string(pair) + "\" has no value";
    return false;
  }
  if (name == "timeout") {
    uint64_t seconds = 0;
    if (!ParseNumber(value, 86400, &seconds) || seconds == 0) {
      *error = "timeout takes whole seconds from 1 to 86400, not " + value;
      return false;
    }
    url->timeoutMs = static_cast<uint32_t>(seconds * 1000);
  } else if (name == "known_hosts") {
    url->knownHosts = value;
  } else if (name == "identity") {
    url->identity = value;
  } else {
    *error = "unknown option \"" + std::string(name) + "\" (timeout, known_hosts, identity)";
    return false;
  }
  return true;
}

}  // namespace

bool ParseUrl(std::string_view text, Url* url, std::string* error) {
  *url = Url{};
  constexpr std::string_view kScheme = "sftp://";
  if (text.substr(0, kScheme.size()) != kScheme) {
    *error = "an SFTP URL starts with sftp://";
    return false;
  }
  text.remove_prefix(kScheme.size());
  const size_t question = text.find('?');
  std::string_view options = question == std::string_view::npos ? "" : text.substr(question + 1);
  text = text.substr(0, question);
  const size_t slash = text.find('/');
  std::string_view authority = text.substr(0, slash);
  const std::string_view path = slash == std::string_view::npos ? "" : text.substr(slash);

  if (const size_t at = authority.rfind('@'); at != std::string_view::npos) {
    if (!Decode(authority.substr(0, at), &url->user) || url->user.empty() ||
        url->user.find(':') != std::string::npos) {
      *error = "the user name before '@' is empty, malformed, or carries a password";
      return false;
    }
    authority.remove_prefix(at + 1);
  }
  std::string_view port;
  if (!authority.empty() && authority.front() == '[') {
    const size_t close = authority.find(']');
    if (close == std::string_view::npos) {
      *error = "an IPv6 address opened with '[' is not closed with ']'";
      return false;
    }
    url->host = std::string(authority.substr(1, close - 1));
    if (close + 1 < authority.size()) {
      if (authority[close + 1] != ':') {
        *error = "only ':PORT' may follow ']'";
        return false;
      }
      port = authority.substr(close + 2);
      if (port.empty()) port = "-";  // "host:" with no digits
    }
  } else {
    const size_t colon = authority.find(':');
    url->host = std::string(authority.substr(0, colon));
    if (colon != std::string_view::npos) port = authority.substr(colon + 1);
    if (colon != std::string_view::npos && port.empty()) port = "-";
  }
  if (url->host.empty()) {
    *error = "the URL names no host";
    return false;
  }
  uint64_t number = 22;
  if (!port.empty() && (!ParseNumber(port, 65535, &number) || number == 0)) {
    *error = "the port must be a number from 1 to 65535, not " + std::string(port);
    return false;
  }
  url->port = static_cast<uint16_t>(number);

  std::string decoded;
  if (!Decode(path, &decoded)) {
    *error = "the path holds a '%' that is not followed by two hex digits (or escapes a NUL)";
    return false;
  }
  // "/~" and "/~/x" are below the login folder, as is no path at all.
  if (decoded.empty() || decoded == "/~" || decoded.rfind("/~/", 0) == 0) {
    url->home = true;
    url->path = decoded.size() > 3 ? decoded.substr(3) : "";
  } else {
    url->home = false;
    url->path = decoded;
  }

  while (!options.empty()) {
    const size_t amp = options.find('&');
    if (!ParseOption(options.substr(0, amp), url, error)) return false;
    options = amp == std::string_view::npos ? "" : options.substr(amp + 1);
  }
  return true;
}

}  // namespace sl::sftp
