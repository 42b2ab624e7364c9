// The file functions answer as Windows does. This suite runs natively against the POSIX
// emulation and, built for Windows, under Wine against the system calls themselves, so every
// expectation here is one Windows meets. Most cases are rows of a script run in order in a
// folder of the test's own that starts with a file "f" holding "data" and an empty folder "d".
#include <unistd.h>

#include <atomic>
#include <initializer_list>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "common/temp_directory.h"
#include "platform/files.h"

namespace sl::platform {
namespace {

// A step's outcome: the error code of a failure, or kOk with, for an open, the last error its
// success left and, for kAttrs and kFind, the attributes (archive left out, since Windows gives
// new files that one and the emulation calls them normal).
constexpr uint32_t kOk = 0x40000000;
constexpr uint32_t kPlain = kOk | kFileAttributeNormal;
constexpr uint32_t kDir = kOk | kFileAttributeDirectory;
constexpr uint32_t kRefused = 0x20000000;  // lone surrogates: ERROR_INVALID_NAME, under Wine 2
constexpr uint32_t kShareAll = kFileShareRead | kFileShareWrite | kFileShareDelete;
constexpr uint32_t kRW = kGenericRead | kGenericWrite;
constexpr uint32_t kDeleteAccess = 0x10000;

// kHold opens and keeps the handle; kRead, kWrite ("x"), kFlush and kSize use the handle held
// last, kDrop closes the one held first.
// clang-format off
enum Op { kMkdir, kMkdirs, kRmdir, kDelete, kAttrs, kReadOnly, kWritable, kOpen, kHold, kDrop,
          kRead, kWrite, kFlush, kSize, kFind };
// clang-format on

struct Step {
  Op op;
  uint32_t expect;
  const char16_t* path = u"";  // under the test's folder; "!text" is the text itself
  uint32_t access = kGenericRead;
  uint32_t share = 0;
  uint32_t disposition = kOpenExisting;
};

#define EXPECT_FAILS(call, failure, error)        \
  do {                                            \
    SetLastError(kErrorSuccess);                  \
    EXPECT_EQ((call), (failure));                 \
    EXPECT_EQ(GetLastError(), uint32_t{(error)}); \
  } while (0)

std::u16string Widen(const std::string& ascii) { return {ascii.begin(), ascii.end()}; }

uint32_t Attributes(uint32_t attributes) {
  attributes &= ~kFileAttributeArchive;
  return kOk | (attributes != 0 ? attributes : kFileAttributeNormal);
}

void RemoveTree(const std::u16string& folder) {
  FindData entry;
  const FindHandle search = FindFirstFileW((folder + u"\\*").c_str(), &entry);
  if (search != InvalidHandle()) {
    do {
      const std::u16string name = entry.fileName, path = folder + u"\\" + name;
      if (name == u"." || name == u"..") continue;
      if (entry.fileAttributes & kFileAttributeDirectory) {
        RemoveTree(path);
      } else {
        SetFileAttributesW(path.c_str(), kFileAttributeNormal);
        DeleteFileW(path.c_str());
      }
    } while (FindNextFileW(search, &entry));
    FindClose(search);
  }
  RemoveDirectoryW(folder.c_str());
}

class Scratch {
 public:
  Scratch() {
    const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
    root_ = sltest::TempDirectory() + u"sl-files-" + Widen(std::to_string(::getpid())) + u"-" +
            Widen(test->test_suite_name()) + u"-" + Widen(test->name());
    RemoveTree(root_);
    EXPECT_TRUE(CreateDirectoryW(root_.c_str()));
    Write(u"f", "data");
    EXPECT_TRUE(CreateDirectoryW((*this / u"d").c_str()));
  }
  ~Scratch() {
    for (FileHandle h : held_) CloseHandle(h);
    RemoveTree(root_);
  }

  std::u16string operator/(const std::u16string& name) const { return root_ + u"\\" + name; }

  FileHandle Hold(const std::u16string& name, uint32_t access, uint32_t disposition) {
    held_.push_back(CreateFileW((*this / name).c_str(), access, 0, disposition));
    EXPECT_NE(held_.back(), InvalidHandle()) << GetLastError();
    return held_.back();
  }

  void Write(const std::u16string& name, const std::string& text) {
    const FileHandle h = CreateFileW((*this / name).c_str(), kGenericWrite, 0, kCreateAlways);
    uint32_t written = 0;
    EXPECT_TRUE(WriteFile(h, text.data(), static_cast<uint32_t>(text.size()), &written));
    EXPECT_EQ(written, text.size());
    EXPECT_TRUE(CloseHandle(h));
  }

  // A name under the test's folder, or after a '!' the text itself.
  std::u16string Path(const char16_t* name) const {
    return name[0] == u'!' ? name + 1 : *this / name;
  }

  uint32_t Run(const Step& s) {
    const std::u16string path = Path(s.path);
    const char16_t* p = path.c_str();
    const auto outcome = [](bool ok) { return ok ? kOk : GetLastError(); };
    char buffer[16];
    uint32_t count = 99;
    SetLastError(1234);
    switch (s.op) {
      case kMkdir:
        return outcome(CreateDirectoryW(p));
      case kMkdirs: {
        const auto error = static_cast<uint32_t>(SHCreateDirectoryExW(p));
        EXPECT_EQ(error == 0 ? 0 : GetLastError(), error) << "also the last error";
        return error == 0 ? kOk : error;
      }
      case kRmdir:
        return outcome(RemoveDirectoryW(p));
      case kDelete:
        return outcome(DeleteFileW(p));
      case kAttrs: {
        const uint32_t attributes = GetFileAttributesW(p);
        return attributes == kInvalidFileAttributes ? GetLastError() : Attributes(attributes);
      }
      case kReadOnly:
      case kWritable:
        return outcome(SetFileAttributesW(
            p, s.op == kReadOnly ? kFileAttributeReadonly : kFileAttributeNormal));
      case kOpen:
      case kHold: {
        const FileHandle h = CreateFileW(p, s.access, s.share, s.disposition);
        if (h == InvalidHandle()) return GetLastError();
        const uint32_t error = GetLastError();
        if (s.op == kHold) held_.push_back(h);
        if (s.op == kOpen) CloseHandle(h);
        return kOk | error;
      }
      case kDrop: {
        const FileHandle h = held_.front();
        held_.erase(held_.begin());
        return outcome(CloseHandle(h));
      }
      case kRead:
      case kWrite: {
        const bool ok = s.op == kRead ? ReadFile(held_.back(), buffer, sizeof buffer, &count)
                                      : WriteFile(held_.back(), "x", 1, &count);
        EXPECT_EQ(ok ? 0 : count, 0u) << "a refused call moves nothing";
        return ok ? kOk | count : GetLastError();
      }
      case kFlush:
        return outcome(FlushFileBuffers(held_.back()));
      case kSize: {
        const uint32_t size = GetFileSize(held_.back(), nullptr);
        return size == kInvalidFileSize ? GetLastError() : kOk | size;
      }
      case kFind: {
        FindData entry;
        const FindHandle h = FindFirstFileW(p, &entry);
        if (h == InvalidHandle()) return GetLastError();
        FindClose(h);
        return Attributes(entry.fileAttributes);
      }
    }
    return 0;
  }

  void RunAll(std::initializer_list<Step> steps) {
    int row = 0;
    for (const Step& step : steps) {
      const uint32_t got = Run(step);
      if (step.expect == kRefused) {
        EXPECT_TRUE(got == kErrorInvalidName || got == kErrorFileNotFound) << row << ": " << got;
      } else {
        EXPECT_EQ(got, step.expect) << "row " << row;
      }
      ++row;
    }
  }

  // The names a search reports, folders with a '/' after them ("!" as in a step's path).
  std::set<std::u16string> Search(const std::u16string& pattern) {
    std::set<std::u16string> names;
    FindData entry;
    const FindHandle search = FindFirstFileW(Path(pattern.c_str()).c_str(), &entry);
    if (search == InvalidHandle()) return names;
    do {
      names.insert(entry.fileName +
                   std::u16string(entry.fileAttributes & kFileAttributeDirectory ? u"/" : u""));
    } while (FindNextFileW(search, &entry));
    EXPECT_EQ(GetLastError(), kErrorNoMoreFiles);
    EXPECT_FAILS(FindNextFileW(search, &entry), false, kErrorNoMoreFiles);
    EXPECT_TRUE(FindClose(search));
    return names;
  }

 private:
  std::u16string root_;
  std::vector<FileHandle> held_;
};

// Whether the calls are the Windows ones (under Wine) rather than the emulation.
bool UsesWindowsCalls() {
  const std::u16string temp = sltest::TempDirectory();
  return temp.size() > 1 && temp[1] == u':';
}

TEST(Folders, CreateRemoveAndCreateEveryMissingOne) {
  Scratch dir;
  dir.RunAll({
      {kMkdir, kOk, u"a"},
      {kAttrs, kDir, u"a"},
      {kMkdir, kErrorAlreadyExists, u"a"},
      {kMkdir, kErrorAlreadyExists, u"f"},
      {kMkdir, kOk, u"b\\"},
      {kMkdir, kOk, u"b/c"},
      {kAttrs, kDir, u"b\\c"},
      {kMkdir, kErrorPathNotFound, u"missing\\a"},
      {kMkdir, kErrorPathNotFound, u"f\\a"},
      {kMkdir, kErrorPathNotFound, u"!"},
      {kMkdir, kErrorInvalidName, u"a*b"},
      {kMkdir, kErrorInvalidName, u"a?b"},
      {kMkdir, kErrorInvalidName, u"a<b"},
      {kMkdir, kErrorInvalidName, u"a>b"},
      {kMkdir, kErrorInvalidName, u"a|b"},
      {kMkdir, kErrorInvalidName, u"a\"b"},
      {kMkdir, kErrorInvalidName, u"a\x01"},
      {kOpen, kOk, u"a\\g", kGenericWrite, 0, kCreateNew},
      {kRmdir, kErrorDirNotEmpty, u"a"},
      {kDelete, kOk, u"a\\g"},
      {kRmdir, kOk, u"a\\"},
      {kAttrs, kErrorFileNotFound, u"a"},
      {kRmdir, kErrorFileNotFound, u"missing"},
      {kRmdir, kErrorPathNotFound, u"missing\\a"},
      {kRmdir, kErrorDirectory, u"f"},
      {kRmdir, kErrorInvalidName, u"f\\"},
      {kRmdir, kErrorInvalidName, u"!"},
      {kAttrs, kPlain, u"f"},
      {kMkdirs, kOk, u"x\\y\\z"},
      {kAttrs, kDir, u"x\\y\\z"},
      {kMkdirs, kOk, u"x\\v\\w\\"},
      {kAttrs, kDir, u"x\\v\\w"},
      {kMkdirs, kErrorBadPathname, u"!relative\\path"},
      {kMkdirs, kErrorBadPathname, u"!"},
      {kMkdirs, kErrorAlreadyExists, u"d"},
      {kMkdirs, kErrorAlreadyExists, u"f"},
      {kMkdirs, kErrorPathNotFound, u"f\\sub"},
      {kMkdirs, kErrorInvalidName, u"a*b\\c"},
  });
  RemoveDirectoryW(u"relative\\path");  // in case a faulty build made them where it runs
  RemoveDirectoryW(u"relative");
}

TEST(Files, OpenDeleteAttributesAndPathRules) {
  Scratch dir;
  dir.RunAll({
      // Dispositions; an open that finds the file for kCreateAlways or kOpenAlways says so.
      {kOpen, kOk, u"n", kGenericWrite, 0, kCreateNew},
      {kOpen, kErrorFileExists, u"n", kGenericWrite, 0, kCreateNew},
      {kHold, kOk | kErrorAlreadyExists, u"f", kGenericRead, 0, kOpenAlways},
      {kSize, kOk | 4},
      {kDrop, kOk},
      {kOpen, kOk, u"g", kGenericRead, 0, kOpenAlways},
      {kHold, kOk | kErrorAlreadyExists, u"f", kGenericWrite, 0, kCreateAlways},
      {kSize, kOk | 0},
      {kWrite, kOk | 1},
      {kDrop, kOk},
      {kHold, kOk, u"f", kGenericWrite, 0, kTruncateExisting},
      {kSize, kOk | 0},
      {kDrop, kOk},
      {kOpen, kErrorFileNotFound, u"missing", kGenericWrite, 0, kTruncateExisting},
      {kOpen, kErrorInvalidParameter, u"f", kGenericRead, 0, 0},
      {kOpen, kErrorInvalidParameter, u"f", kGenericRead, 0, 6},
      // Missing parts and bad names; a name followed by a separator is not a file name.
      {kOpen, kErrorFileNotFound, u"missing"},
      {kOpen, kErrorPathNotFound, u"missing\\f"},
      {kOpen, kErrorPathNotFound, u"missing\\f", kGenericRead, 0, kCreateAlways},
      {kOpen, kErrorPathNotFound, u"f\\f"},
      {kOpen, kErrorPathNotFound, u"!"},
      {kOpen, kErrorInvalidName, u"a*b", kGenericRead, 0, kCreateAlways},
      {kOpen, kErrorInvalidName, u"a|b", kGenericRead, 0, kCreateAlways},
      {kOpen, kErrorInvalidName, u"f\\"},
      {kOpen, kErrorInvalidName, u"new\\", kGenericRead, 0, kCreateNew},
      // Folders are not opened, whatever is asked.
      {kOpen, kErrorAccessDenied, u"d"},
      {kOpen, kErrorAccessDenied, u"d", 0},
      {kOpen, kErrorAccessDenied, u"d", kGenericWrite, 0, kCreateAlways},
      {kOpen, kErrorAccessDenied, u"d", kGenericRead, 0, kOpenAlways},
      {kOpen, kErrorFileExists, u"d", kGenericRead, 0, kCreateNew},
      {kOpen, kErrorAccessDenied, u"d\\"},
      {kDelete, kErrorInvalidName, u"f\\"},
      {kDelete, kErrorPathNotFound, u"missing\\f"},
      {kDelete, kErrorAccessDenied, u"d"},
      {kDelete, kErrorPathNotFound, u"!"},
      {kAttrs, kPlain, u"f"},
      {kAttrs, kDir, u"d\\"},
      {kAttrs, kErrorFileNotFound, u"missing"},
      {kAttrs, kErrorPathNotFound, u"missing\\f"},
      {kAttrs, kErrorPathNotFound, u"f\\g"},
      {kAttrs, kErrorPathNotFound, u"f\\"},
      {kAttrs, kErrorPathNotFound, u"!"},
      {kAttrs, kErrorFileNotFound, u"!\\sl-no-such-entry"},  // missing right under the root
      {kWritable, kErrorFileNotFound, u"missing"},
      // A read-only file cannot be deleted until it is writable again.
      {kReadOnly, kOk, u"f"},
      {kAttrs, kOk | kFileAttributeReadonly, u"f"},
      {kDelete, kErrorAccessDenied, u"f"},
      {kWritable, kOk, u"f"},
      {kAttrs, kPlain, u"f"},
      {kOpen, kOk, u"f", kGenericWrite},
      // Both separators, "." and ".." resolved by text, trailing dots and spaces dropped.
      {kOpen, kOk, u"d\\g", kGenericWrite, 0, kCreateNew},
      {kAttrs, kPlain, u"d/g"},
      {kAttrs, kPlain, u"d\\.\\g"},
      {kAttrs, kPlain, u"d\\..\\d\\g"},
      {kAttrs, kPlain, u"missing\\..\\d\\g"},
      {kAttrs, kPlain, u"d\\g."},
      {kAttrs, kPlain, u"d\\g  "},
      {kAttrs, kPlain, u"d\\\\g"},
      // Lone surrogates have no UTF-8 form (NTFS itself would take them).
      {kOpen, kRefused, u"a\xD800z", kGenericWrite, 0, kCreateAlways},
      {kOpen, kRefused, u"\xDC00", kGenericWrite, 0, kCreateAlways},
      {kOpen, kRefused, u"a\xD83D", kGenericWrite, 0, kCreateAlways},
      {kAttrs, kRefused, u"a\xD800z"},
      {kDelete, kRefused, u"\xDC00"},
      // Searches that find nothing or cannot start.
      {kFind, kPlain, u"f"},
      {kFind, kDir, u"d"},
      {kFind, kErrorFileNotFound, u"*.zip"},
      {kFind, kErrorFileNotFound, u"b.txt"},
      {kFind, kErrorPathNotFound, u"missing\\*"},
      {kFind, kErrorPathNotFound, u"missing\\f"},
      {kFind, kErrorFileNotFound, u"d\\"},
      {kFind, kErrorPathNotFound, u"!"},
      {kFind, kErrorInvalidName, u"*\\f"},
      {kDelete, kOk, u"f"},
      {kDelete, kErrorFileNotFound, u"f"},
  });
  EXPECT_EQ(dir.Search(u"*"), (std::set<std::u16string>{u"./", u"../", u"d/", u"g", u"n"}));
}

TEST(Files, SharingAndAccessOfHandles) {
  Scratch dir;
  dir.RunAll({
      // Sharing nothing excludes every other open but one that neither reads nor writes.
      {kHold, kOk, u"f", kGenericRead, 0},
      {kOpen, kErrorSharingViolation, u"f", kGenericRead, kShareAll},
      {kOpen, kErrorSharingViolation, u"f", kGenericWrite, kShareAll},
      {kOpen, kErrorSharingViolation, u"f", kGenericWrite, kShareAll, kCreateAlways},
      {kOpen, kErrorSharingViolation, u"f", kDeleteAccess, kShareAll},
      {kDelete, kErrorSharingViolation, u"f"},
      {kOpen, kOk, u"f", 0},
      {kDrop, kOk},
      // Sharing is checked both ways: each open must share what the other does.
      {kHold, kOk, u"f", kGenericRead, kFileShareRead | kFileShareWrite},
      {kHold, kOk, u"f", kGenericRead, kFileShareRead},
      {kDrop, kOk},
      {kOpen, kErrorSharingViolation, u"f", kGenericWrite, kShareAll},
      {kOpen, kErrorSharingViolation, u"f", kGenericRead, kFileShareWrite},
      {kDrop, kOk},
      {kHold, kOk, u"f", kGenericWrite, kFileShareRead},
      {kOpen, kOk, u"f", kGenericRead, kFileShareRead | kFileShareWrite},
      {kOpen, kErrorSharingViolation, u"f", kGenericRead, kFileShareRead},
      {kDelete, kErrorSharingViolation, u"f"},
      {kDrop, kOk},
      // A handle does only what it was opened for.
      {kHold, kOk, u"f", kGenericRead, kShareAll},
      {kWrite, kErrorAccessDenied},
      {kFlush, kErrorAccessDenied},
      {kDrop, kOk},
      {kHold, kOk, u"f", kGenericWrite, kShareAll},
      {kRead, kErrorAccessDenied},
      {kFlush, kOk},
      {kDrop, kOk},
      {kHold, kOk, u"f", 0, kShareAll},
      {kRead, kErrorAccessDenied},
      {kWrite, kErrorAccessDenied},
      {kSize, kOk | 4},
      {kDrop, kOk},
      {kHold, kOk, u"f", kRW},
      {kRead, kOk | 4},
      {kDrop, kOk},
      // Deleting while every handle shares delete removes the name; the handle reads on.
      {kHold, kOk, u"f", kGenericRead, kFileShareRead | kFileShareDelete},
      {kDelete, kOk, u"f"},
      {kRead, kOk | 4},
      {kDrop, kOk},
      {kAttrs, kErrorFileNotFound, u"f"},
  });
}

TEST(Files, ReadOnlyFilesRefuseWritesAndOverwrites) {
  Scratch dir;
  dir.RunAll({{kReadOnly, kOk, u"f"}});
  // Wine leaves this check to the Unix permissions, which root bypasses. Windows and the
  // emulation refuse the open for everyone.
  if (UsesWindowsCalls() && dir.Run({kOpen, 0, u"f", kGenericWrite}) != kErrorAccessDenied) {
    GTEST_SKIP() << "Wine run as root opens read-only files for writing";
  }
  dir.RunAll({
      {kOpen, kErrorAccessDenied, u"f", kGenericWrite},
      {kOpen, kErrorAccessDenied, u"f", kGenericWrite, 0, kOpenAlways},
      {kOpen, kErrorAccessDenied, u"f", kGenericRead, 0, kCreateAlways},
      {kOpen, kErrorAccessDenied, u"f", kGenericWrite, 0, kTruncateExisting},
      {kHold, kOk, u"f"},
      {kSize, kOk | 4},
  });
}

TEST(Files, ReadsWhatWasWrittenStopsAtTheEndAndFillsGapsWithZeros) {
  Scratch dir;
  const FileHandle h = dir.Hold(u"f", kRW, kOpenExisting);
  uint32_t count = 99;
  EXPECT_TRUE(WriteFile(h, "", 0, &count));
  EXPECT_EQ(0u, count);
  EXPECT_EQ(SetFilePointer(h, 10, nullptr, kFileEnd), 14u);
  ASSERT_TRUE(WriteFile(h, "x", 1, &count));
  EXPECT_EQ(SetFilePointer(h, 0, nullptr, kFileBegin), 0u);
  char back[32];
  ASSERT_TRUE(ReadFile(h, back, sizeof back, &count));
  EXPECT_EQ(std::string(back, count), std::string("data") + std::string(10, '\0') + "x");
  for (int32_t past : {0, 1000}) {
    SetFilePointer(h, past, nullptr, kFileEnd);
    EXPECT_TRUE(ReadFile(h, back, sizeof back, &count));
    EXPECT_EQ(0u, count);
  }
}

// Positions past 4 GiB come from a sparse file: single bytes written far out.
TEST(Files, PositionsAndSizesCarryTheirHighHalf) {
  Scratch dir;
  const FileHandle h = dir.Hold(u"f", kRW, kOpenExisting);
  constexpr int32_t kNull = 0x7FFFFFFF;  // no high half is passed
  constexpr uint32_t kAny = 1234;        // the last error is not looked at
  struct Row {
    int32_t low, high;
    uint32_t method, result;
    int32_t highAfter;
    uint32_t error;
  };
  const auto seek = [h](std::initializer_list<Row> rows) {
    for (const Row& row : rows) {
      int32_t high = row.high;
      SetLastError(kAny);
      EXPECT_EQ(SetFilePointer(h, row.low, row.high == kNull ? nullptr : &high, row.method),
                row.result);
      EXPECT_EQ(row.high == kNull ? row.highAfter : high, row.highAfter) << row.low;
      EXPECT_EQ(row.error == kAny ? kAny : GetLastError(), row.error) << row.low;
    }
  };
  const auto size = [h](uint32_t low, uint32_t highAfter) {
    uint32_t high = 77;
    SetLastError(1234);
    EXPECT_EQ(GetFileSize(h, &high), low);
    EXPECT_EQ(high, highAfter);
    EXPECT_EQ(GetFileSize(h, nullptr), low);  // the low half alone
    EXPECT_EQ(low == kInvalidFileSize ? GetLastError() : 0, 0u);
  };
  const auto write = [h] {
    uint32_t count = 0;
    EXPECT_TRUE(WriteFile(h, "z", 1, &count));
  };
  constexpr uint32_t kFailed = kInvalidSetFilePointer;
  seek({
      {10, kNull, kFileBegin, 10, 0, kAny},
      {-7, kNull, kFileCurrent, 3, 0, kAny},
      {-2, kNull, kFileEnd, 2, 0, kAny},
      {-5, kNull, kFileEnd, kFailed, 0, kErrorNegativeSeek},
      {-3, kNull, kFileCurrent, kFailed, 0, kErrorNegativeSeek},
      {-1, kNull, kFileBegin, kFailed, 0, kErrorNegativeSeek},
      {5, -1, kFileBegin, kFailed, -1, kErrorNegativeSeek},
      {0, 0, kFileCurrent, 2, 0, kAny},  // the failures kept the position
      {0, kNull, 3, kFailed, 0, kErrorInvalidParameter},
      {-2, 0, kFileBegin, 0xFFFFFFFE, 0, kAny},  // 0:-2 is 0xFFFFFFFE, not -2
  });
  write();
  size(kInvalidFileSize, 0);  // a size whose low half is all ones, with last error 0
  seek({
      {0, 0, kFileCurrent, kFailed, 0, kErrorSuccess},  // likewise a position
      {0x40000000, 1, kFileBegin, 0x40000000, 1, kAny},
  });
  write();
  size(0x40000001, 1);
  seek({
      {0, 0, kFileCurrent, 0x40000001, 1, kAny},
      {-0x40000000, -2, kFileCurrent, 1, 0, kAny},  // -2:-0x40000000 is -0x140000000
      {-1, 0, kFileBegin, 0xFFFFFFFF, 0, kErrorSuccess},
      {-1, -1, kFileEnd, 0x40000000, 1, kAny},
  });
  char byte = 0;
  uint32_t count = 0;
  EXPECT_TRUE(ReadFile(h, &byte, 1, &count));
  EXPECT_EQ(byte, 'z');
}

TEST(Files, HandlesThatAreNotOpenAreRefused) {
  Scratch dir;
  const FileHandle h = CreateFileW((dir / u"f").c_str(), kGenericWrite, 0, kOpenExisting);
  EXPECT_TRUE(CloseHandle(h));
  EXPECT_FAILS(CloseHandle(h), false, kErrorInvalidHandle);
  EXPECT_FAILS(CloseHandle(nullptr), false, kErrorInvalidHandle);
  // CloseHandle(InvalidHandle()) is left out: on Windows that value also names the current
  // process, and closing it succeeds.
  char buffer[1];
  uint32_t count;
  EXPECT_FAILS(ReadFile(InvalidHandle(), buffer, 1, &count), false, kErrorInvalidHandle);
  EXPECT_FAILS(WriteFile(nullptr, buffer, 1, &count), false, kErrorInvalidHandle);
  EXPECT_FAILS(GetFileSize(InvalidHandle(), nullptr), kInvalidFileSize, kErrorInvalidHandle);
  FindData entry;
  EXPECT_FAILS(FindNextFileW(InvalidHandle(), &entry), false, kErrorInvalidHandle);
  EXPECT_FAILS(FindClose(InvalidHandle()), false, kErrorInvalidHandle);
}

// '*' takes any run of units, '?' one unit; "name.*" also takes "name". Folders end in '/'.
TEST(FindFirstFileW, MatchesWildcardsInTheLastComponent) {
  Scratch dir;
  for (const char16_t* name : {u"a", u"a.txt", u"ab.txt", u"abc", u"x.y.z"}) dir.Write(name, "");
  ASSERT_TRUE(CreateDirectoryW((dir / u"sub").c_str()));
  const std::u16string pair = u"\U0001F600.txt";  // one character, two UTF-16 units
  for (const char16_t* name : {u"sub\\\u6587\u4ef6.txt", u"sub\\\u6587.txt"}) dir.Write(name, "");
  dir.Write(u"sub\\" + pair, "");
  const struct {
    const char16_t* pattern;
    std::set<std::u16string> names;
  } rows[] = {
      {u"*", {u"./", u"../", u"a", u"a.txt", u"ab.txt", u"abc", u"d/", u"f", u"sub/", u"x.y.z"}},
      {u"*.*", {u"./", u"../", u"a", u"a.txt", u"ab.txt", u"abc", u"d/", u"f", u"sub/", u"x.y.z"}},
      {u"d\\*", {u"./", u"../"}},
      {u"?", {u"./", u"a", u"d/", u"f"}},
      {u"??", {u"../"}},
      {u"?.txt", {u"a.txt"}},
      {u"a?.txt", {u"ab.txt"}},
      {u"*.txt", {u"a.txt", u"ab.txt"}},
      {u"a*", {u"a", u"a.txt", u"ab.txt", u"abc"}},
      {u"?b*", {u"ab.txt", u"abc"}},
      {u"*z", {u"x.y.z"}},
      {u"a.*", {u"a", u"a.txt"}},
      {u"a.txt", {u"a.txt"}},
      {u"sub", {u"sub/"}},
      {u"sub\\*.txt", {u"\u6587\u4ef6.txt", u"\u6587.txt", pair}},
      {u"sub\\?.txt", {u"\u6587.txt"}},
      {u"sub\\??.txt", {u"\u6587\u4ef6.txt", pair}},
      {u"sub\\\U0001F600.txt", {pair}},
  };
  for (const auto& row : rows) EXPECT_EQ(dir.Search(row.pattern), row.names) << &row - rows;
  EXPECT_EQ(0u, dir.Search(u"!\\*").count(u"./")) << "a root has no dot entries";
}

// Over 1024 bytes of UTF-8, past the emulation's inline buffer. On Windows such paths need
// long-path support; Wine has no such limit.
TEST(Paths, LongPathsWork) {
  Scratch dir;
  std::u16string path = u"d";
  for (char16_t level = u'0'; level < u'5'; ++level) {
    path += u"\\" + std::u16string(80, u'\u6587') + level;
    ASSERT_TRUE(CreateDirectoryW((dir / path).c_str())) << GetLastError();
  }
  dir.Write(path + u"\\f", "deep");
  dir.RunAll({{kHold, kOk, (path + u"\\f").c_str()}, {kRead, kOk | 4}});
  EXPECT_EQ(dir.Search(path + u"\\*"), (std::set<std::u16string>{u"./", u"../", u"f"}));
}

// The sharing check and the record of the new handle are one step.
TEST(CreateFileW, ExclusiveOpensHaveOneHolderAcrossThreads) {
  Scratch dir;
  std::atomic<int> holders{0}, overlaps{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 200; ++i) {
        const FileHandle h = CreateFileW((dir / u"f").c_str(), kRW, 0, kOpenAlways);
        if (h == InvalidHandle()) continue;
        overlaps += holders.fetch_add(1);
        --holders;
        CloseHandle(h);
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(0, overlaps.load());
}

TEST(LastError, BelongsToEachThread) {
  // The threads hand over through atomics alone: a system call could change the last error.
  std::atomic<int> step{0};
  uint32_t seenByOther = 0;
  std::thread other([&] {
    while (step.load() != 1) {
    }
    SetLastError(kErrorAccessDenied);
    seenByOther = GetLastError();
    step.store(2);
  });
  SetLastError(kErrorSharingViolation);
  step.store(1);
  while (step.load() != 2) {
  }
  const uint32_t mine = GetLastError();
  other.join();
  EXPECT_EQ(seenByOther, kErrorAccessDenied);
  EXPECT_EQ(mine, kErrorSharingViolation);
}

}  // namespace
}  // namespace sl::platform
