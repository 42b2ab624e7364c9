// File systems written on FileSystemBase, plugged into the module: their tables, references,
// failure records, and the in-memory file system read and written through file streams.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>

#include "sdk_fixture.h"

namespace {

using sl::sdk::MakeRef;
using sl::sdk::MemoryFileSystem;
using sl::sdk::Ref;

// Counts its destruction; OpenFile throws what the test asks for.
class Probe : public sl::sdk::FileSystemBase {
 public:
  Probe(uint32_t atom, std::atomic<int>* destroyed) : FileSystemBase(atom), destroyed_(destroyed) {}
  ~Probe() override { ++*destroyed_; }
  const char* DisplayName() const override { return "Probe"; }
  int throwKind = 0;
  SLResult readResult = SL_OK;

 protected:
  SLResult OpenFile(std::u16string_view, sl::sdk::OpenMode, SLFileHandle* file) override {
    if (throwKind == 1) throw std::runtime_error("boom");
    if (throwKind == 2) throw sl::sdk::ServiceError(SL_ACCESS_DENIED, "locked by policy");
    *file = this;
    return SL_OK;
  }
  SLResult CloseFile(SLFileHandle) override { return SL_OK; }
  SLResult ReadFile(SLFileHandle, void* buffer, uint64_t size, uint64_t* done) override {
    std::memset(buffer, 'p', static_cast<size_t>(size));
    *done = size;
    return readResult;
  }

 private:
  std::atomic<int>* destroyed_;
};

class HostFileSystems : public sltest::SdkTest {
 protected:
  std::string ReadThroughStream(SLFileSystem* fs, const char* path, size_t size) {
    auto in = streams_->OpenRead(sl::sdk::FileSystem(Ref<SLFileSystem>::Share(fs)), path);
    std::string bytes(size, '\0');
    in.read(bytes.data(), static_cast<std::streamsize>(size));
    return bytes.substr(0, static_cast<size_t>(in.gcount()));
  }
};

TEST_F(HostFileSystems, TheTableIsACompleteSLFileSystemHeader) {
  auto memory = MakeRef<MemoryFileSystem>(module_->Atom("Memory"));
  const SLFileSystem* table = memory->table();
  const auto* bytes = reinterpret_cast<const unsigned char*>(table);
  EXPECT_EQ(table->header.interfaceId, SL_FILESYSTEM_ID);
  EXPECT_EQ(table->header.tableSize, SL_FILESYSTEM_TABLE_SIZE);
  EXPECT_STREQ(table->header.interfaceName, "SLFileSystem");
  EXPECT_EQ(std::memcmp(bytes + 56 + SL_FILESYSTEM_TABLE_SIZE, "EOFT", 4), 0);
  EXPECT_EQ(table->tableStamp, SL_FILESYSTEM_STAMP);
  for (size_t slot = 0; slot < 5 + 17; ++slot) {
    void* entry = nullptr;
    std::memcpy(&entry, bytes + 16 + 8 * slot, sizeof(entry));
    EXPECT_NE(entry, nullptr) << "slot " << slot;
  }
  EXPECT_EQ(memory.RefCount(), 1u);
  uint32_t atom = 0;
  EXPECT_EQ(memory->table()->GetFileSystemName(memory->table(), &atom), SL_OK);
  EXPECT_EQ(atom, module_->Atom("Memory"));
}

TEST_F(HostFileSystems, MemoryFileSystemServesFileStreamsThroughTheRegistry) {
  auto memory = MakeRef<MemoryFileSystem>(module_->Atom("Memory"));
  files_->Register(memory->table());
  EXPECT_EQ(memory.RefCount(), 2u) << "the registry holds its own reference";

  sl::sdk::FileSystem found = files_->Find(module_->Atom("Memory"));
  EXPECT_EQ(found.get(), memory->table());
  found.CreateAllFolders("/notes/2026");
  {
    auto out = streams_->OpenWrite(found, "/notes/2026/today.txt");
    out << "written through a file write stream\n";
  }
  EXPECT_EQ(memory->FileContents("/notes/2026/today.txt"),
            std::string("written through a file write stream\n"));
  memory->SetFile("notes/preset.txt", "set by the host");
  EXPECT_EQ(ReadThroughStream(found.get(), "/notes/preset.txt", 100), "set by the host");
  EXPECT_EQ(memory->OpenFileCount(), 0u) << "closing a stream closes its file";

  EXPECT_EQ(sl::sdk::Try([&] { files_->Register(memory->table()); }).code, SL_ALREADY_EXISTS);
  files_->Unregister(memory->table());
  EXPECT_EQ(sl::sdk::Try([&] { files_->Find(module_->Atom("Memory")); }).code, SL_NOT_FOUND);
}

TEST_F(HostFileSystems, TheLastReleaseDestroysTheObjectOnce) {
  std::atomic<int> destroyed{0};
  auto probe = MakeRef<Probe>(module_->Atom("Probe"), &destroyed);
  files_->Register(probe->table());
  Ref<SLFileSystem> table = Ref<SLFileSystem>::Share(probe->table());
  sl::sdk::WeakRef<SLFileSystem> weak = sl::sdk::MakeWeak(table);
  ASSERT_TRUE(weak.IsAlive());
  EXPECT_EQ(weak.Lock().get(), probe->table());

  probe.reset();
  table.reset();
  EXPECT_EQ(destroyed.load(), 0) << "the registry keeps it";
  files_.reset();  // the service releases every file system it holds
  EXPECT_EQ(destroyed.load(), 1);
  EXPECT_FALSE(weak.IsAlive());
  EXPECT_FALSE(weak.Lock());
}

TEST_F(HostFileSystems, FailuresAreRecordedForTheCallingThreadOnly) {
  auto memory = MakeRef<MemoryFileSystem>(module_->Atom("Memory"));
  SLFileSystem* fs = memory->table();
  SLFileHandle file = nullptr;
  EXPECT_EQ(fs->OpenFile(fs, u"/missing.txt", SL_OPEN_READ, &file), SL_NOT_FOUND);
  EXPECT_EQ(file, nullptr);
  const SLErrorInfo info = sltest::RecordOf(memory.object());
  EXPECT_EQ(info.code, SL_NOT_FOUND);
  EXPECT_EQ(sl::sdk::ToUtf8(info.message),
            "MemoryFileSystem::OpenFile() failed, code: 0x0000000b: no such file");
  EXPECT_STREQ(info.functionName, "sl::sdk::FileSystemBase::OpenFile");
  EXPECT_STREQ(info.sourceFile, "slservices/sdk/file_system.hpp");

  SLResult elsewhere = SL_OK;
  SLErrorInfo other{};
  std::thread([&] { other = sltest::RecordOf(memory.object(), &elsewhere); }).join();
  EXPECT_EQ(elsewhere, SL_NOT_FOUND);
  EXPECT_EQ(other.message, nullptr);

  // Successes leave the record as it was.
  EXPECT_EQ(fs->OpenFile(fs, u"/new.txt", SL_OPEN_CREATE, &file), SL_OK);
  EXPECT_EQ(fs->CloseFile(fs, file), SL_OK);
  EXPECT_EQ(sltest::RecordOf(memory.object()).code, SL_NOT_FOUND);
}

TEST_F(HostFileSystems, ArgumentsAreCheckedBeforeTheImplementationRuns) {
  auto memory = MakeRef<MemoryFileSystem>(module_->Atom("Memory"));
  SLFileSystem* fs = memory->table();
  SLFileHandle file = nullptr;
  char buffer[4];
  uint64_t done = 7;
  EXPECT_EQ(fs->OpenFile(fs, nullptr, SL_OPEN_READ, &file), SL_INVALID_ARGUMENT);
  EXPECT_EQ(fs->OpenFile(fs, u"/a", 8, &file), SL_INVALID_ARGUMENT) << "no mode bit";
  EXPECT_EQ(fs->OpenFile(fs, u"/a", 7, &file), SL_OK) << "bit 4 wins: created";
  EXPECT_EQ(fs->ReadFile(fs, file, buffer, 0, &done), SL_INVALID_ARGUMENT);
  EXPECT_EQ(done, 7u);
  EXPECT_EQ(fs->ReadFile(fs, nullptr, buffer, 4, &done), SL_INVALID_ARGUMENT);
  EXPECT_EQ(fs->WriteFile(fs, file, "abcd", 4, nullptr), SL_OK) << "done may be null";
  EXPECT_EQ(fs->CloseFile(fs, file), SL_OK);
  EXPECT_EQ(fs->CloseFile(fs, file), SL_OS_FAILURE) << "a spent handle";
  uint8_t exists = 0;
  EXPECT_EQ(fs->IsFileExists(fs, u"/a", nullptr), SL_INVALID_ARGUMENT);
  EXPECT_EQ(fs->IsFileExists(fs, u"/a", &exists), SL_OK);
  EXPECT_EQ(exists, 1);
  EXPECT_EQ(fs->MakeDIPathFromPath(fs, nullptr, nullptr, 0), SL_NOT_DONE);
  EXPECT_EQ(sltest::RecordOf(memory.object()).code, SL_INVALID_ARGUMENT) << "1 is not recorded";
}

TEST_F(HostFileSystems, ExceptionsFromTheImplementationBecomeCodes) {
  std::atomic<int> destroyed{0};
  auto probe = MakeRef<Probe>(module_->Atom("Probe"), &destroyed);
  SLFileSystem* fs = probe->table();
  SLFileHandle file = nullptr;
  probe->throwKind = 1;
  EXPECT_EQ(fs->OpenFile(fs, u"/x", SL_OPEN_READ, &file), SL_OS_FAILURE);
  EXPECT_EQ(sl::sdk::ToUtf8(sltest::RecordOf(probe.object()).message),
            "Probe::OpenFile() failed, code: 0x00000007: boom");
  probe->throwKind = 2;
  EXPECT_EQ(fs->OpenFile(fs, u"/x", SL_OPEN_READ, &file), SL_ACCESS_DENIED);
  EXPECT_EQ(sl::sdk::ToUtf8(sltest::RecordOf(probe.object()).message),
            "Probe::OpenFile() failed, code: 0x0000000f: locked by policy");
  // Entries it does not override answer as a read-only file system would.
  EXPECT_EQ(fs->RemoveFile(fs, u"/x"), SL_ACCESS_DENIED);
  EXPECT_EQ(fs->Search(fs, u"/*", nullptr), SL_INVALID_ARGUMENT);
}

TEST_F(HostFileSystems, AFailingReadEndsTheModulesStreamWithoutAnException) {
  std::atomic<int> destroyed{0};
  auto probe = MakeRef<Probe>(module_->Atom("Probe"), &destroyed);
  EXPECT_EQ(ReadThroughStream(probe->table(), "/x", 10), "pppppppppp");
  probe->readResult = SL_ACCESS_DENIED;  // recorded: the module's result check raises it
  EXPECT_EQ(ReadThroughStream(probe->table(), "/x", 10), "");
  EXPECT_EQ(sltest::RecordOf(probe.object()).code, SL_ACCESS_DENIED);
}

}  // namespace
