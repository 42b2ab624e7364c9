// `slhost demo`: a narrated walk through the module as a host uses it. Everything goes through
// the module's exports and object tables; nothing here knows the module's internals.
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>

#include "command.h"
#include "demo_support.h"

namespace slhost {

using demo::Obj;
using demo::PrintHeader;
using demo::Refs;
using demo::Show;

namespace {

// Paths below the temporary folder, with the system's own separator: the default file system
// hands paths to the system unchanged, and CreateAllFolders takes only the system's form.
std::u16string Below(const std::u16string& root, const char* relative) {
  return sl::sdk::PathToUtf16(sl::sdk::ToPath(root) /
                              std::filesystem::path(relative).make_preferred());
}

int ListClasses(const sl::sdk::Module& module) {
  std::printf("\n1. The classes the module offers\n");
  const ServiceObjectInfo* classes = nullptr;
  uint32_t count = 0;
  const SLResult result = module.reflect(&classes, &count);
  std::printf("  ReflectServiceObjectInfo -> %" PRIu32 ", %" PRIu32 " classes\n", result, count);
  for (uint32_t i = 0; i < count; ++i) {
    std::printf("  [%" PRIu32 "] %-18s atom 0x%08" PRIx32 " (listed as 0x%08" PRIx32 ")\n", i,
                classes[i].className, module.Atom(classes[i].className), classes[i].classAtom);
  }
  return result == SL_OK ? 0 : 1;
}

// Files and folders through the default file system, in a temporary folder.
int FileSystemTour(SLFileSystem* fs, const std::u16string& root) {
  std::printf("\n3. The default file system at work in a temporary folder\n");
  const std::u16string nested = Below(root, "reports/2026");
  const std::u16string file = Below(nested, "hello.txt");
  if (!Show("CreateAllFolders(<tmp>/reports/2026)", fs->CreateAllFolders(fs, nested.c_str()), fs))
    return 1;
  Show("CreateFolder(<tmp>/reports) again", fs->CreateFolder(fs, Below(root, "reports").c_str()),
       fs);

  SLFileHandle handle = nullptr;
  if (!Show("OpenFile(hello.txt, create)", fs->OpenFile(fs, file.c_str(), SL_OPEN_CREATE, &handle),
            fs))
    return 1;
  const char text[] = "Hello from the service-object module.\n";
  uint64_t done = 0;
  Show("WriteFile(38 bytes)", fs->WriteFile(fs, handle, text, sizeof(text) - 1, &done), fs);
  uint64_t size = 0;
  Show("GetFileSize", fs->GetFileSize(fs, handle, &size), fs);
  std::printf("     size %" PRIu64 " bytes\n", size);
  Show("CloseFile", fs->CloseFile(fs, handle), fs);

  SLFileSystemSearchResult* found = nullptr;
  const std::u16string pattern = Below(nested, "*.txt");
  if (Show("Search(<tmp>/reports/2026/*.txt)", fs->Search(fs, pattern.c_str(), &found), fs)) {
    uint64_t count = 0;
    found->GetCount(found, &count);
    for (uint32_t i = 0; i < count; ++i) {
      const SLChar16* name = nullptr;
      found->GetFileInfo(found, i, &name);
      std::printf("     found \"%s\"\n", sl::sdk::ToUtf8(name).c_str());
    }
    std::printf("     result object released -> %" PRIu32 "\n",
                Obj(found)->header.Release(Obj(found)));
  }

  std::printf("  a failure, and the record it leaves:\n");
  SLFileHandle missing = nullptr;
  Show("OpenFile(missing.txt, read)",
       fs->OpenFile(fs, Below(nested, "missing.txt").c_str(), SL_OPEN_READ, &missing), fs);
  Show("RemoveFolder(<tmp>/reports/2026), not empty", fs->RemoveFolder(fs, nested.c_str()), fs);
  return 0;
}

// The one request from end to end: a file read through a file read stream.
int StreamTour(SLStreamService* streams, SLFileSystem* fs, const std::u16string& root) {
  std::printf("\n4. One request from end to end: a file read through a file read stream\n");
  const std::u16string file = Below(root, "reports/2026/hello.txt");
  SLFileHandle handle = nullptr;
  if (!Show("OpenFile(hello.txt, read)", fs->OpenFile(fs, file.c_str(), SL_OPEN_READ, &handle), fs))
    return 1;
  SLStreamHandle stream = nullptr;
  std::printf("     file system references before the stream: %" PRIu32 "\n", Refs(fs));
  if (!Show("OpenFileReadStream", streams->OpenFileReadStream(streams, fs, handle, &stream),
            streams))
    return 1;
  std::printf("     file system references while the stream is open: %" PRIu32 "\n", Refs(fs));
  char buffer[128] = {};
  uint64_t done = 0;
  Show("ReadStream(127 bytes)", streams->ReadStream(streams, stream, buffer, 127, &done), streams);
  std::printf("     read %" PRIu64 " bytes: %s", done, buffer);
  Show("CloseStream (closes the file too)", streams->CloseStream(streams, stream), streams);
  std::printf("     file system references after the stream: %" PRIu32 "\n", Refs(fs));

  std::printf("  a memory stream over the host's own bytes:\n");
  const char bytes[] = "0123456789";
  Show("OpenMemReadStream(10 bytes)", streams->OpenMemReadStream(streams, bytes, 10, &stream),
       streams);
  for (int i = 0; i < 4; ++i) {
    char part[5] = {};
    streams->ReadStream(streams, stream, part, 4, &done);
    std::printf("     ReadStream(4) -> count %" PRIu64 " \"%s\"\n", done, part);
  }
  streams->CloseStream(streams, stream);
  Show("ReadStream(null handle)", streams->ReadStream(streams, nullptr, buffer, 1, &done), streams);
  return 0;
}

}  // namespace

int RunDemo(Context& context) {
  const sl::sdk::Module& module = context.module;
  std::printf("loaded %s\n", sl::sdk::ToUtf8(sl::sdk::PathToUtf16(module.path())).c_str());
  if (ListClasses(module) != 0) return kEntryFailed;

  std::printf("\n2. Creating both services\n");
  ServiceObject* fsServiceObject = nullptr;
  ServiceObject* streamObject = nullptr;
  if (!Show("CreateServiceObject(FileSystemService)",
            module.create(module.Atom(SL_CLASS_FILE_SYSTEM_SERVICE), &fsServiceObject),
            fsServiceObject))
    return kEntryFailed;
  PrintHeader(fsServiceObject);
  if (!Show("CreateServiceObject(StreamService)",
            module.create(module.Atom(SL_CLASS_STREAM_SERVICE), &streamObject), streamObject))
    return kEntryFailed;
  PrintHeader(streamObject);
  auto* service = reinterpret_cast<SLFileSystemService*>(fsServiceObject);
  auto* streams = reinterpret_cast<SLStreamService*>(streamObject);

  SLFileSystem* fs = nullptr;
  Show("GetDefaultFileSystem", service->GetDefaultFileSystem(service, &fs), service);
  PrintHeader(Obj(fs));
  uint32_t name = 0;
  fs->GetFileSystemName(fs, &name);
  std::printf("     its name atom 0x%08" PRIx32 " (\"Default\" is 0x%08" PRIx32 ")\n", name,
              module.Atom("Default"));

  // A folder of this run's own: several demos may run at once.
  namespace stdfs = std::filesystem;
  std::random_device random;
  const stdfs::path root =
      stdfs::temp_directory_path() /
      ("slhost-demo-" + std::to_string(random()) + "-" +
       std::to_string(std::chrono::steady_clock::now().time_since_epoch().count() % 1000000));
  std::error_code ignored;
  stdfs::create_directories(root);
  const std::u16string rootText = sl::sdk::PathToUtf16(root);

  sl::sdk::Ref<sl::sdk::MemoryFileSystem> memory;
  int status = FileSystemTour(fs, rootText);
  if (status == 0) status = StreamTour(streams, fs, rootText);
  stdfs::remove_all(root, ignored);
  if (status == 0) status = demo::CallbackTour(streams);
  if (status == 0) status = demo::MemoryTour(module, service, streams, &memory);

  std::printf("\n7. Weak references\n");
  ServiceObjectWeakRef* weak = nullptr;
  Show("stream service GetWeakRef", streamObject->header.GetWeakRef(streamObject, &weak),
       streamObject);
  std::printf("     weak count %" PRIu32 " (the object's own and ours), IsAlive %d\n",
              weak->GetRefCount(weak), weak->IsAlive(weak));
  ServiceObject* locked = weak->Lock(weak);
  std::printf("  Lock -> the same object: %s, references %" PRIu32 "\n",
              locked == streamObject ? "yes" : "no", Refs(streamObject));
  std::printf("  Release of the locked reference -> %" PRIu32 "\n", locked->header.Release(locked));
  sl::sdk::WeakRef<SLFileSystem> memoryWeak;
  if (memory) memoryWeak = sl::sdk::MakeWeak(sl::sdk::Ref<SLFileSystem>::Share(memory->table()));

  std::printf("\n8. Releasing everything\n");
  std::printf("  default file system Release -> %" PRIu32 " (the service still holds it)\n",
              Obj(fs)->header.Release(Obj(fs)));
  if (memory) {
    std::printf("  memory file system Release -> %" PRIu32 " (the registry still holds it)\n",
                memory->Release());
    memory.detach();
  }
  std::printf("  stream service Release -> %" PRIu32 "\n",
              streamObject->header.Release(streamObject));
  const int alive = weak->IsAlive(weak);
  const bool lockedNothing = weak->Lock(weak) == nullptr;
  std::printf("     weak reference: IsAlive %d, Lock -> %s; its Release -> %" PRIu32
              " (block freed)\n",
              alive, lockedNothing ? "null" : "an object", weak->Release(weak));
  std::printf("  file-system service Release -> %" PRIu32 " (releases its file systems)\n",
              fsServiceObject->header.Release(fsServiceObject));
  if (memoryWeak) {
    std::printf("     the memory file system went with it: IsAlive %d\n",
                static_cast<int>(memoryWeak.IsAlive()));
  }
  return status == 0 ? kOk : kEntryFailed;
}

}  // namespace slhost
