// cat, cp, stat and rm: files of the default file system (cat, cp and stat also of a file
// system mounted with --fs), moved through the stream service.
#include <cinttypes>
#include <cstdio>
#include <string>
#include <vector>

#include "archive.h"
#include "command.h"
#include "progress.h"
#include "slservices/sdk/console.hpp"

namespace slhost {

namespace {

constexpr size_t kChunk = 64 * 1024;
constexpr uint64_t kProgressFrom = 1 << 20;

// A read stream's short count means its end or a failure: the file's size tells them apart.
void CheckComplete(const char* what, uint64_t moved, uint64_t expected) {
  if (moved == expected) return;
  throw sl::sdk::ServiceError(SL_OS_FAILURE, std::string(what) + " stopped after " +
                                                 std::to_string(moved) + " of " +
                                                 std::to_string(expected) + " bytes");
}

}  // namespace

int RunCat(Context& context) {
  if (context.args.empty()) return UsageError(context, "no file given");
  sl::sdk::FileSystemService files(context.module);
  sl::sdk::StreamService streams(context.module);
  int status = kOk;
  std::vector<char> chunk(kChunk);
  for (const std::string& name : context.args) {
    try {
      const Located at = Locate(context, files, name);
      sl::sdk::File file = at.fs.Open(at.path, SL_OPEN_READ);
      const uint64_t size = file.Size();
      auto in = streams.OpenRead(std::move(file));
      uint64_t moved = 0;
      while (in.read(chunk.data(), static_cast<std::streamsize>(chunk.size())) || in.gcount() > 0) {
        std::fwrite(chunk.data(), 1, static_cast<size_t>(in.gcount()), stdout);
        moved += static_cast<uint64_t>(in.gcount());
      }
      std::fflush(stdout);
      CheckComplete("reading", moved, size);
    } catch (const sl::sdk::ServiceError& error) {
      status = EntryFailed(context, name, error);
    }
  }
  return status;
}

int RunCp(Context& context) {
  if (context.args.size() != 2) return UsageError(context, "expected SRC and DST");
  sl::sdk::FileSystemService files(context.module);
  sl::sdk::StreamService streams(context.module);
  const std::string& source = context.args[0];
  std::string target = context.args[1];
  try {
    const Located to = Locate(context, files, target);
    if (IsFolder(to.fs, to.path)) {
      const std::filesystem::path name = sl::sdk::ToPath(sl::sdk::ToUtf16(source)).filename();
      target += "/" + sl::sdk::ToUtf8(sl::sdk::PathToUtf16(name));
    }
  } catch (const sl::sdk::ServiceError&) {
  }

  uint64_t size = 0;
  uint64_t moved = 0;
  {
    sl::sdk::File in;
    sl::sdk::File outFile;
    try {
      const Located from = Locate(context, files, source);
      in = from.fs.Open(from.path, SL_OPEN_READ);
      size = in.Size();
    } catch (const sl::sdk::ServiceError& error) {
      return EntryFailed(context, source, error);
    }
    try {
      const Located to = Locate(context, files, target);
      outFile = to.fs.Open(to.path, SL_OPEN_CREATE);
    } catch (const sl::sdk::ServiceError& error) {
      return EntryFailed(context, target, error);
    }
    auto reader = streams.OpenRead(std::move(in));
    auto writer = streams.OpenWrite(std::move(outFile));
    Progress progress(size, size >= kProgressFrom && sl::sdk::console::IsTerminal(stdout));
    std::vector<char> chunk(kChunk);
    while (reader.read(chunk.data(), static_cast<std::streamsize>(chunk.size())) ||
           reader.gcount() > 0) {
      writer.write(chunk.data(), reader.gcount());
      moved += static_cast<uint64_t>(reader.gcount());
      progress.Update(moved);
    }
    writer.Close();  // the last bytes go to the file, which is then closed
    progress.Finish();
  }
  try {
    CheckComplete("reading", moved, size);
    // Write failures do not show through a write stream: the new file's size does.
    const Located to = Locate(context, files, target);
    CheckComplete("writing", to.fs.Open(to.path, SL_OPEN_READ).Size(), size);
  } catch (const sl::sdk::ServiceError& error) {
    return EntryFailed(context, target, error);
  }
  return kOk;
}

int RunStat(Context& context) {
  if (context.args.empty()) return UsageError(context, "no path given");
  sl::sdk::FileSystemService files(context.module);
  int status = kOk;
  for (const std::string& name : context.args) {
    try {
      const Located at = Locate(context, files, name);
      const sl::sdk::FileSystem& fs = at.fs;
      const sl::sdk::Path16& path = at.path;
      std::printf("%s\n", name.c_str());
      if (!fs.Exists(path)) {
        std::printf("  exists: no\n");
        status = kEntryFailed;
      } else if (IsFolder(fs, path)) {
        std::printf("  exists: yes\n  type: folder\n");
      } else {
        const uint64_t size = fs.Open(path, SL_OPEN_READ).Size();
        std::printf("  exists: yes\n  type: file\n  size: %" PRIu64 " bytes\n", size);
      }
    } catch (const sl::sdk::ServiceError& error) {
      std::fflush(stdout);
      status = EntryFailed(context, name, error);
    }
  }
  return status;
}

int RunRm(Context& context) {
  if (context.args.empty()) return UsageError(context, "no file given");
  sl::sdk::FileSystemService files(context.module);
  const sl::sdk::FileSystem fs = files.Default();
  int status = kOk;
  for (const std::string& name : context.args) {
    const sl::sdk::Outcome removed = sl::sdk::Try([&] { fs.RemoveFile(FullPath(name)); });
    if (!removed) {
      status = EntryFailed(context, name,
                           sl::sdk::ServiceError(removed.code, removed.message, removed.record));
    }
  }
  return status;
}

}  // namespace slhost
