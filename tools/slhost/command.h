// What every slhost subcommand shares: its parsed command line, the loaded module, exit codes
// and the way failures are told.
#pragma once

#include <filesystem>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "slservices/sdk/sdk.hpp"

namespace slhost {

// Exit codes; `slhost --help` and the man page list them.
enum ExitCode : int {
  kOk = 0,
  kEntryFailed = 1,  // an entry of the module failed, or a write of slhost's own
  kUsage = 2,        // bad command line
  kNoModule = 3,     // the module could not be loaded
};

// The options a command may accept; each command lists its own.
enum Flag : unsigned {
  kAll = 1u << 0,        // -a
  kParents = 1u << 1,    // -p
  kRecursive = 1u << 2,  // -r
};

struct Context {
  const sl::sdk::Module& module;
  std::string command;                        // "cp"
  unsigned flags = 0;                         // the Flag values given
  std::vector<std::string> operands;          // in order, after options and "--"
  std::map<std::string, std::string> values;  // the value options given: "--sample" -> "a.txt"

  bool Has(Flag flag) const { return (flags & flag) != 0; }
  std::string Value(const std::string& option) const {
    const auto found = values.find(option);
    return found != values.end() ? found->second : "";
  }
};

int RunClasses(Context& context);
int RunCat(Context& context);
int RunCp(Context& context);
int RunStat(Context& context);
int RunRm(Context& context);
int RunLs(Context& context);
int RunMkdir(Context& context);
int RunRmdir(Context& context);
int RunCheckFs(Context& context);
int RunDemo(Context& context);

// "slhost cp: <message>" on standard error; returns the exit code given.
int Report(const Context& context, const std::string& message, int code = kEntryFailed);
// A failing entry on `shown`: why, as far as it could be found out, then the module's own
// message and code: "slhost cat: a/b.txt: folder a does not exist (SLFileSystem::OpenFile()
// failed, code: 0x00000007)". Returns kEntryFailed.
int EntryFailed(const Context& context, const std::string& shown, const std::string& why,
                const sl::sdk::ServiceError& error);
// The same line without the "slhost cat: " before it.
std::string FailureText(const std::string& shown, const std::string& why,
                        const sl::sdk::ServiceError& error);

// Standard output failed (output.h): says why, once, and returns kEntryFailed.
int OutputFailed(const Context& context);
bool OutputHasFailed();

// The error of a non-throwing call, to report like a thrown one.
inline sl::sdk::ServiceError ErrorOf(const sl::sdk::Outcome& outcome) {
  return sl::sdk::ServiceError(outcome.code, outcome.message, outcome.record);
}

// An operand as a path of this system: the native form, so a name the module maps passes
// through unchanged (the SDK's conversions decide how).
std::filesystem::path OperandPath(const std::string& operand);
// A path as the user should read it on standard output or error.
std::string Shown(const std::filesystem::path& path);
// A name the module gave, joined to a folder the user named: "tree" and "a.txt" give
// "tree/a.txt".
std::filesystem::path Child(const std::filesystem::path& folder, const std::filesystem::path& name);
std::filesystem::path Child(const std::filesystem::path& folder, const std::u16string& name);
// A path as a full path in the module's form (the default file system takes paths as they are,
// so relative ones are completed here).
sl::sdk::Path16 FullPath(const std::filesystem::path& path);
// The full path of a search in `folder`: "/home/me/notes/*".
sl::sdk::Path16 FolderPattern(const std::filesystem::path& folder,
                              std::u16string_view pattern = u"*");
// The operand "-": standard input or output.
inline bool IsStandardStream(const std::string& operand) { return operand == "-"; }

// A file system with the way operands name paths on it. The default file system takes full
// paths of this system (FullPath); a file system mounted with --fs (an archive, a remote folder)
// takes the paths inside it from its root ("/data/rows.txt"), and they are shown as the command
// line names them ("ar:data/rows.txt").
class Volume {
 public:
  enum Mount { kDefault, kArchive, kRemote };

  explicit Volume(sl::sdk::FileSystem fs, std::string mount = "", Mount kind = kDefault)
      : fs_(std::move(fs)), mount_(std::move(mount)), kind_(mount_.empty() ? kDefault : kind) {}

  const sl::sdk::FileSystem& fs() const { return fs_; }
  // The --fs NAME, empty for the default file system.
  const std::string& mount() const { return mount_; }
  bool IsMount() const { return !mount_.empty(); }
  // A zip archive: read-only.
  bool IsArchive() const { return kind_ == kArchive; }
  // A folder on an SSH server: read and written, over a connection that may be lost.
  bool IsRemote() const { return kind_ == kRemote; }

  // The path in the file system's own form.
  sl::sdk::Path16 Full(const std::filesystem::path& path) const;
  // A search in `folder`: "/home/me/notes/*", "/data/*".
  sl::sdk::Path16 Pattern(const std::filesystem::path& folder,
                          std::u16string_view pattern = u"*") const;
  // The path as the user should read it: "notes/a.txt", "ar:data/rows.txt".
  std::string Show(const std::filesystem::path& path) const;

 private:
  sl::sdk::FileSystem fs_;
  std::string mount_;
  Mount kind_;
};

}  // namespace slhost
