// slhost's console: the few things a command-line program does differently on each system.
// One backend per system: console/posix.cpp, console/win.cpp.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace slhost::console {

// Whether the stream is an interactive terminal (not a file or a pipe).
bool IsTerminal(std::FILE* stream);

// Standard output and error without newline translation, and UTF-8 text on a Windows console.
void UseBinaryOutput();

// Standard input without newline translation (nothing to do outside Windows).
void UseBinaryInput();

// The width in columns of the terminal behind the stream; 0 when it is none or cannot tell.
int Columns(std::FILE* stream);

// One read of what the stream's file holds now, at most `size` bytes, past the stream's own
// buffer (use it for every read of that stream): a pipe or a terminal gives what has arrived
// instead of waiting for `size` bytes. 0 at the end, -1 on failure (errno tells why).
long long ReadSome(std::FILE* stream, void* buffer, size_t size);

// An environment variable in UTF-8 (read wide on Windows); empty when unset.
std::string Environment(const char* name);

// The program's arguments in UTF-8. On Windows they are read from the wide command line, so
// names outside the system's code page survive; elsewhere they are taken as given.
std::vector<std::string> Utf8Arguments(int argc, char** argv);

}  // namespace slhost::console
