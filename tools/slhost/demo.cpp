// `slhost demo`: a narrated walk through the module as a host uses it. Everything goes through
// the module's exports and object tables; nothing here knows the module's internals.
#include "demo.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>

#include "slservices/sl_exception.hpp"

namespace slhost {
namespace {

std::string Utf8(const SLChar16* text) {
  std::string out;
  for (; text != nullptr && *text != 0; ++text) {
    uint32_t unit = *text;
    if (unit >= 0xD800 && unit <= 0xDBFF && text[1] >= 0xDC00 && text[1] <= 0xDFFF) {
      unit = 0x10000 + ((unit - 0xD800) << 10) + (text[1] - 0xDC00);
      ++text;
    }
    if (unit < 0x80) {
      out += static_cast<char>(unit);
    } else if (unit < 0x800) {
      out += static_cast<char>(0xC0 | (unit >> 6));
      out += static_cast<char>(0x80 | (unit & 0x3F));
    } else if (unit < 0x10000) {
      out += static_cast<char>(0xE0 | (unit >> 12));
      out += static_cast<char>(0x80 | ((unit >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (unit & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (unit >> 18));
      out += static_cast<char>(0x80 | ((unit >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((unit >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (unit & 0x3F));
    }
  }
  return out;
}

template <class T>
ServiceObject* Obj(T* object) {
  return reinterpret_cast<ServiceObject*>(object);
}

template <class T>
uint32_t Refs(T* object) {
  return Obj(object)->header.GetRefCount(Obj(object));
}

// Prints one call's outcome; a failure also shows the record the object keeps for this thread.
template <class T>
bool Show(const char* what, SLResult result, T* object) {
  std::printf("  %-44s -> %" PRIu32 "\n", what, result);
  if (!SL_FAILED(result)) return true;
  SLErrorInfo info{};
  if (Obj(object)->header.GetErrorInfo(Obj(object), &info, 0) == SL_OK) {
    std::printf("     GetErrorInfo: \"%s\" (line %" PRIu32 " of %s)\n", Utf8(info.message).c_str(),
                info.line, info.sourceFile);
  }
  return false;
}

void PrintHeader(const ServiceObject* object) {
  const ServiceFunctionTable& header = object->header;
  const auto* bytes = reinterpret_cast<const unsigned char*>(object);
  char marker[5] = {};
  uint32_t stamp = 0;
  std::memcpy(marker, bytes + 56 + header.tableSize, 4);
  std::memcpy(&stamp, bytes + 60 + header.tableSize, 4);
  std::printf("    %s: id 0x%08" PRIx32 ", %" PRIu32 " entries, \"%s\", stamp 0x%08" PRIx32
              ", references %" PRIu32 "\n",
              header.interfaceName, header.interfaceId, header.tableSize / 8, marker, stamp,
              header.GetRefCount(const_cast<ServiceObject*>(object)));
}

uint32_t AtomOf(const char* name) {
  uint32_t atom = SL_UNRESOLVED_ATOM;
  SLGetAtomFromString(name, &atom);
  return atom;
}

int ListClasses(const sl::sdk::Module& module) {
  std::printf("\n1. The classes the module offers\n");
  const ServiceObjectInfo* classes = nullptr;
  uint32_t count = 0;
  const SLResult result = module.reflect(&classes, &count);
  std::printf("  ReflectServiceObjectInfo -> %" PRIu32 ", %" PRIu32 " classes\n", result, count);
  for (uint32_t i = 0; i < count; ++i) {
    std::printf("  [%" PRIu32 "] %-18s atom 0x%08" PRIx32 " (listed as 0x%08" PRIx32 ")\n", i,
                classes[i].className, AtomOf(classes[i].className), classes[i].classAtom);
  }
  return result == SL_OK ? 0 : 1;
}

// Files and folders through the default file system, in a temporary folder.
int FileSystemTour(SLFileSystem* fs, const std::u16string& root) {
  std::printf("\n3. The default file system at work in a temporary folder\n");
  const std::u16string nested = root + u"/reports/2026";
  const std::u16string file = nested + u"/hello.txt";
  if (!Show("CreateAllFolders(<tmp>/reports/2026)", fs->CreateAllFolders(fs, nested.c_str()), fs))
    return 1;
  Show("CreateFolder(<tmp>/reports) again", fs->CreateFolder(fs, (root + u"/reports").c_str()), fs);

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
  const std::u16string pattern = nested + u"/*.txt";
  if (Show("Search(<tmp>/reports/2026/*.txt)", fs->Search(fs, pattern.c_str(), &found), fs)) {
    uint64_t count = 0;
    found->GetCount(found, &count);
    for (uint32_t i = 0; i < count; ++i) {
      const SLChar16* name = nullptr;
      found->GetFileInfo(found, i, &name);
      std::printf("     found \"%s\"\n", Utf8(name).c_str());
    }
    std::printf("     result object released -> %" PRIu32 "\n",
                Obj(found)->header.Release(Obj(found)));
  }

  std::printf("  a failure, and the record it leaves:\n");
  SLFileHandle missing = nullptr;
  Show("OpenFile(missing.txt, read)",
       fs->OpenFile(fs, (nested + u"/missing.txt").c_str(), SL_OPEN_READ, &missing), fs);
  Show("RemoveFolder(<tmp>/reports/2026), not empty", fs->RemoveFolder(fs, nested.c_str()), fs);
  return 0;
}

// The one request from end to end: a file read through a file read stream.
int StreamTour(SLStreamService* streams, SLFileSystem* fs, const std::u16string& root) {
  std::printf("\n4. One request from end to end: a file read through a file read stream\n");
  const std::u16string file = root + u"/reports/2026/hello.txt";
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

int RunDemo(const sl::sdk::Module& module) {
  if (ListClasses(module) != 0) return 1;

  std::printf("\n2. Creating both services\n");
  ServiceObject* fsServiceObject = nullptr;
  ServiceObject* streamObject = nullptr;
  if (!Show("CreateServiceObject(FileSystemService)",
            module.create(AtomOf(SL_CLASS_FILE_SYSTEM_SERVICE), &fsServiceObject), fsServiceObject))
    return 1;
  PrintHeader(fsServiceObject);
  if (!Show("CreateServiceObject(StreamService)",
            module.create(AtomOf(SL_CLASS_STREAM_SERVICE), &streamObject), streamObject))
    return 1;
  PrintHeader(streamObject);
  auto* service = reinterpret_cast<SLFileSystemService*>(fsServiceObject);
  auto* streams = reinterpret_cast<SLStreamService*>(streamObject);

  SLFileSystem* fs = nullptr;
  Show("GetDefaultFileSystem", service->GetDefaultFileSystem(service, &fs), service);
  PrintHeader(Obj(fs));
  uint32_t name = 0;
  fs->GetFileSystemName(fs, &name);
  std::printf("     its name atom 0x%08" PRIx32 " (\"Default\" is 0x%08" PRIx32 ")\n", name,
              AtomOf("Default"));

  namespace stdfs = std::filesystem;
  const stdfs::path root = stdfs::temp_directory_path() / "slhost-demo";
  std::error_code ignored;
  stdfs::remove_all(root, ignored);
  stdfs::create_directories(root);
  const std::u16string rootText = root.generic_u16string();

  int status = FileSystemTour(fs, rootText);
  if (status == 0) status = StreamTour(streams, fs, rootText);
  stdfs::remove_all(root, ignored);

  std::printf("\n5. Releasing everything\n");
  std::printf("  default file system Release -> %" PRIu32 " (the service still holds it)\n",
              Obj(fs)->header.Release(Obj(fs)));
  std::printf("  stream service Release -> %" PRIu32 "\n",
              streamObject->header.Release(streamObject));
  std::printf("  file-system service Release -> %" PRIu32 " (releases its file systems)\n",
              fsServiceObject->header.Release(fsServiceObject));
  return status;
}

}  // namespace slhost
