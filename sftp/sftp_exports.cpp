// The library's one export: a plain C function that connects to a server as a file system.
#include <cstddef>
#include <cstring>
#include <new>
#include <type_traits>

#include "sftp_file_system.h"
#include "slservices/sl_sftp.h"

static_assert(std::is_same_v<decltype(&SLSftpConnect), SLSftpConnectFn>,
              "the export and its pointer type agree");

namespace {

void Tell(char* reason, uint64_t size, const std::string& text) {
  if (reason == nullptr || size == 0) return;
  const size_t length = std::min<size_t>(text.size(), static_cast<size_t>(size - 1));
  std::memcpy(reason, text.data(), length);
  reason[length] = '\0';
}

// A field the host's SLSftpOptions has (an older, shorter one ends before it), else nothing.
template <class Field>
Field Given(const SLSftpOptions* options, Field SLSftpOptions::*field, size_t offset) {
  if (options == nullptr || options->size < offset + sizeof(Field)) return Field{};
  return options->*field;
}

std::string Text(const char* given, const std::string& fallback) {
  return given != nullptr && given[0] != '\0' ? given : fallback;
}

}  // namespace

extern "C" SLResult SLSftpConnect(const char* url, const SLSftpOptions* options, uint32_t nameAtom,
                                  SLFileSystem** fileSystem, char* reason, uint64_t reasonSize) {
  if (url == nullptr || fileSystem == nullptr) {
    Tell(reason, reasonSize, "a null URL or out pointer");
    return SL_INVALID_ARGUMENT;
  }
  if (options != nullptr && options->size < offsetof(SLSftpOptions, knownHostsPath)) {
    Tell(reason, reasonSize, "SLSftpOptions::size is too small to hold the timeout");
    return SL_INVALID_ARGUMENT;
  }
  sl::sftp::Url parsed;
  std::string error;
  if (!sl::sftp::ParseUrl(url, &parsed, &error)) {
    Tell(reason, reasonSize, std::string(url) + ": " + error);
    return SL_INVALID_ARGUMENT;
  }
  sl::sftp::Settings settings;
  const uint32_t timeout =
      Given(options, &SLSftpOptions::timeoutMs, offsetof(SLSftpOptions, timeoutMs));
  settings.timeoutMs = timeout != 0 ? timeout : parsed.timeoutMs != 0 ? parsed.timeoutMs : 30000;
  settings.knownHosts =
      Text(Given(options, &SLSftpOptions::knownHostsPath, offsetof(SLSftpOptions, knownHostsPath)),
           parsed.knownHosts);
  settings.identity =
      Text(Given(options, &SLSftpOptions::identityPath, offsetof(SLSftpOptions, identityPath)),
           parsed.identity);
  settings.passphrase = Text(Given(options, &SLSftpOptions::identityPassphrase,
                                   offsetof(SLSftpOptions, identityPassphrase)),
                             "");
  try {
    *fileSystem = sl::sftp::SftpFileSystem::Connect(parsed, settings, nameAtom).detach()->table();
    return SL_OK;
  } catch (const sl::sdk::ServiceError& failure) {
    Tell(reason, reasonSize, failure.what());
    return failure.code();
  } catch (const std::bad_alloc&) {
    Tell(reason, reasonSize, "out of memory");
  } catch (const std::exception& failure) {
    Tell(reason, reasonSize, failure.what());
  }
  return SL_OS_FAILURE;
}
