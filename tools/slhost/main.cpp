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
  const CommandHelp& help = HelpOf(command.name);
  CLI::App* sub = app.add_subcommand(command.name, help.summary);
  sub->footer(help.details);
  const bool twoOperands = command.operands.size() == 2;
  sub->callback([parsed, &command, twoOperands] {
    parsed->command = &command;
    if (twoOperands) parsed->operands.assign(std::begin(parsed->slots), std::end(parsed->slots));
  });
  const auto flag = [&](Flag bit, const char* name, const char* text) {
    if (command.flags & bit)
      sub->add_flag_callback(
          name, [parsed, bit] { parsed->flags |= bit; }, text);
  };
  flag(kAll, "-a", "also list \".\" and \"..\"");
  flag(kParents, "-p", "create missing folders on the way; an existing folder is no failure");
  flag(kRecursive, "-r", "folders too, with all they hold");
  for (const ValueOption& option : command.values) {
    const std::string name = option.name;
    CLI::Option* added = sub->add_option_function<std::string>(
        name, [parsed, name](const std::string& value) { parsed->values[name] = value; },
        help.For(name));
    added->type_name(option.value);
    if (option.most != 0) added->check(CLI::Range(1u, option.most).description(""));
  }
  if (twoOperands) {
    for (size_t i = 0; i < std::size(parsed->slots); ++i) {
      sub->add_option(command.operands[i], parsed->slots[i], help.For(command.operands[i]))
          ->required()
          ->type_name("");
    }
  } else if (!command.operands.empty()) {
    sub->add_option(command.operands[0], parsed->operands, help.For(command.operands[0]))
        ->expected(command.leastOperands, command.mostOperands)
        ->required(command.leastOperands > 0)
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
