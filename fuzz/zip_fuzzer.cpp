// Zip archives from arbitrary bytes: each input is written to a file and opened as a zip file
// system; an archive that opens is walked through Search from its root (every folder's "." and
// ".." first), and every file it lists is opened, sized, read to its end in chunks of varying
// size, read again after a seek, and closed. Checked on the way: a listed name exists, a folder
// does not open for reading, a read never moves more than asked nor ends past the reported size,
// positions follow the bytes read, and a failing entry leaves the file system usable. A member
// is read no further than 8 MiB, so a small input that unpacks to gigabytes stays quick.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "slservices/sdk/file_system.hpp"
#include "zip_file_system.h"

namespace {

constexpr uint64_t kReadCap = 8u << 20;
constexpr int kMaxDepth = 16;

void Check(bool condition, const char* what, const std::u16string& path) {
  if (condition) return;
  std::fprintf(stderr, "zip fuzzer: %s: %s\n", what, sl::sdk::ToUtf8(path).c_str());
  std::abort();
}

void ReadMember(SLFileSystem* fs, const std::u16string& path, uint64_t seed) {
  SLFileHandle file = nullptr;
  if (fs->OpenFile(fs, path.c_str(), SL_OPEN_READ, &file) != SL_OK) return;  // encrypted, damaged
  uint64_t size = 0;
  Check(fs->GetFileSize(fs, file, &size) == SL_OK, "GetFileSize fails on an open member", path);
  static char buffer[70000];
  uint64_t total = 0;
  for (uint64_t chunk = 1 + seed % 997; total < kReadCap; chunk = chunk * 3 % sizeof(buffer) + 1) {
    uint64_t done = 0;
    if (fs->ReadFile(fs, file, buffer, chunk, &done) != SL_OK || done == 0) break;
    Check(done <= chunk, "a read moved more than asked", path);
    total += done;
    Check(total <= size, "a read ends past the reported size", path);
    uint64_t position = 0;
    Check(fs->GetFilePos(fs, file, &position) == SL_OK && position == total,
          "the position does not follow the bytes read", path);
  }
  // Back to a point already read, and once past the end.
  const uint64_t back = total == 0 ? 0 : seed % total;
  uint64_t done = 0;
  if (fs->SetFilePos(fs, file, static_cast<int64_t>(back)) == SL_OK &&
      fs->ReadFile(fs, file, buffer, 100, &done) == SL_OK) {
    Check(back + done <= size, "a read after a seek ends past the reported size", path);
  }
  if (fs->SetFilePos(fs, file, static_cast<int64_t>(size + 10)) == SL_OK &&
      fs->ReadFile(fs, file, buffer, 100, &done) == SL_OK) {
    Check(done == 0, "a read past the end gave bytes", path);
  }
  Check(fs->CloseFile(fs, file) == SL_OK, "CloseFile fails", path);
}

std::vector<std::u16string> List(SLFileSystem* fs, const std::u16string& folder) {
  sl::sdk::Ref<SLFileSystemSearchResult> result;
  const std::u16string pattern = folder + u"/*";
  std::vector<std::u16string> names;
  if (fs->Search(fs, pattern.c_str(), result.put()) != SL_OK) return names;
  uint64_t count = 0;
  result->GetCount(result.get(), &count);
  for (uint32_t i = 0; i < count; ++i) {
    const SLChar16* name = nullptr;
    if (result->GetFileInfo(result.get(), i, &name) == SL_OK) names.emplace_back(name);
  }
  return names;
}

void Walk(SLFileSystem* fs, const std::u16string& folder, int depth, uint64_t seed) {
  const std::vector<std::u16string> names = List(fs, folder);
  Check(names.size() >= 2 && names[0] == u"." && names[1] == u"..",
        "a folder does not list \".\" and \"..\" first", folder);
  for (size_t i = 2; i < names.size(); ++i) {
    const std::u16string path = folder + u"/" + names[i];
    uint8_t exists = 0;
    Check(fs->IsFileExists(fs, path.c_str(), &exists) == SL_OK && exists == 1,
          "a listed name does not exist", path);
    if (List(fs, path).empty()) {  // only a folder can be searched into
      ReadMember(fs, path, seed + i);
      continue;
    }
    SLFileHandle file = nullptr;
    Check(fs->OpenFile(fs, path.c_str(), SL_OPEN_READ, &file) == SL_ACCESS_DENIED,
          "a folder does not give 15 to an open for reading", path);
    if (depth < kMaxDepth) Walk(fs, path, depth + 1, seed * 31 + i);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string path = "/tmp/zip_fuzzer-" + std::to_string(getpid()) + ".zip";
  FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) std::abort();
  if (size > 0 && std::fwrite(data, 1, size, file) != size) std::abort();
  std::fclose(file);
  try {
    sl::sdk::Ref<sl::archive::ZipFileSystem> fs = sl::archive::ZipFileSystem::Open(path, 1);
    Walk(fs->table(), u"", 0, size);
  } catch (const sl::sdk::ServiceError&) {
    // Not an archive, or one that the file system refuses: nothing else to check.
  }
  std::remove(path.c_str());
  return 0;
}
