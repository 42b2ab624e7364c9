// The default file system over the operating system's files: argument checks, open modes,
// sharing, read-only files, reads and writes, positions and sizes past 4 GiB, folders, and the
// translation of OS errors.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "filesystem/default_file_system.h"
#include "fs_test_support.h"
#include "platform/files.h"

namespace {

namespace os = sl::platform;
using fstest::LastFailure;

constexpr uint64_t kGiB = uint64_t{1} << 30;
constexpr uint64_t k4GiB = uint64_t{1} << 32;

class DefaultFileSystemTest : public ::testing::Test {
 protected:
  ~DefaultFileSystemTest() override { fstest::Release(fs); }

  std::u16string Path(const std::u16string& name) const { return dir / name; }
  SLResult Open(const std::u16string& path, uint32_t mode, SLFileHandle* file) {
    return fs->OpenFile(fs, path.c_str(), mode, file);
  }
  SLFileHandle OpenOk(const std::u16string& path, uint32_t mode) {
    SLFileHandle file = nullptr;
    EXPECT_EQ(SL_OK, Open(path, mode, &file));
    return file;
  }
  void Close(SLFileHandle file) { EXPECT_EQ(SL_OK, fs->CloseFile(fs, file)); }
  void MakeFile(const std::u16string& path, const std::string& contents) {
    SLFileHandle file = OpenOk(path, SL_OPEN_CREATE);
    if (!contents.empty()) Write(file, contents);
    Close(file);
  }
  void Write(SLFileHandle file, const std::string& bytes) {
    uint64_t done = 0;
    EXPECT_EQ(SL_OK, fs->WriteFile(fs, file, bytes.data(), bytes.size(), &done));
    EXPECT_EQ(bytes.size(), done);
  }
  std::string ReadAll(const std::u16string& path) {
    SLFileHandle file = OpenOk(path, SL_OPEN_READ);
    char buffer[256];
    uint64_t done = 0;
    EXPECT_EQ(SL_OK, fs->ReadFile(fs, file, buffer, sizeof(buffer), &done));
    Close(file);
    return std::string(buffer, done);
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

  SLFileSystem* fs = sl::filesystem::CreateDefaultFileSystem();
  fstest::TempFolder dir;
};

TEST_F(DefaultFileSystemTest, NameIsTheProcessWideAtomOfDefault) {
  uint32_t first = 0;
  uint32_t second = 0;
  EXPECT_EQ(SL_INVALID_ARGUMENT, fs->GetFileSystemName(fs, nullptr));
  EXPECT_EQ(SL_OK, fs->GetFileSystemName(fs, &first));
  EXPECT_EQ(fstest::AtomOf("Default"), first);
  SLFileSystem* other = sl::filesystem::CreateDefaultFileSystem();
  EXPECT_EQ(SL_OK, other->GetFileSystemName(other, &second));
  EXPECT_EQ(first, second);
  EXPECT_EQ(1u, fstest::RefCount(other));
  fstest::Release(other);
}

TEST_F(DefaultFileSystemTest, NullArgumentsGiveThreeAndTouchNothing) {
  const std::u16string file = Path(u"f");
  MakeFile(file, "abc");
  SLFileHandle handle = OpenOk(file, SL_OPEN_READ);
  char buffer[4] = {};
  uint64_t value = 77;
  uint8_t flag = 9;
  SLFileHandle out = reinterpret_cast<SLFileHandle>(0x1234);
  const SLChar16* path = file.c_str();

  EXPECT_EQ(3u, fs->CreateFolder(fs, nullptr));
  EXPECT_EQ(3u, fs->CreateAllFolders(fs, nullptr));
  EXPECT_EQ(3u, fs->RemoveFolder(fs, nullptr));
  EXPECT_EQ(3u, fs->OpenFile(fs, nullptr, SL_OPEN_READ, &out));
  EXPECT_EQ(3u, fs->OpenFile(fs, path, SL_OPEN_READ, nullptr));
  EXPECT_EQ(3u, fs->CloseFile(fs, nullptr));
  EXPECT_EQ(3u, fs->IsFileExists(fs, nullptr, &flag));
  EXPECT_EQ(3u, fs->IsFileExists(fs, path, nullptr));
  EXPECT_EQ(3u, fs->ReadFile(fs, nullptr, buffer, 4, &value));
  EXPECT_EQ(3u, fs->ReadFile(fs, handle, nullptr, 4, &value));
  EXPECT_EQ(3u, fs->ReadFile(fs, handle, buffer, 0, &value));
  EXPECT_EQ(3u, fs->WriteFile(fs, nullptr, buffer, 4, &value));
  EXPECT_EQ(3u, fs->WriteFile(fs, handle, nullptr, 4, &value));
  EXPECT_EQ(3u, fs->WriteFile(fs, handle, buffer, 0, &value));
  EXPECT_EQ(3u, fs->FlushFile(fs, nullptr));
  EXPECT_EQ(3u, fs->GetFilePos(fs, nullptr, &value));
  EXPECT_EQ(3u, fs->GetFilePos(fs, handle, nullptr));
  EXPECT_EQ(3u, fs->SetFilePos(fs, nullptr, 0));
  EXPECT_EQ(3u, fs->GetFileSize(fs, nullptr, &value));
  EXPECT_EQ(3u, fs->GetFileSize(fs, handle, nullptr));
  EXPECT_EQ(3u, fs->RemoveFile(fs, nullptr));
  EXPECT_EQ(3u, fs->Search(fs, nullptr, nullptr));
  EXPECT_EQ(77u, value);
  EXPECT_EQ(9, flag);
  EXPECT_EQ(reinterpret_cast<SLFileHandle>(0x1234), out);
  EXPECT_EQ(0u, Position(handle));  // the zero-byte read did not reach the file
  Close(handle);
  EXPECT_EQ("abc", ReadAll(file));
}

TEST_F(DefaultFileSystemTest, PathMappingEntriesMapNothingAndRecordNothing) {
  EXPECT_EQ(SL_NOT_DONE, fs->MakeDIPathFromPath(fs, nullptr, nullptr, 0));
  EXPECT_EQ(SL_NOT_DONE, fs->MakePathFromDIPath(fs, nullptr, nullptr, 0));
  EXPECT_EQ(SL_NOT_FOUND, LastFailure(fs).status);
  EXPECT_EQ(SL_INVALID_ARGUMENT, fs->CreateFolder(fs, nullptr));
  SLChar16 out[8] = {u'x'};
  EXPECT_EQ(SL_NOT_DONE, fs->MakeDIPathFromPath(fs, u"a", out, 8));
  EXPECT_EQ(u'x', out[0]);
  const fstest::Failure failure = LastFailure(fs);
  EXPECT_EQ(3u, failure.code);
  EXPECT_EQ(12u, failure.line);  // still the CreateFolder failure
}

TEST_F(DefaultFileSystemTest, FailureRecordsNameTheFileSystemEntry) {
  const std::u16string file = Path(u"locked");
  MakeFile(file, "x");
  ASSERT_TRUE(os::SetFileAttributesW(file.c_str(), os::kFileAttributeReadonly));
  SLFileHandle out = nullptr;
  EXPECT_EQ(SL_ACCESS_DENIED, Open(file, SL_OPEN_WRITE, &out));
  EXPECT_EQ(nullptr, out);
  const fstest::Failure failure = LastFailure(fs);
  EXPECT_EQ(SL_OK, failure.status);
  EXPECT_EQ(15u, failure.code);
  EXPECT_EQ(15u, failure.line);
  EXPECT_EQ(u"SLFileSystem::OpenFile() failed, code: 0x0000000f", failure.message);
  EXPECT_EQ(
      "SOImpl::CppSLFileSystemBase<struct SLFileSystemImpl,class "
      "SODetails::ServiceObjectTraits>::OpenFileImpl::staticF",
      failure.functionName);
  const std::string source = "Support/include/support/details/FileSystemCalls";
  ASSERT_GE(failure.sourceFile.size(), source.size());
  EXPECT_EQ(source, failure.sourceFile.substr(failure.sourceFile.size() - source.size()));
  ASSERT_TRUE(os::SetFileAttributesW(file.c_str(), os::kFileAttributeNormal));

  EXPECT_EQ(SL_NOT_FOUND, fs->RemoveFile(fs, Path(u"missing").c_str()));
  EXPECT_EQ(24u, LastFailure(fs).line);
  EXPECT_EQ(u"SLFileSystem::RemoveFile() failed, code: 0x0000000b", LastFailure(fs).message);
}

TEST_F(DefaultFileSystemTest, OpenModesAreDecidedByBitFourThenTwoThenOne) {
  const std::u16string file = Path(u"modes");
  SLFileHandle out = reinterpret_cast<SLFileHandle>(0x55);
  EXPECT_EQ(SL_INVALID_ARGUMENT, Open(file, 0, &out));
  EXPECT_EQ(SL_INVALID_ARGUMENT, Open(file, 8, &out));
  EXPECT_EQ(SL_NOT_FOUND, Open(file, SL_OPEN_READ, &out));
  EXPECT_EQ(SL_NOT_FOUND, Open(file, SL_OPEN_WRITE, &out));
  EXPECT_EQ(SL_NOT_FOUND, Open(file, SL_OPEN_WRITE | SL_OPEN_READ, &out));  // 3 does not create
  EXPECT_EQ(reinterpret_cast<SLFileHandle>(0x55), out);
  EXPECT_FALSE(Exists(file));

  for (uint32_t mode : {4u, 5u, 7u, 4u | 8u}) {  // create or truncate, reading and writing
    MakeFile(file, "previous contents");
    SLFileHandle handle = OpenOk(file, mode);
    EXPECT_EQ(0u, Size(handle)) << mode;
    Write(handle, "new");
    ASSERT_EQ(SL_OK, fs->SetFilePos(fs, handle, 0));
    char buffer[8] = {};
    uint64_t done = 0;
    EXPECT_EQ(SL_OK, fs->ReadFile(fs, handle, buffer, sizeof(buffer), &done));
    EXPECT_EQ("new", std::string(buffer, done)) << mode;
    Close(handle);
  }

  // Mode 3 writes into the existing file without cutting it.
  SLFileHandle handle = OpenOk(file, SL_OPEN_WRITE | SL_OPEN_READ);
  EXPECT_EQ(0u, Position(handle));
  Write(handle, "N");
  Close(handle);
  EXPECT_EQ("New", ReadAll(file));

  // Mode 1 reads only: a write is refused, and done still tells what moved.
  handle = OpenOk(file, SL_OPEN_READ);
  uint64_t done = 99;
  EXPECT_EQ(SL_ACCESS_DENIED, fs->WriteFile(fs, handle, "x", 1, &done));
  EXPECT_EQ(0u, done);
  Close(handle);
}

TEST_F(DefaultFileSystemTest, WritersShareNothingAndReadersShareReading) {
  const std::u16string file = Path(u"shared");
  MakeFile(file, "data");
  SLFileHandle other = nullptr;

  SLFileHandle writer = OpenOk(file, SL_OPEN_WRITE);
  EXPECT_EQ(SL_OS_FAILURE, Open(file, SL_OPEN_READ, &other));  // sharing violation
  EXPECT_EQ(nullptr, other);
  Close(writer);

  SLFileHandle creator = OpenOk(file, SL_OPEN_CREATE);
  EXPECT_EQ(SL_OS_FAILURE, Open(file, SL_OPEN_CREATE, &other));
  Close(creator);

  SLFileHandle reader = OpenOk(file, SL_OPEN_READ);
  SLFileHandle secondReader = OpenOk(file, SL_OPEN_READ);
  EXPECT_NE(nullptr, secondReader);
  EXPECT_EQ(SL_OS_FAILURE, Open(file, SL_OPEN_WRITE, &other));
  EXPECT_EQ(SL_OS_FAILURE, Open(file, SL_OPEN_CREATE, &other));
  EXPECT_EQ(nullptr, other);
  EXPECT_EQ(SL_OK, fs->RemoveFile(fs, file.c_str()));  // readers let others delete
  Close(secondReader);
  Close(reader);
  EXPECT_FALSE(Exists(file));
}

TEST_F(DefaultFileSystemTest, ReadOnlyFilesOpenForReadingOnly) {
  const std::u16string file = Path(u"read-only");
  MakeFile(file, "keep");
  ASSERT_TRUE(os::SetFileAttributesW(file.c_str(), os::kFileAttributeReadonly));
  SLFileHandle out = reinterpret_cast<SLFileHandle>(0x77);
  EXPECT_EQ(SL_ACCESS_DENIED, Open(file, SL_OPEN_WRITE, &out));
  EXPECT_EQ(SL_ACCESS_DENIED, Open(file, SL_OPEN_WRITE | SL_OPEN_READ, &out));
  EXPECT_EQ(reinterpret_cast<SLFileHandle>(0x77), out);
  EXPECT_EQ(SL_ACCESS_DENIED, fs->RemoveFile(fs, file.c_str()));
  EXPECT_EQ("keep", ReadAll(file));
  ASSERT_TRUE(os::SetFileAttributesW(file.c_str(), os::kFileAttributeNormal));
  EXPECT_EQ(SL_OK, fs->RemoveFile(fs, file.c_str()));
  EXPECT_EQ(SL_NOT_FOUND, fs->RemoveFile(fs, file.c_str()));
}

TEST_F(DefaultFileSystemTest, ReadsAndWritesMoveThePositionAndStopAtTheEnd) {
  SLFileHandle file = OpenOk(Path(u"rw"), SL_OPEN_CREATE);
  EXPECT_EQ(SL_OK, fs->WriteFile(fs, file, "hello ", 6, nullptr));  // done may be null
  Write(file, "world");
  EXPECT_EQ(11u, Position(file));
  EXPECT_EQ(11u, Size(file));
  EXPECT_EQ(SL_OK, fs->FlushFile(fs, file));

  ASSERT_EQ(SL_OK, fs->SetFilePos(fs, file, 6));
  char buffer[32] = {};
  uint64_t done = 0;
  EXPECT_EQ(SL_OK, fs->ReadFile(fs, file, buffer, sizeof(buffer), &done));
  EXPECT_EQ("world", std::string(buffer, done));  // a short read is not continued
  EXPECT_EQ(11u, Position(file));
  done = 99;
  EXPECT_EQ(SL_OK, fs->ReadFile(fs, file, buffer, sizeof(buffer), &done));
  EXPECT_EQ(0u, done);
  EXPECT_EQ(SL_OK, fs->ReadFile(fs, file, buffer, 1, nullptr));
  Close(file);
}

TEST_F(DefaultFileSystemTest, PositionsAndSizesCrossFourGibibytes) {
  SLFileHandle file = OpenOk(Path(u"sparse"), SL_OPEN_CREATE);
  Write(file, "abc");
  ASSERT_EQ(SL_OK, fs->SetFilePos(fs, file, 2));
  EXPECT_EQ(SL_OS_FAILURE, fs->SetFilePos(fs, file, -1));  // negative seek
  EXPECT_EQ(2u, Position(file));
  EXPECT_EQ(SL_OS_FAILURE, fs->SetFilePos(fs, file, -static_cast<int64_t>(k4GiB)));
  EXPECT_EQ(2u, Position(file));

  ASSERT_EQ(SL_OK, fs->SetFilePos(fs, file, static_cast<int64_t>(k4GiB + 10)));
  EXPECT_EQ(k4GiB + 10, Position(file));
  EXPECT_EQ(3u, Size(file));  // positioning alone does not grow the file

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

  char bytes[2] = {'-', '-'};
  uint64_t done = 0;
  ASSERT_EQ(SL_OK, fs->SetFilePos(fs, file, static_cast<int64_t>(5 * kGiB - 2)));
  EXPECT_EQ(SL_OK, fs->ReadFile(fs, file, bytes, 2, &done));
  EXPECT_EQ(2u, done);
  EXPECT_EQ('\0', bytes[0]);  // the hole reads as zeros
  EXPECT_EQ('q', bytes[1]);
  Close(file);
}

TEST_F(DefaultFileSystemTest, RequestsBeyondThirtyTwoBitsAreNotCutToTheirLowBits) {
#ifdef _WIN32
  GTEST_SKIP() << "a read here touches every page of its buffer: 2 GiB of memory";
#endif
  // 2^32 + 4 bytes asked, 10 in the file: cutting the count to 32 bits would read 4.
  const uint64_t request = k4GiB + 4;
  void* buffer = fstest::ReserveLargeBuffer(request);
  ASSERT_NE(nullptr, buffer);
  const std::u16string path = Path(u"ten");
  MakeFile(path, "0123456789");
  SLFileHandle file = OpenOk(path, SL_OPEN_READ);
  uint64_t done = 0;
  EXPECT_EQ(SL_OK, fs->ReadFile(fs, file, buffer, request, &done));
  EXPECT_EQ(10u, done);
  EXPECT_EQ(0, std::memcmp(buffer, "0123456789", 10));
  done = 99;
  EXPECT_EQ(SL_ACCESS_DENIED, fs->WriteFile(fs, file, buffer, request, &done));
  EXPECT_EQ(0u, done);  // the first refused call ends the request
  Close(file);
  fstest::FreeLargeBuffer(buffer, request);
}

TEST_F(DefaultFileSystemTest, HandlesTheSystemDoesNotKnowGiveSevenAndKeepOutArguments) {
  SLFileHandle bogus = reinterpret_cast<SLFileHandle>(uintptr_t{0x7FFFFFF0});
  uint64_t value = 42;
  char byte = 0;
  EXPECT_EQ(SL_OS_FAILURE, fs->GetFilePos(fs, bogus, &value));
  EXPECT_EQ(SL_OS_FAILURE, fs->GetFileSize(fs, bogus, &value));
  EXPECT_EQ(42u, value);
  EXPECT_EQ(SL_OS_FAILURE, fs->SetFilePos(fs, bogus, 1));
  EXPECT_EQ(SL_OS_FAILURE, fs->FlushFile(fs, bogus));
  EXPECT_EQ(SL_OS_FAILURE, fs->ReadFile(fs, bogus, &byte, 1, &value));
  EXPECT_EQ(0u, value);
  EXPECT_EQ(SL_OS_FAILURE, fs->CloseFile(fs, bogus));
  EXPECT_EQ(16u, LastFailure(fs).line);
}

TEST_F(DefaultFileSystemTest, FoldersAreCreatedOneByOneOrAllAtOnce) {
  const std::u16string folder = Path(u"one");
  EXPECT_EQ(SL_OK, fs->CreateFolder(fs, folder.c_str()));
  EXPECT_TRUE(Exists(folder));
  EXPECT_EQ(SL_ALREADY_EXISTS, fs->CreateFolder(fs, folder.c_str()));

  const std::u16string nested = Path(u"a\\b\\c");
  EXPECT_EQ(SL_OS_FAILURE, fs->CreateFolder(fs, nested.c_str()));  // missing parent
  EXPECT_FALSE(Exists(Path(u"a")));
  EXPECT_EQ(SL_OK, fs->CreateAllFolders(fs, nested.c_str()));
  EXPECT_TRUE(Exists(nested));
  EXPECT_EQ(SL_ALREADY_EXISTS, fs->CreateAllFolders(fs, nested.c_str()));
  EXPECT_EQ(SL_OS_FAILURE, fs->CreateAllFolders(fs, u"relative\\folder"));
  EXPECT_FALSE(Exists(u"relative"));

  MakeFile(nested + u"\\file", "x");
  EXPECT_EQ(SL_OS_FAILURE, fs->RemoveFolder(fs, nested.c_str()));  // not empty
  EXPECT_EQ(SL_OK, fs->RemoveFile(fs, (nested + u"\\file").c_str()));
  EXPECT_EQ(SL_OK, fs->RemoveFolder(fs, nested.c_str()));
  EXPECT_FALSE(Exists(nested));
  EXPECT_TRUE(Exists(Path(u"a\\b")));
  EXPECT_FALSE(Exists(Path(u"nothing")));
}

}  // namespace
