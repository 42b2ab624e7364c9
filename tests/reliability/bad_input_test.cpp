// Every entry's invalid-argument cases, run through the built module as a host calls it: the
// documented result, out arguments and reference counts left as they were, and the calling
// thread's failure record on the object holding the code exactly when the table says so. The
// table of docs/reliability.md is this table: the second test fails when they differ, and its
// message holds the table to paste.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <utility>

#include "common/fault_file_system.h"
#include "common/temp_directory.h"
#include "slservices/sdk/sdk.hpp"

namespace {

namespace stdfs = std::filesystem;

enum Target { kExport, kEvery, kFss, kFs, kSearch, kSs };  // whose record a case leaves
enum Recorded { kNo, kYes };
constexpr SLResult kChanged = 0xBAD0BAD0u;  // a case's result when it changed what it must keep
void* const kSentinel = reinterpret_cast<void*>(uintptr_t{0x5E27});

sl::sdk::Module& TheModule() {  // loaded once as a host loads it, unloaded at exit
  static const std::unique_ptr<sl::sdk::Module> module =
      sl::sdk::Module::Open(std::string("./") + sl::sdk::Module::DefaultFileName());
  return *module;
}

// Fresh objects for one case: both services made through the exports, the default file system,
// a search result, a file handle, a read and a write stream, and a folder holding a file, a
// read-only file and a folder with a file in it; and the out arguments a case must leave alone.
struct Context {
  Context() {
    stdfs::create_directories(dir / "full");
    for (const char* name : {"file", "read-only", "full/inside"}) std::ofstream(dir / name) << "x";
    stdfs::permissions(dir / "read-only", stdfs::perms::owner_read | stdfs::perms::group_read);
    fs->Search(fs, Path("*").c_str(), search.put());
    fs->OpenFile(fs, Path("file").c_str(), SL_OPEN_READ, &readHandle);
    ss->OpenMemReadStream(ss, "bytes", 5, &readStream);
    static const SLWriteHandler kSink = {[](void*, const void*, uint64_t size) { return size; },
                                         [](void*) -> uint8_t { return 1; }, [](void*) {}};
    ss->OpenWriteStream(ss, &kSink, nullptr, &writeStream);
  }
  ~Context() {
    ss->CloseStream(ss, readStream);
    ss->CloseStream(ss, writeStream);
    fs->CloseFile(fs, readHandle);
    stdfs::permissions(dir / "read-only", stdfs::perms::owner_all);
    stdfs::remove_all(dir);
  }
  std::u16string Path(const char* name) const { return (dir / name).u16string(); }
  ServiceObject* Object(Target target) const {
    const void* objects[] = {nullptr, fss, fss, fs, search.get(), ss};
    return static_cast<ServiceObject*>(const_cast<void*>(objects[target]));
  }
  template <class T>
  T* out() {
    return static_cast<T*>(static_cast<void*>(&ptr));
  }
  bool Kept() const { return ptr == kSentinel && n == 7 && flag == 7 && count == 7; }

  sl::sdk::Module& module = TheModule();
  stdfs::path dir = sltest::MakeTempFolder("sl-bad-input");
  sl::sdk::FileSystemService files{module};
  sl::sdk::StreamService streams{module};
  sl::sdk::FileSystem defaultFs = files.Default();
  SLFileSystemService* fss = files.get();
  SLStreamService* ss = streams.get();
  SLFileSystem* fs = defaultFs.get();
  sl::sdk::Ref<SLFileSystemSearchResult> search;
  SLFileHandle readHandle = nullptr;
  SLStreamHandle readStream = nullptr, writeStream = nullptr;
  void* ptr = kSentinel;  // out pointers of every type
  uint64_t n = 7;         // out counts, sizes and positions
  uint8_t flag = 7;
  uint32_t count = 7;
};

// GetWeakRef and GetErrorInfo answer alike on every object: the case runs on all four.
template <class Call>
SLResult OnEveryObject(Context& c, Call call) {
  const SLResult first = call(c.Object(kFss));
  for (const Target target : {kSs, kFs, kSearch}) {
    if (call(c.Object(target)) != first) return kChanged;
  }
  return first;
}

const char* const kInterfaces[] = {"",
                                   "",
                                   "SLFileSystemService::",
                                   "SLFileSystem::",
                                   "SLFileSystemSearchResult::",
                                   "SLStreamService::"};

struct Case {
  Target target;
  const char* entry;
  const char* condition;
  SLResult expected;
  Recorded recorded;
  SLResult (*run)(Context& c);
};

const SLReadHandler kNoReader = {nullptr, nullptr, nullptr};
const SLWriteHandler kNoWriter = {nullptr, nullptr, nullptr};

#define CASE(target, entry, condition, expected, recorded, ...) \
  {                                                             \
    target, entry, condition, expected, recorded,               \
        [](Context& c) -> SLResult { return __VA_ARGS__; }      \
  }

// clang-format off
// (a row is a line)
const Case kCases[] = {
  CASE(kExport, "ReflectServiceObjectInfo", "null list pointer", 3, kNo, c.module.reflect(nullptr, &c.count)),
  CASE(kExport, "ReflectServiceObjectInfo", "null count pointer", 3, kNo, c.module.reflect(c.out<const ServiceObjectInfo*>(), nullptr)),
  CASE(kExport, "CreateServiceObject", "class atom 0", 3, kNo, c.module.create(0, c.out<ServiceObject*>())),
  CASE(kExport, "CreateServiceObject", "null out pointer", 3, kNo, c.module.create(c.module.Atom(SL_CLASS_STREAM_SERVICE), nullptr)),
  CASE(kExport, "CreateServiceObject", "atom of no class", 11, kNo, c.module.create(c.module.Atom("NoSuchClass"), c.out<ServiceObject*>())),
  CASE(kEvery, "GetWeakRef", "null out pointer", 3, kNo, OnEveryObject(c, [](ServiceObject* o) { return o->header.GetWeakRef(o, nullptr); })),
  CASE(kEvery, "GetErrorInfo", "null out pointer", 3, kNo, OnEveryObject(c, [](ServiceObject* o) { return o->header.GetErrorInfo(o, nullptr, 0); })),
  CASE(kEvery, "GetErrorInfo", "no failure on the calling thread", 11, kNo, OnEveryObject(c, [](ServiceObject* o) {
    SLErrorInfo info{99, 99, u"", "", ""};  // to be zeroed
    const SLResult result = o->header.GetErrorInfo(o, &info, 0);
    return info.line == 0 && info.message == nullptr ? result : kChanged; })),
  CASE(kFss, "GetDefaultFileSystem", "null out pointer", 3, kYes, c.fss->GetDefaultFileSystem(c.fss, nullptr)),
  CASE(kFss, "RegisterFileSystem", "null file system", 3, kYes, c.fss->RegisterFileSystem(c.fss, nullptr)),
  CASE(kFss, "RegisterFileSystem", "name already registered", 16, kYes, c.fss->RegisterFileSystem(c.fss, c.fs)),
  CASE(kFss, "UnregisterFileSystem", "null file system", 3, kYes, c.fss->UnregisterFileSystem(c.fss, nullptr)),
  CASE(kFss, "UnregisterFileSystem", "name not registered", 11, kYes, c.fss->UnregisterFileSystem(c.fss, sltest::FaultFileSystem().table())),
  CASE(kFss, "GetRegisteredFileSystemByName", "atom 0", 3, kYes, c.fss->GetRegisteredFileSystemByName(c.fss, 0, c.out<SLFileSystem*>())),
  CASE(kFss, "GetRegisteredFileSystemByName", "null out pointer", 3, kYes, c.fss->GetRegisteredFileSystemByName(c.fss, c.module.Atom("Default"), nullptr)),
  CASE(kFss, "GetRegisteredFileSystemByName", "name not registered", 11, kYes, c.fss->GetRegisteredFileSystemByName(c.fss, c.module.Atom("Stranger"), c.out<SLFileSystem*>())),
  CASE(kFs, "GetFileSystemName", "null out pointer", 3, kYes, c.fs->GetFileSystemName(c.fs, nullptr)),
  CASE(kFs, "CreateFolder", "null path", 3, kYes, c.fs->CreateFolder(c.fs, nullptr)),
  CASE(kFs, "CreateFolder", "folder exists", 16, kYes, c.fs->CreateFolder(c.fs, c.Path("full").c_str())),
  CASE(kFs, "CreateFolder", "parent missing", 7, kYes, c.fs->CreateFolder(c.fs, c.Path("missing/child").c_str())),
  CASE(kFs, "CreateAllFolders", "null path", 3, kYes, c.fs->CreateAllFolders(c.fs, nullptr)),
  CASE(kFs, "CreateAllFolders", "relative path", 7, kYes, [&] {  // nothing left behind if it wrongly succeeds
    const SLResult result = c.fs->CreateAllFolders(c.fs, u"sl-bad-input-relative\\folder");
    stdfs::remove_all("sl-bad-input-relative");
    return result; }()),
  CASE(kFs, "CreateAllFolders", "folder exists", 16, kYes, c.fs->CreateAllFolders(c.fs, c.Path("full").c_str())),
  CASE(kFs, "RemoveFolder", "null path", 3, kYes, c.fs->RemoveFolder(c.fs, nullptr)),
  CASE(kFs, "RemoveFolder", "folder not empty", 7, kYes, c.fs->RemoveFolder(c.fs, c.Path("full").c_str())),
  CASE(kFs, "RemoveFolder", "folder missing", 11, kYes, c.fs->RemoveFolder(c.fs, c.Path("missing").c_str())),
  CASE(kFs, "OpenFile", "null path", 3, kYes, c.fs->OpenFile(c.fs, nullptr, SL_OPEN_READ, c.out<SLFileHandle>())),
  CASE(kFs, "OpenFile", "null out pointer", 3, kYes, c.fs->OpenFile(c.fs, c.Path("file").c_str(), SL_OPEN_READ, nullptr)),
  CASE(kFs, "OpenFile", "mode 0", 3, kYes, c.fs->OpenFile(c.fs, c.Path("file").c_str(), 0, c.out<SLFileHandle>())),
  CASE(kFs, "OpenFile", "mode without bits 1, 2, 4 (8)", 3, kYes, c.fs->OpenFile(c.fs, c.Path("file").c_str(), 8, c.out<SLFileHandle>())),
  CASE(kFs, "OpenFile", "read (1): file missing", 11, kYes, c.fs->OpenFile(c.fs, c.Path("missing").c_str(), SL_OPEN_READ, c.out<SLFileHandle>())),
  CASE(kFs, "OpenFile", "write (2): file missing", 11, kYes, c.fs->OpenFile(c.fs, c.Path("missing").c_str(), SL_OPEN_WRITE, c.out<SLFileHandle>())),
  CASE(kFs, "OpenFile", "write (2): read-only file", 15, kYes, c.fs->OpenFile(c.fs, c.Path("read-only").c_str(), SL_OPEN_WRITE, c.out<SLFileHandle>())),
  CASE(kFs, "OpenFile", "create (4): file open elsewhere", 7, kYes, c.fs->OpenFile(c.fs, c.Path("file").c_str(), SL_OPEN_CREATE, c.out<SLFileHandle>())),
  CASE(kFs, "CloseFile", "null handle", 3, kYes, c.fs->CloseFile(c.fs, nullptr)),
  CASE(kFs, "IsFileExists", "null path", 3, kYes, c.fs->IsFileExists(c.fs, nullptr, &c.flag)),
  CASE(kFs, "IsFileExists", "null out pointer", 3, kYes, c.fs->IsFileExists(c.fs, c.Path("file").c_str(), nullptr)),
  CASE(kFs, "ReadFile", "null handle", 3, kYes, c.fs->ReadFile(c.fs, nullptr, &c.count, 4, &c.n)),
  CASE(kFs, "ReadFile", "null buffer", 3, kYes, c.fs->ReadFile(c.fs, c.readHandle, nullptr, 4, &c.n)),
  CASE(kFs, "ReadFile", "size 0", 3, kYes, c.fs->ReadFile(c.fs, c.readHandle, &c.count, 0, &c.n)),
  CASE(kFs, "WriteFile", "null handle", 3, kYes, c.fs->WriteFile(c.fs, nullptr, "abcd", 4, &c.n)),
  CASE(kFs, "WriteFile", "null buffer", 3, kYes, c.fs->WriteFile(c.fs, c.readHandle, nullptr, 4, &c.n)),
  CASE(kFs, "WriteFile", "size 0", 3, kYes, c.fs->WriteFile(c.fs, c.readHandle, "abcd", 0, &c.n)),
  CASE(kFs, "WriteFile", "handle open for reading", 15, kYes, [&] {  // the count is set to 0
    const SLResult result = c.fs->WriteFile(c.fs, c.readHandle, "abcd", 4, &c.n);
    return std::exchange(c.n, 7) == 0 ? result : kChanged; }()),
  CASE(kFs, "FlushFile", "null handle", 3, kYes, c.fs->FlushFile(c.fs, nullptr)),
  CASE(kFs, "FlushFile", "handle open for reading", 15, kYes, c.fs->FlushFile(c.fs, c.readHandle)),
  CASE(kFs, "GetFilePos", "null handle", 3, kYes, c.fs->GetFilePos(c.fs, nullptr, &c.n)),
  CASE(kFs, "GetFilePos", "null out pointer", 3, kYes, c.fs->GetFilePos(c.fs, c.readHandle, nullptr)),
  CASE(kFs, "SetFilePos", "null handle", 3, kYes, c.fs->SetFilePos(c.fs, nullptr, 0)),
  CASE(kFs, "SetFilePos", "position -1", 7, kYes, [&] {  // the position stays where it was
    const SLResult result = c.fs->SetFilePos(c.fs, c.readHandle, -1);
    c.fs->GetFilePos(c.fs, c.readHandle, &c.n);
    return std::exchange(c.n, 7) == 0 ? result : kChanged; }()),
  CASE(kFs, "GetFileSize", "null handle", 3, kYes, c.fs->GetFileSize(c.fs, nullptr, &c.n)),
  CASE(kFs, "GetFileSize", "null out pointer", 3, kYes, c.fs->GetFileSize(c.fs, c.readHandle, nullptr)),
  CASE(kFs, "RemoveFile", "null path", 3, kYes, c.fs->RemoveFile(c.fs, nullptr)),
  CASE(kFs, "RemoveFile", "file missing", 11, kYes, c.fs->RemoveFile(c.fs, c.Path("missing").c_str())),
  CASE(kFs, "RemoveFile", "read-only file", 15, kYes, c.fs->RemoveFile(c.fs, c.Path("read-only").c_str())),
  CASE(kFs, "RemoveFile", "file open without delete sharing", 7, kYes, [&] {
    SLFileHandle held = nullptr;
    c.fs->OpenFile(c.fs, c.Path("held").c_str(), SL_OPEN_CREATE, &held);
    const SLResult result = c.fs->RemoveFile(c.fs, c.Path("held").c_str());
    c.fs->CloseFile(c.fs, held);
    return result; }()),
  CASE(kFs, "MakeDIPathFromPath", "null arguments (none is looked at)", 1, kNo, c.fs->MakeDIPathFromPath(c.fs, nullptr, nullptr, 0)),
  CASE(kFs, "MakePathFromDIPath", "null arguments (none is looked at)", 1, kNo, c.fs->MakePathFromDIPath(c.fs, nullptr, nullptr, 0)),
  CASE(kFs, "Search", "null pattern", 3, kYes, c.fs->Search(c.fs, nullptr, c.out<SLFileSystemSearchResult*>())),
  CASE(kFs, "Search", "null out pointer", 3, kYes, c.fs->Search(c.fs, c.Path("*").c_str(), nullptr)),
  CASE(kFs, "Search", "nothing matches", 3, kYes, c.fs->Search(c.fs, c.Path("*.none").c_str(), c.out<SLFileSystemSearchResult*>())),
  CASE(kFs, "Search", "folder missing", 3, kYes, c.fs->Search(c.fs, c.Path("missing/*").c_str(), c.out<SLFileSystemSearchResult*>())),
  CASE(kFs, "Search", "empty pattern", 3, kYes, c.fs->Search(c.fs, u"", c.out<SLFileSystemSearchResult*>())),
  CASE(kFs, "Search", "pattern ending in a separator", 3, kYes, c.fs->Search(c.fs, (c.Path("full") + u"\\").c_str(), c.out<SLFileSystemSearchResult*>())),
  CASE(kSearch, "GetCount", "null out pointer", 3, kYes, c.search->GetCount(c.search.get(), nullptr)),
  CASE(kSearch, "GetFileInfo", "null out pointer", 3, kYes, c.search->GetFileInfo(c.search.get(), 0, nullptr)),
  CASE(kSearch, "GetFileInfo", "index equal to the count", 3, kYes, [&] {
    uint64_t count = 0;
    c.search->GetCount(c.search.get(), &count);
    return c.search->GetFileInfo(c.search.get(), static_cast<uint32_t>(count), c.out<const SLChar16*>()); }()),
  CASE(kSs, "OpenMemReadStream", "null data (size 0)", 3, kYes, c.ss->OpenMemReadStream(c.ss, nullptr, 0, c.out<SLStreamHandle>())),
  CASE(kSs, "OpenMemReadStream", "null out handle", 3, kYes, c.ss->OpenMemReadStream(c.ss, "x", 1, nullptr)),
  CASE(kSs, "OpenFileReadStream", "null file system", 3, kYes, c.ss->OpenFileReadStream(c.ss, nullptr, c.readHandle, c.out<SLStreamHandle>())),
  CASE(kSs, "OpenFileReadStream", "null out handle", 3, kYes, c.ss->OpenFileReadStream(c.ss, c.fs, c.readHandle, nullptr)),
  CASE(kSs, "OpenFileWriteStream", "null file system", 3, kYes, c.ss->OpenFileWriteStream(c.ss, nullptr, c.readHandle, c.out<SLStreamHandle>())),
  CASE(kSs, "OpenFileWriteStream", "null out handle", 3, kYes, c.ss->OpenFileWriteStream(c.ss, c.fs, c.readHandle, nullptr)),
  CASE(kSs, "OpenReadStream", "null handler", 3, kYes, c.ss->OpenReadStream(c.ss, nullptr, nullptr, c.out<SLStreamHandle>())),
  CASE(kSs, "OpenReadStream", "null out handle", 3, kYes, c.ss->OpenReadStream(c.ss, &kNoReader, nullptr, nullptr)),
  CASE(kSs, "OpenWriteStream", "null handler", 3, kYes, c.ss->OpenWriteStream(c.ss, nullptr, nullptr, c.out<SLStreamHandle>())),
  CASE(kSs, "OpenWriteStream", "null out handle", 3, kYes, c.ss->OpenWriteStream(c.ss, &kNoWriter, nullptr, nullptr)),
  CASE(kSs, "ReadStream", "null handle", 3, kYes, c.ss->ReadStream(c.ss, nullptr, &c.count, 4, &c.n)),
  CASE(kSs, "ReadStream", "write-stream handle", 3, kYes, c.ss->ReadStream(c.ss, c.writeStream, &c.count, 4, &c.n)),
  CASE(kSs, "ReadStream", "null out count", 3, kYes, [&] {  // nothing was taken from the stream
    const SLResult result = c.ss->ReadStream(c.ss, c.readStream, &c.count, 4, nullptr);
    char bytes[5];
    c.ss->ReadStream(c.ss, c.readStream, bytes, 5, &c.n);
    return std::exchange(c.n, 7) == 5 && c.count == 7 ? result : kChanged; }()),
  CASE(kSs, "WriteStream", "null handle", 3, kYes, c.ss->WriteStream(c.ss, nullptr, "abcd", 4, &c.n)),
  CASE(kSs, "WriteStream", "read-stream handle", 3, kYes, c.ss->WriteStream(c.ss, c.readStream, "abcd", 4, &c.n)),
  CASE(kSs, "WriteStream", "null out count", 3, kYes, c.ss->WriteStream(c.ss, c.writeStream, "abcd", 4, nullptr)),
  CASE(kSs, "FlushStream", "null handle", 3, kYes, c.ss->FlushStream(c.ss, nullptr)),
  CASE(kSs, "FlushStream", "read-stream handle (nothing to flush)", 0, kNo, c.ss->FlushStream(c.ss, c.readStream)),
  CASE(kSs, "CloseStream", "null handle", 0, kNo, c.ss->CloseStream(c.ss, nullptr)),
};
// clang-format on

TEST(BadInput, EveryCaseGivesItsDocumentedResult) {
  for (const Case& bad : kCases) {
    SCOPED_TRACE(std::string(bad.entry) + ": " + bad.condition);
    Context c;
    const uint32_t refs = c.defaultFs.ref().RefCount();
    EXPECT_EQ(bad.expected, bad.run(c));
    EXPECT_TRUE(c.Kept()) << "an out argument was written";
    EXPECT_EQ(refs, c.defaultFs.ref().RefCount()) << "a reference was taken or dropped";
    if (bad.target == kExport) continue;
    SLErrorInfo info{};
    ServiceObject* object = c.Object(bad.target);
    EXPECT_EQ(bad.recorded == kYes ? SL_OK : SL_NOT_FOUND,
              object->header.GetErrorInfo(object, &info, 0));
    EXPECT_EQ(bad.recorded == kYes ? bad.expected : 0u, info.code);
    if (bad.recorded == kYes) {
      EXPECT_EQ(kInterfaces[bad.target] + std::string(bad.entry) +
                    "() failed, code: " + sl::sdk::HexCode(bad.expected),
                sl::sdk::ToUtf8(info.message));
    }
  }
}

TEST(BadInput, TheDocumentedTableIsTheTableOfTheseCases) {
#ifndef SL_RELIABILITY_DOC
  GTEST_SKIP() << "the document is compared in native builds";
#else
  std::string table =
      "| Entry | Invalid argument | Result | Recorded for the calling thread "
      "|\n|---|---|---|---|\n";
  for (const Case& c : kCases) {
    table += std::string("| `") + kInterfaces[c.target] + c.entry +
             (c.target == kEvery ? " (every object)" : "") + "` | " + c.condition + " | " +
             std::to_string(c.expected) + " | " +
             (c.target == kExport  ? "no (exports have no object)"
              : c.recorded == kYes ? "yes"
                                   : "no") +
             " |\n";
  }
  std::stringstream document;
  document << std::ifstream(SL_RELIABILITY_DOC).rdbuf();
  const std::string text = document.str();
  const std::string begin = "<!-- bad-input-table:begin -->\n";
  const size_t from = text.find(begin), to = text.find("<!-- bad-input-table:end -->");
  ASSERT_TRUE(from != std::string::npos && to != std::string::npos) << SL_RELIABILITY_DOC;
  EXPECT_EQ(table, text.substr(from + begin.size(), to - from - begin.size()));
#endif
}

}  // namespace
