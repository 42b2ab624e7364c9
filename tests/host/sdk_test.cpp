// The host SDK over the built module: failing codes as exceptions and outcomes with the object's
// own record, text conversion, the module's streams as C++ streams and back, and file systems
// written on FileSystemBase (the in-memory one among them) plugged into the module.
#include <cstring>
#include <fstream>
#include <set>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "common/native_names.h"
#include "host_support.h"

namespace {

using sl::sdk::Ref;
using sl::sdk::Try;
class Sdk : public sltest::HostTest {};

TEST_F(Sdk, FailuresCarryTheRecordTheObjectKeptForThem) {
  SLFileSystem* fs = fs_.get();
  const sl::sdk::Path16 missing = dir_ / "missing.txt";
  SLFileHandle file = nullptr;
  const sl::sdk::Outcome open =
      Try([&] { sl::sdk::Check(fs->OpenFile(fs, missing.c_str(), 1, &file), fs); });
  EXPECT_EQ(SL_NOT_FOUND, open.code);
  EXPECT_EQ("SLFileSystem::OpenFile() failed, code: 0x0000000b", open.message);
  ASSERT_TRUE(open.record);
  EXPECT_EQ(15u, open.record->line);
  EXPECT_NE(std::string::npos, open.record->function.find("::OpenFileImpl::staticF"));
  EXPECT_NE(std::string::npos, open.record->source.find("FileSystemCalls"));
  // A failure the object did not record is not blamed on its old record.
  const sl::sdk::Outcome elsewhere =
      Try([&] { sl::sdk::Check(SL_ALREADY_EXISTS, fs, "SLFileSystem::Elsewhere"); });
  EXPECT_FALSE(elsewhere.record);
  EXPECT_EQ("SLFileSystem::Elsewhere() failed, code: 0x00000010", elsewhere.message);
  EXPECT_EQ(SL_NOT_DONE, sl::sdk::Check(fs->MakeDIPathFromPath(fs, nullptr, nullptr, 0), fs));
  EXPECT_EQ(SL_RESERVED_13, sl::sdk::Check(SL_RESERVED_13, fs));
  const sl::sdk::Outcome removed = Try(fs->RemoveFile(fs, missing.c_str()), fs);
  EXPECT_EQ("SLFileSystem::RemoveFile() failed, code: 0x0000000b", removed.message);
  const sl::sdk::Outcome folder = Try([&] { fs_.CreateFolder(dir_); });
  EXPECT_EQ(SL_ALREADY_EXISTS, folder.code);
  ASSERT_TRUE(folder.record);
  EXPECT_EQ(12u, folder.record->line);
  EXPECT_TRUE(Try([&] { fs_.CreateFolder(dir_ / "fresh"); }));
  // Every code has its own explanation.
  std::set<std::string> texts;
  for (const SLResult code : {0u, 1u, 3u, 7u, 11u, 13u, 15u, 16u, 22u})
    texts.insert(sl::sdk::Explain(code));
  EXPECT_EQ(9u, texts.size());
  EXPECT_STREQ("unknown result code", sl::sdk::Explain(99));
}

TEST(Text, Utf8AndUtf16ConvertBothWaysAndMarkWhatIsMalformed) {
  for (const std::string sample :
       {"plain", "caf\xC3\xA9", "\xE2\x82\xAC 5", "\xF0\x9D\x84\x9E clef", ""}) {
    EXPECT_EQ(sample, sl::sdk::ToUtf8(sl::sdk::ToUtf16(sample)));
  }
  EXPECT_EQ(u"\xD834\xDD1E", sl::sdk::ToUtf16("\xF0\x9D\x84\x9E"));
  // On Windows bytes that are not UTF-8 become U+FFFD; elsewhere each is kept as U+F000 + byte,
  // as is each byte of a character in U+F000-U+F0FF, and ToUtf8 gives the bytes back.
  const struct {
    std::string bytes;
    std::u16string replaced, kept;
  } malformed[] = {
      {"a\xC3", u"a\xFFFD", u"a\xF0C3"},                               // cut short
      {"\xC0\xAF", u"\xFFFD\xFFFD", u"\xF0C0\xF0AF"},                  // overlong
      {"\xED\xA0\x80", u"\xFFFD\xFFFD\xFFFD", u"\xF0ED\xF0A0\xF080"},  // a surrogate
      {"\xEF\x80\xAA", u"\xF02A", u"\xF0EF\xF080\xF0AA"},              // U+F02A itself
  };
  for (const auto& c : malformed) {
    const std::u16string utf16 = sl::sdk::ToUtf16(c.bytes);
    EXPECT_EQ(utf16, sl::sdk::text_detail::kNamesAreBytes ? c.kept : c.replaced);
    if (sl::sdk::text_detail::kNamesAreBytes) {
      EXPECT_EQ(sl::sdk::ToUtf8(utf16), c.bytes);
    }
  }
  EXPECT_EQ(4u, sl::sdk::ToUtf16("\xF4\x90\x80\x80").size()) << "beyond U+10FFFF";
  const char16_t lone[] = {u'x', 0xD800, u'y', 0};
  EXPECT_EQ("x\xEF\xBF\xBDy", sl::sdk::ToUtf8(std::u16string_view(lone)));
  EXPECT_EQ("", sl::sdk::ToUtf8(static_cast<const SLChar16*>(nullptr)));
  const std::u16string name = u"caf\x00E9-\xD834\xDD1E.txt";
  EXPECT_EQ(name, sl::sdk::PathToUtf16(sl::sdk::ToPath(name)));
  const std::u16string separator(1, std::filesystem::path::preferred_separator);
  EXPECT_EQ(u"notes" + separator + name,
            sl::sdk::Path16(std::filesystem::path("notes") / sl::sdk::ToPath(name)).str());
}

// Native names go to the module as the default file system lists them, and back as they were:
// what a host reads from the disk, it finds through Search, opens, and prints unchanged.
TEST_F(Sdk, NativeNamesMeetTheModulesNames) {
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

// The module's streams as C++ streams and back, over the in-memory file system plugged into the
// module's registry.
TEST_F(Sdk, ModuleStreamsAsCppStreamsAndBack) {
  auto memory = sl::sdk::MakeRef<sl::sdk::MemoryFileSystem>(module_->Atom("Memory"));
  files_.Register(memory->table());
  EXPECT_EQ(2u, memory.RefCount()) << "the registry holds its own reference";
  EXPECT_EQ(SL_ALREADY_EXISTS, Try([&] { files_.Register(memory->table()); }).code);
  const sl::sdk::FileSystem fs = files_.Find(module_->Atom("Memory"));
  std::string data(3 * 4096 + 123, '\0');
  for (size_t i = 0; i < data.size(); ++i)
    data[i] = static_cast<char>('a' + (i * 7 + i / 4096) % 26);
  {
    auto out = streams_.OpenWrite(fs, "/round-trip.bin");
    out.write(data.data(), 5000);                                  // past one buffer
    for (size_t i = 5000; i < data.size(); ++i) out.put(data[i]);  // a byte at a time
    out.Close();
    EXPECT_FALSE(out.handle());
  }
  EXPECT_EQ(data, memory->FileContents("/round-trip.bin"));
  std::ostringstream copy;
  {
    auto in = streams_.OpenRead(fs, "/round-trip.bin");
    auto out = streams_.OpenWrite(copy);  // a std::ostream as the module's callbacks
    out << in.rdbuf();
    out.flush();
    EXPECT_EQ(data.size(), copy.str().size()) << "flush hands everything over";
  }
  EXPECT_EQ(data, copy.str());
  EXPECT_EQ(0u, memory->OpenFileCount()) << "closing a stream closes its file";
  std::istringstream source("one\ntwo\nthree");
  auto lines = streams_.OpenRead(source);  // a std::istream as the module's callbacks
  std::string line, seen;
  while (std::getline(lines, line)) seen += "[" + line + "]";
  EXPECT_EQ("[one][two][three]", seen);
  EXPECT_EQ(std::char_traits<char>::eof(), lines.get()) << "an ended stream stays ended";
  { streams_.OpenWrite(fs, "/scoped.txt") << "written " << 42 << '\n'; }
  EXPECT_EQ(std::string("written 42\n"), memory->FileContents("/scoped.txt"))
      << "at the end of its scope";
  const auto missing = Try([&] { streams_.OpenRead(fs_, dir_ / "missing.txt"); });
  EXPECT_EQ(SL_NOT_FOUND, missing.code);
  EXPECT_EQ("SLFileSystem::OpenFile() failed, code: 0x0000000b", missing.message);
  files_.Unregister(memory->table());
  EXPECT_EQ(SL_NOT_FOUND, Try([&] { files_.Find(module_->Atom("Memory")); }).code);
}

// The in-memory file system answers like the default one. Each step runs on a fresh handle
// unless it names the one the last open left: "o2 /a" opens /a with mode 2 and keeps it.
TEST(MemoryFileSystem, AnswersLikeTheDefaultFileSystem) {
  auto memory = sl::sdk::MakeRef<sl::sdk::MemoryFileSystem>(0x4D454D);
  sl::sdk::FileSystem fs(Ref<SLFileSystem>::Share(memory->table()));
  const auto code = [](auto body) { return Try(body).code; };
  EXPECT_EQ(SL_NOT_FOUND, code([&] { fs.Open("/a.txt", SL_OPEN_READ); }));
  EXPECT_EQ(SL_NOT_FOUND, code([&] { fs.Open("/a.txt", SL_OPEN_WRITE); }));
  EXPECT_EQ(SL_OS_FAILURE, code([&] { fs.Open("/none/a.txt", SL_OPEN_CREATE); })) << "no parent";
  fs.Open("/a.txt", SL_OPEN_CREATE).Write("hello", 5);
  {
    sl::sdk::File first = fs.Open("/a.txt", SL_OPEN_READ);
    sl::sdk::File second = fs.Open("a.txt", SL_OPEN_READ);  // the same file: from the root
    EXPECT_EQ(SL_OS_FAILURE, code([&] { fs.Open("/a.txt", SL_OPEN_WRITE); })) << "in use";
    char bytes[8] = {};
    EXPECT_EQ(5u, first.Read(bytes, 8));
    EXPECT_EQ(0u, first.Read(bytes, 8));
    EXPECT_EQ(SL_ACCESS_DENIED, code([&] { first.Write("x", 1); })) << "opened for reading";
    fs.RemoveFile("/a.txt");  // a file being read may be removed, and stays readable
    EXPECT_FALSE(fs.Exists("/a.txt"));
    EXPECT_EQ(5u, second.Read(bytes, 8));
  }
  memory->SetFile("/a.txt", "hello");
  {
    sl::sdk::File writer = fs.Open("/a.txt", SL_OPEN_WRITE);
    EXPECT_EQ(SL_OS_FAILURE, code([&] { fs.Open("/a.txt", SL_OPEN_READ); }));
    EXPECT_EQ(SL_OS_FAILURE, code([&] { fs.RemoveFile("/a.txt"); }));
    writer.Seek(8);
    writer.Write("J", 1);
    EXPECT_EQ(9u, writer.Position());
    EXPECT_EQ(SL_OS_FAILURE, code([&] { writer.Seek(-1); }));
  }
  EXPECT_EQ(std::string("hello\0\0\0J", 9), memory->FileContents("/a.txt")) << "a gap reads 0";
  fs.Open("/a.txt", SL_OPEN_READ);  // a closed reader and a closed writer hold the file no more
  fs.Open("/a.txt", SL_OPEN_WRITE);
  // Through its table: bit 4 wins, a count may be left out, a spent handle is refused.
  SLFileSystem* table = memory->table();
  SLFileHandle file = nullptr;
  uint8_t exists = 0;
  ASSERT_EQ(SL_OK, table->OpenFile(table, u"/a.txt", 7, &file));
  EXPECT_EQ(std::string(), memory->FileContents("/a.txt")) << "create empties";
  EXPECT_EQ(SL_OK, table->WriteFile(table, file, "abcd", 4, nullptr));
  EXPECT_EQ(SL_OK, table->CloseFile(table, file));
  EXPECT_EQ(SL_OS_FAILURE, table->CloseFile(table, file));
  EXPECT_EQ(SL_INVALID_ARGUMENT, table->IsFileExists(table, u"/a.txt", nullptr));
  EXPECT_EQ(SL_OK, table->IsFileExists(table, u"/a.txt", &exists));
  EXPECT_EQ(1, exists);
  memory->SetReadOnly("/a.txt", true);
  EXPECT_EQ(SL_ACCESS_DENIED, code([&] { fs.Open("/a.txt", SL_OPEN_WRITE); }));
  EXPECT_EQ(SL_ACCESS_DENIED, code([&] { fs.Open("/a.txt", SL_OPEN_CREATE); }));
  EXPECT_EQ(SL_ACCESS_DENIED, code([&] { fs.RemoveFile("/a.txt"); }));
  // Folders.
  EXPECT_EQ(SL_OS_FAILURE, code([&] { fs.CreateFolder("/d/b"); })) << "parent missing";
  fs.CreateAllFolders("/d/b/c");
  EXPECT_EQ(SL_ALREADY_EXISTS, code([&] { fs.CreateAllFolders("/d/b/c"); }));
  EXPECT_EQ(SL_ALREADY_EXISTS, code([&] { fs.CreateFolder("/d"); }));
  EXPECT_TRUE(fs.Exists("\\d\\b\\c\\..")) << "both separators, and .. goes up";
  EXPECT_EQ(SL_OS_FAILURE, code([&] { fs.RemoveFolder("/d/b"); })) << "not empty";
  EXPECT_EQ(SL_ACCESS_DENIED, code([&] { fs.Open("/d/b", SL_OPEN_READ); })) << "a folder";
  EXPECT_EQ(SL_ACCESS_DENIED, code([&] { fs.RemoveFile("/d/b"); })) << "a folder";
  EXPECT_EQ(SL_INVALID_ARGUMENT, code([&] { fs.CreateFolder("/../x"); })) << "above the root";
  for (const char* name : {"/d/a.txt", "/d/b.txt", "/d/ab.log", "/d/b c"})
    memory->SetFile(name, "");
  fs.RemoveFolder("/d/b/c");
  fs.RemoveFolder("/d/b");
  EXPECT_EQ(SL_NOT_FOUND, code([&] { fs.RemoveFolder("/d/b"); }));
  EXPECT_EQ(SL_OS_FAILURE, code([&] { fs.RemoveFolder("/d/b c"); })) << "a file";
  // Search: wildcards in the last part, case-sensitive, nothing found is a failure.
  EXPECT_EQ((std::vector<std::u16string>{u"a.txt", u"b.txt"}), fs.Search("/d/*.txt"));
  EXPECT_EQ((std::vector<std::u16string>{u"ab.log"}), fs.Search("/d/?b.*"));
  EXPECT_EQ(4u, fs.Search("/d/*").size());
  EXPECT_EQ(SL_INVALID_ARGUMENT, code([&] { fs.Search("/d/A.TXT"); }));
  EXPECT_EQ(SL_INVALID_ARGUMENT, code([&] { fs.Search("/none/*"); }));
}

// A file system written on FileSystemBase that overrides only what it must: OpenFile throws what
// the test asks for, its files read 'p' and give the code the test sets.
class Probe : public sl::sdk::FileSystemBase {
 public:
  using FileSystemBase::FileSystemBase;
  const char* DisplayName() const override { return "Probe"; }
  int throwKind = 0;
  SLResult readResult = SL_OK;

 protected:
  struct Ps : sl::sdk::FileBase {
    explicit Ps(const SLResult& code) : result(code) {}
    SLResult Read(uint64_t, void* buffer, uint64_t size, uint64_t* done) override {
      std::memset(buffer, 'p', static_cast<size_t>(size));
      *done = size;
      return result;
    }
    SLResult Size(uint64_t*) override { return SL_OK; }
    const SLResult& result;
  };
  SLResult OpenFile(std::u16string_view path, sl::sdk::OpenMode,
                    std::unique_ptr<sl::sdk::FileBase>* file) override {
    if (throwKind == 1) throw std::runtime_error("boom");
    if (throwKind == 2) throw sl::sdk::ServiceError(SL_ACCESS_DENIED, "locked by policy");
    if (path == u"/missing") return Fail(SL_NOT_FOUND, "no such file");
    *file = std::make_unique<Ps>(readResult);
    return SL_OK;
  }
};

TEST_F(Sdk, FileSystemsWrittenOnTheSdk) {
  auto probe = sl::sdk::MakeRef<Probe>(module_->Atom("Probe"));
  SLFileSystem* fs = probe->table();
  // Arguments are checked before the implementation runs; its failures are recorded for the
  // calling thread only, and its exceptions become codes.
  SLFileHandle file = nullptr;
  uint64_t done = 7;
  char buffer[4];
  EXPECT_EQ(SL_INVALID_ARGUMENT, fs->OpenFile(fs, nullptr, SL_OPEN_READ, &file));
  EXPECT_EQ(SL_INVALID_ARGUMENT, fs->OpenFile(fs, u"/a", 8, &file)) << "no mode bit";
  EXPECT_EQ(SL_INVALID_ARGUMENT, fs->ReadFile(fs, probe.get(), buffer, 0, &done));
  EXPECT_EQ(SL_INVALID_ARGUMENT, fs->ReadFile(fs, nullptr, buffer, 4, &done));
  EXPECT_EQ(7u, done);
  EXPECT_EQ(SL_NOT_DONE, fs->MakeDIPathFromPath(fs, nullptr, nullptr, 0));
  EXPECT_EQ(SL_INVALID_ARGUMENT, sltest::RecordOf(fs).info.code) << "1 is not recorded";
  EXPECT_EQ(SL_NOT_FOUND, fs->OpenFile(fs, u"/missing", SL_OPEN_READ, &file));
  const SLErrorInfo info = sltest::RecordOf(fs).info;
  EXPECT_EQ("Probe::OpenFile() failed, code: 0x0000000b: no such file",
            sl::sdk::ToUtf8(info.message));
  EXPECT_STREQ("sl::sdk::FileSystemBase::OpenFile", info.functionName);
  EXPECT_STREQ("slservices/sdk/file_system.hpp", info.sourceFile);
  SLResult elsewhere = SL_OK;
  std::thread([&] { elsewhere = sltest::RecordOf(fs).read; }).join();
  EXPECT_EQ(SL_NOT_FOUND, elsewhere);
  for (const int kind : {1, 2}) {
    probe->throwKind = kind;
    EXPECT_EQ(kind == 1 ? SL_OS_FAILURE : SL_ACCESS_DENIED,
              fs->OpenFile(fs, u"/x", SL_OPEN_READ, &file));
    EXPECT_EQ(kind == 1 ? "Probe::OpenFile() failed, code: 0x00000007: boom"
                        : "Probe::OpenFile() failed, code: 0x0000000f: locked by policy",
              sl::sdk::ToUtf8(sltest::RecordOf(fs).info.message));
  }
  EXPECT_EQ(SL_ACCESS_DENIED, fs->RemoveFile(fs, u"/x")) << "what it does not override";
  EXPECT_EQ(SL_INVALID_ARGUMENT, fs->Search(fs, u"/*", nullptr));
  // The base keeps the handles: one closed, or never given, is 7 with a record on every entry.
  probe->throwKind = 0;
  ASSERT_EQ(SL_OK, fs->OpenFile(fs, u"/x", SL_OPEN_READ, &file));
  EXPECT_EQ(1u, probe->OpenFileCount());
  EXPECT_EQ(SL_OK, fs->CloseFile(fs, file));
  EXPECT_EQ(0u, probe->OpenFileCount());
  uint64_t value = 0;
  for (SLFileHandle bad : {file, reinterpret_cast<SLFileHandle>(probe.get())}) {
    EXPECT_EQ(
        (std::vector<SLResult>(7, SL_OS_FAILURE)),
        (std::vector<SLResult>{fs->CloseFile(fs, bad), fs->ReadFile(fs, bad, buffer, 4, &done),
                               fs->WriteFile(fs, bad, buffer, 4, &done), fs->FlushFile(fs, bad),
                               fs->GetFilePos(fs, bad, &value), fs->SetFilePos(fs, bad, 0),
                               fs->GetFileSize(fs, bad, &value)}));
    EXPECT_EQ("Probe::GetFileSize() failed, code: 0x00000007: bad handle",
              sl::sdk::ToUtf8(sltest::RecordOf(fs).info.message));
  }
  // Through the module's streams: a failing read with a record ends the stream, no exception.
  for (const SLResult code : {SL_OK, SL_ACCESS_DENIED}) {
    probe->readResult = code;
    auto in = streams_.OpenRead(sl::sdk::FileSystem(Ref<SLFileSystem>::Share(fs)), "/x");
    std::string bytes(10, '\0');
    in.read(bytes.data(), 10);
    EXPECT_EQ(code == SL_OK ? 10 : 0, in.gcount());
  }
}

}  // namespace

namespace {

// Where the loading of the zip and SFTP libraries stops, in the words each of them gives.
TEST(LibraryLoading, ZipAndSftpSayWhyALibraryCannotBeUsed) {
  const std::filesystem::path dir = sltest::MakeTempFolder("sl-library-loading");
  std::ofstream(dir / "text.so") << "not a library\n";
  const std::filesystem::path module = sl::sdk::Module::BesideExecutable();  // lacks both exports
  const std::string missing = (dir / "none.so").string();
  const std::string text = (dir / "text.so").string();
  struct Case {
    std::filesystem::path path;
    std::string zip;
    std::string sftp;
  };
  const Case cases[] = {
      {missing, "no zip library at " + missing + " (zip archives are built on Linux only)",
       "no SFTP library at " + missing + " (remote folders over SFTP are built on Linux only)"},
      {text, "cannot use " + text + " as the zip library",
       "cannot use " + text + " as the SFTP library"},
      {module, "cannot use " + module.string() + " as the zip library",
       "cannot use " + module.string() + " as the SFTP library"},
  };
  for (const Case& c : cases) {
    std::string zipError = "unset";
    std::string sftpError = "unset";
    EXPECT_EQ(nullptr, sl::sdk::ZipArchives::Load(c.path, &zipError));
    EXPECT_EQ(nullptr, sl::sdk::SftpConnections::Load(c.path, &sftpError));
    EXPECT_EQ(c.zip, zipError);
    EXPECT_EQ(c.sftp, sftpError);
    try {
      sl::sdk::SftpConnections::Open(c.path);
      ADD_FAILURE() << "Open took " << c.path;
    } catch (const sl::sdk::ModuleError& error) {
      EXPECT_EQ(c.sftp, error.what());
    }
  }
  std::filesystem::remove_all(dir);
  // Each finds its own export in its library where it is built, and no other's.
  const std::filesystem::path zipLibrary = sl::sdk::ZipArchives::BesideExecutable();
  const std::filesystem::path sftpLibrary = sl::sdk::SftpConnections::BesideExecutable();
  std::string error;
  if (std::filesystem::exists(zipLibrary)) {
    EXPECT_NE(nullptr, sl::sdk::ZipArchives::Load(zipLibrary, &error)) << error;
    EXPECT_EQ(nullptr, sl::sdk::SftpConnections::Load(zipLibrary, &error));
  }
  if (std::filesystem::exists(sftpLibrary)) {
    EXPECT_NE(nullptr, sl::sdk::SftpConnections::Load(sftpLibrary, &error)) << error;
    EXPECT_EQ(nullptr, sl::sdk::ZipArchives::Load(sftpLibrary, &error));
  }
}

}  // namespace
