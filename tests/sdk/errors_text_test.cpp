// Failing codes as ServiceError / Outcome with the object's own record, and UTF-8 <-> UTF-16.
#include <gtest/gtest.h>

#include <fstream>
#include <set>
#include <string>

#include "common/native_names.h"
#include "sdk_fixture.h"

namespace {

using sl::sdk::ServiceError;

class Errors : public sltest::SdkTest {};

TEST_F(Errors, CheckThrowsTheRecordTheObjectKeptForThisFailure) {
  SLFileSystem* fs = fs_.get();
  const sl::sdk::Path16 missing = dir_ / "missing.txt";
  SLFileHandle file = nullptr;
  try {
    sl::sdk::Check(fs->OpenFile(fs, missing.c_str(), SL_OPEN_READ, &file), fs);
    FAIL() << "a missing file must throw";
  } catch (const ServiceError& error) {
    EXPECT_EQ(error.code(), SL_NOT_FOUND);
    EXPECT_STREQ(error.what(), "SLFileSystem::OpenFile() failed, code: 0x0000000b");
    ASSERT_TRUE(error.record());
    EXPECT_EQ(error.record()->line, 15u);
    EXPECT_NE(error.record()->function.find("::OpenFileImpl::staticF"), std::string::npos);
    EXPECT_NE(error.record()->source.find("FileSystemCalls"), std::string::npos);
  }

  // A later failure that the object did not record is not blamed on the old record.
  try {
    sl::sdk::Check(SL_ALREADY_EXISTS, fs, "SLFileSystem::Elsewhere");
    FAIL();
  } catch (const ServiceError& error) {
    EXPECT_FALSE(error.record());
    EXPECT_STREQ(error.what(), "SLFileSystem::Elsewhere() failed, code: 0x00000010");
  }
}

TEST_F(Errors, NonFailuresPassAndTryNeverThrows) {
  SLFileSystem* fs = fs_.get();
  EXPECT_EQ(sl::sdk::Check(fs->MakeDIPathFromPath(fs, nullptr, nullptr, 0), fs), SL_NOT_DONE);
  EXPECT_EQ(sl::sdk::Check(SL_RESERVED_13, fs), SL_RESERVED_13);

  const sl::sdk::Outcome removed =
      sl::sdk::Try(fs->RemoveFile(fs, sl::sdk::Path16(dir_ / "none").c_str()), fs);
  EXPECT_FALSE(removed);
  EXPECT_EQ(removed.code, SL_NOT_FOUND);
  EXPECT_EQ(removed.message, "SLFileSystem::RemoveFile() failed, code: 0x0000000b");

  const sl::sdk::Outcome folder = sl::sdk::Try([&] { fs_.CreateFolder(dir_); });
  EXPECT_EQ(folder.code, SL_ALREADY_EXISTS);
  EXPECT_EQ(folder.message, "SLFileSystem::CreateFolder() failed, code: 0x00000010");
  ASSERT_TRUE(folder.record);
  EXPECT_EQ(folder.record->line, 12u);

  EXPECT_TRUE(sl::sdk::Try([&] { fs_.CreateFolder(dir_ / "fresh"); }));
}

TEST(ErrorText, EveryCodeHasItsOwnExplanation) {
  std::set<std::string> texts;
  for (SLResult code : {0u, 1u, 3u, 7u, 11u, 13u, 15u, 16u, 22u}) {
    texts.insert(sl::sdk::Explain(code));
  }
  EXPECT_EQ(texts.size(), 9u);
  EXPECT_STREQ(sl::sdk::Explain(99), "unknown result code");
  EXPECT_EQ(sl::sdk::HexCode(0xb), "0x0000000b");
}

TEST(Text, Utf8AndUtf16RoundTrip) {
  const std::string samples[] = {"plain", "caf\xC3\xA9", "\xE2\x82\xAC 5", "\xF0\x9D\x84\x9E clef",
                                 ""};
  for (const std::string& sample : samples) {
    EXPECT_EQ(sl::sdk::ToUtf8(sl::sdk::ToUtf16(sample)), sample);
  }
  EXPECT_EQ(sl::sdk::ToUtf16("\xF0\x9D\x84\x9E"), std::u16string(u"\xD834\xDD1E"));
  EXPECT_EQ(sl::sdk::ToUtf16("\xC3\xA9"), std::u16string(u"\x00E9"));
  EXPECT_EQ(sl::sdk::ToUtf8(static_cast<const SLChar16*>(nullptr)), "");
}

// On Windows bytes that are not UTF-8 become U+FFFD; elsewhere each is kept as U+F000 + byte,
// as is each byte of a character in U+F000-U+F0FF, and ToUtf8 gives the bytes back.
TEST(Text, MalformedInputIsReplacedOrKept) {
  const struct {
    std::string bytes;
    std::u16string replaced, kept;
  } cases[] = {
      {"a\xC3", u"a\xFFFD", u"a\xF0C3"},                               // cut short
      {"\xC0\xAF", u"\xFFFD\xFFFD", u"\xF0C0\xF0AF"},                  // overlong
      {"\xED\xA0\x80", u"\xFFFD\xFFFD\xFFFD", u"\xF0ED\xF0A0\xF080"},  // a surrogate
      {"\xEF\x80\xAA", u"\xF02A", u"\xF0EF\xF080\xF0AA"},              // U+F02A itself
  };
  for (const auto& c : cases) {
    const std::u16string utf16 = sl::sdk::ToUtf16(c.bytes);
    if (sl::sdk::text_detail::kNamesAreBytes) {
      EXPECT_EQ(utf16, c.kept);
      EXPECT_EQ(sl::sdk::ToUtf8(utf16), c.bytes);
    } else {
      EXPECT_EQ(utf16, c.replaced);
    }
  }
  EXPECT_EQ(sl::sdk::ToUtf16("\xF4\x90\x80\x80").size(), 4u) << "beyond U+10FFFF";
  const char16_t lone[] = {u'x', 0xD800, u'y', 0};
  EXPECT_EQ(sl::sdk::ToUtf8(std::u16string_view(lone)), "x\xEF\xBF\xBDy");
}

// Native names go to the module as the default file system lists them, and back as they were:
// what a host reads from the disk, it finds through Search, opens, and prints unchanged.
TEST_F(Errors, NativeNamesMeetTheModulesNames) {
  if (!sl::sdk::text_detail::kNamesAreBytes) GTEST_SKIP() << "Windows names need no mapping";
  std::set<std::u16string> listed{u".", u".."};
  for (const auto& name : sltest::kNativeNames) {
    const std::filesystem::path path = dir_ / name.native;
    std::ofstream(path) << name.native;
    EXPECT_EQ(sl::sdk::PathToUtf16(path), sl::sdk::PathToUtf16(dir_) + u"/" + name.listed);
    EXPECT_EQ(sl::sdk::ToPath(sl::sdk::PathToUtf16(path)), path);
    EXPECT_EQ(sl::sdk::ToUtf8(name.listed), name.native);
    std::string text(64, '\0');
    text.resize(fs_.Open(path).Read(text.data(), text.size()));
    EXPECT_EQ(text, name.native);
    listed.insert(name.listed);
  }
  const std::vector<std::u16string> found = fs_.Search(dir_ / "*");
  EXPECT_EQ(std::set<std::u16string>(found.begin(), found.end()), listed);
  EXPECT_EQ(fs_.Search(dir_ / "*.txt").size(), 12u) << "'*' in the last part: a wildcard";
}

TEST(Text, PathsKeepEveryCharacter) {
  const std::filesystem::path name = sl::sdk::ToPath(u"caf\x00E9-\xD834\xDD1E.txt");
  EXPECT_EQ(sl::sdk::PathToUtf16(name), std::u16string(u"caf\x00E9-\xD834\xDD1E.txt"));
  const sl::sdk::Path16 joined = std::filesystem::path("notes") / name;
  std::u16string expected = u"notes";
  expected += static_cast<char16_t>(std::filesystem::path::preferred_separator);
  expected += u"caf\x00E9-\xD834\xDD1E.txt";
  EXPECT_EQ(joined.str(), expected);
  EXPECT_EQ(sl::sdk::Path16("a/b").str(), u"a/b");
}

}  // namespace
