// A TCP connection to a host by name, with one deadline for the name lookup and for every
// address tried: the system's resolver may wait much longer than the host's timeout (a name
// server that does not answer costs its own timeout times its attempts), so the lookup runs
// asynchronously and is given up when the deadline passes.
#pragma once

#include <cstdint>
#include <string>

namespace sl::sftp {

// "2 s" or "1500 ms", for messages.
std::string Duration(uint32_t milliseconds);

// A connected socket in blocking mode with TCP_NODELAY, or -1 and a sentence saying why not.
int ConnectSocket(const std::string& host, uint16_t port, uint32_t timeoutMs, std::string* why);

}  // namespace sl::sftp
