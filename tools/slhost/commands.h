// The command list: how slhost declares a command, one line each, and what --help says of it.
#pragma once

#include <string_view>
#include <utility>
#include <vector>

#include "command.h"

namespace slhost {

// No limit on how often a repeated operand may be given.
constexpr int kMany = -1;

// An option of a command that takes a value: "--threads N".
struct ValueOption {
  const char* name;   // "--threads"
  const char* value;  // "N", as --help shows it
  unsigned most;      // a number from 1 to `most`; 0 for any text
};

// A command as the command list declares it, in one line:
//   Command("cat").Operands("FILE", 1, kMany).Run(RunCat)
// What --help says of it is in the help table beside the list (HelpOf).
struct Command {
  explicit Command(const char* command) : name(command) {}
  // One operand name, given from `least` to `most` times (kMany: no limit).
  Command& Operands(const char* operand, int least, int most) {
    operands = {operand};
    leastOperands = least;
    mostOperands = most;
    return *this;
  }
  // One operand, given once.
  Command& Operand(const char* operand) { return Operands(operand, 1, 1); }
  // Two operands of their own, one each: "SRC", "DST".
  Command& Operands(const char* first, const char* second) {
    operands = {first, second};
    leastOperands = mostOperands = 2;
    return *this;
  }
  // The Flag values it accepts.
  Command& Flags(unsigned accepted) {
    flags = accepted;
    return *this;
  }
  // An option that takes a value: "--threads", shown as "N"; with `most`, a number from 1 to it.
  Command& Option(const char* option, const char* value, unsigned most = 0) {
    values.push_back({option, value, most});
    return *this;
  }
  Command& Run(int (*function)(Context&)) {
    run = function;
    return *this;
  }

  const char* name;
  std::vector<const char*> operands;  // none, one repeated, or two of their own
  int leastOperands = 0;
  int mostOperands = 0;
  unsigned flags = 0;
  std::vector<ValueOption> values;
  int (*run)(Context&) = nullptr;
};

// Every command, in the order `slhost --help` lists them.
const std::vector<Command>& Commands();

// What --help says of a command: its line in `slhost --help`, what each operand and option is
// for, and the details that end its own --help.
struct CommandHelp {
  const char* command;  // "cp"
  const char* summary;
  std::vector<std::pair<const char*, const char*>> items;  // "SRC" or "--threads", and its use
  const char* details;

  // What `item` is for; every operand and option of the command has a line.
  const char* For(std::string_view item) const;
};
const CommandHelp& HelpOf(std::string_view command);

}  // namespace slhost
