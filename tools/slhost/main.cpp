// slhost: a host program that loads the module the way any host does (by path, through its
// exports and object tables only) and works with files through it.
//
//   slhost [--module PATH] [--fs NAME=zip:PATH | --fs NAME=sftp://[USER@]HOST[:PORT][/PATH]]...
//          COMMAND [OPTIONS] [--] [OPERANDS...]
//
// One option parser (CLI11) reads every command line as it stands, so every command follows the
// same conventions: options before or among the operands, "--" ending the options, "-" as an
// operand for standard input or output, --help on each command (and "slhost help COMMAND"),
// exit code 2 for any usage error, found before anything is touched. The commands and what they
// take are the list in commands.cpp.
#include <CLI/CLI.hpp>
#include <cstdio>
#include <iterator>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "command.h"
#include "commands.h"
#include "console.h"
#include "mounts.h"
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
    "Mounts, --fs NAME=SOURCE (Linux builds):\n"
    "  --fs ar=zip:assets.zip mounts the zip archive assets.zip, read-only, as file system\n"
    "  ar: every command then takes ar:PATH for a file or folder inside it (ar: alone is its\n"
    "  root). --fs box=sftp://me@host:2222/srv/data mounts the folder /srv/data of an SSH\n"
    "  server, read and written, over SFTP (/~/data is below the login folder). The URL may\n"
    "  end in ?timeout=SECONDS (every wait for the network; default 30), known_hosts=FILE\n"
    "  (default ~/.ssh/known_hosts, where the server's key must be) and identity=FILE (the\n"
    "  private key; default the agent, then ~/.ssh/id_ed25519, id_ecdsa, id_rsa), joined\n"
    "  with '&'. No password is ever asked for. The archive is opened, the server reached,\n"
    "  when a command first uses NAME; a connection lost on the way fails the command.\n"
    "  --fs may be given more than once. Only a mounted NAME counts, so col:on.txt stays a\n"
    "  file name; a NAME has two characters or more, without ':', '/' or '\\'.\n"
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
  // Declared before the module, so that it runs after the module is unloaded: the mounted
  // file systems and their libraries go then, not among the static objects at exit.
  struct Closing {
    ~Closing() { CloseMounts(); }
  } closing;
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

// The command a command line reached, empty before one: "cp".
std::string CommandOf(const CLI::App& app) {
  const std::vector<const CLI::App*> reached =
      app.get_subcommands([](const CLI::App* sub) { return sub->parsed(); });
  return reached.empty() ? "" : reached.front()->get_name();
}

// The first word before the command that slhost could not place, of the `before` words the
// parser kept there.
struct Unplaced {
  std::string word;
  bool option;  // an option slhost does not have; else a word that names no command
};
std::optional<Unplaced> FirstUnplaced(const CLI::App& app, std::size_t before) {
  const std::vector<std::string> kept = app.remaining();
  bool ended = false;  // the parser keeps the "--" that ends the options among them
  for (std::size_t i = 0; i < kept.size() && i < before; ++i) {
    if (kept[i] == "--" && !ended) {
      ended = true;
    } else {
      return Unplaced{kept[i], !ended && !kept[i].empty() && kept[i][0] == '-'};
    }
  }
  return std::nullopt;
}

// A command line the parser stopped at: --help or --version, printed, or a usage error, told.
// Returns the exit code.
int Refused(CLI::App& app, std::size_t before, const CLI::ParseError& error) {
  // A word before the command is told of first, whatever the parser found after it.
  const std::optional<Unplaced> unplaced = FirstUnplaced(app, before);
  if (unplaced && !unplaced->word.empty()) {  // an empty word gets the parser's message
    std::fprintf(stderr,
                 unplaced->option ? "slhost: unknown option %s (slhost --help lists the options)\n"
                                  : "slhost: unknown command %s (slhost --help lists them)\n",
                 unplaced->word.c_str());
    return kUsage;
  }
  if (error.get_exit_code() == static_cast<int>(CLI::ExitCodes::Success)) {  // --help, --version
    app.exit(error);  // the help of the command it was asked of, on standard output
    return Printed();
  }
  const std::string command = unplaced ? "" : CommandOf(app);
  const std::string slhost = command.empty() ? "slhost" : "slhost " + command;
  std::fprintf(stderr, "%s: %s\nRun '%s --help' for more information.\n", slhost.c_str(),
               error.what(), slhost.c_str());
  return kUsage;
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
  app.add_option("--fs", parsed.mounts,
                 "zip:PATH (an archive) or sftp://URL (a remote folder) as file system NAME")
      ->type_name("NAME=SOURCE")
      ->expected(1)
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
  app.get_formatter()->label("REQUIRED", "");
  app.require_subcommand(0, 1);
  app.footer(kFooter);
  for (const Command& command : Commands()) AddCommand(app, command, &parsed);
  // "slhost help [WORDS...]" is "slhost [WORDS...] --help". The parser has no such command; this
  // one, unlisted, takes the rest of the line as it stands and hands it back.
  CLI::App* help = app.add_subcommand("help")->group("")->prefix_command();
  help->set_help_flag();

  // The parser keeps what no option or command took in one list, before the command and after
  // it; how many came before is noted as the command begins.
  std::size_t before = args.size();
  for (CLI::App* sub : app.get_subcommands([](CLI::App*) { return true; })) {
    sub->preparse_callback([&](std::size_t) { before = app.remaining().size(); });
  }

  std::vector<const char*> argv;
  for (const std::string& arg : args) argv.push_back(arg.c_str());
  try {
    app.parse(static_cast<int>(argv.size()), argv.data());
  } catch (const CLI::ParseError& error) {
    return Refused(app, before, error);
  }
  if (help->parsed()) {
    std::vector<std::string> line = {args.front()};
    for (const std::string& word : help->remaining()) line.push_back(word);
    line.push_back("--help");
    return Main(line);
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
