// `slhost classes`: the class list and the table header of each of the four interfaces, read
// from live objects.
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <string>

#include "command.h"
#include "table_end.h"

namespace slhost {

namespace {

struct InterfaceEntries {
  const char* name;
  const char* entries;
};

// The interface entries in slot order, for the listing.
constexpr InterfaceEntries kEntries[] = {
    {"SLFileSystemService",
     "GetDefaultFileSystem RegisterFileSystem UnregisterFileSystem GetRegisteredFileSystemByName"},
    {"SLFileSystem",
     "GetFileSystemName CreateFolder CreateAllFolders RemoveFolder OpenFile CloseFile "
     "IsFileExists ReadFile WriteFile FlushFile GetFilePos SetFilePos GetFileSize RemoveFile "
     "MakeDIPathFromPath MakePathFromDIPath Search"},
    {"SLFileSystemSearchResult", "GetCount GetFileInfo"},
    {"SLStreamService",
     "OpenMemReadStream OpenFileReadStream OpenFileWriteStream OpenReadStream OpenWriteStream "
     "ReadStream WriteStream FlushStream CloseStream"},
};

uint32_t Fnv1aLow32(const char* text) {
  uint64_t hash = 0xcbf29ce484222325ull;
  for (; *text != '\0'; ++text) {
    hash ^= static_cast<unsigned char>(*text);
    hash *= 0x100000001b3ull;
  }
  return static_cast<uint32_t>(hash);
}

// Prints the entry names wrapped under the header.
void PrintEntries(const char* interfaceName) {
  for (const InterfaceEntries& known : kEntries) {
    if (std::strcmp(known.name, interfaceName) != 0) continue;
    const std::string indent(17, ' ');
    std::string line = "    entries      ";
    const std::string all = known.entries;
    for (size_t start = 0; start < all.size();) {
      size_t end = all.find(' ', start);
      if (end == std::string::npos) end = all.size();
      const std::string word = all.substr(start, end - start);
      if (line.size() > indent.size() && line.size() + 1 + word.size() > 96) {
        std::printf("%s\n", line.c_str());
        line = indent;
      }
      line += (line.size() > indent.size() ? " " : "") + word;
      start = end + 1;
    }
    std::printf("%s\n", line.c_str());
  }
}

void DescribeTable(ServiceObject* object, const char* from) {
  const ServiceFunctionTable& header = object->header;
  const TableEnd end = ReadTableEnd(object);
  const bool baseEntries = header.AddRef != nullptr && header.Release != nullptr &&
                           header.GetRefCount != nullptr && header.GetWeakRef != nullptr &&
                           header.GetErrorInfo != nullptr;
  std::printf("  %s (%s)\n", header.interfaceName, from);
  std::printf("    interface id 0x%08" PRIx32 " (%s)\n", header.interfaceId,
              header.interfaceId == Fnv1aLow32(header.interfaceName)
                  ? "FNV-1a of the name"
                  : "NOT the FNV-1a of the name");
  std::printf(
      "    table size   %" PRIu32 " bytes: %" PRIu32 " entries after the 5 base entries%s\n",
      header.tableSize, header.tableSize / 8, baseEntries ? "" : " (some base entries null)");
  std::printf("    end marker   \"%s\" at offset %" PRIu32 ", stamp 0x%08" PRIx32 "\n", end.marker,
              end.offset, end.stamp);
  PrintEntries(header.interfaceName);
}

}  // namespace

int RunClasses(Context& context) {
  const sl::sdk::Module& module = context.module;
  std::printf("module %s\n\nclasses\n",
              sl::sdk::ToUtf8(sl::sdk::PathToUtf16(module.path())).c_str());
  for (const auto& info : module.Classes()) {
    std::printf("  %-18s atom 0x%08" PRIx32 "\n", info.name.c_str(),
                module.Atom(info.name.c_str()));
  }

  std::printf("\ninterfaces\n");
  sl::sdk::FileSystemService files(module);
  sl::sdk::StreamService streams(module);
  DescribeTable(reinterpret_cast<ServiceObject*>(files.get()), "class FileSystemService");
  const sl::sdk::FileSystem fs = files.Default();
  DescribeTable(reinterpret_cast<ServiceObject*>(fs.get()), "the default file system");
  sl::sdk::Ref<SLFileSystemSearchResult> found;
  sl::sdk::Check(fs.get()->Search(fs.get(), sl::sdk::Path16(module.path()).c_str(), found.put()),
                 fs.get(), "SLFileSystem::Search");
  DescribeTable(found.object(), "a search for the module file");
  DescribeTable(reinterpret_cast<ServiceObject*>(streams.get()), "class StreamService");
  return kOk;
}

}  // namespace slhost
