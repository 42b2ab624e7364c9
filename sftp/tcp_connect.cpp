#include "tcp_connect.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>

namespace sl::sftp {

namespace {

using Clock = std::chrono::steady_clock;

// One lookup, run on a thread of its own so that the caller can stop waiting for it. The
// system's asynchronous lookup (getaddrinfo_a) is not used: its worker threads are made inside
// the C library, where sanitizers and other interposers cannot see them start.
struct Lookup {
  std::mutex lock;
  std::condition_variable ended;
  bool done = false;
  int status = 0;
  addrinfo* found = nullptr;
  ~Lookup() {
    if (found != nullptr) freeaddrinfo(found);
  }
};

// A thread given up on still runs this library's code when its lookup ends, so the library
// must stay loaded from then on, whatever the host unloads.
void KeepThisLibraryLoaded() {
  Dl_info self{};
  if (dladdr(reinterpret_cast<void*>(&KeepThisLibraryLoaded), &self) != 0 &&
      self.dli_fname != nullptr) {
    dlopen(self.dli_fname, RTLD_LAZY | RTLD_NOLOAD | RTLD_NODELETE);
  }
}

int64_t MillisecondsLeft(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
  return left.count() > 0 ? left.count() : 0;
}

// The host's addresses, or null and the reason; waits until `deadline` at most.
addrinfo* LookUp(const std::string& host, uint16_t port, Clock::time_point deadline,
                 uint32_t timeoutMs, std::string* why) {
  auto lookup = std::make_shared<Lookup>();
  std::thread worker;
  try {
    worker = std::thread([lookup, host, service = std::to_string(port)] {
      addrinfo hints{};
      hints.ai_family = AF_UNSPEC;
      hints.ai_socktype = SOCK_STREAM;
      addrinfo* found = nullptr;
      const int status = getaddrinfo(host.c_str(), service.c_str(), &hints, &found);
      std::lock_guard<std::mutex> guard(lookup->lock);
      lookup->status = status;
      lookup->found = found;
      lookup->done = true;
      lookup->ended.notify_all();
    });
  } catch (const std::exception& error) {
    *why = "cannot find the host " + host + ": no thread for the lookup (" + error.what() + ")";
    return nullptr;
  }
  std::unique_lock<std::mutex> guard(lookup->lock);
  if (!lookup->ended.wait_until(guard, deadline, [&] { return lookup->done; })) {
    guard.unlock();
    KeepThisLibraryLoaded();
    worker.detach();  // it frees what it found when it ends
    *why = "cannot find the host " + host + ": the name service did not answer within " +
           Duration(timeoutMs);
    return nullptr;
  }
  guard.unlock();
  worker.join();  // it has left this library's code before the caller may unload it
  if (lookup->status != 0) {
    *why = "cannot find the host " + host + ": " + gai_strerror(lookup->status);
    return nullptr;
  }
  return std::exchange(lookup->found, nullptr);
}

}  // namespace

std::string Duration(uint32_t milliseconds) {
  return milliseconds % 1000 == 0 ? std::to_string(milliseconds / 1000) + " s"
                                  : std::to_string(milliseconds) + " ms";
}

int ConnectSocket(const std::string& host, uint16_t port, uint32_t timeoutMs, std::string* why) {
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  addrinfo* const found = LookUp(host, port, deadline, timeoutMs, why);
  if (found == nullptr) return -1;
  int fd = -1;
  *why = "cannot reach " + host + " at port " + std::to_string(port);
  for (addrinfo* address = found; address != nullptr && fd < 0; address = address->ai_next) {
    fd = socket(address->ai_family, address->ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK,
                address->ai_protocol);
    if (fd < 0) continue;
    int error = connect(fd, address->ai_addr, address->ai_addrlen) == 0 ? 0 : errno;
    if (error == EINPROGRESS) {
      pollfd waiting{fd, POLLOUT, 0};
      const int ready = poll(&waiting, 1, static_cast<int>(MillisecondsLeft(deadline)));
      socklen_t size = sizeof(error);
      if (ready == 0) {
        error = ETIMEDOUT;
      } else if (ready < 0 || getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) != 0) {
        error = errno;
      }
    }
    if (error != 0) {
      *why += std::string(": ") + (error == ETIMEDOUT ? "no answer within " + Duration(timeoutMs)
                                                      : std::strerror(error));
      close(fd);
      fd = -1;
    }
  }
  freeaddrinfo(found);
  if (fd >= 0) {
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    const int on = 1;  // requests are small and answered one by one: no waiting to fill packets
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof(on));
  }
  return fd;
}

}  // namespace sl::sftp
