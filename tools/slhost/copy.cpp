// cp: files and whole folders of the default file system or of a file system mounted with --fs
// (an archive, which takes no writes, or a remote folder), standard input and output. The bytes
// go through the file systems' own entries (ReadFile, WriteFile, FlushFile), which report every
// failure and every short count, in blocks of 1 MiB, with one flush to the disk at the end. A
// write stream would be simpler, but it reports no write failure at all.
//
// A tree is copied as it is: links as links (never followed into a device, a FIFO or a loop),
// FIFOs, sockets and devices left out with a message each. On the default file system a file is
// written beside its target and renamed over it when complete; on a remote folder, in place.
#include <algorithm>
#include <cstdio>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "command.h"
#include "console.h"
#include "diagnosis.h"
#include "nodes.h"
#include "operands.h"
#include "output.h"
#include "progress.h"

namespace slhost {

namespace {

namespace fs = std::filesystem;

constexpr int kMaxDepth = 256;  // folders inside each other

// One copy's two ends: a file of the module, or standard input / output when `path` is empty.
struct Ends {
  fs::path source;
  fs::path target;
};

// Where a copy into a file writes its bytes.
struct Landing {
  fs::path written;      // the file opened for writing: a new one beside the target, or the target
  fs::path target;       // where the copy ends: the target, or the file a link there leads to
  bool beside = false;   // `written` is renamed over `target` once complete
  bool created = false;  // `written` did not exist before: a failed copy removes it
};

class Copier {
 public:
  Copier(const Context& context, const Volume& from, const Volume& to)
      : context_(context), from_(from), to_(to) {}

  // Whether something in a tree was left out (each with its message): exit code 1 at the end.
  bool Skipped() const { return skipped_; }

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
    Landing landing;
    if (toFile) {
      if (const int status = OpenTarget(ends.target, &landing, &out); status != kOk) return status;
    }
    int status = Move(in, out, ends, size);
    if (status == kOk && toFile) status = Land(out, landing, ends.target);
    if (status != kOk && toFile) {
      out = sl::sdk::File();  // closed first: Windows removes no open file
      if (landing.created) sl::sdk::Try([&] { to_.fs().RemoveFile(to_.Full(landing.written)); });
    }
    return status;
  }

  // A link as a link: what it holds is copied, never what it leads to.
  int CopyLink(const fs::path& source, const fs::path& target) {
    std::error_code error;
    const fs::path leadsTo = fs::read_symlink(source, error);
    if (error) return Skip(from_.Show(source), "link not copied: " + error.message());
    if (to_.IsArchive()) {
      return Skip(to_.Show(target), "link not copied: archive " + to_.mount() + " is read-only");
    }
    if (to_.IsRemote()) {  // the module's file systems make no links
      return Skip(to_.Show(target), "link not copied: remote folder " + to_.mount() +
                                        " takes files and folders only");
    }
    // A link there already gives way to the new one, as a file gives way to a copied file;
    // anything else stays, and the link is not copied.
    if (Look(to_, target, false).kind == Kind::kLink) fs::remove(target, error);
    // Windows makes a link to a folder differently from one to a file; elsewhere both are one.
    if (Look(from_, source, true).kind == Kind::kFolder) {
      fs::create_directory_symlink(leadsTo, target, error);
    } else {
      fs::create_symlink(leadsTo, target, error);
    }
    if (error) {
      return Skip(to_.Show(target),
                  "link to " + Shown(leadsTo) + " not copied: " + error.message());
    }
    return kOk;
  }

  // A folder and all it holds. Links are copied as links; FIFOs, sockets and devices are left
  // out with a message each. Stops at the first failure.
  int CopyTree(const fs::path& source, const fs::path& target, int depth) {
    if (depth >= kMaxDepth) {
      return Report(context_, from_.Show(source) + ": more than " + std::to_string(kMaxDepth) +
                                  " folders deep");
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
      const int status = CopyEntry(Child(source, name), Child(target, name), depth + 1);
      if (status != kOk) return status;
    }
    return kOk;
  }

  // One entry of a tree, as what it is itself (a link is not followed).
  int CopyEntry(const fs::path& source, const fs::path& target, int depth) {
    const Kind kind = Look(from_, source, false).kind;
    switch (kind) {
      case Kind::kFolder:
        return CopyTree(source, target, depth);
      case Kind::kLink:
        return CopyLink(source, target);
      case Kind::kFifo:
      case Kind::kSocket:
      case Kind::kDevice:
        return Skip(from_.Show(source), std::string("a ") + KindName(kind) +
                                            ", not copied (cp -r copies files, folders and links)");
      default:  // a file; or gone, or unknown, which the open tells of
        return CopyFile({source, target});
    }
  }

  // Says why `shown` was left out; the copy goes on.
  int Skip(const std::string& shown, const std::string& why) {
    Report(context_, shown + ": " + why);
    skipped_ = true;
    return kOk;
  }

 private:
  // Every byte from `in` (or standard input) to `out` (or standard output).
  int Move(sl::sdk::File& in, sl::sdk::File& out, const Ends& ends, uint64_t size) {
    const bool fromFile = !ends.source.empty();
    const bool toFile = !ends.target.empty();
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
    if (!toFile && !output::Flush()) return OutputFailed(context_);
    progress.Finish();
    return kOk;
  }

  // Opens where the copy's bytes go (LandingFor), or says why it cannot.
  int OpenTarget(const fs::path& target, Landing* landing, sl::sdk::File* out) {
    const auto cannot = [&](const sl::sdk::ServiceError& error) {
      return Failed(to_, target, Why(to_, target, Action::kCreate, error.code()).why, error);
    };
    *landing = LandingFor(target);
    // A file the copy replaces must take writes, as it would if written in place (a read-only
    // file stays): opened to write, and closed at once, without emptying it.
    if (landing->beside && Look(to_, landing->target, false).kind == Kind::kFile) {
      try {
        to_.fs().Open(to_.Full(landing->target), SL_OPEN_WRITE);
      } catch (const sl::sdk::ServiceError& error) {
        return cannot(error);
      }
    }
    if (landing->beside &&
        !sl::sdk::Try([&] { *out = to_.fs().Open(to_.Full(landing->written), SL_OPEN_CREATE); })) {
      // A folder that takes no new file may still let its file be written: in place, then.
      *landing = {target, target, false, Look(to_, target, false).kind == Kind::kMissing};
    }
    try {
      if (!*out) *out = to_.fs().Open(to_.Full(landing->written), SL_OPEN_CREATE);
    } catch (const sl::sdk::ServiceError& error) {
      return cannot(error);
    }
    return kOk;
  }

  // A new file beside a file or a free name ("notes/.a.txt.slhost-1f2e3d4c"), renamed over it
  // at the end, so that a copy that fails leaves no part of itself and a good file stays whole.
  // The module has no rename entry: the rename is the system's, on the default file system
  // only. A remote folder is written in place (a failed copy removes the file it created, as
  // far as the connection still allows, and leaves a file it was to replace part-written); an
  // archive takes no writes. A device or a FIFO is written in place, and so is the target of a
  // link that leads nowhere, which the write creates.
  Landing LandingFor(const fs::path& target) {
    Landing direct{target, target, false, false};
    if (to_.IsMount()) {
      direct.created = Look(to_, target, false).kind == Kind::kMissing;
      return direct;
    }
    const Kind there = Look(to_, target, true).kind;
    if (there == Kind::kMissing) {
      direct.created = Look(to_, target, false).kind == Kind::kMissing;
      if (!direct.created) return direct;  // a link that leads nowhere
    } else if (there != Kind::kFile) {
      return direct;
    }
    std::error_code error;
    fs::path file = there == Kind::kFile ? fs::canonical(target, error) : target;
    if (error) file = target;
    std::random_device seed;
    std::mt19937 random(seed());
    for (int attempt = 0; attempt < 8; ++attempt) {
      char suffix[24];
      std::snprintf(suffix, sizeof suffix, ".slhost-%08x", static_cast<unsigned>(random()));
      fs::path name = ".";
      name += file.filename();
      name += suffix;
      const fs::path beside = Child(file.parent_path(), name);
      if (Look(to_, beside, false).kind == Kind::kMissing) return {beside, file, true, true};
    }
    return direct;
  }

  // The last bytes flushed to the disk (once, at the end: the copy is there when cp says so),
  // the file closed, and a file written beside the target put in its place, with the target's
  // permissions.
  int Land(sl::sdk::File& out, const Landing& landing, const fs::path& shown) {
    try {
      out.Flush();
      out.Close();
    } catch (const sl::sdk::ServiceError& error) {
      return Failed(to_, shown, "the last bytes may not have reached the disk", error);
    }
    if (!landing.beside) return kOk;
    std::error_code error;
    const fs::file_status old = fs::status(landing.target, error);
    if (!error) fs::permissions(landing.written, old.permissions(), error);
    fs::rename(landing.written, landing.target, error);
    if (error) {
      return Report(context_,
                    to_.Show(shown) + ": the copy could not take its place: " + error.message());
    }
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
  bool skipped_ = false;
};

}  // namespace

int RunCp(Context& context) {
  sl::sdk::FileSystemService files(context.module);
  const std::string& from = context.operands[0];
  const std::string& to = context.operands[1];
  const bool recursive = context.Has(kRecursive);
  // Standard input or output stands where a file would: on the default file system.
  const auto locate = [&](const std::string& operand) -> std::optional<Located> {
    if (IsStandardStream(operand)) return Located{Volume(files.Default()), {}};
    return Locate(context, files, operand);
  };
  const std::optional<Located> source = locate(from);
  const std::optional<Located> target = source ? locate(to) : std::nullopt;
  if (!source || !target) return kEntryFailed;
  const Volume& in = source->volume;
  const Volume& out = target->volume;
  Ends ends{source->path, target->path};
  const bool fromFile = !ends.source.empty();
  const bool toFile = !ends.target.empty();
  if ((fromFile && RefusedAsFolder(context, in, ends.source, from)) ||
      (toFile && RefusedAsFolder(context, out, ends.target, to))) {
    return kEntryFailed;
  }

  // With -r a link named on the command line is copied as a link, as one inside a tree is;
  // without, cp copies what it leads to. "link/" is always the folder it leads to.
  const Kind kind =
      fromFile ? Look(in, ends.source, !recursive || NamesFolder(from)).kind : Kind::kFile;
  if (kind == Kind::kFolder && !recursive) {
    return Report(context, from + " is a folder (cp -r copies a folder and all it holds)");
  }
  const bool copiesFolder = kind == Kind::kFolder;
  if (toFile && Look(out, ends.target, true).kind == Kind::kFolder) {
    if (!fromFile) return Report(context, to + " is a folder: name the file for standard input");
    // A folder named "." or ".." copies what it holds into the folder itself; anything else
    // goes in under its own name.
    const fs::path name = ends.source.filename();
    if (!copiesFolder || (name != "." && name != "..")) ends.target = Child(ends.target, name);
  } else if (NamesFolder(to) && !copiesFolder) {
    // "nodir/" is a folder that is not there; only a copied folder makes one.
    return Report(context, "cannot create regular file " + to + ": Not a directory (no folder " +
                               out.Show(ends.target) + ")");
  }
  // Whether the two ends are one file, or one lies in the other, can only be asked on one file
  // system.
  const bool oneFileSystem = in.mount() == out.mount();
  Copier copier(context, in, out);
  int status = kOk;
  if (copiesFolder) {
    if (!toFile) return Report(context, "a folder cannot go to standard output");
    if (oneFileSystem && IsWithin(out, ends.target, ends.source)) {
      return Report(context,
                    "cannot copy " + from + " into itself (" + out.Show(ends.target) + ")");
    }
    status = copier.CopyTree(ends.source, ends.target, 0);
  } else if (recursive && kind == Kind::kLink) {
    status = copier.CopyLink(ends.source, ends.target);
  } else if (recursive && (kind == Kind::kFifo || kind == Kind::kSocket || kind == Kind::kDevice)) {
    status = copier.CopyEntry(ends.source, ends.target, 0);
  } else {
    if (oneFileSystem && fromFile && toFile && IsSameFile(in, ends.source, ends.target)) {
      return Report(context, from + " and " + out.Show(ends.target) + " are the same file");
    }
    status = copier.CopyFile(ends);
  }
  return status == kOk && copier.Skipped() ? kEntryFailed : status;
}

}  // namespace slhost
