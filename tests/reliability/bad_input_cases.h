// Every entry's invalid-argument cases, with what each returns and whether the calling thread's
// failure record on the object then holds it. One table serves three purposes:
//   - bad_input_test runs every case through the built module, as a host calls it;
//   - bad_input_table prints it as the markdown table of docs/reliability.md;
//   - bad_input_test compares that table with the one in the document, so neither can drift.
// Each case runs on objects made for it alone, so any record it finds is its own. A case whose
// entry has out arguments also checks that they were left as they were, and reports
// kOutArgumentChanged otherwise.
#pragma once

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>

#include "common/fault_file_system.h"
#include "filesystem/fs_test_support.h"
#include "platform/files.h"
#include "slservices/sdk/module.hpp"
#include "slservices/slservices.h"

namespace badinput {

// Where a case's failure is recorded.
enum class Target { kExport, kFileSystemService, kStreamService, kFileSystem, kSearchResult };
enum class Recorded { kYes, kNo, kNotAnObject };

constexpr SLResult kOutArgumentChanged = 0xBAD0BAD0u;

// The built module, loaded once from the working folder (the binaries' folder) as a host does,
// and unloaded at exit; every case closes what it opened, so the unload leaves nothing behind.
inline sl::sdk::Module& TheModule() {
  static const std::unique_ptr<sl::sdk::Module> module = [] {
    std::string error;
    auto loaded =
        sl::sdk::Module::Load(std::string("./") + sl::sdk::Module::DefaultFileName(), &error);
    if (!loaded) throw std::runtime_error(error);
    return loaded;
  }();
  return *module;
}

inline uint32_t AtomOf(const char* name) {
  uint32_t atom = SL_UNRESOLVED_ATOM;
  SLGetAtomFromString(name, &atom);
  return atom;
}

// Fresh objects for one case: both services made through the exports, the default file system,
// a search result, a read stream and a write stream, and a folder holding a file, a read-only
// file and a folder with a file in it.
class Context {
 public:
  Context() {
    fss = Create<SLFileSystemService>(SL_CLASS_FILE_SYSTEM_SERVICE);
    ss = Create<SLStreamService>(SL_CLASS_STREAM_SERVICE);
    fss->GetDefaultFileSystem(fss, &fs);
    MakeFile(file);
    MakeFile(readOnly);
    sl::platform::SetFileAttributesW(readOnly.c_str(), sl::platform::kFileAttributeReadonly);
    fs->CreateFolder(fs, full.c_str());
    MakeFile(full + u"\\inside");
    fs->Search(fs, (dir / u"*").c_str(), &search);
    fs->OpenFile(fs, file.c_str(), SL_OPEN_READ, &readHandle);
    static const char kBytes[] = "bytes";
    ss->OpenMemReadStream(ss, kBytes, sizeof(kBytes), &readStream);
    static const SLWriteHandler kSink = {[](void*, const void*, uint64_t size) { return size; },
                                         [](void*) -> uint8_t { return 1; }, [](void*) {}};
    ss->OpenWriteStream(ss, &kSink, nullptr, &writeStream);
  }
  ~Context() {
    ss->CloseStream(ss, readStream);
    ss->CloseStream(ss, writeStream);
    fs->CloseFile(fs, readHandle);
    for (const void* object : {static_cast<const void*>(search), static_cast<const void*>(fs),
                               static_cast<const void*>(ss), static_cast<const void*>(fss)}) {
      fstest::Release(object);
    }
  }
  Context(const Context&) = delete;
  Context& operator=(const Context&) = delete;

  ServiceObject* Object(Target target) const {
    switch (target) {
      case Target::kFileSystemService:
        return reinterpret_cast<ServiceObject*>(fss);
      case Target::kStreamService:
        return reinterpret_cast<ServiceObject*>(ss);
      case Target::kFileSystem:
        return reinterpret_cast<ServiceObject*>(fs);
      case Target::kSearchResult:
        return reinterpret_cast<ServiceObject*>(search);
      case Target::kExport:
        break;
    }
    return nullptr;
  }
  uint32_t Atom(const char* name) const { return AtomOf(name); }

  sl::sdk::Module& module = TheModule();
  fstest::TempFolder dir;
  const std::u16string file = dir / u"file";
  const std::u16string readOnly = dir / u"read-only";
  const std::u16string full = dir / u"full";
  const std::u16string missing = dir / u"missing";
  SLFileSystemService* fss = nullptr;
  SLStreamService* ss = nullptr;
  SLFileSystem* fs = nullptr;
  SLFileSystemSearchResult* search = nullptr;
  SLFileHandle readHandle = nullptr;
  SLStreamHandle readStream = nullptr;
  SLStreamHandle writeStream = nullptr;

 private:
  template <class T>
  T* Create(const char* name) {
    ServiceObject* object = nullptr;
    module.create(Atom(name), &object);
    return reinterpret_cast<T*>(object);
  }
  void MakeFile(const std::u16string& path) {
    SLFileHandle handle = nullptr;
    fs->OpenFile(fs, path.c_str(), SL_OPEN_CREATE, &handle);
    fs->CloseFile(fs, handle);
  }
};

// The entry's result, or kOutArgumentChanged when it wrote an out argument it had to leave.
// The check is a callable so that it runs after the entry, whatever the order in which the
// arguments are evaluated.
template <class Check>
SLResult Kept(SLResult result, Check outUnchanged) {
  return outUnchanged() ? result : kOutArgumentChanged;
}

// Tells, when called, whether `variable` still holds `value`.
template <class V, class W>
auto Still(const V& variable, W value) {
  return [&variable, value] { return variable == static_cast<V>(value); };
}

template <class T>
T* Sentinel() {
  return reinterpret_cast<T*>(uintptr_t{0x5E27});
}

// GetWeakRef and GetErrorInfo behave alike on every object: the case runs on all four.
template <class Call>
SLResult OnEveryObject(Context& c, Call call) {
  SLResult common = 0;
  bool first = true;
  for (const Target target : {Target::kFileSystemService, Target::kStreamService,
                              Target::kFileSystem, Target::kSearchResult}) {
    const SLResult result = call(c.Object(target));
    if (!first && result != common) return kOutArgumentChanged;
    common = result;
    first = false;
  }
  return common;
}

struct Case {
  const char* entry;
  const char* condition;
  SLResult expected;
  Target target;
  Recorded recorded;
  SLResult (*run)(Context& c);
};

using R = Recorded;
using T = Target;

inline const Case kCases[] = {
    {"ReflectServiceObjectInfo", "null list pointer", 3, T::kExport, R::kNotAnObject,
     [](Context& c) { uint32_t n = 7; return Kept(c.module.reflect(nullptr, &n), Still(n, 7)); }},
    {"ReflectServiceObjectInfo", "null count pointer", 3, T::kExport, R::kNotAnObject,
     [](Context& c) {
       const ServiceObjectInfo* info = Sentinel<ServiceObjectInfo>();
       return Kept(c.module.reflect(&info, nullptr), Still(info, Sentinel<ServiceObjectInfo>()));
     }},
    {"CreateServiceObject", "class atom 0", 3, T::kExport, R::kNotAnObject,
     [](Context& c) {
       ServiceObject* out = Sentinel<ServiceObject>();
       return Kept(c.module.create(0, &out), Still(out, Sentinel<ServiceObject>()));
     }},
    {"CreateServiceObject", "null out pointer", 3, T::kExport, R::kNotAnObject,
     [](Context& c) { return c.module.create(c.Atom(SL_CLASS_STREAM_SERVICE), nullptr); }},
    {"CreateServiceObject", "atom of no class", 11, T::kExport, R::kNotAnObject,
     [](Context& c) {
       ServiceObject* out = Sentinel<ServiceObject>();
       return Kept(c.module.create(c.Atom("NoSuchClass"), &out),
                   Still(out, Sentinel<ServiceObject>()));
     }},

    {"GetWeakRef (every object)", "null out pointer", 3, T::kFileSystemService, R::kNo,
     [](Context& c) {
       return OnEveryObject(c, [](ServiceObject* o) { return o->header.GetWeakRef(o, nullptr); });
     }},
    {"GetErrorInfo (every object)", "null out pointer", 3, T::kFileSystemService, R::kNo,
     [](Context& c) {
       return OnEveryObject(c, [](ServiceObject* o) {
         return o->header.GetErrorInfo(o, nullptr, 0);
       });
     }},
    {"GetErrorInfo (every object)", "no failure on the calling thread", 11, T::kFileSystemService,
     R::kNo,
     [](Context& c) {
       return OnEveryObject(c, [](ServiceObject* o) {
         SLErrorInfo info{};
         info.line = 99;
         return Kept(o->header.GetErrorInfo(o, &info, 0),
                     [&] { return info.line == 0 && info.message == nullptr; });
       });
     }},

    {"SLFileSystemService::GetDefaultFileSystem", "null out pointer", 3, T::kFileSystemService,
     R::kYes, [](Context& c) { return c.fss->GetDefaultFileSystem(c.fss, nullptr); }},
    {"SLFileSystemService::RegisterFileSystem", "null file system", 3, T::kFileSystemService,
     R::kYes, [](Context& c) { return c.fss->RegisterFileSystem(c.fss, nullptr); }},
    {"SLFileSystemService::RegisterFileSystem", "name already registered", 16,
     T::kFileSystemService, R::kYes,
     [](Context& c) {
       const uint32_t refs = fstest::RefCount(c.fs);
       return Kept(c.fss->RegisterFileSystem(c.fss, c.fs), Still(refs, fstest::RefCount(c.fs)));
     }},
    {"SLFileSystemService::UnregisterFileSystem", "null file system", 3, T::kFileSystemService,
     R::kYes, [](Context& c) { return c.fss->UnregisterFileSystem(c.fss, nullptr); }},
    {"SLFileSystemService::UnregisterFileSystem", "name not registered", 11,
     T::kFileSystemService, R::kYes,
     [](Context& c) {
       sltest::FaultFileSystem stranger(c.fs, c.Atom("Stranger"));
       return c.fss->UnregisterFileSystem(c.fss, stranger.fs());
     }},
    {"SLFileSystemService::GetRegisteredFileSystemByName", "atom 0", 3, T::kFileSystemService,
     R::kYes,
     [](Context& c) {
       SLFileSystem* out = Sentinel<SLFileSystem>();
       return Kept(c.fss->GetRegisteredFileSystemByName(c.fss, 0, &out),
                   Still(out, Sentinel<SLFileSystem>()));
     }},
    {"SLFileSystemService::GetRegisteredFileSystemByName", "null out pointer", 3,
     T::kFileSystemService, R::kYes,
     [](Context& c) {
       return c.fss->GetRegisteredFileSystemByName(c.fss, c.Atom("Default"), nullptr);
     }},
    {"SLFileSystemService::GetRegisteredFileSystemByName", "name not registered", 11,
     T::kFileSystemService, R::kYes,
     [](Context& c) {
       SLFileSystem* out = Sentinel<SLFileSystem>();
       return Kept(c.fss->GetRegisteredFileSystemByName(c.fss, c.Atom("Stranger"), &out),
                   Still(out, Sentinel<SLFileSystem>()));
     }},

    {"SLFileSystem::GetFileSystemName", "null out pointer", 3, T::kFileSystem, R::kYes,
     [](Context& c) { return c.fs->GetFileSystemName(c.fs, nullptr); }},
    {"SLFileSystem::CreateFolder", "null path", 3, T::kFileSystem, R::kYes,
     [](Context& c) { return c.fs->CreateFolder(c.fs, nullptr); }},
    {"SLFileSystem::CreateFolder", "folder exists", 16, T::kFileSystem, R::kYes,
     [](Context& c) { return c.fs->CreateFolder(c.fs, c.full.c_str()); }},
    {"SLFileSystem::CreateFolder", "parent missing", 7, T::kFileSystem, R::kYes,
     [](Context& c) { return c.fs->CreateFolder(c.fs, (c.missing + u"\\child").c_str()); }},
    {"SLFileSystem::CreateAllFolders", "null path", 3, T::kFileSystem, R::kYes,
     [](Context& c) { return c.fs->CreateAllFolders(c.fs, nullptr); }},
    {"SLFileSystem::CreateAllFolders", "relative path", 7, T::kFileSystem, R::kYes,
     [](Context& c) { return c.fs->CreateAllFolders(c.fs, u"relative\\folder"); }},
    {"SLFileSystem::CreateAllFolders", "folder exists", 16, T::kFileSystem, R::kYes,
     [](Context& c) { return c.fs->CreateAllFolders(c.fs, c.full.c_str()); }},
    {"SLFileSystem::RemoveFolder", "null path", 3, T::kFileSystem, R::kYes,
     [](Context& c) { return c.fs->RemoveFolder(c.fs, nullptr); }},
    {"SLFileSystem::RemoveFolder", "folder not empty", 7, T::kFileSystem, R::kYes,
     [](Context& c) { return c.fs->RemoveFolder(c.fs, c.full.c_str()); }},
    {"SLFileSystem::RemoveFolder", "folder missing", 11, T::kFileSystem, R::kYes,
     [](Context& c) { return c.fs->RemoveFolder(c.fs, c.missing.c_str()); }},
    {"SLFileSystem::OpenFile", "null path", 3, T::kFileSystem, R::kYes,
     [](Context& c) {
       SLFileHandle out = Sentinel<void>();
       return Kept(c.fs->OpenFile(c.fs, nullptr, SL_OPEN_READ, &out), Still(out, Sentinel<void>()));
     }},
    {"SLFileSystem::OpenFile", "null out pointer", 3, T::kFileSystem, R::kYes,
     [](Context& c) { return c.fs->OpenFile(c.fs, c.file.c_str(), SL_OPEN_READ, nullptr); }},
    {"SLFileSystem::OpenFile", "mode 0", 3, T::kFileSystem, R::kYes,
     [](Context& c) {
       SLFileHandle out = Sentinel<void>();
       return Kept(c.fs->OpenFile(c.fs, c.file.c_str(), 0, &out), Still(out, Sentinel<void>()));
     }},
    {"SLFileSystem::OpenFile", "mode without bits 1, 2, 4 (8)", 3, T::kFileSystem, R::kYes,
     [](Context& c) {
       SLFileHandle out = Sentinel<void>();
       return Kept(c.fs->OpenFile(c.fs, c.file.c_str(), 8, &out), Still(out, Sentinel<void>()));
     }},
    {"SLFileSystem::OpenFile", "read (1): file missing", 11, T::kFileSystem, R::kYes,
     [](Context& c) {
       SLFileHandle out = Sentinel<void>();
       return Kept(c.fs->OpenFile(c.fs, c.missing.c_str(), SL_OPEN_READ, &out),
                   Still(out, Sentinel<void>()));
     }},
    {"SLFileSystem::OpenFile", "write (2): file missing", 11, T::kFileSystem, R::kYes,
     [](Context& c) {
       SLFileHandle out = Sentinel<void>();
       return Kept(c.fs->OpenFile(c.fs, c.missing.c_str(), SL_OPEN_WRITE, &out),
                   Still(out, Sentinel<void>()));
     }},
    {"SLFileSystem::OpenFile", "write (2): read-only file", 15, T::kFileSystem, R::kYes,
     [](Context& c) {
       SLFileHandle out = Sentinel<void>();
       return Kept(c.fs->OpenFile(c.fs, c.readOnly.c_str(), SL_OPEN_WRITE, &out),
                   Still(out, Sentinel<void>()));
     }},
    {"SLFileSystem::OpenFile", "create (4): file open elsewhere", 7, T::kFileSystem, R::kYes,
     [](Context& c) {
       SLFileHandle out = Sentinel<void>();
       return Kept(c.fs->OpenFile(c.fs, c.file.c_str(), SL_OPEN_CREATE, &out),
                   Still(out, Sentinel<void>()));
     }},
    {"SLFileSystem::CloseFile", "null handle", 3, T::kFileSystem, R::kYes,
     [](Context& c) { return c.fs->CloseFile(c.fs, nullptr); }},
    {"SLFileSystem::IsFileExists", "null path", 3, T::kFileSystem, R::kYes,
     [](Context& c) {
       uint8_t exists = 7;
       return Kept(c.fs->IsFileExists(c.fs, nullptr, &exists), Still(exists, 7));
     }},
    {"SLFileSystem::IsFileExists", "null out pointer", 3, T::kFileSystem, R::kYes,
     [](Context& c) { return c.fs->IsFileExists(c.fs, c.file.c_str(), nullptr); }},
    {"SLFileSystem::ReadFile", "null handle", 3, T::kFileSystem, R::kYes,
     [](Context& c) {
       char buffer[4];
       uint64_t done = 7;
       return Kept(c.fs->ReadFile(c.fs, nullptr, buffer, 4, &done), Still(done, 7));
     }},
    {"SLFileSystem::ReadFile", "null buffer", 3, T::kFileSystem, R::kYes,
     [](Context& c) {
       uint64_t done = 7;
       return Kept(c.fs->ReadFile(c.fs, c.readHandle, nullptr, 4, &done), Still(done, 7));
     }},
    {"SLFileSystem::ReadFile", "size 0", 3, T::kFileSystem, R::kYes,
     [](Context& c) {
       char buffer[4];
       uint64_t done = 7;
       return Kept(c.fs->ReadFile(c.fs, c.readHandle, buffer, 0, &done), Still(done, 7));
     }},
    {"SLFileSystem::WriteFile", "null handle", 3, T::kFileSystem, R::kYes,
     [](Context& c) {
       uint64_t done = 7;
       return Kept(c.fs->WriteFile(c.fs, nullptr, "abcd", 4, &done), Still(done, 7));
     }},
    {"SLFileSystem::WriteFile", "null buffer", 3, T::kFileSystem, R::kYes,
     [](Context& c) {
       uint64_t done = 7;
       return Kept(c.fs->WriteFile(c.fs, c.readHandle, nullptr, 4, &done), Still(done, 7));
     }},
    {"SLFileSystem::WriteFile", "size 0", 3, T::kFileSystem, R::kYes,
     [](Context& c) {
       uint64_t done = 7;
       return Kept(c.fs->WriteFile(c.fs, c.readHandle, "abcd", 0, &done), Still(done, 7));
     }},
    {"SLFileSystem::WriteFile", "handle open for reading", 15, T::kFileSystem, R::kYes,
     [](Context& c) {
       uint64_t done = 7;
       return Kept(c.fs->WriteFile(c.fs, c.readHandle, "abcd", 4, &done), Still(done, 0));
     }},
    {"SLFileSystem::FlushFile", "null handle", 3, T::kFileSystem, R::kYes,
     [](Context& c) { return c.fs->FlushFile(c.fs, nullptr); }},
    {"SLFileSystem::FlushFile", "handle open for reading", 15, T::kFileSystem, R::kYes,
     [](Context& c) { return c.fs->FlushFile(c.fs, c.readHandle); }},
    {"SLFileSystem::GetFilePos", "null handle", 3, T::kFileSystem, R::kYes,
     [](Context& c) {
       uint64_t position = 7;
       return Kept(c.fs->GetFilePos(c.fs, nullptr, &position), Still(position, 7));
     }},
    {"SLFileSystem::GetFilePos", "null out pointer", 3, T::kFileSystem, R::kYes,
     [](Context& c) { return c.fs->GetFilePos(c.fs, c.readHandle, nullptr); }},
    {"SLFileSystem::SetFilePos", "null handle", 3, T::kFileSystem, R::kYes,
     [](Context& c) { return c.fs->SetFilePos(c.fs, nullptr, 0); }},
    {"SLFileSystem::SetFilePos", "position -1", 7, T::kFileSystem, R::kYes,
     [](Context& c) {
       uint64_t position = 7;
       const SLResult result = c.fs->SetFilePos(c.fs, c.readHandle, -1);
       c.fs->GetFilePos(c.fs, c.readHandle, &position);
       return Kept(result, Still(position, 0));
     }},
    {"SLFileSystem::GetFileSize", "null handle", 3, T::kFileSystem, R::kYes,
     [](Context& c) {
       uint64_t size = 7;
       return Kept(c.fs->GetFileSize(c.fs, nullptr, &size), Still(size, 7));
     }},
    {"SLFileSystem::GetFileSize", "null out pointer", 3, T::kFileSystem, R::kYes,
     [](Context& c) { return c.fs->GetFileSize(c.fs, c.readHandle, nullptr); }},
    {"SLFileSystem::RemoveFile", "null path", 3, T::kFileSystem, R::kYes,
     [](Context& c) { return c.fs->RemoveFile(c.fs, nullptr); }},
    {"SLFileSystem::RemoveFile", "file missing", 11, T::kFileSystem, R::kYes,
     [](Context& c) { return c.fs->RemoveFile(c.fs, c.missing.c_str()); }},
    {"SLFileSystem::RemoveFile", "read-only file", 15, T::kFileSystem, R::kYes,
     [](Context& c) { return c.fs->RemoveFile(c.fs, c.readOnly.c_str()); }},
    {"SLFileSystem::RemoveFile", "file open without delete sharing", 7, T::kFileSystem, R::kYes,
     [](Context& c) {
       const std::u16string held = c.dir / u"held";
       SLFileHandle handle = nullptr;
       c.fs->OpenFile(c.fs, held.c_str(), SL_OPEN_CREATE, &handle);
       const SLResult result = c.fs->RemoveFile(c.fs, held.c_str());
       c.fs->CloseFile(c.fs, handle);
       return result;
     }},
    {"SLFileSystem::MakeDIPathFromPath", "null arguments (none is looked at)", 1, T::kFileSystem,
     R::kNo, [](Context& c) { return c.fs->MakeDIPathFromPath(c.fs, nullptr, nullptr, 0); }},
    {"SLFileSystem::MakePathFromDIPath", "null arguments (none is looked at)", 1, T::kFileSystem,
     R::kNo, [](Context& c) { return c.fs->MakePathFromDIPath(c.fs, nullptr, nullptr, 0); }},
    {"SLFileSystem::Search", "null pattern", 3, T::kFileSystem, R::kYes,
     [](Context& c) {
       SLFileSystemSearchResult* out = Sentinel<SLFileSystemSearchResult>();
       return Kept(c.fs->Search(c.fs, nullptr, &out),
                   Still(out, Sentinel<SLFileSystemSearchResult>()));
     }},
    {"SLFileSystem::Search", "null out pointer", 3, T::kFileSystem, R::kYes,
     [](Context& c) { return c.fs->Search(c.fs, (c.dir / u"*").c_str(), nullptr); }},
    {"SLFileSystem::Search", "nothing matches", 3, T::kFileSystem, R::kYes,
     [](Context& c) {
       SLFileSystemSearchResult* out = Sentinel<SLFileSystemSearchResult>();
       return Kept(c.fs->Search(c.fs, (c.dir / u"*.none").c_str(), &out),
                   Still(out, Sentinel<SLFileSystemSearchResult>()));
     }},
    {"SLFileSystem::Search", "folder missing", 3, T::kFileSystem, R::kYes,
     [](Context& c) {
       SLFileSystemSearchResult* out = Sentinel<SLFileSystemSearchResult>();
       return Kept(c.fs->Search(c.fs, (c.missing + u"\\*").c_str(), &out),
                   Still(out, Sentinel<SLFileSystemSearchResult>()));
     }},
    {"SLFileSystem::Search", "empty pattern", 3, T::kFileSystem, R::kYes,
     [](Context& c) {
       SLFileSystemSearchResult* out = Sentinel<SLFileSystemSearchResult>();
       return Kept(c.fs->Search(c.fs, u"", &out), Still(out, Sentinel<SLFileSystemSearchResult>()));
     }},
    {"SLFileSystem::Search", "pattern ending in a separator", 3, T::kFileSystem, R::kYes,
     [](Context& c) {
       SLFileSystemSearchResult* out = Sentinel<SLFileSystemSearchResult>();
       return Kept(c.fs->Search(c.fs, (c.full + u"\\").c_str(), &out),
                   Still(out, Sentinel<SLFileSystemSearchResult>()));
     }},

    {"SLFileSystemSearchResult::GetCount", "null out pointer", 3, T::kSearchResult, R::kYes,
     [](Context& c) { return c.search->GetCount(c.search, nullptr); }},
    {"SLFileSystemSearchResult::GetFileInfo", "null out pointer", 3, T::kSearchResult, R::kYes,
     [](Context& c) { return c.search->GetFileInfo(c.search, 0, nullptr); }},
    {"SLFileSystemSearchResult::GetFileInfo", "index equal to the count", 3, T::kSearchResult,
     R::kYes,
     [](Context& c) {
       uint64_t count = 0;
       c.search->GetCount(c.search, &count);
       const SLChar16* name = Sentinel<const SLChar16>();
       return Kept(c.search->GetFileInfo(c.search, static_cast<uint32_t>(count), &name),
                   Still(name, Sentinel<const SLChar16>()));
     }},

    {"SLStreamService::OpenMemReadStream", "null data (size 0)", 3, T::kStreamService, R::kYes,
     [](Context& c) {
       SLStreamHandle out = Sentinel<SLStream>();
       return Kept(c.ss->OpenMemReadStream(c.ss, nullptr, 0, &out),
                   Still(out, Sentinel<SLStream>()));
     }},
    {"SLStreamService::OpenMemReadStream", "null out handle", 3, T::kStreamService, R::kYes,
     [](Context& c) { return c.ss->OpenMemReadStream(c.ss, "x", 1, nullptr); }},
    {"SLStreamService::OpenFileReadStream", "null file system", 3, T::kStreamService, R::kYes,
     [](Context& c) {
       SLStreamHandle out = Sentinel<SLStream>();
       return Kept(c.ss->OpenFileReadStream(c.ss, nullptr, c.readHandle, &out),
                   Still(out, Sentinel<SLStream>()));
     }},
    {"SLStreamService::OpenFileReadStream", "null out handle", 3, T::kStreamService, R::kYes,
     [](Context& c) {
       const uint32_t refs = fstest::RefCount(c.fs);
       return Kept(c.ss->OpenFileReadStream(c.ss, c.fs, c.readHandle, nullptr),
                   Still(refs, fstest::RefCount(c.fs)));
     }},
    {"SLStreamService::OpenFileWriteStream", "null file system", 3, T::kStreamService, R::kYes,
     [](Context& c) {
       SLStreamHandle out = Sentinel<SLStream>();
       return Kept(c.ss->OpenFileWriteStream(c.ss, nullptr, c.readHandle, &out),
                   Still(out, Sentinel<SLStream>()));
     }},
    {"SLStreamService::OpenFileWriteStream", "null out handle", 3, T::kStreamService, R::kYes,
     [](Context& c) {
       const uint32_t refs = fstest::RefCount(c.fs);
       return Kept(c.ss->OpenFileWriteStream(c.ss, c.fs, c.readHandle, nullptr),
                   Still(refs, fstest::RefCount(c.fs)));
     }},
    {"SLStreamService::OpenReadStream", "null handler", 3, T::kStreamService, R::kYes,
     [](Context& c) {
       SLStreamHandle out = Sentinel<SLStream>();
       return Kept(c.ss->OpenReadStream(c.ss, nullptr, nullptr, &out),
                   Still(out, Sentinel<SLStream>()));
     }},
    {"SLStreamService::OpenReadStream", "null out handle", 3, T::kStreamService, R::kYes,
     [](Context& c) {
       const SLReadHandler handler = {nullptr, nullptr, nullptr};
       return c.ss->OpenReadStream(c.ss, &handler, nullptr, nullptr);
     }},
    {"SLStreamService::OpenWriteStream", "null handler", 3, T::kStreamService, R::kYes,
     [](Context& c) {
       SLStreamHandle out = Sentinel<SLStream>();
       return Kept(c.ss->OpenWriteStream(c.ss, nullptr, nullptr, &out),
                   Still(out, Sentinel<SLStream>()));
     }},
    {"SLStreamService::OpenWriteStream", "null out handle", 3, T::kStreamService, R::kYes,
     [](Context& c) {
       const SLWriteHandler handler = {nullptr, nullptr, nullptr};
       return c.ss->OpenWriteStream(c.ss, &handler, nullptr, nullptr);
     }},
    {"SLStreamService::ReadStream", "null handle", 3, T::kStreamService, R::kYes,
     [](Context& c) {
       char buffer[4];
       uint64_t done = 7;
       return Kept(c.ss->ReadStream(c.ss, nullptr, buffer, 4, &done), Still(done, 7));
     }},
    {"SLStreamService::ReadStream", "write-stream handle", 3, T::kStreamService, R::kYes,
     [](Context& c) {
       char buffer[4];
       uint64_t done = 7;
       return Kept(c.ss->ReadStream(c.ss, c.writeStream, buffer, 4, &done), Still(done, 7));
     }},
    {"SLStreamService::ReadStream", "null out count", 3, T::kStreamService, R::kYes,
     [](Context& c) {
       char buffer[4];
       const SLResult result = c.ss->ReadStream(c.ss, c.readStream, buffer, 4, nullptr);
       uint64_t done = 0;  // nothing was taken from the stream
       c.ss->ReadStream(c.ss, c.readStream, buffer, 4, &done);
       return Kept(result, Still(done, 4));
     }},
    {"SLStreamService::WriteStream", "null handle", 3, T::kStreamService, R::kYes,
     [](Context& c) {
       uint64_t done = 7;
       return Kept(c.ss->WriteStream(c.ss, nullptr, "abcd", 4, &done), Still(done, 7));
     }},
    {"SLStreamService::WriteStream", "read-stream handle", 3, T::kStreamService, R::kYes,
     [](Context& c) {
       uint64_t done = 7;
       return Kept(c.ss->WriteStream(c.ss, c.readStream, "abcd", 4, &done), Still(done, 7));
     }},
    {"SLStreamService::WriteStream", "null out count", 3, T::kStreamService, R::kYes,
     [](Context& c) { return c.ss->WriteStream(c.ss, c.writeStream, "abcd", 4, nullptr); }},
    {"SLStreamService::FlushStream", "null handle", 3, T::kStreamService, R::kYes,
     [](Context& c) { return c.ss->FlushStream(c.ss, nullptr); }},
    {"SLStreamService::FlushStream", "read-stream handle (nothing to flush)", 0,
     T::kStreamService, R::kNo, [](Context& c) { return c.ss->FlushStream(c.ss, c.readStream); }},
    {"SLStreamService::CloseStream", "null handle", 0, T::kStreamService, R::kNo,
     [](Context& c) { return c.ss->CloseStream(c.ss, nullptr); }},
};

// The table of docs/reliability.md, one row per case.
inline std::string MarkdownTable() {
  std::string table =
      "| Entry | Invalid argument | Result | Recorded for the calling thread |\n"
      "|---|---|---|---|\n";
  for (const Case& c : kCases) {
    const char* recorded = c.recorded == Recorded::kYes  ? "yes"
                           : c.recorded == Recorded::kNo ? "no"
                                                         : "no (exports have no object)";
    table += std::string("| `") + c.entry + "` | " + c.condition + " | " +
             std::to_string(c.expected) + " | " + recorded + " |\n";
  }
  return table;
}

}  // namespace badinput
