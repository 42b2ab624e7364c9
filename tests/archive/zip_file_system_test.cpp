// The zip archive file system and the conformance kit. Archives are made here with libzip.
#include <zip.h>

#include <algorithm>
#include <atomic>
#include <fstream>
#include <sstream>
#include <thread>
#include <type_traits>
#include <utility>

#include "host/host_support.h"
#include "slservices/sdk/zip.hpp"
#include "slservices/testing/conformance.hpp"

namespace {

using sl::sdk::Ref;

struct Member {
  std::string name;  // ending in '/': a folder member
  std::string data;
  bool stored = false;
  zip_flags_t encoding = ZIP_FL_ENC_GUESS;
};

void WriteZip(const std::filesystem::path& path, const std::vector<Member>& members) {
  int error = 0;
  zip_t* archive = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
  ASSERT_NE(archive, nullptr);
  for (const Member& m : members) {
    const zip_int64_t index =
        m.name.back() == '/'
            ? zip_dir_add(archive, m.name.c_str(), m.encoding)
            : zip_file_add(archive, m.name.c_str(),
                           zip_source_buffer(archive, m.data.data(), m.data.size(), 0), m.encoding);
    ASSERT_GE(index, 0) << m.name;
    zip_set_file_compression(archive, static_cast<zip_uint64_t>(index),
                             m.stored ? ZIP_CM_STORE : ZIP_CM_DEFLATE, 0);
  }
  ASSERT_EQ(zip_close(archive), 0);
}

std::string Slurp(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}
void Spill(const std::filesystem::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}
// Every `from` in the file becomes `to` (same length): names in both headers, member data.
void Patch(const std::filesystem::path& path, const std::string& from, const std::string& to) {
  std::string bytes = Slurp(path);
  for (size_t at = bytes.find(from); at != std::string::npos; at = bytes.find(from, at + 1)) {
    bytes.replace(at, to.size(), to);
  }
  Spill(path, bytes);
}

// Words from a small vocabulary: compresses like text, about 3:1.
std::string Text(size_t size, uint32_t seed) {
  static const char* words[] = {"archive ", "member ", "stream ",   "folder ", "file ",    "zip ",
                                "deflate ", "read ",   "checksum ", "handle ", "thread\n", "byte "};
  std::string text;
  while (text.size() < size) text += words[(seed = seed * 1103515245u + 12345u) >> 16 & 11];
  return text.substr(0, size);
}

class ZipTest : public sltest::HostTest {
 protected:
  void SetUp() override {
    zips_ = sl::sdk::ZipArchives::Open(sl::sdk::ZipArchives::BesideExecutable());
    for (size_t i = 0; i < stored_.size(); ++i) stored_[i] = static_cast<char>(i * 31 + i / 256);
    WriteZip(dir_ / "good.zip", {{"stored.bin", stored_, true},
                                 {"docs/deflated.txt", deflated_},
                                 {"docs/sub/deep.txt", "deep\n"},
                                 {"empty/", ""},
                                 {"cp\x81.txt", "legacy name", true, ZIP_FL_ENC_CP437}});
    zip_ = Open(dir_ / "good.zip");
  }
  void TearDown() override { zip_ = sl::sdk::FileSystem(); }
  sl::sdk::FileSystem Open(const std::filesystem::path& path) {
    return sl::sdk::FileSystem(zips_->OpenArchive(path.string(), module_->Atom("Zip")));
  }
  SLFileSystem* fs() const { return zip_.get(); }

  std::unique_ptr<sl::sdk::ZipArchives> zips_;
  std::string stored_ = std::string(70000, '\0');
  std::string deflated_ = Text(200000, 7);
  sl::sdk::FileSystem zip_;
};

TEST_F(ZipTest, ArchivesThatCannotBeOpenedGiveTheirCodeAReasonAndNoFileSystem) {
  const auto copy = [&](const char* name) { return dir_ / name; };
  Spill(copy("text.zip"), "not a zip archive at all");
  Spill(copy("truncated.zip"), Slurp(dir_ / "good.zip").substr(0, 300));
  WriteZip(copy("bad-name.zip"), {{"bad\xc3\xa9.txt", "x", true, ZIP_FL_ENC_UTF_8}});
  Patch(copy("bad-name.zip"), "\xc3\xa9", "\xff\xfe");  // flagged UTF-8, not UTF-8
  WriteZip(copy("climbing.zip"), {{"../up.txt", "x", true}});
  WriteZip(copy("file-and-folder.zip"), {{"a", "x", true}, {"a/b", "y", true}});
  const struct {
    std::filesystem::path path;
    SLResult code;
    const char* reason;
  } rows[] = {
      {copy("missing.zip"), SL_NOT_FOUND, "no such archive"},
      {dir_, SL_ACCESS_DENIED, "a folder"},
      {copy("text.zip"), SL_INVALID_ARGUMENT, "Not a zip archive"},
      {copy("truncated.zip"), SL_INVALID_ARGUMENT, "Not a zip archive"},
      {copy("bad-name.zip"), SL_INVALID_ARGUMENT, "inconsistent"},
      {copy("climbing.zip"), SL_INVALID_ARGUMENT, "climbs out"},
      {copy("file-and-folder.zip"), SL_INVALID_ARGUMENT, "inside a file"},
  };
  for (const auto& row : rows) {
    SLFileSystem* untouched = reinterpret_cast<SLFileSystem*>(0x5a);
    char reason[256] = {};
    EXPECT_EQ(SLZipOpenArchive(row.path.c_str(), 1, &untouched, reason, sizeof(reason)), row.code)
        << row.path;
    EXPECT_EQ(untouched, reinterpret_cast<SLFileSystem*>(0x5a)) << row.path;
    EXPECT_NE(std::string(reason).find(row.reason), std::string::npos) << reason;
  }
  char tiny[8];
  EXPECT_EQ(SLZipOpenArchive(nullptr, 1, nullptr, tiny, sizeof(tiny)), SL_INVALID_ARGUMENT);
  EXPECT_EQ(std::strlen(tiny), 7u);  // cut to the buffer, terminated
}

TEST_F(ZipTest, EntriesAnswerTheirDocumentedCodes) {
  SLFileHandle handle = nullptr;
  const sl::sdk::File read = zip_.Open("stored.bin");
  const char16_t lone[] = {u'a', 0xD800, u'b', 0};
  uint64_t done = 0;
  const struct {
    const char* what;
    std::function<SLResult()> call;
    SLResult code;
  } rows[] = {
      {"climbing path", [&] { return fs()->OpenFile(fs(), u"docs/../../x", 1, &handle); }, 3},
      {"climbing search", [&] { return fs()->Search(fs(), u"../*", nullptr); }, 3},
      {"lone surrogate", [&] { return fs()->OpenFile(fs(), lone, 1, &handle); }, 3},
      {"missing member", [&] { return fs()->OpenFile(fs(), u"docs/none.txt", 1, &handle); }, 11},
      {"folder as file", [&] { return fs()->OpenFile(fs(), u"docs", 1, &handle); }, 15},
      {"open to write", [&] { return fs()->OpenFile(fs(), u"stored.bin", 2, &handle); }, 15},
      {"open to create", [&] { return fs()->OpenFile(fs(), u"new.txt", 4, &handle); }, 15},
      {"write", [&] { return fs()->WriteFile(fs(), read.handle(), "x", 1, &done); }, 15},
      {"create folder", [&] { return fs()->CreateFolder(fs(), u"new"); }, 15},
      {"create folders", [&] { return fs()->CreateAllFolders(fs(), u"new/deeper"); }, 15},
      {"remove folder", [&] { return fs()->RemoveFolder(fs(), u"empty"); }, 15},
      {"remove file", [&] { return fs()->RemoveFile(fs(), u"stored.bin"); }, 15},
      {"remove climbing", [&] { return fs()->RemoveFile(fs(), u"../x"); }, 3},
      {"negative seek", [&] { return fs()->SetFilePos(fs(), read.handle(), -1); }, 7},
  };
  for (const auto& row : rows) EXPECT_EQ(row.call(), row.code) << row.what;
  EXPECT_EQ(handle, nullptr);
  EXPECT_TRUE(zip_.Exists("/stored.bin"));  // nothing changed
}

TEST_F(ZipTest, FoldersAreImpliedAndSearchListsImmediateChildren) {
  const struct {
    const char* pattern;
    std::vector<std::u16string> names;  // empty: the search fails with 3
  } rows[] = {
      {"*", {u".", u"..", u"cp\u00fc.txt", u"docs", u"empty", u"stored.bin"}},  // code page 437
      {"/docs/*", {u".", u"..", u"deflated.txt", u"sub"}},
      {"\\docs\\sub\\*.txt", {u"deep.txt"}},
      {"docs//./sub/d??p.*", {u"deep.txt"}},
      {"docs/deflated.txt", {u"deflated.txt"}},
      {"empty/*", {u".", u".."}},
      {"empty/?", {u"."}},
      {"empty/x*", {}},
      {"docs/", {}},
      {"nothing/*", {}},
  };
  for (const auto& row : rows) {
    const sl::sdk::Outcome found =
        sl::sdk::Try([&] { EXPECT_EQ(zip_.Search(row.pattern), row.names) << row.pattern; });
    EXPECT_EQ(found.code, row.names.empty() ? SL_INVALID_ARGUMENT : SL_OK) << row.pattern;
  }
  for (const char* folder : {"docs", "docs/sub", "/empty/", "\\"})
    EXPECT_TRUE(zip_.Exists(folder)) << folder;
  EXPECT_FALSE(zip_.Exists("docs/sub/deep.txt/x"));
}

// The same tree as a folder and as an archive: every question gets the same answer, whether a
// folder comes from a folder member or is implied by a member below it.
TEST_F(ZipTest, FoldersAnswerAsTheDefaultFileSystemsFoldersDo) {
  const std::filesystem::path tree = dir_ / "tree";
  for (const char* folder : {"empty", "implied/deeper"})
    std::filesystem::create_directories(tree / folder);
  Spill(tree / "a.txt", "a");
  Spill(tree / "implied" / "x.txt", "x");
  WriteZip(dir_ / "tree.zip",
           {{"a.txt", "a"}, {"empty/", ""}, {"implied/x.txt", "x"}, {"implied/deeper/", ""}});
  const sl::sdk::FileSystem zip = Open(dir_ / "tree.zip");
  // One answer as text: the sorted names or the code of a search, whether the path exists, and
  // the code of an open for reading.
  const auto ask = [](const sl::sdk::FileSystem& fs, const std::u16string& root, const char* path) {
    const std::u16string full = root + sl::sdk::ToUtf16(path);
    std::vector<std::u16string> names;
    const sl::sdk::Outcome searched = sl::sdk::Try([&] { names = fs.Search(full + u"/*"); });
    std::sort(names.begin(), names.end());
    std::string answer = "search " + std::to_string(searched.code) + ":";
    for (const std::u16string& name : names) answer += " " + sl::sdk::ToUtf8(name);
    const sl::sdk::Outcome opened = sl::sdk::Try([&] { fs.Open(full); });
    return answer + ", exists " + std::to_string(fs.Exists(full)) + ", open " +
           std::to_string(opened.code);
  };
  for (const char* path : {"empty", "implied", "implied/deeper", "a.txt", "missing"}) {
    EXPECT_EQ(ask(zip, u"/", path), ask(fs_, sl::sdk::PathToUtf16(tree) + u"/", path)) << path;
  }
  EXPECT_EQ(ask(zip, u"/", "empty"), "search 0: . .., exists 1, open 15");
  // An archive without members (only its end record: libzip writes none) is an empty folder.
  Spill(dir_ / "none.zip", std::string("PK\x05\x06", 4) + std::string(18, '\0'));
  EXPECT_EQ(ask(Open(dir_ / "none.zip"), u"", ""), "search 0: . .., exists 1, open 15");
}

TEST_F(ZipTest, StreamsReadStoredAndDeflatedMembersWhole) {
  for (const auto& [path, bytes] :
       {std::pair{"stored.bin", stored_}, {"docs/deflated.txt", deflated_}}) {
    auto in = streams_.OpenRead(zip_, path);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), bytes) << path;
  }
}

// A read stream whose data breaks off before the file's end is broken, not ended (a zip member
// fails the read that reaches its end when its checksum is wrong): a copy
// through `out << in.rdbuf()` leaves the input bad and the output failed, and a reader that
// asked for exceptions gets the file system's own failure.
TEST_F(ZipTest, AReadStreamThatBreaksOffSetsBadbitAndRaises) {
  std::filesystem::copy_file(dir_ / "good.zip", dir_ / "crc.zip");
  Patch(dir_ / "crc.zip", stored_.substr(60000, 16), std::string(16, 'X'));
  const sl::sdk::FileSystem damaged = Open(dir_ / "crc.zip");
  // In front of an in-memory file of 20000 bytes: ReadFile fails from its second call on.
  const auto faulty = [&](bool recorded) {
    auto fault = sl::sdk::MakeRef<sltest::FaultFileSystem>();
    fault->memory()->SetFile("/f.bin", deflated_.substr(0, 20000));
    fault->Arm(sltest::kReadFile, {2, true, recorded});
    return sl::sdk::FileSystem(Ref<SLFileSystem>::Share(fault->table()));
  };
  const struct {
    const char* what;
    sl::sdk::FileSystem fs;
    const char* path;
    const char* why;  // empty: the stream ends cleanly
  } rows[] = {
      {"zip member, checksum wrong", damaged, "stored.bin",
       "code: 0x00000007: the member stored.bin fails its checksum"},
      {"ReadFile fails with a record", faulty(true), "/f.bin", "ReadFile() failed"},
      {"ReadFile fails without one", faulty(false), "/f.bin", "the file's data ends at byte"},
      {"zip member, sound", zip_, "docs/deflated.txt", ""},
  };
  for (const auto& row : rows) {
    std::ostringstream copy;
    {
      auto in = streams_.OpenRead(row.fs, row.path);
      sl::sdk::Try([&] { row.fs.Open("no-such-file"); });  // a failure before the read is not its
      copy << in.rdbuf();
      EXPECT_EQ(in.bad(), row.why[0] != '\0') << row.what;
      EXPECT_EQ(copy.fail(), row.why[0] != '\0') << row.what;
      EXPECT_EQ(in.error().has_value(), row.why[0] != '\0') << row.what;
      const std::string why = in.error() ? in.error()->what() : "";
      EXPECT_NE(why.find(row.why), std::string::npos) << row.what << ": " << why;
    }
    auto in = streams_.OpenRead(row.fs, row.path);
    in.exceptions(std::ios_base::badbit);
    std::string line;
    const sl::sdk::Outcome read = sl::sdk::Try([&] {
      while (std::getline(in, line)) {
      }
    });
    EXPECT_EQ(read.ok(), row.why[0] == '\0') << row.what;
    EXPECT_NE(read.message.find(row.why), std::string::npos) << read.message;
  }
}

TEST_F(ZipTest, ManyHandlesOnOneArchiveFromSeveralThreads) {
  std::vector<std::thread> threads;
  std::atomic<int> wrong{0};
  for (int t = 0; t < 6; ++t) {
    threads.emplace_back([&, t] {
      std::vector<sl::sdk::File> files;
      for (int i = 0; i < 4; ++i)
        files.push_back(zip_.Open((t + i) % 2 ? "stored.bin" : "docs/deflated.txt"));
      for (int round = 0; round < 20; ++round) {
        for (size_t i = 0; i < files.size(); ++i) {
          const std::string& bytes = (t + i) % 2 ? stored_ : deflated_;
          const uint64_t at = (round * 7919 + i * 104729 + t) % bytes.size();
          files[i].Seek(static_cast<int64_t>(at));
          char buffer[3000];
          const uint64_t n = files[i].Read(buffer, sizeof(buffer));
          if (bytes.compare(at, n, buffer, n) != 0 || n == 0) ++wrong;
        }
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(wrong.load(), 0);
}

// Output that counts its flushes.
struct Flushes : std::stringbuf {
  int count = 0;
  int sync() override { return ++count, 0; }
};

// The kit passes on every file system the project ships, flushing each check's line as the
// check ends, and skips what needs a file where there is none. (That it reads a bounded part of
// a huge file, the CLI test shows on a zip bomb.)
TEST_F(ZipTest, TheConformanceKitPassesOnTheDefaultMemoryAndZipFileSystems) {
  auto memory = sl::sdk::MakeRef<sl::sdk::MemoryFileSystem>(module_->Atom("Memory"));
  memory->SetFile("/data/sample.bin", deflated_.substr(0, 30000));
  memory->SetFile("/scratch/.keep", "");
  Spill(dir_ / "none.zip", std::string("PK\x05\x06", 4) + std::string(18, '\0'));
  WriteZip(dir_ / "folders.zip", {{"a/", ""}, {"a/b/", ""}});
  const sl::sdk::FileSystem none = Open(dir_ / "none.zip"), folders = Open(dir_ / "folders.zip");
  const struct {
    const char* what;
    SLFileSystem* fs;
    sl::sdk::CheckOptions options;
  } rows[] = {
      {"default", fs_.get(), {sl::sdk::PathToUtf16(dir_), u"", 4}},
      {"memory", memory->table(), {u"/scratch", u"/data/sample.bin", 4}},
      {"zip, stored sample", fs(), {u"", u"/stored.bin", 4}},
      {"zip, deflated sample", fs(), {u"", u"docs\\deflated.txt", 4}},
      {"zip, sample found by search", fs(), {u"", u"", 4}},
      {"empty archive", none.get(), {u"", u"", 4}},
      {"archive of folders only", folders.get(), {u"", u"", 4}},
  };
  for (const auto& row : rows) {
    Flushes buffer;
    std::ostream out(&buffer);
    EXPECT_EQ(sl::sdk::CheckFileSystem(row.fs, row.options, out), 0) << row.what << "\n"
                                                                     << buffer.str();
    EXPECT_NE(buffer.str().find(" 0 failed"), std::string::npos) << buffer.str();
    const std::string text = buffer.str();
    EXPECT_EQ(buffer.count, std::count(text.begin(), text.end(), '\n') - 1) << row.what;
  }
}

// File systems that break one rule each: the kit names the check that catches it. Each bends one
// entry of a memory file system's table (the original in `original_`).
template <auto Entry>
class Bent : public sl::sdk::MemoryFileSystem {
 public:
  using Function = std::remove_reference_t<decltype(std::declval<SLFileSystem&>().*Entry)>;
  explicit Bent(Function bent) : MemoryFileSystem(1) {
    original_ = table()->*Entry;
    table()->*Entry = bent;
  }
  static inline Function original_ = nullptr;
};
using BentOpen = Bent<&SLFileSystem::OpenFile>;
using BentPosition = Bent<&SLFileSystem::GetFilePos>;
using BentSize = Bent<&SLFileSystem::GetFileSize>;

TEST_F(ZipTest, TheConformanceKitCatchesBrokenFileSystems) {
  const struct {
    Ref<sl::sdk::MemoryFileSystem> fs;
    const char* caughtBy;
  } rows[] = {
      {sl::sdk::MakeRef<BentOpen>(
           [](SLFileSystem* self, const SLChar16* path, uint32_t mode, SLFileHandle* file) {
             const SLResult code = BentOpen::original_(self, path, mode, file);
             if (SL_FAILED(code) && file != nullptr) *file = nullptr;  // writes out on failure
             return code;
           }),
       "FAIL OpenFile: a missing file gives 11, handle untouched"},
      {sl::sdk::MakeRef<BentOpen>([](SLFileSystem* self, const SLChar16* path, uint32_t mode,
                                     SLFileHandle* file) {
         // no record for a bad mode
         return (mode & 7) == 0 ? SL_INVALID_ARGUMENT : BentOpen::original_(self, path, mode, file);
       }),
       "FAIL OpenFile: a mode without bits 1, 2 or 4"},
      {sl::sdk::MakeRef<BentPosition>(
           [](SLFileSystem* self, SLFileHandle file, uint64_t* position) {
             const SLResult code = BentPosition::original_(self, file, position);
             if (code == SL_OK && *position > 4096) --*position;  // off by one
             return code;
           }),
       "FAIL positions: GetFilePos after each read"},
      {sl::sdk::MakeRef<BentSize>([](SLFileSystem* self, SLFileHandle file, uint64_t* size) {
         const SLResult code = BentSize::original_(self, file, size);
         if (code == SL_OK) *size += 1000;  // beyond the data
         return code;
       }),
       "FAIL sample: found, opened and read (its first MiB "
       "at most): the sample's data ends at 20000 bytes"},
  };
  for (const auto& row : rows) {
    row.fs->SetFile("/data/sample.bin", deflated_.substr(0, 20000));
    row.fs->SetFile("/scratch/.keep", "");
    std::ostringstream out;
    EXPECT_GT(sl::sdk::CheckFileSystem(row.fs->table(), {u"/scratch", u"/data/sample.bin", 2}, out),
              0);
    EXPECT_NE(out.str().find(row.caughtBy), std::string::npos) << out.str();
  }
}

}  // namespace
