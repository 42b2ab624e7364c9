// Failing codes as ServiceError / Outcome with the object's own record, and UTF-8 <-> UTF-16.
#include <gtest/gtest.h>

#include <set>
#include <string>

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

TEST(Text, MalformedInputBecomesReplacementCharacters) {
  EXPECT_EQ(sl::sdk::ToUtf16("a\xC3"), std::u16string(u"a\xFFFD")) << "truncated";
  EXPECT_EQ(sl::sdk::ToUtf16("\xC0\xAF"), std::u16string(u"\xFFFD\xFFFD")) << "overlong";
  EXPECT_EQ(sl::sdk::ToUtf16("\xED\xA0\x80"), std::u16string(u"\xFFFD\xFFFD\xFFFD"))
      << "an encoded surrogate";
  EXPECT_EQ(sl::sdk::ToUtf16("\xF4\x90\x80\x80").size(), 4u) << "beyond U+10FFFF";
  const char16_t lone[] = {u'x', 0xD800, u'y', 0};
  EXPECT_EQ(sl::sdk::ToUtf8(std::u16string_view(lone)), "x\xEF\xBF\xBDy");
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
