// The in-memory file system answers like the default file system: modes and sharing, folders,
// positions and wildcard search.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "sdk_fixture.h"

namespace {

using sl::sdk::File;
using sl::sdk::MemoryFileSystem;
using sl::sdk::Try;

class MemoryFiles : public ::testing::Test {
 protected:
  SLResult CodeOf(const std::function<void()>& body) { return Try(body).code; }
  File Open(const char* path, uint32_t mode) { return fs_.Open(path, mode); }

  sl::sdk::Ref<MemoryFileSystem> memory_ = sl::sdk::MakeRef<MemoryFileSystem>(0x4D454D);
  sl::sdk::FileSystem fs_{sl::sdk::Ref<SLFileSystem>::Share(memory_->table())};
};

TEST_F(MemoryFiles, OpenModesShareLikeTheDefaultFileSystem) {
  EXPECT_EQ(CodeOf([&] { Open("/a.txt", SL_OPEN_READ); }), SL_NOT_FOUND);
  EXPECT_EQ(CodeOf([&] { Open("/a.txt", SL_OPEN_WRITE); }), SL_NOT_FOUND);
  EXPECT_EQ(CodeOf([&] { Open("/none/a.txt", SL_OPEN_CREATE); }), SL_OS_FAILURE);
  Open("/a.txt", SL_OPEN_CREATE).Write("hello", 5);
  {
    File first = Open("/a.txt", SL_OPEN_READ);
    File second = Open("a.txt", SL_OPEN_READ);  // the same file: relative to the root
    EXPECT_EQ(CodeOf([&] { Open("/a.txt", SL_OPEN_WRITE); }), SL_OS_FAILURE) << "in use";
    char bytes[8] = {};
    EXPECT_EQ(first.Read(bytes, 8), 5u);
    EXPECT_EQ(std::string(bytes), "hello");
    EXPECT_EQ(first.Read(bytes, 8), 0u) << "at the end";
    EXPECT_EQ(CodeOf([&] { first.Write("x", 1); }), SL_ACCESS_DENIED);
  }
  {
    File writer = Open("/a.txt", SL_OPEN_WRITE);
    EXPECT_EQ(CodeOf([&] { Open("/a.txt", SL_OPEN_READ); }), SL_OS_FAILURE);
    EXPECT_EQ(CodeOf([&] { fs_.RemoveFile("/a.txt"); }), SL_OS_FAILURE);
    writer.Write("J", 1);
  }
  EXPECT_EQ(memory_->FileContents("/a.txt"), std::string("Jello"));
  Open("/a.txt", SL_OPEN_CREATE);
  EXPECT_EQ(memory_->FileContents("/a.txt"), std::string()) << "create empties";
}

TEST_F(MemoryFiles, ReadOnlyFilesOpenOnlyForReading) {
  memory_->SetFile("/ro.txt", "fixed");
  memory_->SetReadOnly("/ro.txt", true);
  EXPECT_EQ(CodeOf([&] { Open("/ro.txt", SL_OPEN_WRITE); }), SL_ACCESS_DENIED);
  EXPECT_EQ(CodeOf([&] { Open("/ro.txt", SL_OPEN_CREATE); }), SL_ACCESS_DENIED);
  EXPECT_EQ(CodeOf([&] { fs_.RemoveFile("/ro.txt"); }), SL_ACCESS_DENIED);
  EXPECT_EQ(Open("/ro.txt", SL_OPEN_READ).Size(), 5u);
}

TEST_F(MemoryFiles, FoldersAreCreatedAndRemovedInOrder) {
  EXPECT_EQ(CodeOf([&] { fs_.CreateFolder("/a/b"); }), SL_OS_FAILURE) << "parent missing";
  fs_.CreateAllFolders("/a/b/c");
  EXPECT_EQ(CodeOf([&] { fs_.CreateAllFolders("/a/b/c"); }), SL_ALREADY_EXISTS);
  EXPECT_EQ(CodeOf([&] { fs_.CreateFolder("/a"); }), SL_ALREADY_EXISTS);
  EXPECT_TRUE(fs_.Exists("/a/b"));
  EXPECT_TRUE(fs_.Exists("\\a\\b\\c\\..")) << "both separators, and .. goes up";
  EXPECT_EQ(CodeOf([&] { fs_.RemoveFolder("/a/b"); }), SL_OS_FAILURE) << "not empty";
  EXPECT_EQ(CodeOf([&] { Open("/a/b", SL_OPEN_READ); }), SL_ACCESS_DENIED) << "a folder";
  EXPECT_EQ(CodeOf([&] { fs_.RemoveFile("/a/b"); }), SL_ACCESS_DENIED) << "a folder";
  memory_->SetFile("/a/b c", "beside, not inside");
  fs_.RemoveFolder("/a/b/c");
  fs_.RemoveFolder("/a/b");
  EXPECT_FALSE(fs_.Exists("/a/b"));
  EXPECT_EQ(CodeOf([&] { fs_.RemoveFolder("/a/b"); }), SL_NOT_FOUND);
  EXPECT_EQ(CodeOf([&] { fs_.RemoveFolder("/a/b c"); }), SL_OS_FAILURE) << "a file";
  EXPECT_EQ(CodeOf([&] { fs_.Exists("/../x"); }), SL_OK) << "climbing above the root";
  EXPECT_EQ(CodeOf([&] { fs_.CreateFolder("/../x"); }), SL_INVALID_ARGUMENT);
}

TEST_F(MemoryFiles, PositionsMoveWithReadsWritesAndSeeks) {
  File file = Open("/p.bin", SL_OPEN_CREATE);
  file.Write("abcdef", 6);
  EXPECT_EQ(file.Position(), 6u);
  file.Seek(8);
  file.Write("Z", 1);
  EXPECT_EQ(file.Size(), 9u);
  EXPECT_EQ(memory_->FileContents("/p.bin"), std::string("abcdef\0\0Z", 9)) << "a gap reads 0";
  EXPECT_EQ(CodeOf([&] { file.Seek(-1); }), SL_OS_FAILURE);
  EXPECT_EQ(file.Position(), 9u);
  file.Seek(2);
  char two[2];
  EXPECT_EQ(file.Read(two, 2), 2u);
  EXPECT_EQ(std::string(two, 2), "cd");
}

TEST_F(MemoryFiles, AFileBeingReadCanBeRemovedAndStaysReadable) {
  memory_->SetFile("/gone.txt", "still here");
  File reader = Open("/gone.txt", SL_OPEN_READ);
  fs_.RemoveFile("/gone.txt");
  EXPECT_FALSE(fs_.Exists("/gone.txt"));
  char bytes[10];
  EXPECT_EQ(reader.Read(bytes, 10), 10u);
  EXPECT_EQ(std::string(bytes, 10), "still here");
}

TEST_F(MemoryFiles, SearchMatchesWildcardsInTheLastPart) {
  for (const char* name : {"/d/a.txt", "/d/b.txt", "/d/ab.log", "/d/sub/c.txt"}) {
    memory_->SetFile(name, "");
  }
  EXPECT_EQ(fs_.Search("/d/*.txt"), (std::vector<std::u16string>{u"a.txt", u"b.txt"}));
  EXPECT_EQ(fs_.Search("/d/?b.*"), (std::vector<std::u16string>{u"ab.log"}));
  EXPECT_EQ(fs_.Search("/d/*"),
            (std::vector<std::u16string>{u"a.txt", u"ab.log", u"b.txt", u"sub"}));
  EXPECT_EQ(fs_.Search("/d/sub"), (std::vector<std::u16string>{u"sub"})) << "no wildcard";
  EXPECT_EQ(CodeOf([&] { fs_.Search("/d/*.bin"); }), SL_INVALID_ARGUMENT) << "nothing matches";
  EXPECT_EQ(CodeOf([&] { fs_.Search("/none/*"); }), SL_INVALID_ARGUMENT);
  EXPECT_EQ(CodeOf([&] { fs_.Search("/d/A.TXT"); }), SL_INVALID_ARGUMENT) << "case-sensitive";
}

}  // namespace
