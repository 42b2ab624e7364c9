// What only Linux has: names that a Windows name cannot hold, which every call carries as
// U+F000 + byte in both directions, and positions past the largest file the file system holds.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>

#include "common/native_names.h"
#include "platform/files.h"
#include "listing.h"

namespace sl::platform {
namespace {

// A fresh folder: `native` names a file in it by its bytes, `dir / u"name"` as the module does.
struct Folder {
  const std::string root = "/tmp/sl-names-" + std::to_string(::getpid()) + "/";
  Folder() { std::filesystem::create_directory(root); }
  ~Folder() { std::filesystem::remove_all(root); }
  std::u16string operator/(const std::u16string& name) const {
    return std::u16string(root.begin(), root.end()) + name;
  }
  bool Holds(const std::string& name, mode_t kind) const {
    struct stat st;
    return ::lstat((root + name).c_str(), &st) == 0 && (st.st_mode & S_IFMT) == kind;
  }
};

std::string Read(const std::u16string& path) {
  FileHandle h = CreateFileW(path.c_str(), kGenericRead, kFileShareRead, kOpenExisting);
  char buffer[64];
  uint32_t read = 0;
  if (h == InvalidHandle() || !ReadFile(h, buffer, sizeof buffer, &read)) return "<failed>";
  CloseHandle(h);
  return std::string(buffer, read);
}

TEST(NativeNames, EveryNameIsListedAndEveryListedNameReachesItsFile) {
  Folder dir;
  Names expected{u".", u".."};
  for (const auto& name : sltest::kNativeNames) {
    std::ofstream(dir.root + name.native) << name.native;
    expected.insert(name.listed);
  }
  EXPECT_EQ(List(dir / u"*"), expected);
  EXPECT_EQ(List(dir / u"st\uF02A*"), Names{u"st\uF02Ar.txt"});  // a mapped '*' is no wildcard
  EXPECT_EQ(List(dir / u"*\uF02E"), (Names{u"trailingdot\uF02E", u"..\uF02E"}));
  for (const auto& name : sltest::kNativeNames) {
    const std::u16string path = dir / name.listed;
    SCOPED_TRACE(name.native);
    EXPECT_EQ(Read(path), name.native);
    EXPECT_EQ(List(path), Names{name.listed});
    EXPECT_TRUE(DeleteFileW(path.c_str()));
    EXPECT_TRUE(CreateDirectoryW(path.c_str()));
    EXPECT_TRUE(dir.Holds(name.native, S_IFDIR));
    EXPECT_EQ(GetFileAttributesW(path.c_str()), kFileAttributeDirectory);
    EXPECT_TRUE(RemoveDirectoryW(path.c_str()));
    FileHandle h = CreateFileW(path.c_str(), kGenericWrite, 0, kCreateNew);
    EXPECT_TRUE(h != InvalidHandle() && CloseHandle(h));
    EXPECT_TRUE(dir.Holds(name.native, S_IFREG));
  }
}

TEST(NativeNames, CallersMaySpellAnyByteAndNothingElse) {
  Folder dir;
  const struct {
    std::u16string path;
    const char* native;  // the file it makes, or nullptr for ERROR_INVALID_NAME
  } cases[] = {
      {u"col\uF03Aon", "col:on"},  // a byte that needs no mapping
      {u"dot\uF02E. ", "dot."},    // Windows drops the trailing dot and space, not the mapped dot
      {u"\uF02E", nullptr},        // no name reads "." or ".." through mapped dots
      {u".\uF02E", nullptr},      {u"a\uF02Fb", nullptr},  // '/' and NUL are no bytes of a name
      {u"a\uF000b", nullptr},
  };
  for (const auto& c : cases) {
    FileHandle h = CreateFileW((dir / c.path).c_str(), kGenericWrite, 0, kCreateAlways);
    if (c.native == nullptr) {
      EXPECT_EQ(h, InvalidHandle());
      EXPECT_EQ(GetLastError(), kErrorInvalidName);
    } else {
      EXPECT_TRUE(h != InvalidHandle() && CloseHandle(h) && dir.Holds(c.native, S_IFREG));
    }
  }
}

// ext4 holds no file past 16 TiB and its lseek refuses such positions; Windows takes any
// position that is not negative. A write there fails as the system says (EFBIG: disk full); a
// file-size limit makes every file system say so, and ignored, its signal ends no process.
TEST(FarPositions, AreKeptReadAsTheEndAndRefuseWrites) {
  Folder dir;
  std::ofstream(dir.root + "f") << "abc";
  FileHandle h = CreateFileW((dir / u"f").c_str(), kGenericRead | kGenericWrite, 0, kOpenExisting);
  ASSERT_NE(h, InvalidHandle());
  const auto previous = signal(SIGXFSZ, SIG_IGN);
  struct rlimit kept, limit;
  getrlimit(RLIMIT_FSIZE, &kept);
  limit = {std::min<rlim_t>(kept.rlim_cur, rlim_t{1} << 30), kept.rlim_max};
  setrlimit(RLIMIT_FSIZE, &limit);
  for (const int64_t position : {int64_t{1} << 44, int64_t{1} << 50}) {
    int32_t high = static_cast<int32_t>(position >> 32);
    EXPECT_EQ(SetFilePointer(h, 0, &high, kFileBegin), 0u);
    high = 0;
    EXPECT_EQ(SetFilePointer(h, 0, &high, kFileCurrent), 0u);
    EXPECT_EQ(int64_t{high} << 32, position);
    char byte = 0;
    uint32_t moved = 9;
    EXPECT_TRUE(ReadFile(h, &byte, 1, &moved));
    EXPECT_EQ(moved, 0u);
    EXPECT_FALSE(WriteFile(h, "z", 1, &moved));
    EXPECT_EQ(GetLastError(), kErrorDiskFull);
    EXPECT_EQ(GetFileSize(h, nullptr), 3u);
  }
  setrlimit(RLIMIT_FSIZE, &kept);
  signal(SIGXFSZ, previous);
  EXPECT_EQ(SetFilePointer(h, 1, nullptr, kFileBegin), 1u);  // back in the file
  char text[3];
  uint32_t moved = 0;
  EXPECT_TRUE(ReadFile(h, text, 3, &moved));
  EXPECT_EQ(std::string(text, moved), "bc");
  EXPECT_TRUE(CloseHandle(h));
}

}  // namespace
}  // namespace sl::platform
