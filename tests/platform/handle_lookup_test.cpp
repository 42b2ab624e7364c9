// A thread keeps its last handle lookup between file calls, for as long as no handle has been
// closed since. These cases would read a closed handle's descriptor, or another file's, if that
// rule were broken.
#include <gtest/gtest.h>

#include <stdlib.h>
#include <unistd.h>

#include <string>
#include <thread>

#include "platform/files.h"

namespace sl::platform {
namespace {

class Folder {
 public:
  Folder() {
    std::string pattern = "/tmp/sl-lookup-XXXXXX";
    EXPECT_NE(::mkdtemp(pattern.data()), nullptr);
    path_ = pattern;
  }
  ~Folder() {
    for (const char* name : {"a", "b"}) ::unlink((path_ + "/" + name).c_str());
    ::rmdir(path_.c_str());
  }
  std::u16string operator/(const std::string& name) const {
    const std::string path = path_ + "/" + name;
    return std::u16string(path.begin(), path.end());
  }

 private:
  std::string path_;
};

FileHandle Create(const std::u16string& path, const std::string& text) {
  FileHandle h = CreateFileW(path.c_str(), kGenericRead | kGenericWrite, 0, kCreateAlways);
  EXPECT_NE(h, InvalidHandle());
  uint32_t written = 0;
  EXPECT_TRUE(WriteFile(h, text.data(), static_cast<uint32_t>(text.size()), &written));
  EXPECT_EQ(SetFilePointer(h, 0, nullptr, kFileBegin), 0u);
  return h;
}

std::string ReadSome(FileHandle h, uint32_t size) {
  std::string text(size, '\0');
  uint32_t read = 0;
  if (!ReadFile(h, text.data(), size, &read))
    return "<failed: " + std::to_string(GetLastError()) + ">";
  text.resize(read);
  return text;
}

TEST(HandleLookup, AHandleClosedAfterUseIsRefusedOnTheSameThread) {
  Folder folder;
  FileHandle h = Create(folder / "a", "abcdef");
  EXPECT_EQ(ReadSome(h, 2), "ab");
  EXPECT_EQ(ReadSome(h, 2), "cd");  // the second call reuses the thread's lookup
  ASSERT_TRUE(CloseHandle(h));

  char byte = 0;
  uint32_t count = 7;
  SetLastError(kErrorSuccess);
  EXPECT_FALSE(ReadFile(h, &byte, 1, &count));
  EXPECT_EQ(GetLastError(), kErrorInvalidHandle);
  EXPECT_EQ(count, 0u);
  SetLastError(kErrorSuccess);
  EXPECT_FALSE(WriteFile(h, "x", 1, &count));
  EXPECT_EQ(GetLastError(), kErrorInvalidHandle);
  SetLastError(kErrorSuccess);
  EXPECT_EQ(GetFileSize(h, nullptr), kInvalidFileSize);
  EXPECT_EQ(GetLastError(), kErrorInvalidHandle);
}

TEST(HandleLookup, AHandleClosedOnAnotherThreadIsRefusedHere) {
  Folder folder;
  FileHandle h = Create(folder / "a", "abcdef");
  EXPECT_EQ(ReadSome(h, 3), "abc");
  std::thread closer([h] { EXPECT_TRUE(CloseHandle(h)); });
  closer.join();
  SetLastError(kErrorSuccess);
  EXPECT_EQ(ReadSome(h, 3), "<failed: 6>");
}

TEST(HandleLookup, ANewHandleReadsItsOwnFileAfterAnotherWasClosed) {
  Folder folder;
  FileHandle first = Create(folder / "a", "first file");
  EXPECT_EQ(ReadSome(first, 5), "first");
  ASSERT_TRUE(CloseHandle(first));
  // The allocator may well give the new handle the closed one's address.
  FileHandle second = Create(folder / "b", "second file");
  EXPECT_EQ(ReadSome(second, 6), "second");
  EXPECT_TRUE(CloseHandle(second));
}

TEST(HandleLookup, CallsAlternatingBetweenTwoHandlesEachReachTheirOwnFile) {
  Folder folder;
  FileHandle a = Create(folder / "a", "aaaa");
  FileHandle b = Create(folder / "b", "bbbb");
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(ReadSome(a, 1), "a");
    EXPECT_EQ(ReadSome(b, 1), "b");
  }
  EXPECT_EQ(ReadSome(a, 1), "");
  EXPECT_TRUE(CloseHandle(a));
  EXPECT_EQ(ReadSome(b, 1), "") << "b is still open after a was closed";
  EXPECT_TRUE(CloseHandle(b));
}

}  // namespace
}  // namespace sl::platform
