// Folder search: the names a pattern finds, what it refuses, and the result objects.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "filesystem/default_file_system.h"
#include "fs_test_support.h"

namespace {

using Names = std::vector<std::u16string>;

class SearchTest : public ::testing::Test {
 protected:
  SearchTest() {
    for (const char16_t* name : {u"a.txt", u"b.txt", u"ab.log"}) MakeFile(dir / name);
    EXPECT_EQ(SL_OK, fs->CreateFolder(fs, (dir / u"sub").c_str()));
  }
  ~SearchTest() override { fstest::Release(fs); }

  void MakeFile(const std::u16string& path) {
    SLFileHandle file = nullptr;
    ASSERT_EQ(SL_OK, fs->OpenFile(fs, path.c_str(), SL_OPEN_CREATE, &file));
    ASSERT_EQ(SL_OK, fs->CloseFile(fs, file));
  }
  // The names found, in the system's order; empty when the search fails.
  Names Find(const std::u16string& pattern) {
    SLFileSystemSearchResult* result = nullptr;
    if (fs->Search(fs, pattern.c_str(), &result) != SL_OK) return {};
    Names names = NamesOf(result);
    fstest::Release(result);
    return names;
  }
  static Names NamesOf(SLFileSystemSearchResult* result) {
    uint64_t count = 0;
    EXPECT_EQ(SL_OK, result->GetCount(result, &count));
    Names names;
    for (uint32_t i = 0; i < count; ++i) {
      const SLChar16* name = nullptr;
      EXPECT_EQ(SL_OK, result->GetFileInfo(result, i, &name));
      names.emplace_back(name);
    }
    return names;
  }
  static Names Sorted(Names names) {
    std::sort(names.begin(), names.end());
    return names;
  }

  SLFileSystem* fs = sl::filesystem::CreateDefaultFileSystem();
  fstest::TempFolder dir;
};

TEST_F(SearchTest, WildcardsListMatchingEntriesOfEveryKind) {
  EXPECT_EQ(Sorted({u".", u"..", u"a.txt", u"ab.log", u"b.txt", u"sub"}), Sorted(Find(dir / u"*")));
  EXPECT_EQ(Sorted({u"a.txt", u"b.txt"}), Sorted(Find(dir / u"?.txt")));
  EXPECT_EQ(Sorted({u"a.txt", u"ab.log"}), Sorted(Find(dir / u"a*")));
  EXPECT_EQ(Names{u"a.txt"}, Find(dir / u"a.txt"));  // the bare name, without its folder
  EXPECT_EQ(Names{u"sub"}, Find(dir / u"sub"));
}

TEST_F(SearchTest, SearchesTheSystemRefusesGiveThreeAndNoObject) {
  SLFileSystemSearchResult* const untouched = reinterpret_cast<SLFileSystemSearchResult*>(0x10);
  for (const std::u16string& pattern :
       {dir / u"*.none", dir / u"missing\\*", dir.path() + u"\\", std::u16string()}) {
    SLFileSystemSearchResult* result = untouched;
    EXPECT_EQ(SL_INVALID_ARGUMENT, fs->Search(fs, pattern.c_str(), &result));
    EXPECT_EQ(untouched, result);
  }
  EXPECT_EQ(SL_INVALID_ARGUMENT, fs->Search(fs, (dir / u"*").c_str(), nullptr));
  const fstest::Failure failure = fstest::LastFailure(fs);
  EXPECT_EQ(3u, failure.code);
  EXPECT_EQ(27u, failure.line);
  EXPECT_EQ(u"SLFileSystem::Search() failed, code: 0x00000003", failure.message);
}

TEST_F(SearchTest, NonLatinNamesComeBackUnchanged) {
  const std::u16string name =
      u"\u03a9m\u00e9ga-\u0444\u0430\u0439\u043b-\u65e5\u672c-\U0001F600.txt";
  MakeFile(dir / name);
  EXPECT_EQ(Names{name}, Find(dir / name));
  EXPECT_EQ(Names{name}, Find(dir / u"\u03a9*"));
}

TEST_F(SearchTest, ResultsHandOutTheirOwnNamesByIndex) {
  SLFileSystemSearchResult* result = nullptr;
  ASSERT_EQ(SL_OK, fs->Search(fs, (dir / u"?.txt").c_str(), &result));
  EXPECT_EQ(1u, fstest::RefCount(result));
  uint64_t count = 0;
  EXPECT_EQ(SL_INVALID_ARGUMENT, result->GetCount(result, nullptr));
  ASSERT_EQ(SL_OK, result->GetCount(result, &count));
  ASSERT_EQ(2u, count);

  const SLChar16* first = nullptr;
  const SLChar16* again = nullptr;
  const SLChar16* last = nullptr;
  ASSERT_EQ(SL_OK, result->GetFileInfo(result, 0, &first));
  ASSERT_EQ(SL_OK, result->GetFileInfo(result, 0, &again));
  EXPECT_EQ(first, again);  // the object's own copy, not a new one
  ASSERT_EQ(SL_OK, result->GetFileInfo(result, 1, &last));
  EXPECT_NE(std::u16string(first), std::u16string(last));

  const SLChar16* name = first;
  EXPECT_EQ(SL_INVALID_ARGUMENT, result->GetFileInfo(result, 2, &name));
  EXPECT_EQ(SL_INVALID_ARGUMENT, result->GetFileInfo(result, 0xFFFFFFFF, &name));
  EXPECT_EQ(first, name);
  EXPECT_EQ(SL_INVALID_ARGUMENT, result->GetFileInfo(result, 0, nullptr));
  const fstest::Failure failure = fstest::LastFailure(result);
  EXPECT_EQ(7u, failure.line);
  EXPECT_EQ(u"SLFileSystemSearchResult::GetFileInfo() failed, code: 0x00000003", failure.message);
  EXPECT_EQ(
      "SOImpl::CppSLFileSystemSearchResultBase<struct SLFileSystemSearchResultImpl,class "
      "SODetails::ServiceObjectTraits>::GetFileInfoImpl::staticF",
      failure.functionName);
  EXPECT_EQ(0u, fstest::Release(result));
}

TEST_F(SearchTest, ResultsOutliveTheFileSystemAndTheDisk) {
  SLFileSystemSearchResult* result = nullptr;
  ASSERT_EQ(SL_OK, fs->Search(fs, (dir / u"a*").c_str(), &result));
  ASSERT_EQ(SL_OK, fs->RemoveFile(fs, (dir / u"a.txt").c_str()));
  fstest::Release(fs);
  fs = sl::filesystem::CreateDefaultFileSystem();  // for the fixture to release
  EXPECT_EQ(Sorted({u"a.txt", u"ab.log"}), Sorted(NamesOf(result)));
  fstest::Release(result);
}

}  // namespace
