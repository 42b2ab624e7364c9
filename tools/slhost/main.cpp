// slhost: a host program that loads the module the way any host does (by path, through its
// exports and object tables only) and works with files through it.
//
//   slhost [--module PATH] [--fs NAME=zip:PATH]... COMMAND [OPTIONS] [--] [OPERANDS...]
//
// One option parser (CLI11) reads every command line, so every command follows the same
// conventions: options before or among the operands, "--" ending the options, "-" as an
// operand for standard input or output, --help on each command, exit code 2 for any usage
// error, found before anything is touched.
#include <CLI/CLI.hpp>
#include <algorithm>
#include <cstdio>
#include <iterator>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "archive.h"
#include "command.h"
#include "console.h"
#include "output.h"
#include "slservices/sdk/sdk.hpp"

#ifndef SL_VERSION
#define SL_VERSION "unknown"
#endif

namespace slhost {

const std::vector<Command>& Commands() {
  static const std::vector<Command> commands = {
      {"classes",
       {},
       {},
       0,
       0,
       0,
       {},
       "the module's classes, their atoms and each interface's table header",
       "Lists the classes ReflectServiceObjectInfo gives, with the atom of each name, then\n"
       "creates one object of each interface and prints its table header: interface id (and\n"
       "whether it is the FNV-1a hash of the name), table size, end marker, stamp and entries.",
       RunClasses},
      {"cat",
       {"FILE"},
       {"files to write out; - is standard input"},
       1,
       -1,
       0,
       {},
       "write files to standard output",
       "Reads each FILE through the default file system's ReadFile entry (NAME:PATH: the\n"
       "archive's, see --fs) and writes it to standard output, byte for byte. FILE '-' is\n"
       "standard input.",
       RunCat},
      {"cp",
       {"SRC", "DST"},
       {"what to copy; - is standard input", "where to: a file or a folder; - is standard output"},
       2,
       2,
       kRecursive,
       {},
       "copy a file, or with -r a folder",
       "Copies SRC to DST, or into DST when DST is a folder, through the default file system's\n"
       "ReadFile and WriteFile entries in blocks of 1 MiB, checking every count, and flushes\n"
       "the copy to the disk once at the end. The copy is written beside DST and takes its\n"
       "place when complete: a copy that fails leaves no part of itself, and a file it was to\n"
       "replace stays whole (a device or a FIFO is written in place). SRC '-' is standard\n"
       "input, DST '-' standard output. Without -r a link is followed and a FIFO read.\n"
       "-r copies a folder and all it holds (a SRC named . or .. puts what it holds into DST)\n"
       "and stops at the first failure. It copies symbolic links as links, never what they\n"
       "lead to, on the default file system; where the system makes no link (Windows without\n"
       "the right to) and for an archive it leaves the link out with a message. FIFOs,\n"
       "sockets and devices are left out with a message each; the copy goes on, and the exit\n"
       "code is 1. On a terminal, files of 1 MiB or more show a progress bar on standard\n"
       "error. SRC may be NAME:PATH in an archive mounted with --fs; an archive takes no\n"
       "copy in.",
       RunCp},
      {"ls",
       {"PATTERN"},
       {"a folder, or a path whose last part may hold * and ?"},
       1,
       1,
       kAll,
       {},
       "list names matching a wildcard pattern (or a folder's contents)",
       "Searches with the default file system (or an archive's, for NAME:PATTERN): '*' and\n"
       "'?' in the last part of PATTERN. A PATTERN without wildcards that names a folder\n"
       "lists the folder. Names come sorted; -a also shows \".\" and \"..\". Finding nothing\n"
       "is a failure, and so is a folder that may not be read; the message says which.",
       RunLs},
      {"mkdir",
       {"DIR"},
       {"folders to create"},
       1,
       -1,
       kParents,
       {},
       "create folders",
       "Creates each folder; its parent must exist. -p creates every missing folder on the way\n"
       "and accepts folders that exist already.",
       RunMkdir},
      {"rm",
       {"PATH"},
       {"files (with -r also folders) to remove"},
       1,
       -1,
       kRecursive,
       {},
       "remove files, or with -r folders and all they hold",
       "Removes each file (a link is removed, never followed). -r also removes folders with\n"
       "everything in them, and stops at the first failure.",
       RunRm},
      {"rmdir",
       {"DIR"},
       {"empty folders to remove"},
       1,
       -1,
       0,
       {},
       "remove empty folders",
       "Removes each folder; it must be empty.",
       RunRmdir},
      {"stat",
       {"PATH"},
       {"files or folders to look at"},
       1,
       -1,
       0,
       {},
       "whether a path exists, file or folder, and a file's size",
       "Prints for each path whether it exists (yes, no, or unknown behind a folder that may\n"
       "not be read), what it is (file, folder, link, FIFO, socket or device), a file's size\n"
       "in bytes and what a link leads to. A link is shown as itself (PATH/ is the folder it\n"
       "leads to); nothing is opened to find out. A path that is not there makes the exit\n"
       "code 1.",
       RunStat},
      {"check-fs",
       {"FS"},
       {"\"Default\", a NAME given with --fs, zip:PATH (an archive), or memory"},
       1,
       1,
       0,
       {{"--scratch", "DIR", "a folder the kit may fill (without one: checked as read-only)", 0},
        {"--sample", "PATH", "a file to read (else one is written or found)", 0},
        {"--threads", "N", "readers at once in the thread check: 1 to 256, default 4", 256}},
       "run the conformance kit against a file system",
       "Drives a file system through what streams and the registry rely on, one line per\n"
       "check and a summary; exit code 1 when a check fails. FS is a registered name\n"
       "(\"Default\", or a NAME given with --fs), zip:PATH (an archive), or memory (the SDK's\n"
       "in-memory file system). Default is given a temporary scratch folder of its own.\n"
       "Each line is printed as its check ends, into a pipe too. The kit reads no more than\n"
       "the sample's first MiB, so a huge file (an archive member that unpacks to gigabytes)\n"
       "is checked in the same time and memory as a small one; on a file system without a\n"
       "file (an empty archive) the checks that read one are skipped.",
       RunCheckFs},
      {"demo",
       {},
       {},
       0,
       0,
       0,
       {},
       "a narrated walk through the whole module in a temporary folder",
       "Shows classes, both services, files and folders, search, streams over memory,\n"
       "callbacks and files, an in-memory file system plugged into the registry, a failure and\n"
       "its error record, weak and counted references, and the clean release of everything.",
       RunDemo},
  };
  return commands;
}

namespace {

constexpr const char* kModuleVariable = "SLHOST_MODULE";

const char* const kFooter =
    "Run 'slhost COMMAND --help' for a command's options. In every command '--' ends the\n"
    "options, a path ending in '/' names a folder (anything else there is refused: Not a\n"
    "directory), and for cat and cp '-' is standard input or output.\n"
    "\n"
    "Module:\n"
    "  slhost loads the module named by --module, else by the environment variable\n"
    "  SLHOST_MODULE, else the one beside slhost, else the one in ../lib from slhost's\n"
    "  folder (as installed: bin/slhost, lib/libslservices.so).\n"
    "\n"
    "Archives (Linux builds):\n"
    "  --fs ar=zip:assets.zip mounts the zip archive assets.zip, read-only, as file system\n"
    "  ar: every command then takes ar:PATH for a file or folder inside it (ar: alone is its\n"
    "  root). --fs may be given more than once. Only a mounted NAME counts, so col:on.txt\n"
    "  stays a file name; a NAME has two characters or more, without ':', '/' or '\\'.\n"
    "\n"
    "Exit codes:\n"
    "  0  success\n"
    "  1  an entry of the module failed (why, the module's message and its code are\n"
    "     printed), a write to standard output failed, stat found a path missing, or a\n"
    "     check of check-fs failed\n"
    "  2  usage error\n"
    "  3  the module could not be loaded";

struct Parsed {
  const Command* command = nullptr;
  unsigned flags = 0;
  std::vector<std::string> operands;          // of a repeatable operand
  std::string slots[2];                       // of the named ones ("SRC", "DST")
  std::map<std::string, std::string> values;  // of the options with a value
  std::string modulePath;
  std::vector<std::string> mounts;  // the --fs values
};

// The first word that is neither an option nor the value of --module or --fs: the command's
// name. An
// option before it that slhost does not have goes to `unknown`.
std::string CommandWord(const std::vector<std::string>& args, std::string* unknown) {
  for (size_t i = 1; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "--") return i + 1 < args.size() ? args[i + 1] : "";
    if (arg == "--module" || arg == "--fs") {
      ++i;
    } else if (arg.empty() || arg[0] != '-') {
      return arg;
    } else if (unknown->empty() && arg != "-h" && arg != "--help" && arg != "--version" &&
               arg.rfind("--module=", 0) != 0 && arg.rfind("--fs=", 0) != 0) {
      *unknown = arg;
    }
  }
  return "";
}

void AddCommand(CLI::App& app, const Command& command, Parsed* parsed) {
  CLI::App* sub = app.add_subcommand(command.name, command.summary);
  sub->footer(command.details);
  sub->callback([parsed, &command] {
    parsed->command = &command;
    if (command.operands[1] != nullptr)
      parsed->operands.assign(std::begin(parsed->slots), std::end(parsed->slots));
  });
  const auto flag = [&](Flag bit, const char* name, const char* help) {
    if (command.flags & bit)
      sub->add_flag_callback(
          name, [parsed, bit] { parsed->flags |= bit; }, help);
  };
  flag(kAll, "-a", "also list \".\" and \"..\"");
  flag(kParents, "-p", "create missing folders on the way; an existing folder is no failure");
  flag(kRecursive, "-r", "folders too, with all they hold");
  for (const ValueOption& option : command.values) {
    const std::string name = option.name;
    CLI::Option* added = sub->add_option_function<std::string>(
        name, [parsed, name](const std::string& value) { parsed->values[name] = value; },
        option.help);
    added->type_name(option.value);
    if (option.most != 0) added->check(CLI::Range(1u, option.most).description(""));
  }
  if (command.operands[1] != nullptr) {
    for (size_t i = 0; i < std::size(command.operands); ++i) {
      sub->add_option(command.operands[i], parsed->slots[i], command.operandHelp[i])
          ->required()
          ->type_name("");
    }
  } else if (command.operands[0] != nullptr) {
    sub->add_option(command.operands[0], parsed->operands, command.operandHelp[0])
        ->expected(command.minOperands, command.maxOperands)
        ->required(command.minOperands > 0)
        ->type_name("");
  }
}

// The module: --module, else SLHOST_MODULE, else beside slhost, else in ../lib. Null after
// saying why on standard error.
std::unique_ptr<sl::sdk::Module> LoadModule(const std::string& given) {
  std::string named = given;
  std::string source = "--module";
  if (named.empty()) {
    named = console::Environment(kModuleVariable);
    source = kModuleVariable;
  }
  try {
    if (!named.empty()) {
      try {
        return sl::sdk::Module::Open(std::filesystem::u8path(named));
      } catch (const sl::sdk::ModuleError& error) {
        throw sl::sdk::ModuleError(std::string(error.what()) + " (from " + source + ")");
      }
    }
    const std::filesystem::path places[] = {
        sl::sdk::Module::BesideExecutable(),
        sl::sdk::Module::ExecutablePath().parent_path().parent_path() / "lib" /
            sl::sdk::Module::DefaultFileName()};
    std::string looked;
    for (const std::filesystem::path& place : places) {
      std::error_code ignored;
      if (std::filesystem::exists(place, ignored)) return sl::sdk::Module::Open(place);
      looked += (looked.empty() ? "" : ", ") + Shown(place);
    }
    throw sl::sdk::ModuleError("no module found; looked for " + looked +
                               " (name one with --module PATH or " + kModuleVariable + ")");
  } catch (const sl::sdk::ModuleError& error) {
    std::fprintf(stderr, "slhost: %s\n", error.what());
    return nullptr;
  }
}

int Run(const Parsed& parsed) {
  std::unique_ptr<sl::sdk::Module> module = LoadModule(parsed.modulePath);
  if (!module) return kNoModule;
  // Every object the command made is released before the module is unloaded at return.
  Context context{*module, parsed.command->name, parsed.flags, parsed.operands, parsed.values};
  int status = kEntryFailed;
  try {
    status = parsed.command->run(context);
  } catch (const sl::sdk::ServiceError& error) {
    status = EntryFailed(context, "", "", error);
  } catch (const std::exception& error) {
    status = Report(context, error.what());
  }
  if (!OutputHasFailed()) {
    const std::string lost = output::Close();
    if (!lost.empty()) status = Report(context, "standard output: " + lost);
  }
  return status;
}

// After help or the version: whether it reached standard output.
int Printed() {
  const std::string lost = output::Close();
  if (lost.empty()) return kOk;
  std::fprintf(stderr, "slhost: standard output: %s\n", lost.c_str());
  return kEntryFailed;
}

int Main(const std::vector<std::string>& args) {
  Parsed parsed;
  CLI::App app(
      "A host for the service-object module: it loads the module by path and works\n"
      "only through its exports and object tables.",
      "slhost");
  app.set_help_flag("-h,--help", "this text");
  app.set_version_flag("--version", std::string("slhost ") + SL_VERSION);
  app.add_option("--module", parsed.modulePath, "the module to load (see Module below)")
      ->type_name("PATH");
  app.add_option("--fs", parsed.mounts, "a zip archive as file system NAME (see Archives below)")
      ->type_name("NAME=zip:PATH")
      ->expected(1)
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
  app.get_formatter()->label("REQUIRED", "");
  app.require_subcommand(0, 1);
  app.footer(kFooter);
  for (const Command& command : Commands()) AddCommand(app, command, &parsed);

  std::vector<std::string> line = args;
  std::string unknown;
  std::string word = CommandWord(line, &unknown);
  if (word == "help") {  // "slhost help [COMMAND]" is "slhost [COMMAND] --help"
    line.erase(std::find(line.begin() + 1, line.end(), word));
    line.push_back("--help");
    word = CommandWord(line, &unknown);
  }
  if (!unknown.empty()) {
    std::fprintf(stderr, "slhost: unknown option %s (slhost --help lists the options)\n",
                 unknown.c_str());
    return kUsage;
  }
  const bool known = std::any_of(Commands().begin(), Commands().end(),
                                 [&](const Command& c) { return word == c.name; });
  if (!word.empty() && !known) {
    std::fprintf(stderr, "slhost: unknown command %s (slhost --help lists them)\n", word.c_str());
    return kUsage;
  }
  std::vector<std::string> reversed(line.rbegin(), line.rend() - 1);  // CLI11 takes them so
  try {
    app.parse(reversed);
  } catch (const CLI::CallForHelp& help) {
    app.exit(help);  // the help of the command it was asked of, on standard output
    return Printed();
  } catch (const CLI::CallForVersion& version) {
    app.exit(version);
    return Printed();
  } catch (const CLI::ParseError& error) {
    std::fprintf(stderr, "slhost%s%s: %s\nRun 'slhost%s%s --help' for more information.\n",
                 known ? " " : "", word.c_str(), error.what(), known ? " " : "", word.c_str());
    return kUsage;
  }
  if (parsed.command == nullptr) {
    std::fprintf(stderr, "%s", app.help().c_str());
    return kUsage;
  }
  for (const std::string& mount : parsed.mounts) {
    std::string error;
    if (!AddMount(mount, &error)) {
      std::fprintf(stderr, "slhost: %s\n", error.c_str());
      return kUsage;
    }
  }
  return Run(parsed);
}

}  // namespace
}  // namespace slhost

int main(int argc, char** argv) {
  slhost::console::UseBinaryOutput();
  slhost::console::UseBinaryInput();
  return slhost::Main(slhost::console::Utf8Arguments(argc, argv));
}
