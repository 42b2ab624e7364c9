// slhost: a host program that loads the module the way any host does (by path, through its
// exports and object tables only) and works with files through it.
//
//   slhost [--module PATH] COMMAND [ARGS...]
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "archive.h"
#include "command.h"
#include "slservices/sdk/console.hpp"
#include "slservices/sdk/sdk.hpp"

#ifndef SL_VERSION
#define SL_VERSION "unknown"
#endif

namespace slhost {

const std::vector<Command>& Commands() {
  static const std::vector<Command> commands = {
      {"classes", "classes", "the module's classes, their atoms and each interface's table header",
       "Lists the classes ReflectServiceObjectInfo gives, with the atom of each name, then\n"
       "creates one object of each interface and prints its table header: interface id (and\n"
       "whether it is the FNV-1a hash of the name), table size, end marker, stamp and entries.\n",
       RunClasses},
      {"cat", "cat FILE...", "write files to standard output through file read streams",
       "Opens each file on the default file system, hands it to a file read stream and writes\n"
       "what the stream delivers to standard output, byte for byte.\n",
       RunCat},
      {"cp", "cp SRC DST", "copy a file through a file read stream and a file write stream",
       "Copies SRC to DST (or into DST when it is a folder). The bytes go through a file read\n"
       "stream and a file write stream; the copy is checked by the size of DST afterwards.\n"
       "On a terminal, files of 1 MiB or more show a progress bar.\n",
       RunCp},
      {"ls", "ls [-a] PATTERN", "list names matching a wildcard pattern (or a folder's contents)",
       "Searches with the default file system: '*' and '?' in the last part of PATTERN. A\n"
       "PATTERN without wildcards that names a folder lists the folder. Names come sorted;\n"
       "-a also shows \".\" and \"..\". Finding nothing fails (code 3).\n",
       RunLs},
      {"mkdir", "mkdir [-p] DIR...", "create folders",
       "Creates each folder; its parent must exist. -p creates every missing folder on the way\n"
       "and accepts folders that exist already.\n",
       RunMkdir},
      {"rm", "rm FILE...", "remove files", "Removes each file (not folders).\n", RunRm},
      {"rmdir", "rmdir DIR...", "remove empty folders", "Removes each folder; it must be empty.\n",
       RunRmdir},
      {"stat", "stat PATH...", "whether a path exists, file or folder, and a file's size",
       "Prints for each path whether it exists, whether it is a file or a folder, and a file's\n"
       "size in bytes. A missing path makes the exit code 1.\n",
       RunStat},
      {"check-fs", "check-fs FS [OPTIONS]", "run the conformance kit against a file system",
       "Drives a file system through what streams and the registry rely on, one line per\n"
       "check and a summary; exit code 1 when a check fails. FS is a registered name\n"
       "(\"Default\", or a NAME given with --fs), zip:PATH (an archive), or memory (the SDK's\n"
       "in-memory file system). Options: --scratch DIR, a folder the kit may fill (without\n"
       "one the file system is checked as read-only; Default gets a temporary folder);\n"
       "--sample PATH, a file to read (else one is written or found); --threads N.\n",
       RunCheckFs},
      {"demo", "demo", "a narrated walk through the whole module in a temporary folder",
       "Shows classes, both services, files and folders, search, streams over memory,\n"
       "callbacks and files, an in-memory file system plugged into the registry, a failure and\n"
       "its error record, weak and counted references, and the clean release of everything.\n",
       RunDemo},
  };
  return commands;
}

namespace {

const Command* Find(const std::string& name) {
  for (const Command& command : Commands()) {
    if (name == command.name) return &command;
  }
  return nullptr;
}

void PrintHelp(std::FILE* out) {
  std::fprintf(out,
               "usage: slhost [--module PATH] COMMAND [ARGS...]\n\n"
               "A host for the service-object module: it loads the module by path and works\n"
               "only through its exports and object tables.\n\ncommands:\n");
  for (const Command& command : Commands()) {
    std::fprintf(out, "  %-19s %s\n", command.synopsis, command.summary);
  }
  std::fprintf(out,
               "\noptions:\n"
               "  --module PATH       the module to load (default: %s beside slhost,\n"
               "                      then in ../lib)\n"
               "  --fs NAME=zip:PATH  a zip archive as file system NAME: cat, cp, ls and stat\n"
               "                      take NAME:path for a file inside it (Linux builds)\n"
               "  --help              this text; `slhost COMMAND --help` for one command\n"
               "  --version           the version of slhost\n"
               "\nexit codes:\n"
               "  0  success\n"
               "  1  an entry of the module failed (its message and what the code means are\n"
               "     printed), or stat found a path missing\n"
               "  2  usage error\n"
               "  3  the module could not be loaded\n",
               sl::sdk::Module::DefaultFileName());
}

void PrintCommandHelp(const Command& command) {
  std::printf("usage: slhost [--module PATH] %s\n\n%s", command.synopsis, command.details);
}

std::filesystem::path DefaultModulePath() {
  const std::filesystem::path beside = sl::sdk::Module::BesideExecutable();
  std::error_code ignored;
  if (std::filesystem::exists(beside, ignored)) return beside;
  const std::filesystem::path installed =
      sl::sdk::Module::ExecutablePath().parent_path().parent_path() / "lib" /
      sl::sdk::Module::DefaultFileName();
  return std::filesystem::exists(installed, ignored) ? installed : beside;
}

int Main(const std::vector<std::string>& args) {
  std::filesystem::path modulePath;
  size_t next = 1;
  while (next < args.size() && args[next].rfind("--", 0) == 0) {
    if (args[next] == "--help") {
      PrintHelp(stdout);
      return kOk;
    } else if (args[next] == "--version") {
      std::printf("slhost %s\n", SL_VERSION);
      return kOk;
    } else if (args[next] == "--fs" && next + 1 < args.size()) {
      std::string error;
      if (!AddMount(args[next + 1], &error)) {
        std::fprintf(stderr, "slhost: %s\n", error.c_str());
        return kUsage;
      }
      next += 2;
    } else if (args[next] == "--module" && next + 1 < args.size()) {
      modulePath = sl::sdk::ToPath(sl::sdk::ToUtf16(args[next + 1]));
      next += 2;
    } else {
      std::fprintf(stderr, "slhost: unknown option %s\n", args[next].c_str());
      PrintHelp(stderr);
      return kUsage;
    }
  }
  if (next >= args.size()) {
    PrintHelp(stderr);
    return kUsage;
  }
  std::string name = args[next++];
  std::vector<std::string> rest(args.begin() + static_cast<std::ptrdiff_t>(next), args.end());
  if (name == "help") {
    if (rest.empty()) {
      PrintHelp(stdout);
      return kOk;
    }
    name = rest[0];
    rest = {"--help"};
  }
  const Command* command = Find(name);
  if (command == nullptr) {
    std::fprintf(stderr, "slhost: unknown command %s (see slhost --help)\n", name.c_str());
    return kUsage;
  }
  if (!rest.empty() && rest[0] == "--help") {
    PrintCommandHelp(*command);
    return kOk;
  }

  if (modulePath.empty()) modulePath = DefaultModulePath();
  // Unloaded when main returns: every object the command made is released before that.
  std::unique_ptr<sl::sdk::Module> module;
  try {
    module = sl::sdk::Module::Open(modulePath);
  } catch (const sl::sdk::ModuleError& error) {
    std::fprintf(stderr, "slhost: %s\n", error.what());
    return kNoModule;
  }
  Context context{*module, name, rest};
  try {
    return command->run(context);
  } catch (const sl::sdk::ServiceError& error) {
    return EntryFailed(context, "", error);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "slhost %s: %s\n", name.c_str(), error.what());
    return kEntryFailed;
  }
}

}  // namespace
}  // namespace slhost

int main(int argc, char** argv) {
  sl::sdk::console::UseBinaryOutput();
  return slhost::Main(sl::sdk::console::Utf8Arguments(argc, argv));
}
