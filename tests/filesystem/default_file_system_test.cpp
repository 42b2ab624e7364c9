// The default file system over the operating system's files, and its folder search: result
// codes, open modes and sharing, reads and writes, positions and sizes past 4 GiB, folders, and
// the search result objects.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <iterator>
#include <string>
#include <vector>

#include "code_table.h"
#include "filesystem/default_file_system.h"
#include "platform/files.h"

#ifndef _WIN32
#include <sys/mman.h>
#endif

namespace {

namespace os = sl::platform;
using Names = std::vector<std::u16string>;

constexpr uint64_t kGiB = uint64_t{1} << 30;

Names Sorted(Names names) {
  std::sort(names.begin(), names.end());
  return names;
}

class DefaultFileSystemTest : public ::testing::Test {
 protected:
  ~DefaultFileSystemTest() override { fstest::Release(fs); }

  std::u16string Path(const std::u16string& name) const { return dir / name; }
  SLFileHandle Open(const std::u16string& name, uint32_t mode) {
    SLFileHandle file = nullptr;
    EXPECT_EQ(SL_OK, fs->OpenFile(fs, Path(name).c_str(), mode, &file)) << mode;
    return file;
  }
  void Close(SLFileHandle file) { EXPECT_EQ(SL_OK, fs->CloseFile(fs, file)); }
  void Write(SLFileHandle file, const std::string& bytes) {
    uint64_t done = 0;
    EXPECT_EQ(SL_OK, fs->WriteFile(fs, file, bytes.data(), bytes.size(), &done));
    EXPECT_EQ(bytes.size(), done);
  }
  std::string Read(SLFileHandle file) {  // one call: a short read is not continued
    char buffer[64];
    uint64_t done = 99;
    EXPECT_EQ(SL_OK, fs->ReadFile(fs, file, buffer, sizeof buffer, &done));
    return std::string(buffer, done);
  }
  void MakeFile(const std::u16string& name, const std::string& contents) {
    SLFileHandle file = Open(name, SL_OPEN_CREATE);
    if (!contents.empty()) Write(file, contents);
    Close(file);
  }
  std::string Contents(const std::u16string& name) {
    SLFileHandle file = Open(name, SL_OPEN_READ);
    const std::string text = Read(file);
    Close(file);
    return text;
  }
  uint64_t Position(SLFileHandle file) {
    uint64_t position = 0xDEAD;
    EXPECT_EQ(SL_OK, fs->GetFilePos(fs, file, &position));
    return position;
  }
  uint64_t Size(SLFileHandle file) {
    uint64_t size = 0xDEAD;
    EXPECT_EQ(SL_OK, fs->GetFileSize(fs, file, &size));
    return size;
  }
  bool Exists(const std::u16string& path) {
    uint8_t exists = 2;
    EXPECT_EQ(SL_OK, fs->IsFileExists(fs, path.c_str(), &exists));
    return exists == 1;
  }
  // The names a search finds, sorted; empty when it fails.
  Names Find(const std::u16string& pattern) {
    SLFileSystemSearchResult* result = nullptr;
    if (fs->Search(fs, Path(pattern).c_str(), &result) != SL_OK) return {};
    uint64_t count = 0;
    EXPECT_EQ(SL_OK, result->GetCount(result, &count));
    Names names(count);
    for (uint32_t i = 0; i < count; ++i) {
      const SLChar16* name = nullptr;
      EXPECT_EQ(SL_OK, result->GetFileInfo(result, i, &name));
      names[i] = name;
    }
    fstest::Release(result);
    return Sorted(names);
  }

  SLFileSystem* fs = sl::filesystem::CreateDefaultFileSystem();
  fstest::TempFolder dir;
};

TEST_F(DefaultFileSystemTest, ResultCodesAndFailureRecordsOfEveryEntry) {
  EXPECT_EQ(SL_NOT_FOUND, fstest::LastFailure(fs).status);  // no failure yet, no record
  MakeFile(u"f", "abc");
  MakeFile(u"w", "");
  MakeFile(u"ro", "keep");
  ASSERT_TRUE(os::SetFileAttributesW(Path(u"ro").c_str(), os::kFileAttributeReadonly));
  ASSERT_EQ(SL_OK, fs->CreateFolder(fs, Path(u"d").c_str()));
  MakeFile(u"d\\g", "");
  const SLFileHandle reader = Open(u"f", SL_OPEN_READ);
  const SLFileHandle writer = Open(u"w", SL_OPEN_WRITE);
  const auto bogus = reinterpret_cast<SLFileHandle>(uintptr_t{0x7FFFFFF0});
  const std::u16string f = Path(u"f"), w = Path(u"w"), ro = Path(u"ro"), d = Path(u"d");
  const std::u16string missing = Path(u"missing");
  char buffer[4] = {};
  uint64_t value = 77, done = 99;
  uint8_t flag = 9;
  SLFileHandle out = reinterpret_cast<SLFileHandle>(0x1234);
  auto* const noResult = reinterpret_cast<SLFileSystemSearchResult*>(0x10);
  SLFileSystemSearchResult* result = noResult;
  SLChar16 mapped[8] = {u'x'};
  fstest::ExpectCodes(
      fs, "SLFileSystem", 11,
      {"GetFileSystemName", "CreateFolder", "CreateAllFolders", "RemoveFolder", "OpenFile",
       "CloseFile", "IsFileExists", "ReadFile", "WriteFile", "FlushFile", "GetFilePos",
       "SetFilePos", "GetFileSize", "RemoveFile", "MakeDIPathFromPath", "MakePathFromDIPath",
       "Search"},
      {
          FSTEST_ROW(fs, 3, GetFileSystemName(fs, nullptr)),
          FSTEST_ROW(fs, 3, CreateFolder(fs, nullptr)),
          FSTEST_ROW(fs, 3, CreateAllFolders(fs, nullptr)),
          FSTEST_ROW(fs, 3, RemoveFolder(fs, nullptr)),
          FSTEST_ROW(fs, 3, OpenFile(fs, nullptr, SL_OPEN_READ, &out)),
          FSTEST_ROW(fs, 3, OpenFile(fs, f.c_str(), SL_OPEN_READ, nullptr)),
          FSTEST_ROW(fs, 3, OpenFile(fs, f.c_str(), 0, &out)),
          FSTEST_ROW(fs, 3, OpenFile(fs, f.c_str(), 8, &out)),
          FSTEST_ROW(fs, 3, CloseFile(fs, nullptr)),
          FSTEST_ROW(fs, 3, IsFileExists(fs, nullptr, &flag)),
          FSTEST_ROW(fs, 3, IsFileExists(fs, f.c_str(), nullptr)),
          FSTEST_ROW(fs, 3, ReadFile(fs, nullptr, buffer, 4, &value)),
          FSTEST_ROW(fs, 3, ReadFile(fs, reader, nullptr, 4, &value)),
          FSTEST_ROW(fs, 3, ReadFile(fs, reader, buffer, 0, &value)),
          FSTEST_ROW(fs, 3, WriteFile(fs, nullptr, buffer, 4, &value)),
          FSTEST_ROW(fs, 3, WriteFile(fs, writer, nullptr, 4, &value)),
          FSTEST_ROW(fs, 3, WriteFile(fs, writer, buffer, 0, &value)),
          FSTEST_ROW(fs, 3, FlushFile(fs, nullptr)),
          FSTEST_ROW(fs, 3, GetFilePos(fs, nullptr, &value)),
          FSTEST_ROW(fs, 3, GetFilePos(fs, reader, nullptr)),
          FSTEST_ROW(fs, 3, SetFilePos(fs, nullptr, 0)),
          FSTEST_ROW(fs, 3, GetFileSize(fs, nullptr, &value)),
          FSTEST_ROW(fs, 3, GetFileSize(fs, reader, nullptr)),
          FSTEST_ROW(fs, 3, RemoveFile(fs, nullptr)),
          FSTEST_ROW(fs, 3, Search(fs, nullptr, &result)),
          FSTEST_ROW(fs, 3, Search(fs, Path(u"*").c_str(), nullptr)),
          // Whatever keeps the system from starting a search is an invalid argument.
          FSTEST_ROW(fs, 3, Search(fs, Path(u"*.none").c_str(), &result)),
          FSTEST_ROW(fs, 3, Search(fs, Path(u"missing\\*").c_str(), &result)),
          FSTEST_ROW(fs, 3, Search(fs, (dir.path() + u"\\").c_str(), &result)),
          FSTEST_ROW(fs, 3, Search(fs, u"", &result)),
          // The path mapping entries map nothing, and 1 is no failure.
          FSTEST_ROW(fs, SL_NOT_DONE, MakeDIPathFromPath(fs, nullptr, nullptr, 0)),
          FSTEST_ROW(fs, SL_NOT_DONE, MakePathFromDIPath(fs, nullptr, nullptr, 0)),
          FSTEST_ROW(fs, SL_NOT_DONE, MakeDIPathFromPath(fs, u"a", mapped, 8)),
          // Mode 3 does not create; read-only files open for reading only.
          FSTEST_ROW(fs, 11, OpenFile(fs, missing.c_str(), SL_OPEN_READ, &out)),
          FSTEST_ROW(fs, 11, OpenFile(fs, missing.c_str(), SL_OPEN_WRITE, &out)),
          FSTEST_ROW(fs, 11, OpenFile(fs, missing.c_str(), SL_OPEN_WRITE | SL_OPEN_READ, &out)),
          FSTEST_ROW(fs, 11, RemoveFile(fs, missing.c_str())),
          FSTEST_ROW(fs, 15, OpenFile(fs, ro.c_str(), SL_OPEN_WRITE, &out)),
          FSTEST_ROW(fs, 15, OpenFile(fs, ro.c_str(), SL_OPEN_WRITE | SL_OPEN_READ, &out)),
          FSTEST_ROW(fs, 15, RemoveFile(fs, ro.c_str())),
          FSTEST_ROW(fs, 15, WriteFile(fs, reader, "x", 1, &done)),
          // Writers share nothing, readers share reading; the sharing violation gives 7.
          FSTEST_ROW(fs, 7, OpenFile(fs, w.c_str(), SL_OPEN_READ, &out)),
          FSTEST_ROW(fs, 7, OpenFile(fs, w.c_str(), SL_OPEN_CREATE, &out)),
          FSTEST_ROW(fs, 7, OpenFile(fs, f.c_str(), SL_OPEN_WRITE, &out)),
          FSTEST_ROW(fs, 7, OpenFile(fs, f.c_str(), SL_OPEN_CREATE, &out)),
          // Other OS failures without a code of their own.
          FSTEST_ROW(fs, 7, SetFilePos(fs, reader, -1)),
          FSTEST_ROW(fs, 7, SetFilePos(fs, reader, -static_cast<int64_t>(4 * kGiB))),
          FSTEST_ROW(fs, 16, CreateFolder(fs, d.c_str())),
          FSTEST_ROW(fs, 16, CreateAllFolders(fs, d.c_str())),
          FSTEST_ROW(fs, 7, CreateFolder(fs, Path(u"a\\b").c_str())),
          FSTEST_ROW(fs, 7, CreateAllFolders(fs, u"relative\\folder")),
          FSTEST_ROW(fs, 7, RemoveFolder(fs, d.c_str())),
          FSTEST_ROW(fs, 7, GetFilePos(fs, bogus, &value)),
          FSTEST_ROW(fs, 7, GetFileSize(fs, bogus, &value)),
          FSTEST_ROW(fs, 7, SetFilePos(fs, bogus, 1)),
          FSTEST_ROW(fs, 7, FlushFile(fs, bogus)),
          FSTEST_ROW(fs, 7, ReadFile(fs, bogus, buffer, 1, &done)),
          FSTEST_ROW(fs, 7, CloseFile(fs, bogus)),
      });
  // Failures touch no output but `done`, which tells what moved.
  EXPECT_EQ(77u, value);
  EXPECT_EQ(0u, done);
  EXPECT_EQ(9, flag);
  EXPECT_EQ(reinterpret_cast<SLFileHandle>(0x1234), out);
  EXPECT_EQ(noResult, result);
  EXPECT_EQ(u'x', mapped[0]);
  EXPECT_EQ(0u, Position(reader));  // the zero-byte read did not reach the file
  EXPECT_EQ("keep", Contents(u"ro"));
  EXPECT_FALSE(Exists(Path(u"a")));
  EXPECT_FALSE(Exists(u"relative"));
  fs->RemoveFolder(fs, u"relative\\folder");  // in case a faulty build made them where it runs
  fs->RemoveFolder(fs, u"relative");
  const std::u16string nested = Path(u"a\\b\\c");
  EXPECT_EQ(SL_OK, fs->CreateAllFolders(fs, nested.c_str()));
  EXPECT_TRUE(Exists(nested));
  EXPECT_EQ(SL_OK, fs->RemoveFolder(fs, nested.c_str()));
  EXPECT_FALSE(Exists(nested));
  EXPECT_EQ(SL_OK, fs->RemoveFile(fs, Path(u"d\\g").c_str()));
  EXPECT_EQ(SL_OK, fs->RemoveFolder(fs, d.c_str()));
  // Readers let others delete.
  const SLFileHandle second = Open(u"f", SL_OPEN_READ);
  EXPECT_EQ(SL_OK, fs->RemoveFile(fs, f.c_str()));
  EXPECT_EQ("abc", Read(second));
  Close(second);
  Close(reader);
  Close(writer);
  EXPECT_FALSE(Exists(f));
}

// The mode bits are looked at in the order create (4), write (2), read (1).
TEST_F(DefaultFileSystemTest, CreateModesTruncateAndModeThreeWritesInPlace) {
  for (uint32_t mode : {4u, 5u, 7u, 12u}) {
    MakeFile(u"m", "previous contents");
    SLFileHandle file = Open(u"m", mode);
    EXPECT_EQ(0u, Size(file)) << mode;
    Write(file, "new");
    ASSERT_EQ(SL_OK, fs->SetFilePos(fs, file, 0));
    EXPECT_EQ("new", Read(file)) << mode;
    Close(file);
  }
  SLFileHandle file = Open(u"m", SL_OPEN_WRITE | SL_OPEN_READ);
  EXPECT_EQ(0u, Position(file));
  Write(file, "N");
  Close(file);
  EXPECT_EQ("New", Contents(u"m"));
}

TEST_F(DefaultFileSystemTest, ReadsWritesAndPositionsPastFourGibibytes) {
  SLFileHandle file = Open(u"rw", SL_OPEN_CREATE);
  EXPECT_EQ(SL_OK, fs->WriteFile(fs, file, "hello ", 6, nullptr));  // done may be null
  Write(file, "world");
  EXPECT_EQ(11u, Position(file));
  EXPECT_EQ(11u, Size(file));
  EXPECT_EQ(SL_OK, fs->FlushFile(fs, file));
  ASSERT_EQ(SL_OK, fs->SetFilePos(fs, file, 6));
  EXPECT_EQ("world", Read(file));
  EXPECT_EQ(11u, Position(file));
  EXPECT_EQ("", Read(file));
  char byte = 0;
  EXPECT_EQ(SL_OK, fs->ReadFile(fs, file, &byte, 1, nullptr));

  // Sparse: positioning alone does not grow the file, and a hole reads as zeros.
  ASSERT_EQ(SL_OK, fs->SetFilePos(fs, file, static_cast<int64_t>(4 * kGiB + 10)));
  EXPECT_EQ(4 * kGiB + 10, Position(file));
  EXPECT_EQ(11u, Size(file));
  // A low half of all ones is a value, whatever the last error said before.
  ASSERT_EQ(SL_OK, fs->SetFilePos(fs, file, 0xFFFFFFFE));
  Write(file, "z");
  os::SetLastError(os::kErrorAccessDenied);
  EXPECT_EQ(0xFFFFFFFFu, Position(file));
  os::SetLastError(os::kErrorAccessDenied);
  EXPECT_EQ(0xFFFFFFFFu, Size(file));
  ASSERT_EQ(SL_OK, fs->SetFilePos(fs, file, 0xFFFFFFFF));
  EXPECT_EQ(0xFFFFFFFFu, Position(file));
  ASSERT_EQ(SL_OK, fs->SetFilePos(fs, file, static_cast<int64_t>(5 * kGiB - 1)));
  Write(file, "q");
  EXPECT_EQ(5 * kGiB, Size(file));
  EXPECT_EQ(5 * kGiB, Position(file));
  ASSERT_EQ(SL_OK, fs->SetFilePos(fs, file, static_cast<int64_t>(5 * kGiB - 2)));
  EXPECT_EQ(std::string("\0q", 2), Read(file));
  Close(file);
}

#ifndef _WIN32  // on Windows the read would touch every page of its buffer: 4 GiB of memory
TEST_F(DefaultFileSystemTest, RequestsBeyondThirtyTwoBitsAreNotCutToTheirLowBits) {
  // 2^32 + 4 bytes asked, 10 in the file: cutting the count to 32 bits would read 4.
  const uint64_t request = 4 * kGiB + 4;
  void* buffer = mmap(nullptr, request, PROT_READ | PROT_WRITE,
                      MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  ASSERT_NE(MAP_FAILED, buffer);
  MakeFile(u"ten", "0123456789");
  SLFileHandle file = Open(u"ten", SL_OPEN_READ);
  uint64_t done = 0;
  EXPECT_EQ(SL_OK, fs->ReadFile(fs, file, buffer, request, &done));
  EXPECT_EQ(10u, done);
  EXPECT_EQ(0, std::memcmp(buffer, "0123456789", 10));
  done = 99;
  EXPECT_EQ(SL_ACCESS_DENIED, fs->WriteFile(fs, file, buffer, request, &done));
  EXPECT_EQ(0u, done);  // the first refused call ends the request
  Close(file);
  munmap(buffer, request);
}
#endif

TEST_F(DefaultFileSystemTest, SearchesListMatchingEntriesOfEveryKind) {
  const std::u16string other = u"\u03a9m\u00e9ga-\u0444\u0430\u0439\u043b-\u65e5-\U0001F600.txt";
  for (const std::u16string& name :
       {std::u16string(u"a.txt"), std::u16string(u"b.txt"), std::u16string(u"ab.log"), other}) {
    MakeFile(name, "");
  }
  ASSERT_EQ(SL_OK, fs->CreateFolder(fs, Path(u"sub").c_str()));
  const struct {
    std::u16string pattern;
    Names names;
  } rows[] = {
      {u"*", {u".", u"..", u"a.txt", u"ab.log", u"b.txt", u"sub", other}},
      {u"?.txt", {u"a.txt", u"b.txt"}},
      {u"a*", {u"a.txt", u"ab.log"}},
      {u"a.txt", {u"a.txt"}},  // the bare name, without its folder
      {u"sub", {u"sub"}},
      {other, {other}},
      {u"\u03a9*", {other}},
  };
#ifndef _WIN32  // every search gives the system's search back: no descriptor stays open
  const auto descriptors = [] {
    return std::distance(std::filesystem::directory_iterator("/proc/self/fd"), {});
  };
  const auto before = descriptors();
#endif
  for (const auto& row : rows) EXPECT_EQ(Sorted(row.names), Find(row.pattern)) << &row - rows;
#ifndef _WIN32
  EXPECT_EQ(before, descriptors());
#endif
}

TEST_F(DefaultFileSystemTest, SearchResultsHandOutTheirOwnNamesAndOutliveTheFileSystem) {
  MakeFile(u"a.txt", "");
  MakeFile(u"b.txt", "");
  SLFileSystemSearchResult* result = nullptr;
  ASSERT_EQ(SL_OK, fs->Search(fs, Path(u"?.txt").c_str(), &result));
  ASSERT_EQ(SL_OK, fs->RemoveFile(fs, Path(u"a.txt").c_str()));
  fstest::Release(fs);
  fs = sl::filesystem::CreateDefaultFileSystem();  // for the fixture to release
  EXPECT_EQ(1u, fstest::RefCount(result));
  uint64_t count = 0;
  ASSERT_EQ(SL_OK, result->GetCount(result, &count));
  ASSERT_EQ(2u, count);
  const SLChar16 *first = nullptr, *again = nullptr, *last = nullptr;
  ASSERT_EQ(SL_OK, result->GetFileInfo(result, 0, &first));
  ASSERT_EQ(SL_OK, result->GetFileInfo(result, 0, &again));
  EXPECT_EQ(first, again);  // the object's own copy, not a new one
  ASSERT_EQ(SL_OK, result->GetFileInfo(result, 1, &last));
  EXPECT_EQ(Sorted({first, last}), (Names{u"a.txt", u"b.txt"}));
  const SLChar16* name = first;
  fstest::ExpectCodes(result, "SLFileSystemSearchResult", 6, {"GetCount", "GetFileInfo"},
                      {
                          FSTEST_ROW(result, 3, GetCount(result, nullptr)),
                          FSTEST_ROW(result, 3, GetFileInfo(result, 2, &name)),
                          FSTEST_ROW(result, 3, GetFileInfo(result, 0xFFFFFFFF, &name)),
                          FSTEST_ROW(result, 3, GetFileInfo(result, 0, nullptr)),
                      });
  EXPECT_EQ(first, name);
  EXPECT_EQ(0u, fstest::Release(result));
}

}  // namespace
