// cp: files and whole folders of the default file system or of an archive mounted with --fs
// (which takes no writes), standard input and output. The bytes go through the file systems'
// own entries (ReadFile, WriteFile, FlushFile), which report every failure and every short
// count, in blocks of 1 MiB, with one flush to the disk at the end. A write stream would be
// simpler, but it reports no write failure at all.
#include <algorithm>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "archive.h"
#include "command.h"
#include "console.h"
#include "diagnosis.h"
#include "output.h"
#include "progress.h"

namespace slhost {

namespace {

namespace fs = std::filesystem;

constexpr int kMaxDepth = 256;  // folders inside each other; deeper means a link that loops

// One copy's two ends: a file of the module, or standard input / output when `path` is empty.
struct Ends {
  fs::path source;
  fs::path target;
};

fs::path Normal(const fs::path& path) {
  std::error_code ignored;
  return fs::absolute(path, ignored).lexically_normal();
}

// Whether `inner` is `outer` or lies inside it, by their names.
bool IsWithin(const fs::path& inner, const fs::path& outer) {
  const fs::path a = Normal(inner);
  const fs::path b = Normal(outer);
  return std::mismatch(b.begin(), b.end(), a.begin(), a.end()).first == b.end();
}

class Copier {
 public:
  Copier(const Context& context, const Volume& from, const Volume& to)
      : context_(context), from_(from), to_(to) {}

  // One file, or standard input, to a file or standard output.
  int CopyFile(const Ends& ends) {
    sl::sdk::File in;
    sl::sdk::File out;
    uint64_t size = 0;
    const bool fromFile = !ends.source.empty();
    const bool toFile = !ends.target.empty();
    try {
      if (fromFile) {
        in = from_.fs().Open(from_.Full(ends.source), SL_OPEN_READ);
        size = in.Size();
      }
    } catch (const sl::sdk::ServiceError& error) {
      return Failed(from_, ends.source, Why(from_, ends.source, Action::kRead, error.code()).why,
                    error);
    }
    try {
      if (toFile) out = to_.fs().Open(to_.Full(ends.target), SL_OPEN_CREATE);
    } catch (const sl::sdk::ServiceError& error) {
      return Failed(to_, ends.target, Why(to_, ends.target, Action::kCreate, error.code()).why,
                    error);
    }

    Progress progress(size);
    std::vector<char> block(output::kBlock);
    uint64_t moved = 0;
    for (;;) {
      uint64_t got = 0;
      if (fromFile) {
        try {
          got = in.Read(block.data(), block.size());
        } catch (const sl::sdk::ServiceError& error) {
          return Failed(from_, ends.source,
                        "reading stopped after " + std::to_string(moved) + " of " +
                            std::to_string(size) + " bytes",
                        error);
        }
      } else {
        const long long read = console::ReadSome(stdin, block.data(), block.size());
        if (read < 0) return Report(context_, "standard input: " + output::LastError());
        got = static_cast<uint64_t>(read);
      }
      if (got == 0) break;
      if (!toFile) {
        if (!output::Write(block.data(), static_cast<size_t>(got))) return OutputFailed(context_);
      } else if (const int status = WriteAll(out, ends.target, block.data(), got, moved,
                                             fromFile ? std::to_string(size) : "");
                 status != kOk) {
        return status;
      }
      moved += got;
      progress.Update(moved);
    }
    if (!toFile) {
      if (!output::Flush()) return OutputFailed(context_);
    } else {
      try {
        out.Flush();  // once, at the end: the copy is on the disk when cp says so
        out.Close();
      } catch (const sl::sdk::ServiceError& error) {
        return Failed(to_, ends.target, "the last bytes may not have reached the disk", error);
      }
    }
    progress.Finish();
    return kOk;
  }

  // `count` bytes to an open file, the block after `before` bytes of `total` bytes ("" when
  // unknown).
  int WriteAll(sl::sdk::File& out, const fs::path& target, const char* data, uint64_t count,
               uint64_t before, const std::string& total) {
    SLFileSystem* const files = out.fileSystem().get();
    uint64_t written = 0;
    const auto stopped = [&] {
      return "writing stopped after " + std::to_string(before + written) +
             (total.empty() ? "" : " of " + total) + " bytes";
    };
    // The file system may take part of a block: the rest goes again, from where it stopped.
    while (written < count) {
      uint64_t took = 0;
      // The entry itself, not File::Write: a failing write still tells what it wrote.
      const SLResult code =
          files->WriteFile(files, out.handle(), data + written, count - written, &took);
      written += took;
      if (SL_FAILED(code)) {
        return Failed(
            to_, target, stopped(),
            sl::sdk::MakeServiceError(code, sl::sdk::ObjectOf(files), "SLFileSystem::WriteFile"));
      }
      if (took == 0) {
        return Report(context_, to_.Show(target) + ": " + stopped() + ": nothing taken");
      }
    }
    return kOk;
  }

  // A folder and all it holds; stops at the first failure.
  int CopyTree(const fs::path& source, const fs::path& target, int depth) {
    if (depth >= kMaxDepth) {
      return Report(context_, from_.Show(source) + ": more than " + std::to_string(kMaxDepth) +
                                  " folders deep (a link that loops?)");
    }
    std::vector<std::u16string> names;
    const sl::sdk::Outcome listed =
        sl::sdk::Try([&] { names = from_.fs().Search(from_.Pattern(source)); });
    if (!listed) {
      return Failed(from_, source, Why(from_, source, Action::kList, listed.code).why, listed);
    }
    // An existing folder takes the copy in, as a new one does.
    const sl::sdk::Outcome made = sl::sdk::Try([&] { to_.fs().CreateFolder(to_.Full(target)); });
    if (!made && !(made.code == SL_ALREADY_EXISTS && Probe(to_).IsFolder(target))) {
      return Failed(to_, target, Why(to_, target, Action::kCreateFolder, made.code).why, made);
    }
    std::sort(names.begin(), names.end());
    for (const std::u16string& name : names) {
      if (name == u"." || name == u"..") continue;
      const fs::path from = Child(source, name);
      const fs::path to = Child(target, name);
      const int status =
          Probe(from_).IsFolder(from) ? CopyTree(from, to, depth + 1) : CopyFile({from, to});
      if (status != kOk) return status;
    }
    return kOk;
  }

 private:
  int Failed(const Volume& volume, const fs::path& path, const std::string& why,
             const sl::sdk::ServiceError& error) {
    return EntryFailed(context_, volume.Show(path), why, error);
  }
  int Failed(const Volume& volume, const fs::path& path, const std::string& why,
             const sl::sdk::Outcome& outcome) {
    return Failed(volume, path, why, ErrorOf(outcome));
  }

  const Context& context_;
  const Volume& from_;
  const Volume& to_;
};

}  // namespace

int RunCp(Context& context) {
  sl::sdk::FileSystemService files(context.module);
  const std::string& from = context.operands[0];
  const std::string& to = context.operands[1];
  // Standard input or output stands where a file would: on the default file system.
  const auto locate = [&](const std::string& operand) -> std::optional<Located> {
    if (IsStandardStream(operand)) return Located{Volume(files.Default()), {}};
    return Locate(context, files, operand);
  };
  const std::optional<Located> source = locate(from);
  const std::optional<Located> target = source ? locate(to) : std::nullopt;
  if (!source || !target) return kEntryFailed;
  Ends ends{source->path, target->path};

  const bool sourceIsFolder = !ends.source.empty() && Probe(source->volume).IsFolder(ends.source);
  if (!ends.target.empty() && Probe(target->volume).IsFolder(ends.target)) {
    if (ends.source.empty()) {
      return Report(context, to + " is a folder: name the file for standard input");
    }
    ends.target = Child(ends.target, ends.source.filename());
  }
  // Whether the two ends name the same file, or one lies in the other, is told by their names
  // on one file system.
  const bool oneFileSystem = source->volume.mount() == target->volume.mount();
  Copier copier(context, source->volume, target->volume);
  if (sourceIsFolder) {
    if (!context.Has(kRecursive)) {
      return Report(context, from + " is a folder (cp -r copies a folder and all it holds)");
    }
    if (ends.target.empty()) return Report(context, "a folder cannot go to standard output");
    if (oneFileSystem && IsWithin(ends.target, ends.source)) {
      return Report(context, "cannot copy " + from + " into itself (" +
                                 target->volume.Show(ends.target) + ")");
    }
    return copier.CopyTree(ends.source, ends.target, 0);
  }
  if (oneFileSystem && !ends.source.empty() && !ends.target.empty() &&
      Normal(ends.source) == Normal(ends.target)) {
    return Report(context,
                  from + " and " + target->volume.Show(ends.target) + " are the same file");
  }
  return copier.CopyFile(ends);
}

}  // namespace slhost
