// The SFTP file system against a private OpenSSH server on 127.0.0.1: every entry's codes, the
// conformance kit, data at any offset, many threads on one connection, streams over it, refused
// connections, and a server that dies or stalls under a read or a write. The served folder is a
// local one, so the tests look at what the server stored with std::filesystem.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <sstream>
#include <thread>

#include "common/temp_directory.h"
#include "host/host_support.h"
#include "network/ssh_server.h"
#include "slservices/sdk/sdk.hpp"
#include "slservices/sdk/sftp.hpp"
#include "slservices/sl_sftp.h"
#include "slservices/testing/conformance.hpp"
#include "url.h"

#include <arpa/inet.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

namespace {

namespace fs = std::filesystem;
using sl::sdk::Ref;
using Clock = std::chrono::steady_clock;

std::string Pattern(size_t size, unsigned seed) {
  std::string bytes(size, '\0');
  std::mt19937 random(seed);
  for (char& c : bytes) c = static_cast<char>(random());
  return bytes;
}

std::string Slurp(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream all;
  all << in.rdbuf();
  return all.str();
}

void Spill(const fs::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

// The calling thread's record on `fs`: its message, or "" when there is none.
std::string Record(SLFileSystem* fs) {
  const auto record = sl::sdk::ReadErrorRecord(reinterpret_cast<ServiceObject*>(fs));
  return record ? record->message : "";
}

// A server, a folder it serves, and a file system connected to it.
class SftpTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(server_.Start()) << server_.error();
    root_ = fs::path(server_.directory()) / "served";
    fs::create_directories(root_);
  }

  // Connects to the served folder; `options` as the URL's query ("timeout=2").
  Ref<SLFileSystem> Connect(const std::string& options = "") {
    std::string url = server_.Url(root_.string());
    if (!options.empty()) url += "&" + options;
    Ref<SLFileSystem> fs;
    char reason[512] = {};
    const SLResult code = SLSftpConnect(url.c_str(), nullptr, 42, fs.put(), reason, sizeof(reason));
    EXPECT_EQ(code, SL_OK) << reason;
    return fs;
  }

  sl::testing::LocalSshServer server_;
  fs::path root_;
};

// ---- the URL ----

TEST(SftpUrlTest, ReadsEveryPart) {
  struct Row {
    const char* url;
    const char* user;
    const char* host;
    uint16_t port;
    const char* path;
    bool home;
    uint32_t timeoutMs;
    const char* knownHosts;
  };
  const Row rows[] = {
      {"sftp://h", "", "h", 22, "", true, 0, ""},
      {"sftp://ann@h:2222/srv/data", "ann", "h", 2222, "/srv/data", false, 0, ""},
      {"sftp://h/~", "", "h", 22, "", true, 0, ""},
      {"sftp://h/~/in/box", "", "h", 22, "in/box", true, 0, ""},
      {"sftp://h/", "", "h", 22, "/", false, 0, ""},
      {"sftp://a%40b@[::1]:22/a%20b?timeout=7", "a@b", "::1", 22, "/a b", false, 7000, ""},
      {"sftp://h/x?known_hosts=/k%26h&timeout=1", "", "h", 22, "/x", false, 1000, "/k&h"},
  };
  for (const Row& row : rows) {
    sl::sftp::Url url;
    std::string error;
    ASSERT_TRUE(sl::sftp::ParseUrl(row.url, &url, &error)) << row.url << ": " << error;
    EXPECT_EQ(url.user, row.user) << row.url;
    EXPECT_EQ(url.host, row.host) << row.url;
    EXPECT_EQ(url.port, row.port) << row.url;
    EXPECT_EQ(url.path, row.path) << row.url;
    EXPECT_EQ(url.home, row.home) << row.url;
    EXPECT_EQ(url.timeoutMs, row.timeoutMs) << row.url;
    EXPECT_EQ(url.knownHosts, row.knownHosts) << row.url;
  }
}

TEST(SftpUrlTest, RefusesMalformedOnesSayingWhy) {
  const std::pair<const char*, const char*> rows[] = {
      {"ftp://h/x", "starts with sftp://"},
      {"sftp:///x", "no host"},
      {"sftp://h:0/x", "port"},
      {"sftp://h:65536/x", "port"},
      {"sftp://h:22x/x", "port"},
      {"sftp://h:/x", "port"},
      {"sftp://[::1/x", "not closed"},
      {"sftp://ann:secret@h/x", "password"},
      {"sftp://@h/x", "user name"},
      {"sftp://h/a%2", "'%'"},
      {"sftp://h/a%00b", "'%'"},
      {"sftp://h/x?timeout=0", "timeout"},
      {"sftp://h/x?timeout=1.5", "timeout"},
      {"sftp://h/x?password=x", "unknown option"},
      {"sftp://h/x?identity=", "no value"},
  };
  for (const auto& [text, why] : rows) {
    sl::sftp::Url url;
    std::string error;
    EXPECT_FALSE(sl::sftp::ParseUrl(text, &url, &error)) << text;
    EXPECT_NE(error.find(why), std::string::npos) << text << ": " << error;
  }
}

// ---- connecting ----

TEST_F(SftpTest, RefusedConnectionsSayWhich) {
  const fs::path keys = fs::path(server_.directory()) / "other";
  fs::create_directories(keys);
  const std::string otherKey = (keys / "id").string();
  ASSERT_EQ(std::system(("ssh-keygen -q -t ed25519 -N '' -f " + otherKey).c_str()), 0);
  // The server's host line with another key in its place: a changed host key.
  std::string line = Slurp(server_.knownHosts());
  line = line.substr(0, line.find("ssh-ed25519")) + Slurp(otherKey + ".pub");
  Spill(keys / "changed", line);
  Spill(keys / "empty", "");
  Spill(root_ / "plain.txt", "x");
  const std::string served = root_.string();
  const auto url = [&](const std::string& path, const std::string& knownHosts,
                       const std::string& identity) {
    return sl::testing::SftpUrl(server_.user(), server_.port(), path, knownHosts, identity);
  };
  struct Row {
    std::string url;
    SLResult code;
    const char* why;
  };
  const Row rows[] = {
      {url(served, (keys / "empty").string(), server_.identity()), SL_ACCESS_DENIED, "is unknown"},
      {url(served, (keys / "changed").string(), server_.identity()), SL_ACCESS_DENIED,
       "does not match"},
      {url(served, (keys / "none").string(), server_.identity()), SL_ACCESS_DENIED,
       "cannot be read"},
      {url(served, server_.knownHosts(), otherKey), SL_ACCESS_DENIED, "no key logs in"},
      {url(served + "/missing", server_.knownHosts(), server_.identity()), SL_NOT_FOUND,
       "cannot find the folder"},
      {url(served + "/plain.txt", server_.knownHosts(), server_.identity()), SL_ACCESS_DENIED,
       "is a file"},
      {"sftp://127.0.0.1:1/x?timeout=2", SL_OS_FAILURE, "cannot reach 127.0.0.1 at port 1"},
      {"sftp://h/x?speed=1", SL_INVALID_ARGUMENT, "unknown option"},
  };
  for (const Row& row : rows) {
    SLFileSystem* fs = reinterpret_cast<SLFileSystem*>(0x5eed);
    char reason[512] = {};
    EXPECT_EQ(SLSftpConnect(row.url.c_str(), nullptr, 1, &fs, reason, sizeof(reason)), row.code)
        << row.url << ": " << reason;
    EXPECT_NE(std::string(reason).find(row.why), std::string::npos) << row.url << ": " << reason;
    EXPECT_EQ(fs, reinterpret_cast<SLFileSystem*>(0x5eed)) << row.url;
  }
  SLFileSystem* fs = nullptr;
  EXPECT_EQ(SLSftpConnect(nullptr, nullptr, 1, &fs, nullptr, 0), SL_INVALID_ARGUMENT);
  EXPECT_EQ(SLSftpConnect("sftp://h", nullptr, 1, nullptr, nullptr, 0), SL_INVALID_ARGUMENT);
  // Options win over the URL: the right known-hosts file given beside a URL naming a wrong one.
  SLSftpOptions options{};
  options.size = sizeof(options);
  const std::string knownHosts = server_.knownHosts();
  options.knownHostsPath = knownHosts.c_str();
  const std::string wrong = url(served, (keys / "empty").string(), server_.identity());
  ASSERT_EQ(SLSftpConnect(wrong.c_str(), &options, 1, &fs, nullptr, 0), SL_OK);
  Ref<SLFileSystem>::Adopt(fs);
  // An older host's shorter options end before the known-hosts field: the field is not read.
  const std::string right = url(served, server_.knownHosts(), server_.identity());
  options.size = offsetof(SLSftpOptions, knownHostsPath);
  options.knownHostsPath = "/nowhere/known_hosts";
  ASSERT_EQ(SLSftpConnect(right.c_str(), &options, 1, &fs, nullptr, 0), SL_OK);
  Ref<SLFileSystem>::Adopt(fs);
  options.size = 4;  // not even the timeout
  EXPECT_EQ(SLSftpConnect(right.c_str(), &options, 1, &fs, nullptr, 0), SL_INVALID_ARGUMENT);
}

// The server has an Ed25519 and an ECDSA host key; libssh2 by itself would ask for the ECDSA
// one. Whatever kind the known-hosts file holds for the host is the kind asked for, hashed
// names included; a file that holds a wrong key of one kind refuses it as changed.
TEST_F(SftpTest, AsksForTheKindOfHostKeyTheKnownHostsFileHolds) {
  const fs::path keys = fs::path(server_.directory()) / "kinds";
  fs::create_directories(keys);
  const std::string prefix = "[127.0.0.1]:" + std::to_string(server_.port()) + " ";
  const auto line = [&](const std::string& publicKey) {
    const std::string text = Slurp(publicKey);
    return prefix + text.substr(0, text.find(' ', text.find(' ') + 1)) + "\n";
  };
  const std::string ed25519 = line(server_.directory() + "/host_ed25519_key.pub");
  const std::string ecdsa = line(server_.directory() + "/host_ecdsa_key.pub");
  const std::string other = (keys / "other").string();
  ASSERT_EQ(std::system(("ssh-keygen -q -t ecdsa -b 256 -N '' -f " + other).c_str()), 0);
  struct Row {
    const char* what;
    std::string contents;
    bool hashed;
    SLResult code;
    const char* why;
  };
  const Row rows[] = {
      {"Ed25519 only", ed25519, false, SL_OK, ""},
      {"ECDSA only", ecdsa, false, SL_OK, ""},
      {"both", ecdsa + ed25519, false, SL_OK, ""},
      {"Ed25519 only, hashed", ed25519, true, SL_OK, ""},
      {"ECDSA only, hashed", ecdsa, true, SL_OK, ""},
      {"another ECDSA key", line(other + ".pub"), false, SL_ACCESS_DENIED,
       "(ecdsa-sha2-nistp256 SHA256:"},
      {"another host only", "[127.0.0.1]:1 " + ed25519.substr(prefix.size()), false,
       SL_ACCESS_DENIED, "is unknown"},
  };
  int n = 0;
  for (const Row& row : rows) {
    const std::string file = (keys / ("known_hosts" + std::to_string(n++))).string();
    Spill(file, row.contents);
    if (row.hashed) {
      ASSERT_EQ(std::system(("ssh-keygen -q -H -f " + file + " >/dev/null 2>&1").c_str()), 0);
    }
    const std::string url = sl::testing::SftpUrl(server_.user(), server_.port(), root_.string(),
                                                 file, server_.identity());
    SLFileSystem* fs = nullptr;
    char reason[512] = {};
    EXPECT_EQ(SLSftpConnect(url.c_str(), nullptr, 1, &fs, reason, sizeof(reason)), row.code)
        << row.what << ": " << reason;
    EXPECT_NE(std::string(reason).find(row.why), std::string::npos) << row.what << ": " << reason;
    if (fs != nullptr) Ref<SLFileSystem>::Adopt(fs);
  }
}

// ---- waits before there is a connection ----

struct Attempt {
  SLResult code;
  double seconds;
  std::string reason;
};

Attempt ConnectTo(const std::string& url) {
  const Clock::time_point start = Clock::now();
  SLFileSystem* fs = nullptr;
  char reason[512] = {};
  Attempt attempt{SLSftpConnect(url.c_str(), nullptr, 1, &fs, reason, sizeof(reason)), 0, reason};
  attempt.seconds = std::chrono::duration<double>(Clock::now() - start).count();
  if (fs != nullptr) Ref<SLFileSystem>::Adopt(fs);
  return attempt;
}

// Whether this process may make mount and network namespaces (root, outside a jail that
// forbids them): asked in a child, which ends at once.
bool CanMakeNamespaces() {
  const pid_t child = fork();
  if (child == 0) {
    std::_Exit(unshare(CLONE_NEWNS | CLONE_NEWNET) == 0 &&
                       mount("none", "/", "none", MS_REC | MS_PRIVATE, nullptr) == 0
                   ? 0
                   : 1);
  }
  int status = 0;
  return child > 0 && waitpid(child, &status, 0) == child && WIFEXITED(status) &&
         WEXITSTATUS(status) == 0;
}

// In a child of its own: namespaces in which the only name server is a socket on 127.0.0.1:53
// that reads nothing, and the resolver is told to wait 4 s for it. A host loads a copy of the
// library, connects with a timeout of 1 s, which must give the lookup up after that second,
// unloads the library, and lives on while the given-up lookup ends on its thread (which then
// runs the library's code again: an unloaded library would crash the process). Exits 0 when
// all went so.
[[noreturn]] void LookUpWhereNoNameServerAnswers() {
  char conf[] = "/tmp/sl-resolv-XXXXXX";
  const int file = mkstemp(conf);
  const char text[] = "nameserver 127.0.0.1\noptions timeout:4 attempts:1\n";
  const bool written = file >= 0 && write(file, text, sizeof(text) - 1) == sizeof(text) - 1;
  const bool isolated = written && unshare(CLONE_NEWNS | CLONE_NEWNET) == 0 &&
                        mount("none", "/", "none", MS_REC | MS_PRIVATE, nullptr) == 0 &&
                        mount(conf, "/etc/resolv.conf", "none", MS_BIND, nullptr) == 0;
  unlink(conf);
  ifreq loopback{};
  std::strcpy(loopback.ifr_name, "lo");
  const int control = socket(AF_INET, SOCK_DGRAM, 0);
  const bool up = ioctl(control, SIOCGIFFLAGS, &loopback) == 0 &&
                  (loopback.ifr_flags |= IFF_UP, ioctl(control, SIOCSIFFLAGS, &loopback) == 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(53);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const int silent = socket(AF_INET, SOCK_DGRAM, 0);
  const bool bound = bind(silent, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0;
  if (!isolated || !up || !bound) {
    std::fprintf(stderr, "cannot set the namespaces up\n");
    std::_Exit(2);
  }
  // A copy, so that unloading it unloads it: the one beside the test is linked in.
  const fs::path copy = sltest::MakeTempFolder("sl-sftp-copy") / "libslsftp.so";
  fs::copy_file(sl::sdk::SftpConnections::BesideExecutable(), copy);
  auto sftp = sl::sdk::SftpConnections::Open(copy);
  const Clock::time_point start = Clock::now();
  SLResult code = SL_OK;
  std::string reason;
  try {
    sftp->Connect("sftp://ann@slow.invalid/x?timeout=1", 1);
  } catch (const sl::sdk::ServiceError& error) {
    code = error.code();
    reason = error.what();
  }
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  std::fprintf(stderr, "code %d after %.2f s: %s\n", code, seconds, reason.c_str());
  sftp.reset();
  std::this_thread::sleep_for(std::chrono::seconds(10));  // the lookup's 4 s (8 s, one by one)
  fs::remove_all(copy.parent_path());
  const bool kept =
      code == SL_OS_FAILURE && seconds < 3.0 &&
      reason.find("slow.invalid: the name service did not answer within 1 s") != std::string::npos;
  std::_Exit(kept ? 0 : 1);  // no exit handlers: none of this is the test's to clean up
}

// The timeout also bounds the waits before the SSH handshake: a port whose listener's queue
// is full (the kernel drops the new connection's SYN, so connect waits), and a name server
// that never answers.
TEST(SftpConnectTest, TheTimeoutBoundsTheLookupAndTheConnect) {
  const int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof(address);
  ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), size), 0);
  ASSERT_EQ(listen(listener, 0), 0);
  ASSERT_EQ(getsockname(listener, reinterpret_cast<sockaddr*>(&address), &size), 0);
  std::vector<int> queued;
  for (int i = 0; i < 3; ++i) {  // fill the accept queue; no one accepts
    queued.push_back(socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    connect(queued.back(), reinterpret_cast<sockaddr*>(&address), size);
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  const std::string port = std::to_string(ntohs(address.sin_port));
  const Attempt attempt = ConnectTo("sftp://ann@127.0.0.1:" + port + "/x?timeout=1");
  EXPECT_EQ(attempt.code, SL_OS_FAILURE) << attempt.reason;
  EXPECT_GE(attempt.seconds, 0.9);
  EXPECT_LT(attempt.seconds, 3.0);
  EXPECT_NE(
      attempt.reason.find("cannot reach 127.0.0.1 at port " + port + ": no answer within 1 s"),
      std::string::npos)
      << attempt.reason;
  for (const int fd : queued) close(fd);
  close(listener);

  if (!CanMakeNamespaces()) GTEST_SKIP() << "no mount and network namespaces here";
  EXPECT_EXIT(LookUpWhereNoNameServerAnswers(), ::testing::ExitedWithCode(0), "");
}

// ---- every entry's codes ----

TEST_F(SftpTest, EntriesGiveTheDefaultFileSystemsCodes) {
  Ref<SLFileSystem> fs = Connect();
  ASSERT_TRUE(fs);
  SLFileSystem* f = fs.get();
  fs::create_directories(root_ / "full");
  Spill(root_ / "full" / "a.txt", "a");
  Spill(root_ / "file.txt", "0123456789");
  fs::create_symlink(root_ / "nowhere", root_ / "dangling");
  SLFileHandle held = nullptr;  // file.txt, open for reading for the rows below
  ASSERT_EQ(f->OpenFile(f, u"file.txt", SL_OPEN_READ, &held), SL_OK);
  struct Row {
    const char* what;
    std::function<SLResult()> call;
    SLResult code;
    const char* why;  // in the record of a failure
  };
  const auto open = [f](const char16_t* path, uint32_t mode) {
    return [=] {
      SLFileHandle file = nullptr;
      const SLResult code = f->OpenFile(f, path, mode, &file);
      if (file != nullptr) f->CloseFile(f, file);
      return code;
    };
  };
  const Row rows[] = {
      {"open a missing file for reading", open(u"missing.txt", SL_OPEN_READ), SL_NOT_FOUND,
       "no such file"},
      {"open a missing file for writing", open(u"missing.txt", SL_OPEN_WRITE), SL_NOT_FOUND,
       "no such file"},
      {"create in a missing folder", open(u"nofolder/x.txt", SL_OPEN_CREATE), SL_OS_FAILURE,
       "a folder on the way is missing"},
      {"open a folder for reading", open(u"full", SL_OPEN_READ), SL_ACCESS_DENIED, "a folder"},
      {"open a folder for writing", open(u"full", SL_OPEN_WRITE), SL_ACCESS_DENIED, "a folder"},
      {"open the root", open(u"/", SL_OPEN_READ), SL_ACCESS_DENIED, "a folder"},
      {"read a file open for reading again", open(u"file.txt", SL_OPEN_READ), SL_OK, ""},
      {"write a file open for reading", open(u"file.txt", SL_OPEN_WRITE), SL_OS_FAILURE,
       "is open in this file system already"},
      {"remove a file open for reading", [f] { return f->RemoveFile(f, u"full/a.txt"); }, SL_OK,
       ""},
      {"climb above the root", open(u"../x", SL_OPEN_READ), SL_INVALID_ARGUMENT, "climbs"},
      {"a lone surrogate", open(u"a\xD800", SL_OPEN_READ), SL_INVALID_ARGUMENT, "UTF-16"},
      {"make a folder that exists", [f] { return f->CreateFolder(f, u"full"); }, SL_ALREADY_EXISTS,
       "exists"},
      {"make a folder over a file", [f] { return f->CreateFolder(f, u"file.txt"); },
       SL_ALREADY_EXISTS, "a file of that name"},
      {"make a folder in a missing one", [f] { return f->CreateFolder(f, u"no/deep"); },
       SL_OS_FAILURE, "a folder on the way is missing"},
      {"make every folder on the way", [f] { return f->CreateAllFolders(f, u"x/y/z"); }, SL_OK, ""},
      {"make every folder again", [f] { return f->CreateAllFolders(f, u"x\\y/z/"); }, SL_OK, ""},
      {"make folders through a file", [f] { return f->CreateAllFolders(f, u"file.txt/q"); },
       SL_OS_FAILURE, "a file is in the way"},
      {"remove a folder holding a folder", [f] { return f->RemoveFolder(f, u"x/y"); },
       SL_OS_FAILURE, "not empty"},
      {"remove a missing folder", [f] { return f->RemoveFolder(f, u"nofolder"); }, SL_NOT_FOUND,
       "no such file"},
      {"remove a file as a folder", [f] { return f->RemoveFolder(f, u"file.txt"); }, SL_OS_FAILURE,
       "not a folder"},
      {"remove the root", [f] { return f->RemoveFolder(f, u"."); }, SL_ACCESS_DENIED, "root"},
      {"remove a missing file", [f] { return f->RemoveFile(f, u"missing.txt"); }, SL_NOT_FOUND,
       "no such file"},
      {"remove a folder as a file", [f] { return f->RemoveFile(f, u"x"); }, SL_ACCESS_DENIED,
       "a folder"},
      {"search a missing folder",
       [f] {
         SLFileSystemSearchResult* result = nullptr;
         return f->Search(f, u"nofolder/*", &result);
       },
       SL_INVALID_ARGUMENT, "no such folder"},
      {"search a pattern ending in a separator",
       [f] {
         SLFileSystemSearchResult* result = nullptr;
         return f->Search(f, u"full/", &result);
       },
       SL_INVALID_ARGUMENT, "ends in a separator"},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(row.call(), row.code) << row.what;
    if (SL_FAILED(row.code)) {
      EXPECT_NE(Record(f).find(row.why), std::string::npos) << row.what << ": " << Record(f);
    }
  }
  EXPECT_TRUE(fs::is_directory(root_ / "x" / "y" / "z"));
  EXPECT_FALSE(fs::exists(root_ / "full" / "a.txt"));
  uint8_t exists = 0;
  EXPECT_EQ(f->IsFileExists(f, u"dangling", &exists), SL_OK);
  EXPECT_EQ(exists, 1) << "a dangling link is an entry, as on the default file system";
  EXPECT_EQ(f->IsFileExists(f, u"full/a.txt", &exists), SL_OK);
  EXPECT_EQ(exists, 0);
  uint64_t wrote = 0;
  EXPECT_EQ(f->WriteFile(f, held, "x", 1, &wrote), SL_ACCESS_DENIED);
  EXPECT_NE(Record(f).find("open for reading only"), std::string::npos) << Record(f);
  EXPECT_EQ(f->CloseFile(f, held), SL_OK);

  // Create truncates; a file open for writing is open once and is not removed.
  SLFileHandle file = nullptr;
  ASSERT_EQ(f->OpenFile(f, u"file.txt", SL_OPEN_CREATE, &file), SL_OK);
  EXPECT_EQ(fs::file_size(root_ / "file.txt"), 0u);
  EXPECT_EQ(open(u"file.txt", SL_OPEN_READ)(), SL_OS_FAILURE);
  EXPECT_NE(Record(f).find("is open for writing in this file system"), std::string::npos);
  EXPECT_EQ(f->RemoveFile(f, u"file.txt"), SL_OS_FAILURE);
  EXPECT_EQ(f->CloseFile(f, file), SL_OK);
  EXPECT_EQ(f->RemoveFile(f, u"file.txt"), SL_OK);

  // Search: one pass over the listing, wildcards matched here.
  for (const char* name : {"b1.txt", "b2.txt", "b10.txt", "c.bin"}) Spill(root_ / "x" / name, "");
  const std::pair<const char16_t*, std::vector<std::u16string>> searches[] = {
      {u"x/b?.txt", {u"b1.txt", u"b2.txt"}},
      {u"x/*.txt", {u"b1.txt", u"b10.txt", u"b2.txt"}},
      {u"x/c.bin", {u"c.bin"}},
      {u"x/*", {u".", u"..", u"b1.txt", u"b10.txt", u"b2.txt", u"c.bin", u"y"}},
  };
  for (const auto& [pattern, expected] : searches) {
    Ref<SLFileSystemSearchResult> result;
    ASSERT_EQ(f->Search(f, pattern, result.put()), SL_OK);
    std::vector<std::u16string> names = sl::sdk::conformance_detail::Names(result.get());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, expected) << sl::sdk::ToUtf8(pattern);
  }
}

TEST_F(SftpTest, PassesTheConformanceKitReadWrite) {
  Ref<SLFileSystem> fs = Connect();
  ASSERT_TRUE(fs);
  fs::create_directories(root_ / "kit");
  sl::sdk::CheckOptions options;
  options.scratch = u"/kit";
  std::ostringstream report;
  EXPECT_EQ(sl::sdk::CheckFileSystem(fs.get(), options, report), 0) << report.str();
  EXPECT_NE(report.str().find("0 failed, 0 skipped"), std::string::npos) << report.str();
}

// ---- data ----

// Reads at offsets around every window's edge, after seeks both ways, agree with the file; writes
// in pieces, gathered and sent, reach the server at FlushFile and at CloseFile.
TEST_F(SftpTest, ReadsAndWritesAnyRange) {
  const std::string bytes = Pattern(5 * 1024 * 1024 + 123, 1);
  Spill(root_ / "data.bin", bytes);
  Ref<SLFileSystem> fs = Connect();
  ASSERT_TRUE(fs);
  SLFileSystem* f = fs.get();
  SLFileHandle file = nullptr;
  ASSERT_EQ(f->OpenFile(f, u"data.bin", SL_OPEN_READ, &file), SL_OK);
  const std::pair<uint64_t, uint64_t> reads[] = {
      {0, 4096},
      {4096, 4096},
      {8192, 40000},
      {48192, 1},
      {32767, 2},
      {65535, 70000},
      {1, 3 * 1024 * 1024},
      {5 * 1024 * 1024, 200},
      {bytes.size() - 10, 4096},
      {bytes.size(), 10},
      {bytes.size() + 5, 10},
      {2097151, 4097},
      {100, 2097152},
      {0, bytes.size() + 1000},
  };
  std::string buffer;
  for (const auto& [at, size] : reads) {
    buffer.assign(size, '\0');
    ASSERT_EQ(f->SetFilePos(f, file, static_cast<int64_t>(at)), SL_OK);
    uint64_t got = 0;
    ASSERT_EQ(f->ReadFile(f, file, buffer.data(), size, &got), SL_OK) << at << "+" << size;
    const uint64_t expected = at >= bytes.size() ? 0 : std::min(size, bytes.size() - at);
    // One read may stop at its window's end; the next continues from there.
    uint64_t more = 0;
    while (got < expected &&
           f->ReadFile(f, file, buffer.data() + got, size - got, &more) == SL_OK && more != 0) {
      got += more;
    }
    ASSERT_EQ(got, expected) << at << "+" << size;
    EXPECT_EQ(got == 0 ? 0 : buffer.compare(0, got, bytes, at, got), 0) << at << "+" << size;
  }
  EXPECT_EQ(f->CloseFile(f, file), SL_OK);

  // Writes: in order (gathered), one larger than the gathering, one elsewhere, one past the end.
  std::string expected = bytes;
  ASSERT_EQ(f->OpenFile(f, u"data.bin", SL_OPEN_WRITE, &file), SL_OK);
  const std::pair<uint64_t, std::string> writes[] = {
      {10, Pattern(5000, 2)}, {5010, Pattern(70000, 3)},    {1000000, Pattern(3000000, 4)},
      {50, "edge"},           {bytes.size() + 100, "tail"},
  };
  for (const auto& [at, data] : writes) {
    uint64_t done = 0;
    ASSERT_EQ(f->SetFilePos(f, file, static_cast<int64_t>(at)), SL_OK);
    ASSERT_EQ(f->WriteFile(f, file, data.data(), data.size(), &done), SL_OK);
    ASSERT_EQ(done, data.size());
    if (expected.size() < at + data.size()) expected.resize(at + data.size(), '\0');
    expected.replace(at, data.size(), data);
  }
  uint64_t size = 0;
  EXPECT_EQ(f->GetFileSize(f, file, &size), SL_OK);
  EXPECT_EQ(size, expected.size());
  EXPECT_EQ(f->FlushFile(f, file), SL_OK);
  EXPECT_EQ(Slurp(root_ / "data.bin"), expected) << "FlushFile sends what was gathered";
  // Read back through the same handle: the read sees the writes before it.
  uint64_t done = 0;
  ASSERT_EQ(f->WriteFile(f, file, "ZZ", 2, &done), SL_OK);
  ASSERT_EQ(f->SetFilePos(f, file, static_cast<int64_t>(bytes.size() + 100)), SL_OK);
  char tail[8] = {};
  EXPECT_EQ(f->ReadFile(f, file, tail, sizeof(tail), &done), SL_OK);
  EXPECT_EQ(std::string(tail, done), "tailZZ");
  EXPECT_EQ(f->CloseFile(f, file), SL_OK);
  EXPECT_EQ(Slurp(root_ / "data.bin"), expected + "ZZ");
}

TEST_F(SftpTest, PositionsPastFourGiB) {
  Ref<SLFileSystem> fs = Connect();
  ASSERT_TRUE(fs);
  SLFileSystem* f = fs.get();
  const int64_t far = (int64_t{5} << 30) + 7;
  SLFileHandle file = nullptr;
  ASSERT_EQ(f->OpenFile(f, u"sparse.bin", SL_OPEN_CREATE, &file), SL_OK);
  uint64_t done = 0, size = 0, position = 0;
  ASSERT_EQ(f->SetFilePos(f, file, far), SL_OK);
  ASSERT_EQ(f->WriteFile(f, file, "far", 3, &done), SL_OK);
  EXPECT_EQ(f->GetFilePos(f, file, &position), SL_OK);
  EXPECT_EQ(position, static_cast<uint64_t>(far) + 3);
  EXPECT_EQ(f->CloseFile(f, file), SL_OK);
  EXPECT_EQ(fs::file_size(root_ / "sparse.bin"), static_cast<uint64_t>(far) + 3);
  ASSERT_EQ(f->OpenFile(f, u"sparse.bin", SL_OPEN_READ, &file), SL_OK);
  EXPECT_EQ(f->GetFileSize(f, file, &size), SL_OK);
  EXPECT_EQ(size, static_cast<uint64_t>(far) + 3);
  char back[8] = {};
  ASSERT_EQ(f->SetFilePos(f, file, far - 1), SL_OK);
  EXPECT_EQ(f->ReadFile(f, file, back, sizeof(back), &done), SL_OK);
  EXPECT_EQ(std::string(back, done), std::string("\0far", 4));
  EXPECT_EQ(f->CloseFile(f, file), SL_OK);
}

// Eight threads on one connection, each writing and reading back its own file at once.
TEST_F(SftpTest, EightThreadsReadAndWriteTheirOwnFiles) {
  Ref<SLFileSystem> fs = Connect();
  ASSERT_TRUE(fs);
  SLFileSystem* f = fs.get();
  std::vector<std::string> failures(8);
  std::vector<std::thread> threads;
  for (unsigned t = 0; t < 8; ++t) {
    threads.emplace_back([&, t] {
      const std::u16string name = u"thread" + sl::sdk::ToUtf16(std::to_string(t)) + u".bin";
      const std::string bytes = Pattern(3 * 1024 * 1024 + t * 1000, t + 10);
      SLFileHandle file = nullptr;
      uint64_t done = 0;
      if (f->OpenFile(f, name.c_str(), SL_OPEN_CREATE, &file) != SL_OK) {
        failures[t] = "create: " + Record(f);
        return;
      }
      for (size_t at = 0; at < bytes.size(); at += 10000) {
        const uint64_t piece = std::min<uint64_t>(10000, bytes.size() - at);
        if (f->WriteFile(f, file, bytes.data() + at, piece, &done) != SL_OK) {
          failures[t] = "write: " + Record(f);
        }
      }
      if (f->CloseFile(f, file) != SL_OK) failures[t] += "close: " + Record(f);
      std::string back(bytes.size() + 1, '\0');
      uint64_t got = 0;
      if (f->OpenFile(f, name.c_str(), SL_OPEN_READ, &file) != SL_OK) {
        failures[t] += "open: " + Record(f);
        return;
      }
      while (f->ReadFile(f, file, back.data() + got, 4096, &done) == SL_OK && done != 0) {
        got += done;
      }
      f->CloseFile(f, file);
      back.resize(got);
      if (back != bytes) failures[t] += "read back " + std::to_string(got) + " bytes, not the same";
    });
  }
  for (std::thread& thread : threads) thread.join();
  for (unsigned t = 0; t < 8; ++t) EXPECT_EQ(failures[t], "") << "thread " << t;
}

// The module's streams over the remote file system, as any host reads and writes files.
TEST_F(SftpTest, StreamsReadAndWriteThroughIt) {
  std::unique_ptr<sl::sdk::Module> module = sltest::LoadModule();
  sl::sdk::StreamService streams(*module);
  Ref<SLFileSystem> ref = Connect();
  ASSERT_TRUE(ref);
  sl::sdk::FileSystem remote(ref);
  const std::string bytes = Pattern(1000003, 7);
  {
    sl::sdk::OutputStream out = streams.OpenWrite(remote, u"streamed.bin");
    for (size_t at = 0; at < bytes.size(); at += 777) {
      out.write(bytes.data() + at,
                static_cast<std::streamsize>(std::min<size_t>(777, bytes.size() - at)));
    }
    out.flush();
    EXPECT_TRUE(out.good());
  }
  EXPECT_EQ(Slurp(root_ / "streamed.bin"), bytes);
  sl::sdk::InputStream in = streams.OpenRead(remote, u"streamed.bin");
  std::ostringstream back;
  back << in.rdbuf();
  EXPECT_EQ(back.str(), bytes);
}

// ---- a server that goes away ----

// Each case: a connection with a 2 s timeout, a file open, the server killed or stopped halfway,
// and then the call that fails: 7, within the timeout and a margin, with a record that says the
// connection is lost and how; every later call fails at once the same way.
TEST_F(SftpTest, AServerThatDiesOrStallsFailsTheCallInTime) {
  struct Row {
    const char* what;
    bool writing;
    bool stall;  // SIGSTOP rather than SIGKILL
    const char* why;
  };
  const Row rows[] = {
      {"killed during a read", false, false, "is lost"},
      {"killed during a write", true, false, "is lost"},
      {"stalled during a read", false, true, "did not answer within 2 s"},
      {"stalled during a write", true, true, "did not answer within 2 s"},
  };
  Spill(root_ / "big.bin", Pattern(48 * 1024 * 1024, 3));
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    ASSERT_TRUE(server_.Start()) << server_.error();
    Ref<SLFileSystem> fs = Connect("timeout=2");
    ASSERT_TRUE(fs);
    SLFileSystem* f = fs.get();
    SLFileHandle file = nullptr;
    ASSERT_EQ(f->OpenFile(f, row.writing ? u"out.bin" : u"big.bin",
                          row.writing ? SL_OPEN_CREATE : SL_OPEN_READ, &file),
              SL_OK);
    std::string buffer(1 << 20, 'w');
    uint64_t done = 0;
    ASSERT_EQ(row.writing ? f->WriteFile(f, file, buffer.data(), buffer.size(), &done)
                          : f->ReadFile(f, file, buffer.data(), buffer.size(), &done),
              SL_OK);
    ASSERT_TRUE(row.stall ? server_.Pause() : server_.Kill()) << server_.error();
    const Clock::time_point start = Clock::now();
    SLResult code = SL_OK;
    for (int i = 0; i < 100 && code == SL_OK; ++i) {  // what was read ahead or gathered first
      code = row.writing ? f->WriteFile(f, file, buffer.data(), buffer.size(), &done)
                         : f->ReadFile(f, file, buffer.data(), buffer.size(), &done);
      if (code == SL_OK && row.writing) code = f->FlushFile(f, file);
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    EXPECT_EQ(code, SL_OS_FAILURE);
    EXPECT_LT(seconds, 10.0);
    EXPECT_NE(Record(f).find(row.why), std::string::npos) << Record(f);
    // A call that names a path connects again, and fails saying both what was lost and why the
    // new connection failed (a stalled server takes the timeout to say nothing).
    uint8_t exists = 0;
    EXPECT_EQ(f->IsFileExists(f, u"big.bin", &exists), SL_OS_FAILURE);
    EXPECT_NE(Record(f).find(row.why), std::string::npos) << Record(f);
    EXPECT_NE(Record(f).find("connecting again failed"), std::string::npos) << Record(f);
    const Clock::time_point after = Clock::now();
    EXPECT_EQ(f->CloseFile(f, file), SL_OS_FAILURE);
    fs = nullptr;  // goes without waiting again
    EXPECT_LT(std::chrono::duration<double>(Clock::now() - after).count(), 1.0);
    if (row.stall) server_.Resume();
    server_.Stop();
  }
}

// After a lost connection the next call that names a path connects again; files opened on the
// lost one keep failing, and new ones work.
TEST_F(SftpTest, ConnectsAgainAtTheNextPathCall) {
  Spill(root_ / "a.txt", "alpha");
  Ref<SLFileSystem> fs = Connect("timeout=5");
  ASSERT_TRUE(fs);
  SLFileSystem* f = fs.get();
  SLFileHandle old = nullptr;
  ASSERT_EQ(f->OpenFile(f, u"a.txt", SL_OPEN_READ, &old), SL_OK);
  ASSERT_TRUE(server_.Kill()) << server_.error();
  ASSERT_TRUE(server_.Start()) << server_.error();
  char buffer[16] = {};
  uint64_t done = 0;
  EXPECT_EQ(f->ReadFile(f, old, buffer, sizeof(buffer), &done), SL_OS_FAILURE);
  EXPECT_NE(Record(f).find("is lost"), std::string::npos) << Record(f);
  SLFileHandle fresh = nullptr;
  ASSERT_EQ(f->OpenFile(f, u"a.txt", SL_OPEN_READ, &fresh), SL_OK) << Record(f);
  EXPECT_EQ(f->ReadFile(f, fresh, buffer, sizeof(buffer), &done), SL_OK);
  EXPECT_EQ(std::string(buffer, done), "alpha");
  EXPECT_EQ(f->ReadFile(f, old, buffer, sizeof(buffer), &done), SL_OS_FAILURE);
  EXPECT_EQ(f->CloseFile(f, fresh), SL_OK);
  EXPECT_EQ(f->CloseFile(f, old), SL_OS_FAILURE);
}

// A host that keeps a file system, with a file open, in a static object releases it after the
// handlers that tear libssh2's cryptography down at exit: the process still ends quietly. (The
// connection's memory is left to the process's end then; the leak checker is told so.)
[[noreturn]] void KeepInAStaticAndExit(const std::string& url) {
  static Ref<SLFileSystem> kept;
#if defined(__SANITIZE_ADDRESS__)
  __lsan_disable();
#endif
  SLSftpConnect(url.c_str(), nullptr, 1, kept.put(), nullptr, 0);
  SLFileHandle file = nullptr;
  const bool opened = kept && kept->OpenFile(kept.get(), u"a.txt", SL_OPEN_READ, &file) == 0;
  std::exit(opened ? 0 : 2);
}

TEST_F(SftpTest, AFileSystemKeptInAStaticGoesQuietlyAtExit) {
  Spill(root_ / "a.txt", "alpha");
  EXPECT_EXIT(KeepInAStaticAndExit(server_.Url(root_.string())), ::testing::ExitedWithCode(0), "");
}

}  // namespace
