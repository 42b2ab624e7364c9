// What only the POSIX emulation has: the last handle lookup and the thread id it keeps per
// thread, system names no Windows program could use, and errors Windows has no call to provoke.
#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <set>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "platform/files.h"
#include "platform/thread.h"

namespace sl::platform {
namespace {

// A thread keeps its last lookup only while no handle has been closed. A new handle usually
// gets the closed one's address and descriptor; it must not inherit the old handle's access,
// also when another thread closed the old one and opened the new one.
TEST(HandleLookup, AClosedHandlesLookupIsNotReused) {
  char name[] = "/tmp/sl-lookup-XXXXXX";
  ::close(::mkstemp(name));
  const std::u16string path(name, name + sizeof name - 1);
  const FileHandle first =
      CreateFileW(path.c_str(), kGenericRead | kGenericWrite, 0, kOpenExisting);
  uint32_t count = 0;
  ASSERT_TRUE(WriteFile(first, "ab", 2, &count));
  FileHandle second = nullptr;
  std::thread([&] {
    ASSERT_TRUE(CloseHandle(first));
    second = CreateFileW(path.c_str(), kGenericRead, 0, kOpenExisting);
  }).join();
  if (second != first) std::printf("the new handle has another address: nothing to reuse\n");
  SetLastError(kErrorSuccess);
  EXPECT_FALSE(WriteFile(second, "x", 1, &count));
  EXPECT_EQ(GetLastError(), kErrorAccessDenied);
  char text[4] = {};
  EXPECT_TRUE(ReadFile(second, text, sizeof text, &count));
  EXPECT_EQ(std::string(text, count), "ab");
  FindData entry;  // a file handle is no search handle
  SetLastError(kErrorSuccess);
  EXPECT_FALSE(FindNextFileW(second, &entry));
  EXPECT_EQ(GetLastError(), kErrorInvalidHandle);
  EXPECT_TRUE(CloseHandle(second));
  ::unlink(name);
}

// Every entry is listed, with the attributes a stat of it gives (a link as what it points to, a
// dangling one as itself), a name without a UTF-16 form as its mapped bytes; "." and ".." name
// no entry to look for. An entry removed between the listing and its stat is still reported, as
// the listing saw it (a folder by its type, anything else as a plain file).
TEST(FindFirstFileW, ListsEveryEntryWithItsAttributes) {
  char folder[] = "/tmp/sl-names-XXXXXX";
  ASSERT_NE(nullptr, ::mkdtemp(folder));
  const std::string base = std::string(folder) + "/";
  for (const char* name : {"\xC0\xAF", ".hidden", "ro"}) {
    ::close(::open((base + name).c_str(), O_CREAT | O_WRONLY, 0600));
  }
  ::chmod((base + "ro").c_str(), 0400);
  ASSERT_EQ(0, ::mkdir((base + "dir").c_str(), 0700));
  ASSERT_EQ(0, ::symlink("/nowhere", (base + "dangling").c_str()));
  ASSERT_EQ(0, ::symlink("ro", (base + "tofile").c_str()));
  ASSERT_EQ(0, ::symlink("dir", (base + "todir").c_str()));
  const std::map<std::u16string, uint32_t> expected = {
      {u".", kFileAttributeDirectory},         {u"..", kFileAttributeDirectory},
      {u"\xF0C0\xF0AF", kFileAttributeNormal}, {u".hidden", kFileAttributeNormal},
      {u"ro", kFileAttributeReadonly},         {u"dir", kFileAttributeDirectory},
      {u"dangling", kFileAttributeNormal},     {u"tofile", kFileAttributeReadonly},
      {u"todir", kFileAttributeDirectory}};
  const std::u16string pattern = std::u16string(base.begin(), base.end()) + u"*";
  std::map<std::u16string, uint32_t> listed;
  FindData entry;
  const FindHandle search = FindFirstFileW(pattern.c_str(), &entry);
  ASSERT_NE(InvalidHandle(), search);
  do listed[entry.fileName] = entry.fileAttributes;
  while (FindNextFileW(search, &entry));
  EXPECT_TRUE(FindClose(search));
  EXPECT_EQ(listed, expected);
  const FindHandle again = FindFirstFileW(pattern.c_str(), &entry);
  ASSERT_NE(InvalidHandle(), again);
  std::map<std::u16string, uint32_t> seen = {{entry.fileName, entry.fileAttributes}}, after;
  for (const auto& [name, attributes] : expected) {
    const bool byType = name == u"." || name == u".." || name == u"dir";
    after[name] = name == entry.fileName || byType ? attributes : kFileAttributeNormal;
  }
  ASSERT_EQ(0, std::system(("rm -rf " + base + "* " + base + ".hidden").c_str()));
  while (FindNextFileW(again, &entry)) seen[entry.fileName] = entry.fileAttributes;
  EXPECT_TRUE(FindClose(again));
  EXPECT_EQ(seen, after);
  for (const char16_t* dots : {u".", u".."}) {
    SetLastError(kErrorSuccess);
    EXPECT_EQ(InvalidHandle(), FindFirstFileW(dots, &entry));
    EXPECT_EQ(kErrorFileNotFound, GetLastError());
  }
  EXPECT_EQ(0, std::system(("rm -rf " + std::string(folder)).c_str()));
}

// A write past the file-size limit fails as a full disk does.
TEST(WriteFile, AFileTooLargeAnswersDiskFull) {
  char name[] = "/tmp/sl-full-XXXXXX";
  ::close(::mkstemp(name));
  const std::u16string path(name, name + sizeof name - 1);
  const FileHandle h = CreateFileW(path.c_str(), kGenericWrite, 0, kOpenExisting);
  ::signal(SIGXFSZ, SIG_IGN);
  rlimit limit;
  ::getrlimit(RLIMIT_FSIZE, &limit);
  const rlimit small{4096, limit.rlim_max};
  ::setrlimit(RLIMIT_FSIZE, &small);
  uint32_t count = 0;
  EXPECT_EQ(8192u, SetFilePointer(h, 8192, nullptr, kFileBegin));
  EXPECT_FALSE(WriteFile(h, "x", 1, &count));
  EXPECT_EQ(kErrorDiskFull, GetLastError());
  ::setrlimit(RLIMIT_FSIZE, &limit);
  EXPECT_TRUE(CloseHandle(h));
  ::unlink(name);
}

// Without a high half a position past 4 GiB could not be read back: the call fails, as Windows
// documents (Wine returns the low half).
TEST(SetFilePointer, APositionPastFourGiBNeedsTheHighHalf) {
  char name[] = "/tmp/sl-far-XXXXXX";
  ::close(::mkstemp(name));
  const std::u16string path(name, name + sizeof name - 1);
  const FileHandle h = CreateFileW(path.c_str(), kGenericRead, 0, kOpenExisting);
  int32_t high = 1;
  EXPECT_EQ(0u, SetFilePointer(h, 0, &high, kFileBegin));
  SetLastError(kErrorSuccess);
  EXPECT_EQ(kInvalidSetFilePointer, SetFilePointer(h, 0, nullptr, kFileCurrent));
  EXPECT_EQ(kErrorInvalidParameter, GetLastError());
  EXPECT_TRUE(CloseHandle(h));
  ::unlink(name);
}

// The system's id of each thread, read once per thread, and read afresh in a child of fork.
TEST(CurrentThreadId, IsTheSystemIdOfEachThreadAndOfAForkedChild) {
  const uint32_t main = CurrentThreadId();
  EXPECT_EQ(main, static_cast<uint32_t>(gettid()));
  uint32_t other = 0, otherSystem = 0;
  std::thread([&] {
    other = CurrentThreadId();
    otherSystem = static_cast<uint32_t>(gettid());
  }).join();
  EXPECT_EQ(other, otherSystem);
  EXPECT_NE(other, main);
  const pid_t child = fork();
  ASSERT_NE(child, -1);
  if (child == 0) _exit(CurrentThreadId() == static_cast<uint32_t>(getpid()) ? 0 : 1);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  EXPECT_EQ(CurrentThreadId(), main);
}

}  // namespace
}  // namespace sl::platform
