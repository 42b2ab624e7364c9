// slhost's commands: the list, one line each, then what --help says of each.
#include "commands.h"

#include <cstdio>
#include <cstdlib>

namespace slhost {

// In the order `slhost --help` lists them. A command line is checked against its command's
// line before anything is touched: the operands, how many, and the options it takes.
// clang-format off
const std::vector<Command>& Commands() {
  static const std::vector<Command> commands = {
      Command("classes").Run(RunClasses),
      Command("cat").Operands("FILE", 1, kMany).Run(RunCat),
      Command("cp").Operands("SRC", "DST").Flags(kRecursive).Run(RunCp),
      Command("ls").Operand("PATTERN").Flags(kAll).Run(RunLs),
      Command("mkdir").Operands("DIR", 1, kMany).Flags(kParents).Run(RunMkdir),
      Command("rm").Operands("PATH", 1, kMany).Flags(kRecursive).Run(RunRm),
      Command("rmdir").Operands("DIR", 1, kMany).Run(RunRmdir),
      Command("stat").Operands("PATH", 1, kMany).Run(RunStat),
      Command("check-fs").Operand("FS").Option("--scratch", "DIR").Option("--sample", "PATH").Option("--threads", "N", 256).Run(RunCheckFs),
      Command("demo").Run(RunDemo),
  };
  return commands;
}
// clang-format on

namespace {

// Every command's help but the flags' (-a, -p, -r), which is the same in every command and
// given where the option parser learns them.
const std::vector<CommandHelp>& Helps() {
  static const std::vector<CommandHelp> helps = {
      {"classes",
       "the module's classes, their atoms and each interface's table header",
       {},
       "Lists the classes ReflectServiceObjectInfo gives, with the atom of each name, then\n"
       "creates one object of each interface and prints its table header: interface id (and\n"
       "whether it is the FNV-1a hash of the name), table size, end marker, stamp and entries."},
      {"cat",
       "write files to standard output",
       {{"FILE", "files to write out; - is standard input"}},
       "Reads each FILE through the default file system's ReadFile entry (NAME:PATH: that of\n"
       "the archive or remote folder mounted with --fs) and writes it to standard output, byte\n"
       "for byte. FILE '-' is standard input."},
      {"cp",
       "copy a file, or with -r a folder",
       {{"SRC", "what to copy; - is standard input"},
        {"DST", "where to: a file or a folder; - is standard output"}},
       "Copies SRC to DST, or into DST when DST is a folder, through the default file system's\n"
       "ReadFile and WriteFile entries in blocks of 1 MiB, checking every count, and flushes\n"
       "the copy to the disk once at the end. The copy is written beside DST and takes its\n"
       "place when complete: a copy that fails leaves no part of itself, and a file it was to\n"
       "replace stays whole (a device or a FIFO is written in place). In a remote folder\n"
       "(NAME:PATH, mounted with --fs) the copy is written in place, as there is no rename: a\n"
       "failed copy removes a file it created while the connection allows, and leaves a file\n"
       "it was to replace part-written. SRC '-' is standard input, DST '-' standard output.\n"
       "Without -r a link is followed and a FIFO read.\n"
       "-r copies a folder and all it holds (a SRC named . or .. puts what it holds into DST)\n"
       "and stops at the first failure. It copies symbolic links as links, never what they\n"
       "lead to, on the default file system; where the system makes no link (Windows without\n"
       "the right to), in an archive and in a remote folder it leaves the link out with a\n"
       "message. FIFOs, sockets and devices are left out with a message each; the copy goes\n"
       "on, and the exit code is 1. On a terminal, files of 1 MiB or more show a progress bar\n"
       "on standard error. SRC and DST may be NAME:PATH in a file system mounted with --fs:\n"
       "a remote folder takes copies in and out, an archive only out."},
      {"ls",
       "list names matching a wildcard pattern (or a folder's contents)",
       {{"PATTERN", "a folder, or a path whose last part may hold * and ?"}},
       "Searches with the default file system (or a mounted one's, for NAME:PATTERN): '*' and\n"
       "'?' in the last part of PATTERN. A PATTERN without wildcards that names a folder\n"
       "lists the folder. Names come sorted; -a also shows \".\" and \"..\". Finding nothing\n"
       "is a failure, and so is a folder that may not be read; the message says which."},
      {"mkdir",
       "create folders",
       {{"DIR", "folders to create"}},
       "Creates each folder; its parent must exist. -p creates every missing folder on the way\n"
       "and accepts folders that exist already. NAME:DIR creates it in a remote folder mounted\n"
       "with --fs."},
      {"rm",
       "remove files, or with -r folders and all they hold",
       {{"PATH", "files (with -r also folders) to remove"}},
       "Removes each file (a link is removed, never followed). -r also removes folders with\n"
       "everything in them, and stops at the first failure. NAME:PATH removes it from a remote\n"
       "folder mounted with --fs."},
      {"rmdir",
       "remove empty folders",
       {{"DIR", "empty folders to remove"}},
       "Removes each folder; it must be empty."},
      {"stat",
       "whether a path exists, file or folder, and a file's size",
       {{"PATH", "files or folders to look at"}},
       "Prints for each path whether it exists (yes, no, or unknown behind a folder that may\n"
       "not be read), what it is (file, folder, link, FIFO, socket or device), a file's size\n"
       "in bytes and what a link leads to. A link is shown as itself (PATH/ is the folder it\n"
       "leads to); nothing is opened to find out. A path that is not there makes the exit\n"
       "code 1."},
      {"check-fs",
       "run the conformance kit against a file system",
       {{"FS", "\"Default\", a NAME given with --fs, zip:PATH, sftp://URL, or memory"},
        {"--scratch", "a folder the kit may fill (without one: checked as read-only)"},
        {"--sample", "a file to read (else one is written or found)"},
        {"--threads", "readers at once in the thread check: 1 to 256, default 4"}},
       "Drives a file system through what streams and the registry rely on, one line per\n"
       "check and a summary; exit code 1 when a check fails. FS is a registered name\n"
       "(\"Default\", or a NAME given with --fs), zip:PATH (an archive), sftp://URL (a remote\n"
       "folder, as --fs takes it; --scratch is a path inside it, such as /scratch), or memory\n"
       "(the SDK's in-memory file system). Default is given a temporary scratch folder of its\n"
       "own.\n"
       "Each line is printed as its check ends, into a pipe too. The kit reads no more than\n"
       "the sample's first MiB, so a huge file (an archive member that unpacks to gigabytes)\n"
       "is checked in the same time and memory as a small one; on a file system without a\n"
       "file (an empty archive) the checks that read one are skipped."},
      {"demo",
       "a narrated walk through the whole module in a temporary folder",
       {},
       "Shows classes, both services, files and folders, search, streams over memory,\n"
       "callbacks and files, an in-memory file system plugged into the registry, a failure and\n"
       "its error record, weak and counted references, and the clean release of everything."},
  };
  return helps;
}

}  // namespace

const CommandHelp& HelpOf(std::string_view command) {
  for (const CommandHelp& help : Helps()) {
    if (command == help.command) return help;
  }
  std::fprintf(stderr, "slhost: no help for command %.*s\n", static_cast<int>(command.size()),
               command.data());
  std::abort();  // a command added to the list without its help
}

const char* CommandHelp::For(std::string_view item) const {
  for (const auto& [name, text] : items) {
    if (item == name) return text;
  }
  std::fprintf(stderr, "slhost: no help for %s of command %s\n", std::string(item).c_str(),
               command);
  std::abort();  // an operand or option added to a command without its help
}

}  // namespace slhost
