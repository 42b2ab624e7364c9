// The file functions must answer as Windows does. This suite runs natively against the POSIX
// emulation and under Wine against the system calls themselves, so every expectation here is
// one Windows meets.
#include <unistd.h>

#include <atomic>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "platform/files.h"

namespace sl::platform {
namespace {

using Names = std::set<std::u16string>;

// Expects `call` to return `failure` and to leave `error` as the last error.
#define EXPECT_FAILS(call, failure, error)        \
  do {                                            \
    SetLastError(kErrorSuccess);                  \
    EXPECT_EQ((call), (failure));                 \
    EXPECT_EQ(GetLastError(), uint32_t{(error)}); \
  } while (0)

constexpr uint32_t kShareAll = kFileShareRead | kFileShareWrite | kFileShareDelete;

std::u16string Widen(const std::string& ascii) {
  return std::u16string(ascii.begin(), ascii.end());
}

void RemoveTree(const std::u16string& folder) {
  FindData entry;
  FindHandle search = FindFirstFileW((folder + u"\\*").c_str(), &entry);
  if (search != InvalidHandle()) {
    do {
      const std::u16string name = entry.fileName;
      if (name == u"." || name == u"..") continue;
      const std::u16string path = folder + u"\\" + name;
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

// A folder of its own for each test, named after the process and the test, removed at the end.
class Scratch {
 public:
  Scratch() {
    const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
    root_ = TempDirectory() + u"sl-files-" + Widen(std::to_string(::getpid())) + u"-" +
            Widen(test->test_suite_name()) + u"-" + Widen(test->name());
    RemoveTree(root_);
    EXPECT_TRUE(CreateDirectoryW(root_.c_str()));
  }
  ~Scratch() { RemoveTree(root_); }

  std::u16string operator/(const std::u16string& name) const { return root_ + u"\\" + name; }
  const std::u16string& root() const { return root_; }

 private:
  std::u16string root_;
};

// Closes the handle it holds.
class File {
 public:
  File(const std::u16string& path, uint32_t access, uint32_t share, uint32_t disposition)
      : h_(CreateFileW(path.c_str(), access, share, disposition)) {}
  ~File() {
    if (ok()) CloseHandle(h_);
  }
  File(const File&) = delete;
  File& operator=(const File&) = delete;

  bool ok() const { return h_ != InvalidHandle() && h_ != nullptr; }
  FileHandle get() const { return h_; }

 private:
  FileHandle h_;
};

void WriteText(const std::u16string& path, const std::string& text) {
  File file(path, kGenericWrite, 0, kCreateAlways);
  ASSERT_TRUE(file.ok()) << GetLastError();
  uint32_t written = 0;
  ASSERT_TRUE(WriteFile(file.get(), text.data(), static_cast<uint32_t>(text.size()), &written));
  ASSERT_EQ(written, text.size());
}

std::string ReadText(const std::u16string& path) {
  File file(path, kGenericRead, kFileShareRead, kOpenExisting);
  if (!file.ok()) return "<open failed: " + std::to_string(GetLastError()) + ">";
  std::string text(4096, '\0');
  uint32_t read = 0;
  if (!ReadFile(file.get(), text.data(), static_cast<uint32_t>(text.size()), &read)) {
    return "<read failed>";
  }
  text.resize(read);
  return text;
}

uint64_t Position(FileHandle h) {
  int32_t high = 0;
  const uint32_t low = SetFilePointer(h, 0, &high, kFileCurrent);
  return (uint64_t{static_cast<uint32_t>(high)} << 32) | low;
}

Names Search(const std::u16string& pattern) {
  Names names;
  FindData entry;
  FindHandle search = FindFirstFileW(pattern.c_str(), &entry);
  if (search == InvalidHandle()) return names;
  do names.insert(entry.fileName);
  while (FindNextFileW(search, &entry));
  EXPECT_EQ(GetLastError(), kErrorNoMoreFiles);
  EXPECT_TRUE(FindClose(search));
  return names;
}

// Whether the calls are the Windows ones (natively or under Wine) rather than the emulation.
bool UsesWindowsCalls() {
  const std::u16string temp = TempDirectory();
  return temp.size() > 1 && temp[1] == u':';
}

// Windows gives new files the archive attribute; the emulation reports them as normal.
bool IsPlainFile(uint32_t attributes) {
  return attributes == kFileAttributeNormal || attributes == kFileAttributeArchive;
}

TEST(CreateDirectoryW, CreatesOnceAndRefusesWhatExists) {
  Scratch dir;
  EXPECT_TRUE(CreateDirectoryW((dir / u"a").c_str()));
  EXPECT_EQ(GetFileAttributesW((dir / u"a").c_str()), kFileAttributeDirectory);
  EXPECT_FAILS(CreateDirectoryW((dir / u"a").c_str()), false, kErrorAlreadyExists);
  WriteText(dir / u"file", "x");
  EXPECT_FAILS(CreateDirectoryW((dir / u"file").c_str()), false, kErrorAlreadyExists);
  // A trailing separator and either separator are accepted.
  EXPECT_TRUE(CreateDirectoryW((dir / u"b\\").c_str()));
  EXPECT_TRUE(CreateDirectoryW((dir.root() + u"/b/c").c_str()));
  EXPECT_EQ(GetFileAttributesW((dir / u"b\\c").c_str()), kFileAttributeDirectory);
}

TEST(CreateDirectoryW, ReportsMissingFoldersAndBadNames) {
  Scratch dir;
  WriteText(dir / u"file", "x");
  EXPECT_FAILS(CreateDirectoryW((dir / u"missing\\a").c_str()), false, kErrorPathNotFound);
  EXPECT_FAILS(CreateDirectoryW((dir / u"file\\a").c_str()), false, kErrorPathNotFound);
  EXPECT_FAILS(CreateDirectoryW(u""), false, kErrorPathNotFound);
  for (const char16_t* name : {u"a*b", u"a?b", u"a<b", u"a>b", u"a|b", u"a\"b", u"a\x01"}) {
    EXPECT_FAILS(CreateDirectoryW((dir / name).c_str()), false, kErrorInvalidName);
  }
}

TEST(RemoveDirectoryW, RemovesOnlyEmptyFolders) {
  Scratch dir;
  ASSERT_TRUE(CreateDirectoryW((dir / u"a").c_str()));
  WriteText(dir / u"a\\file", "x");
  EXPECT_FAILS(RemoveDirectoryW((dir / u"a").c_str()), false, kErrorDirNotEmpty);
  ASSERT_TRUE(DeleteFileW((dir / u"a\\file").c_str()));
  EXPECT_TRUE(RemoveDirectoryW((dir / u"a\\").c_str()));
  EXPECT_FAILS(GetFileAttributesW((dir / u"a").c_str()), kInvalidFileAttributes,
               kErrorFileNotFound);
}

TEST(RemoveDirectoryW, ReportsWhatIsNotAFolder) {
  Scratch dir;
  WriteText(dir / u"file", "x");
  EXPECT_FAILS(RemoveDirectoryW((dir / u"missing").c_str()), false, kErrorFileNotFound);
  EXPECT_FAILS(RemoveDirectoryW((dir / u"missing\\a").c_str()), false, kErrorPathNotFound);
  EXPECT_FAILS(RemoveDirectoryW((dir / u"file").c_str()), false, kErrorDirectory);
  EXPECT_FAILS(RemoveDirectoryW((dir / u"file\\").c_str()), false, kErrorInvalidName);
  EXPECT_FAILS(RemoveDirectoryW(u""), false, kErrorInvalidName);
  EXPECT_EQ(ReadText(dir / u"file"), "x");
}

TEST(CreateFileW, DispositionsCreateOpenAndTruncate) {
  Scratch dir;
  const std::u16string path = dir / u"f";
  SetLastError(1234);
  {
    File created(path, kGenericWrite, 0, kCreateNew);
    ASSERT_TRUE(created.ok());
    EXPECT_EQ(GetLastError(), kErrorSuccess);
  }
  EXPECT_FAILS(CreateFileW(path.c_str(), kGenericWrite, 0, kCreateNew), InvalidHandle(),
               kErrorFileExists);

  WriteText(path, "hello");
  {
    File opened(path, kGenericRead, 0, kOpenAlways);
    ASSERT_TRUE(opened.ok());
    EXPECT_EQ(GetLastError(), kErrorAlreadyExists);
    EXPECT_EQ(GetFileSize(opened.get(), nullptr), 5u);
  }
  {
    File fresh(dir / u"g", kGenericRead, 0, kOpenAlways);
    ASSERT_TRUE(fresh.ok());
    EXPECT_EQ(GetLastError(), kErrorSuccess);
  }
  {
    File truncated(path, kGenericWrite, 0, kCreateAlways);
    ASSERT_TRUE(truncated.ok());
    EXPECT_EQ(GetLastError(), kErrorAlreadyExists);
    EXPECT_EQ(GetFileSize(truncated.get(), nullptr), 0u);
  }
  WriteText(path, "hello");
  {
    File truncated(path, kGenericWrite, 0, kTruncateExisting);
    ASSERT_TRUE(truncated.ok());
    EXPECT_EQ(GetLastError(), kErrorSuccess);
    EXPECT_EQ(GetFileSize(truncated.get(), nullptr), 0u);
  }
  EXPECT_FAILS(CreateFileW((dir / u"missing").c_str(), kGenericWrite, 0, kTruncateExisting),
               InvalidHandle(), kErrorFileNotFound);
  EXPECT_FAILS(CreateFileW(path.c_str(), kGenericRead, 0, 0), InvalidHandle(),
               kErrorInvalidParameter);
  EXPECT_FAILS(CreateFileW(path.c_str(), kGenericRead, 0, 6), InvalidHandle(),
               kErrorInvalidParameter);
}

TEST(CreateFileW, ReportsMissingFilesFoldersAndBadNames) {
  Scratch dir;
  WriteText(dir / u"file", "x");
  const auto open = [](const std::u16string& path, uint32_t disposition) {
    return CreateFileW(path.c_str(), kGenericRead, 0, disposition);
  };
  EXPECT_FAILS(open(dir / u"missing", kOpenExisting), InvalidHandle(), kErrorFileNotFound);
  EXPECT_FAILS(open(dir / u"missing\\f", kOpenExisting), InvalidHandle(), kErrorPathNotFound);
  EXPECT_FAILS(open(dir / u"missing\\f", kCreateAlways), InvalidHandle(), kErrorPathNotFound);
  EXPECT_FAILS(open(dir / u"file\\f", kOpenExisting), InvalidHandle(), kErrorPathNotFound);
  EXPECT_FAILS(open(u"", kOpenExisting), InvalidHandle(), kErrorPathNotFound);
  EXPECT_FAILS(open(dir / u"a*b", kCreateAlways), InvalidHandle(), kErrorInvalidName);
  EXPECT_FAILS(open(dir / u"a|b", kCreateAlways), InvalidHandle(), kErrorInvalidName);
  // A name followed by a separator is not a file name; a folder stays a folder.
  EXPECT_FAILS(open(dir / u"file\\", kOpenExisting), InvalidHandle(), kErrorInvalidName);
  EXPECT_FAILS(open(dir / u"new\\", kCreateNew), InvalidHandle(), kErrorInvalidName);
}

TEST(CreateFileW, RefusesFolders) {
  Scratch dir;
  ASSERT_TRUE(CreateDirectoryW((dir / u"d").c_str()));
  const std::u16string folder = dir / u"d";
  EXPECT_FAILS(CreateFileW(folder.c_str(), kGenericRead, 0, kOpenExisting), InvalidHandle(),
               kErrorAccessDenied);
  EXPECT_FAILS(CreateFileW(folder.c_str(), 0, 0, kOpenExisting), InvalidHandle(),
               kErrorAccessDenied);
  EXPECT_FAILS(CreateFileW(folder.c_str(), kGenericWrite, 0, kCreateAlways), InvalidHandle(),
               kErrorAccessDenied);
  EXPECT_FAILS(CreateFileW(folder.c_str(), kGenericRead, 0, kOpenAlways), InvalidHandle(),
               kErrorAccessDenied);
  EXPECT_FAILS(CreateFileW(folder.c_str(), kGenericRead, 0, kCreateNew), InvalidHandle(),
               kErrorFileExists);
  EXPECT_FAILS(CreateFileW((folder + u"\\").c_str(), kGenericRead, 0, kOpenExisting),
               InvalidHandle(), kErrorAccessDenied);
}

TEST(CreateFileW, ShareNoneExcludesEveryOtherOpen) {
  Scratch dir;
  const std::u16string path = dir / u"f";
  WriteText(path, "data");
  {
    File first(path, kGenericRead, 0, kOpenExisting);
    ASSERT_TRUE(first.ok());
    EXPECT_FAILS(CreateFileW(path.c_str(), kGenericRead, kShareAll, kOpenExisting), InvalidHandle(),
                 kErrorSharingViolation);
    EXPECT_FAILS(CreateFileW(path.c_str(), kGenericWrite, kShareAll, kOpenExisting),
                 InvalidHandle(), kErrorSharingViolation);
    EXPECT_FAILS(CreateFileW(path.c_str(), kGenericWrite, kShareAll, kCreateAlways),
                 InvalidHandle(), kErrorSharingViolation);
    EXPECT_FAILS(DeleteFileW(path.c_str()), false, kErrorSharingViolation);
    // An open that neither reads nor writes takes no part in sharing.
    File query(path, 0, 0, kOpenExisting);
    EXPECT_TRUE(query.ok());
  }
  EXPECT_EQ(ReadText(path), "data");
  File again(path, kGenericRead | kGenericWrite, 0, kOpenExisting);
  EXPECT_TRUE(again.ok());
}

TEST(CreateFileW, SharingIsCheckedBothWays) {
  Scratch dir;
  const std::u16string path = dir / u"f";
  WriteText(path, "data");
  const auto open = [&](uint32_t access, uint32_t share) {
    return std::make_unique<File>(path, access, share, kOpenExisting);
  };
  {
    auto reader = open(kGenericRead, kFileShareRead);
    ASSERT_TRUE(reader->ok());
    EXPECT_TRUE(open(kGenericRead, kFileShareRead)->ok());
    // The reader does not share writing...
    EXPECT_FAILS(CreateFileW(path.c_str(), kGenericWrite, kShareAll, kOpenExisting),
                 InvalidHandle(), kErrorSharingViolation);
    // ...and a newcomer must share the reading already going on.
    EXPECT_FAILS(CreateFileW(path.c_str(), kGenericRead, kFileShareWrite, kOpenExisting),
                 InvalidHandle(), kErrorSharingViolation);
  }
  {
    auto writer = open(kGenericWrite, kFileShareRead);
    ASSERT_TRUE(writer->ok());
    EXPECT_TRUE(open(kGenericRead, kFileShareRead | kFileShareWrite)->ok());
    EXPECT_FAILS(CreateFileW(path.c_str(), kGenericRead, kFileShareRead, kOpenExisting),
                 InvalidHandle(), kErrorSharingViolation);
    EXPECT_FAILS(DeleteFileW(path.c_str()), false, kErrorSharingViolation);
  }
  EXPECT_EQ(ReadText(path), "data");
}

TEST(CreateFileW, ExclusiveOpenHasOneHolderAcrossThreads) {
  Scratch dir;
  const std::u16string path = dir / u"f";
  WriteText(path, "");
  std::atomic<int> holders{0};
  std::atomic<int> overlaps{0};
  std::atomic<int> wins{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 200; ++i) {
        File file(path, kGenericRead | kGenericWrite, 0, kOpenAlways);
        if (!file.ok()) continue;
        if (holders.fetch_add(1) != 0) overlaps.fetch_add(1);
        wins.fetch_add(1);
        std::this_thread::yield();
        holders.fetch_sub(1);
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(overlaps.load(), 0);
  EXPECT_GT(wins.load(), 0);
}

TEST(DeleteFileW, DeletesFilesOnly) {
  Scratch dir;
  WriteText(dir / u"f", "x");
  ASSERT_TRUE(CreateDirectoryW((dir / u"d").c_str()));
  EXPECT_FAILS(DeleteFileW((dir / u"f\\").c_str()), false, kErrorInvalidName);
  EXPECT_TRUE(DeleteFileW((dir / u"f").c_str()));
  EXPECT_FAILS(DeleteFileW((dir / u"f").c_str()), false, kErrorFileNotFound);
  EXPECT_FAILS(DeleteFileW((dir / u"missing\\f").c_str()), false, kErrorPathNotFound);
  EXPECT_FAILS(DeleteFileW((dir / u"d").c_str()), false, kErrorAccessDenied);
  EXPECT_FAILS(DeleteFileW(u""), false, kErrorPathNotFound);
}

TEST(DeleteFileW, SucceedsWhenEveryHandleSharesDelete) {
  Scratch dir;
  const std::u16string path = dir / u"f";
  WriteText(path, "data");
  {
    File reader(path, kGenericRead, kFileShareRead | kFileShareDelete, kOpenExisting);
    ASSERT_TRUE(reader.ok());
    EXPECT_TRUE(DeleteFileW(path.c_str()));
    // The open handle still reads the data. Whether the name lingers until it is closed
    // differs between Windows versions, so it is only checked after the close.
    char buffer[8] = {};
    uint32_t read = 0;
    EXPECT_TRUE(ReadFile(reader.get(), buffer, sizeof buffer, &read));
    EXPECT_EQ(std::string(buffer, read), "data");
  }
  EXPECT_FAILS(GetFileAttributesW(path.c_str()), kInvalidFileAttributes, kErrorFileNotFound);
}

TEST(GetFileAttributesW, ReportsKindAndMissingParts) {
  Scratch dir;
  WriteText(dir / u"f", "x");
  EXPECT_PRED1(IsPlainFile, GetFileAttributesW((dir / u"f").c_str()));
  EXPECT_EQ(GetFileAttributesW(dir.root().c_str()), kFileAttributeDirectory);
  EXPECT_EQ(GetFileAttributesW((dir.root() + u"\\").c_str()), kFileAttributeDirectory);
  EXPECT_FAILS(GetFileAttributesW((dir / u"missing").c_str()), kInvalidFileAttributes,
               kErrorFileNotFound);
  EXPECT_FAILS(GetFileAttributesW((dir / u"missing\\f").c_str()), kInvalidFileAttributes,
               kErrorPathNotFound);
  EXPECT_FAILS(GetFileAttributesW((dir / u"f\\g").c_str()), kInvalidFileAttributes,
               kErrorPathNotFound);
  EXPECT_FAILS(GetFileAttributesW((dir / u"f\\").c_str()), kInvalidFileAttributes,
               kErrorPathNotFound);
  EXPECT_FAILS(GetFileAttributesW(u""), kInvalidFileAttributes, kErrorPathNotFound);
  EXPECT_FAILS(SetFileAttributesW((dir / u"missing").c_str(), kFileAttributeNormal), false,
               kErrorFileNotFound);
}

TEST(SetFileAttributesW, ReadOnlyFileCannotBeDeleted) {
  Scratch dir;
  const std::u16string path = dir / u"f";
  WriteText(path, "keep");
  ASSERT_TRUE(SetFileAttributesW(path.c_str(), kFileAttributeReadonly));
  EXPECT_TRUE(GetFileAttributesW(path.c_str()) & kFileAttributeReadonly);
  EXPECT_FAILS(DeleteFileW(path.c_str()), false, kErrorAccessDenied);
  EXPECT_EQ(ReadText(path), "keep");

  ASSERT_TRUE(SetFileAttributesW(path.c_str(), kFileAttributeNormal));
  EXPECT_PRED1(IsPlainFile, GetFileAttributesW(path.c_str()));
  EXPECT_TRUE(File(path, kGenericWrite, 0, kOpenExisting).ok());
  EXPECT_TRUE(DeleteFileW(path.c_str()));
}

TEST(CreateFileW, ReadOnlyFileRefusesWritesAndOverwrites) {
  Scratch dir;
  const std::u16string path = dir / u"f";
  WriteText(path, "keep");
  ASSERT_TRUE(SetFileAttributesW(path.c_str(), kFileAttributeReadonly));
  // Wine leaves this check to the Unix permissions, which root bypasses. Windows and the
  // emulation refuse the open for everyone.
  if (UsesWindowsCalls() && File(path, kGenericWrite, 0, kOpenExisting).ok()) {
    GTEST_SKIP() << "Wine run as root opens read-only files for writing";
  }
  EXPECT_FAILS(CreateFileW(path.c_str(), kGenericWrite, 0, kOpenExisting), InvalidHandle(),
               kErrorAccessDenied);
  EXPECT_FAILS(CreateFileW(path.c_str(), kGenericWrite, 0, kOpenAlways), InvalidHandle(),
               kErrorAccessDenied);
  EXPECT_FAILS(CreateFileW(path.c_str(), kGenericRead, 0, kCreateAlways), InvalidHandle(),
               kErrorAccessDenied);
  EXPECT_FAILS(CreateFileW(path.c_str(), kGenericWrite, 0, kTruncateExisting), InvalidHandle(),
               kErrorAccessDenied);
  EXPECT_EQ(ReadText(path), "keep");
}

TEST(ReadFile, ReadsWhatWasWrittenAndStopsAtEnd) {
  Scratch dir;
  File file(dir / u"f", kGenericRead | kGenericWrite, 0, kCreateAlways);
  ASSERT_TRUE(file.ok());
  // Large enough that the system may move it in several pieces.
  std::string data(3 * 1024 * 1024 + 17, '\0');
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 7 + i / 4096);
  uint32_t count = 0;
  ASSERT_TRUE(WriteFile(file.get(), data.data(), static_cast<uint32_t>(data.size()), &count));
  EXPECT_EQ(count, data.size());
  EXPECT_EQ(SetFilePointer(file.get(), 0, nullptr, kFileBegin), 0u);

  std::string back(data.size() + 100, 'x');
  ASSERT_TRUE(ReadFile(file.get(), back.data(), static_cast<uint32_t>(back.size()), &count));
  EXPECT_EQ(count, data.size());
  back.resize(count);
  EXPECT_TRUE(back == data);

  count = 99;
  EXPECT_TRUE(ReadFile(file.get(), back.data(), 10, &count));
  EXPECT_EQ(count, 0u);
  SetFilePointer(file.get(), 1000, nullptr, kFileEnd);
  count = 99;
  EXPECT_TRUE(ReadFile(file.get(), back.data(), 10, &count));
  EXPECT_EQ(count, 0u);
}

TEST(WriteFile, ExtendsWithZerosAndIgnoresEmptyWrites) {
  Scratch dir;
  File file(dir / u"f", kGenericRead | kGenericWrite, 0, kCreateAlways);
  ASSERT_TRUE(file.ok());
  uint32_t count = 99;
  EXPECT_TRUE(WriteFile(file.get(), "", 0, &count));
  EXPECT_EQ(count, 0u);
  EXPECT_EQ(SetFilePointer(file.get(), 10, nullptr, kFileBegin), 10u);
  ASSERT_TRUE(WriteFile(file.get(), "x", 1, &count));
  EXPECT_EQ(GetFileSize(file.get(), nullptr), 11u);
  SetFilePointer(file.get(), 0, nullptr, kFileBegin);
  char buffer[16];
  ASSERT_TRUE(ReadFile(file.get(), buffer, sizeof buffer, &count));
  EXPECT_EQ(std::string(buffer, count), std::string(10, '\0') + "x");
}

TEST(ReadFile, HandlesAllowOnlyTheAccessTheyWereOpenedFor) {
  Scratch dir;
  const std::u16string path = dir / u"f";
  WriteText(path, "data");
  char buffer[4];
  uint32_t count = 99;
  {
    File reader(path, kGenericRead, kShareAll, kOpenExisting);
    EXPECT_FAILS(WriteFile(reader.get(), "x", 1, &count), false, kErrorAccessDenied);
    EXPECT_EQ(count, 0u);
    EXPECT_FAILS(FlushFileBuffers(reader.get()), false, kErrorAccessDenied);
  }
  {
    File writer(path, kGenericWrite, kShareAll, kOpenExisting);
    EXPECT_FAILS(ReadFile(writer.get(), buffer, 4, &count), false, kErrorAccessDenied);
    EXPECT_TRUE(FlushFileBuffers(writer.get()));
  }
  {
    File query(path, 0, kShareAll, kOpenExisting);
    EXPECT_FAILS(ReadFile(query.get(), buffer, 4, &count), false, kErrorAccessDenied);
    EXPECT_FAILS(WriteFile(query.get(), "x", 1, &count), false, kErrorAccessDenied);
    EXPECT_EQ(GetFileSize(query.get(), nullptr), 4u);
  }
  EXPECT_EQ(ReadText(path), "data");
}

TEST(CloseHandle, RefusesHandlesThatAreNotOpen) {
  Scratch dir;
  FileHandle h = CreateFileW((dir / u"f").c_str(), kGenericWrite, 0, kCreateAlways);
  ASSERT_NE(h, InvalidHandle());
  ASSERT_NE(h, nullptr);
  EXPECT_TRUE(CloseHandle(h));
  EXPECT_FAILS(CloseHandle(h), false, kErrorInvalidHandle);
  EXPECT_FAILS(CloseHandle(nullptr), false, kErrorInvalidHandle);
  // CloseHandle(InvalidHandle()) is not checked: on Windows that value also names the current
  // process and closing it succeeds, while the emulation refuses it with ERROR_INVALID_HANDLE.
  char buffer[1];
  uint32_t count;
  EXPECT_FAILS(ReadFile(InvalidHandle(), buffer, 1, &count), false, kErrorInvalidHandle);
  EXPECT_FAILS(ReadFile(nullptr, buffer, 1, &count), false, kErrorInvalidHandle);
  EXPECT_FAILS(WriteFile(nullptr, buffer, 1, &count), false, kErrorInvalidHandle);
  EXPECT_FAILS(FlushFileBuffers(InvalidHandle()), false, kErrorInvalidHandle);
  EXPECT_FAILS(GetFileSize(InvalidHandle(), nullptr), kInvalidFileSize, kErrorInvalidHandle);
  EXPECT_FAILS(SetFilePointer(InvalidHandle(), 0, nullptr, kFileBegin), kInvalidSetFilePointer,
               kErrorInvalidHandle);
}

TEST(SetFilePointer, MovesFromEachOrigin) {
  Scratch dir;
  WriteText(dir / u"f", std::string(100, 'a'));
  File file(dir / u"f", kGenericRead, 0, kOpenExisting);
  ASSERT_TRUE(file.ok());
  EXPECT_EQ(SetFilePointer(file.get(), 10, nullptr, kFileBegin), 10u);
  EXPECT_EQ(SetFilePointer(file.get(), 5, nullptr, kFileCurrent), 15u);
  EXPECT_EQ(SetFilePointer(file.get(), -15, nullptr, kFileCurrent), 0u);
  EXPECT_EQ(SetFilePointer(file.get(), -10, nullptr, kFileEnd), 90u);
  int32_t high = 0;
  EXPECT_EQ(SetFilePointer(file.get(), 0, &high, kFileEnd), 100u);
  EXPECT_EQ(high, 0);
  EXPECT_FAILS(SetFilePointer(file.get(), 0, nullptr, 3), kInvalidSetFilePointer,
               kErrorInvalidParameter);
}

TEST(SetFilePointer, NegativePositionFailsAndKeepsThePosition) {
  Scratch dir;
  WriteText(dir / u"f", std::string(10, 'a'));
  File file(dir / u"f", kGenericRead, 0, kOpenExisting);
  ASSERT_TRUE(file.ok());
  ASSERT_EQ(SetFilePointer(file.get(), 4, nullptr, kFileBegin), 4u);
  EXPECT_FAILS(SetFilePointer(file.get(), -1, nullptr, kFileBegin), kInvalidSetFilePointer,
               kErrorNegativeSeek);
  EXPECT_FAILS(SetFilePointer(file.get(), -5, nullptr, kFileCurrent), kInvalidSetFilePointer,
               kErrorNegativeSeek);
  EXPECT_FAILS(SetFilePointer(file.get(), -11, nullptr, kFileEnd), kInvalidSetFilePointer,
               kErrorNegativeSeek);
  int32_t high = -1;
  EXPECT_FAILS(SetFilePointer(file.get(), 5, &high, kFileBegin), kInvalidSetFilePointer,
               kErrorNegativeSeek);
  EXPECT_EQ(high, -1);
  EXPECT_EQ(Position(file.get()), 4u);
}

// Sizes past 4 GiB come from sparse files: one byte written far out, never gigabytes.
TEST(SetFilePointer, CarriesPositionsPastFourGiB) {
  Scratch dir;
  File file(dir / u"f", kGenericRead | kGenericWrite, 0, kCreateAlways);
  ASSERT_TRUE(file.ok());
  int32_t high = 1;
  EXPECT_EQ(SetFilePointer(file.get(), 0x40000000, &high, kFileBegin), 0x40000000u);
  EXPECT_EQ(high, 1);
  uint32_t count = 0;
  ASSERT_TRUE(WriteFile(file.get(), "z", 1, &count));
  EXPECT_EQ(Position(file.get()), 0x140000001u);

  uint32_t sizeHigh = 0;
  EXPECT_EQ(GetFileSize(file.get(), &sizeHigh), 0x40000001u);
  EXPECT_EQ(sizeHigh, 1u);
  EXPECT_EQ(GetFileSize(file.get(), nullptr), 0x40000001u);  // the low half alone

  // With a high half the low half is unsigned: -2:-0x40000000 is -0x140000000.
  high = -2;
  EXPECT_EQ(SetFilePointer(file.get(), -0x40000000, &high, kFileCurrent), 1u);
  EXPECT_EQ(high, 0);
  high = 0;  // 0:-1 is +0xFFFFFFFF
  EXPECT_EQ(SetFilePointer(file.get(), -1, &high, kFileBegin), 0xFFFFFFFFu);
  EXPECT_EQ(high, 0);
  high = -1;
  EXPECT_EQ(SetFilePointer(file.get(), -1, &high, kFileEnd), 0x40000000u);
  EXPECT_EQ(high, 1);
  char byte = 0;
  ASSERT_TRUE(ReadFile(file.get(), &byte, 1, &count));
  EXPECT_EQ(count, 1u);
  EXPECT_EQ(byte, 'z');
}

TEST(SetFilePointer, AllOnesLowHalfIsASuccess) {
  Scratch dir;
  File file(dir / u"f", kGenericRead | kGenericWrite, 0, kCreateAlways);
  ASSERT_TRUE(file.ok());
  int32_t high = 0;
  SetLastError(1234);
  EXPECT_EQ(SetFilePointer(file.get(), -1, &high, kFileBegin), kInvalidSetFilePointer);
  EXPECT_EQ(GetLastError(), kErrorSuccess);
  EXPECT_EQ(high, 0);
  EXPECT_EQ(Position(file.get()), 0xFFFFFFFFu);
}

TEST(GetFileSize, ReportsAllOnesSizeWithNoError) {
  Scratch dir;
  File file(dir / u"f", kGenericRead | kGenericWrite, 0, kCreateAlways);
  ASSERT_TRUE(file.ok());
  uint32_t high = 77;
  EXPECT_EQ(GetFileSize(file.get(), &high), 0u);
  EXPECT_EQ(high, 0u);
  int32_t distanceHigh = 0;
  SetFilePointer(file.get(), -2, &distanceHigh, kFileBegin);  // 0xFFFFFFFE
  uint32_t count = 0;
  ASSERT_TRUE(WriteFile(file.get(), "z", 1, &count));
  SetLastError(1234);
  EXPECT_EQ(GetFileSize(file.get(), &high), kInvalidFileSize);
  EXPECT_EQ(GetLastError(), kErrorSuccess);
  EXPECT_EQ(high, 0u);
  SetLastError(1234);
  EXPECT_EQ(GetFileSize(file.get(), nullptr), kInvalidFileSize);
  EXPECT_EQ(GetLastError(), kErrorSuccess);
}

TEST(FindFirstFileW, ListsFolderWithDotEntries) {
  Scratch dir;
  for (const char16_t* name : {u"a", u"a.txt", u"ab.txt", u"abc", u"x.y.z"}) {
    WriteText(dir / name, "");
  }
  ASSERT_TRUE(CreateDirectoryW((dir / u"sub").c_str()));
  const Names all{u".", u"..", u"a", u"a.txt", u"ab.txt", u"abc", u"sub", u"x.y.z"};
  EXPECT_EQ(Search(dir / u"*"), all);
  EXPECT_EQ(Search(dir.root() + u"/*.*"), all);  // "*.*" takes names without a dot too
  EXPECT_EQ(Search(dir / u"sub\\*"), (Names{u".", u".."}));

  FindData entry;
  FindHandle search = FindFirstFileW((dir / u"*").c_str(), &entry);
  ASSERT_NE(search, InvalidHandle());
  do {
    const std::u16string name = entry.fileName;
    const bool folder = name == u"." || name == u".." || name == u"sub";
    EXPECT_EQ((entry.fileAttributes & kFileAttributeDirectory) != 0, folder) << name.size();
  } while (FindNextFileW(search, &entry));
  EXPECT_FAILS(FindNextFileW(search, &entry), false, kErrorNoMoreFiles);
  EXPECT_TRUE(FindClose(search));
}

TEST(FindFirstFileW, MatchesWildcardsInTheLastComponent) {
  Scratch dir;
  for (const char16_t* name : {u"a", u"a.txt", u"ab.txt", u"abc", u"x.y.z"}) {
    WriteText(dir / name, "");
  }
  EXPECT_EQ(Search(dir / u"?"), (Names{u".", u"a"}));
  EXPECT_EQ(Search(dir / u"??"), (Names{u".."}));
  EXPECT_EQ(Search(dir / u"?.txt"), (Names{u"a.txt"}));
  EXPECT_EQ(Search(dir / u"a?.txt"), (Names{u"ab.txt"}));
  EXPECT_EQ(Search(dir / u"*.txt"), (Names{u"a.txt", u"ab.txt"}));
  EXPECT_EQ(Search(dir / u"a*"), (Names{u"a", u"a.txt", u"ab.txt", u"abc"}));
  EXPECT_EQ(Search(dir / u"?b*"), (Names{u"ab.txt", u"abc"}));
  EXPECT_EQ(Search(dir / u"*z"), (Names{u"x.y.z"}));
  EXPECT_EQ(Search(dir / u"a.*"), (Names{u"a", u"a.txt"}));  // "name.*" takes "name" too
}

TEST(FindFirstFileW, NameWithoutWildcardsFindsThatEntry) {
  Scratch dir;
  WriteText(dir / u"a.txt", "");
  ASSERT_TRUE(CreateDirectoryW((dir / u"sub").c_str()));
  FindData entry;
  FindHandle search = FindFirstFileW((dir / u"a.txt").c_str(), &entry);
  ASSERT_NE(search, InvalidHandle());
  EXPECT_EQ(std::u16string(entry.fileName), u"a.txt");
  EXPECT_PRED1(IsPlainFile, entry.fileAttributes);
  EXPECT_FAILS(FindNextFileW(search, &entry), false, kErrorNoMoreFiles);
  EXPECT_TRUE(FindClose(search));
  EXPECT_EQ(Search(dir / u"sub"), (Names{u"sub"}));
  search = FindFirstFileW(dir.root().c_str(), &entry);
  ASSERT_NE(search, InvalidHandle());
  EXPECT_EQ(entry.fileAttributes, kFileAttributeDirectory);
  EXPECT_TRUE(FindClose(search));
}

TEST(FindFirstFileW, ReportsNoMatchAndBadPatterns) {
  Scratch dir;
  WriteText(dir / u"a.txt", "");
  FindData entry;
  const auto find = [&](const std::u16string& pattern) {
    return FindFirstFileW(pattern.c_str(), &entry);
  };
  EXPECT_FAILS(find(dir / u"*.zip"), InvalidHandle(), kErrorFileNotFound);
  EXPECT_FAILS(find(dir / u"b.txt"), InvalidHandle(), kErrorFileNotFound);
  EXPECT_FAILS(find(dir / u"missing\\*"), InvalidHandle(), kErrorPathNotFound);
  EXPECT_FAILS(find(dir / u"missing\\a.txt"), InvalidHandle(), kErrorPathNotFound);
  EXPECT_FAILS(find(dir.root() + u"\\"), InvalidHandle(), kErrorFileNotFound);
  EXPECT_FAILS(find(u""), InvalidHandle(), kErrorPathNotFound);
  EXPECT_FAILS(find(dir / u"*\\a.txt"), InvalidHandle(), kErrorInvalidName);
  EXPECT_FAILS(FindNextFileW(InvalidHandle(), &entry), false, kErrorInvalidHandle);
  EXPECT_FAILS(FindClose(InvalidHandle()), false, kErrorInvalidHandle);
}

TEST(FindFirstFileW, ReportsNonLatinNamesUnitByUnit) {
  Scratch dir;
  const std::u16string cjk = u"\u6587\u4ef6.txt";
  const std::u16string single = u"\u6587.txt";
  const std::u16string pair = u"\U0001F600.txt";  // one character, two UTF-16 units
  for (const std::u16string& name : {cjk, single, pair}) {
    WriteText(dir / name, "text");
    EXPECT_EQ(ReadText(dir / name), "text");
  }
  EXPECT_EQ(Search(dir / u"*.txt"), (Names{cjk, single, pair}));
  EXPECT_EQ(Search(dir / u"?.txt"), (Names{single}));
  EXPECT_EQ(Search(dir / u"??.txt"), (Names{cjk, pair}));
  EXPECT_EQ(Search(dir / pair), (Names{pair}));
}

TEST(SHCreateDirectoryExW, CreatesEveryMissingFolder) {
  Scratch dir;
  EXPECT_EQ(SHCreateDirectoryExW((dir / u"a\\b\\c").c_str()), 0);
  EXPECT_EQ(GetFileAttributesW((dir / u"a\\b\\c").c_str()), kFileAttributeDirectory);
  EXPECT_EQ(SHCreateDirectoryExW((dir / u"a\\x\\y\\").c_str()), 0);
  EXPECT_EQ(GetFileAttributesW((dir / u"a\\x\\y").c_str()), kFileAttributeDirectory);
}

TEST(SHCreateDirectoryExW, ReturnsAndSetsTheError) {
  Scratch dir;
  WriteText(dir / u"file", "x");
  ASSERT_TRUE(CreateDirectoryW((dir / u"d").c_str()));
  const auto expectError = [](const std::u16string& path, int32_t error) {
    SetLastError(1234);
    EXPECT_EQ(SHCreateDirectoryExW(path.c_str()), error);
    EXPECT_EQ(GetLastError(), static_cast<uint32_t>(error));
  };
  expectError(u"relative\\path", kErrorBadPathname);
  expectError(u"", kErrorBadPathname);
  expectError(dir / u"d", kErrorAlreadyExists);
  expectError(dir / u"file", kErrorAlreadyExists);
  expectError(dir / u"file\\sub", kErrorPathNotFound);
  expectError(dir / u"a*b\\c", kErrorInvalidName);
}

TEST(Paths, FollowWindowsRules) {
  Scratch dir;
  ASSERT_TRUE(CreateDirectoryW((dir / u"sub").c_str()));
  WriteText(dir / u"sub\\f", "x");
  // Both separators, "." and ".." resolved by text, trailing dots and spaces dropped.
  for (const char16_t* path : {u"sub/f", u"sub\\.\\f", u"sub\\..\\sub\\f", u"missing\\..\\sub\\f",
                               u"sub\\f.", u"sub\\f  ", u"sub\\\\f"}) {
    EXPECT_PRED1(IsPlainFile, GetFileAttributesW((dir / path).c_str()))
        << std::string(path, path + std::char_traits<char16_t>::length(path));
  }
}

// Lone surrogates cannot be stored as UTF-8 names. The emulation refuses them with
// ERROR_INVALID_NAME and Wine with ERROR_FILE_NOT_FOUND; NTFS itself would accept them.
TEST(Paths, InvalidUtf16IsAnError) {
  Scratch dir;
  const auto isRefusal = [](uint32_t error) {
    return error == kErrorInvalidName || error == kErrorFileNotFound;
  };
  const std::u16string high = dir /
                              u"a\xD800"
                              u"b";
  const std::u16string low = dir / u"\xDC00";
  const std::u16string last = dir / u"a\xD83D";
  for (const std::u16string& path : {high, low, last}) {
    EXPECT_EQ(CreateFileW(path.c_str(), kGenericWrite, 0, kCreateAlways), InvalidHandle());
    EXPECT_PRED1(isRefusal, GetLastError());
    EXPECT_EQ(GetFileAttributesW(path.c_str()), kInvalidFileAttributes);
    EXPECT_PRED1(isRefusal, GetLastError());
    EXPECT_FALSE(DeleteFileW(path.c_str()));
    EXPECT_PRED1(isRefusal, GetLastError());
    EXPECT_FALSE(CreateDirectoryW(path.c_str()));
    EXPECT_NE(SHCreateDirectoryExW(path.c_str()), 0);
    FindData entry;
    EXPECT_EQ(FindFirstFileW(path.c_str(), &entry), InvalidHandle());
  }
  EXPECT_EQ(Search(dir / u"*"), (Names{u".", u".."}));
}

// Over 1024 bytes of UTF-8, past the emulation's inline buffer. On Windows such paths need
// long-path support; Wine has no such limit.
TEST(Paths, LongPathsWork) {
  Scratch dir;
  std::u16string path = dir.root();
  for (int level = 0; level < 5; ++level) {
    path += u"\\" + std::u16string(80, u'\u6587') + Widen(std::to_string(level));
    ASSERT_TRUE(CreateDirectoryW(path.c_str())) << level << " " << GetLastError();
  }
  WriteText(path + u"\\f", "deep");
  EXPECT_EQ(ReadText(path + u"\\f"), "deep");
  EXPECT_EQ(Search(path + u"\\*"), (Names{u".", u"..", u"f"}));
  EXPECT_FAILS(GetFileAttributesW((path + u"\\missing\\f").c_str()), kInvalidFileAttributes,
               kErrorPathNotFound);
  // A component too long for any file system fails cleanly.
  SetLastError(kErrorSuccess);
  EXPECT_EQ(CreateFileW((dir / std::u16string(300, u'x')).c_str(), kGenericWrite, 0, kCreateAlways),
            InvalidHandle());
  EXPECT_NE(GetLastError(), kErrorSuccess);
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
