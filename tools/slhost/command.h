// What every slhost subcommand shares: its arguments, the loaded module, exit codes and the way
// failures are told.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "slservices/sdk/sdk.hpp"

namespace slhost {

// Exit codes; `slhost --help` and the docs list them.
enum ExitCode : int {
  kOk = 0,
  kEntryFailed = 1,  // an entry of the module failed
  kUsage = 2,        // bad command line
  kNoModule = 3,     // the module could not be loaded
};

struct Context {
  const sl::sdk::Module& module;
  std::string command;            // "cp"
  std::vector<std::string> args;  // after the command name
};

struct Command {
  const char* name;
  const char* synopsis;  // "cp SRC DST"
  const char* summary;   // one line for `slhost --help`
  const char* details;   // the rest of `slhost COMMAND --help`
  int (*run)(Context&);
};

// Every command, in the order `slhost --help` lists them.
const std::vector<Command>& Commands();

int RunClasses(Context& context);
int RunCat(Context& context);
int RunCp(Context& context);
int RunStat(Context& context);
int RunRm(Context& context);
int RunLs(Context& context);
int RunMkdir(Context& context);
int RunRmdir(Context& context);
int RunDemo(Context& context);

// "slhost cp: <message>" and the usage line on standard error; returns kUsage.
int UsageError(const Context& context, const std::string& message);
// A failing entry: the module's own message, then what its code means; returns kEntryFailed.
int EntryFailed(const Context& context, const std::string& subject,
                const sl::sdk::ServiceError& error);

// Splits leading options of `context.args` that appear in `allowed` ("-p"); an unknown option
// is a usage error (false). What remains are the operands.
bool TakeOptions(Context& context, const std::vector<std::string>& allowed,
                 std::vector<std::string>* options);
bool Has(const std::vector<std::string>& options, const char* option);

// A command-line path as a full path in the module's form (the default file system takes paths
// as they are, so relative ones are completed here).
sl::sdk::Path16 FullPath(const std::string& argument);
// Whether a path of the file system is a folder: its contents can be searched.
bool IsFolder(const sl::sdk::FileSystem& fs, const sl::sdk::Path16& path);

}  // namespace slhost
