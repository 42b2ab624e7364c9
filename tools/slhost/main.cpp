// slhost: a host program that loads the module the way any host does (by path, through its
// exports and object tables only) and shows what it offers.
//
//   slhost [MODULE_PATH] demo
#include <cstdio>
#include <cstring>
#include <string>

#include "demo.h"
#include "slservices/sdk/module.hpp"
#include "slservices/slservices.h"

namespace {

std::string ModulePathBeside(const char* argv0) {
  std::string path(argv0);
  const size_t slash = path.find_last_of("/\\");
  const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash);
  return folder + "/" + sl::sdk::Module::DefaultFileName();
}

int Usage() {
  std::fprintf(stderr, "usage: slhost [--module PATH] demo\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  std::string modulePath = ModulePathBeside(argv[0]);
  int arg = 1;
  if (arg + 1 < argc && std::strcmp(argv[arg], "--module") == 0) {
    modulePath = argv[arg + 1];
    arg += 2;
  }
  if (arg >= argc) return Usage();
  const std::string command = argv[arg];

  std::string error;
  auto module = sl::sdk::Module::Load(modulePath, &error);
  if (!module) {
    std::fprintf(stderr, "slhost: %s\n", error.c_str());
    return 3;
  }
  std::printf("loaded %s\n", modulePath.c_str());
  if (command == "demo") return slhost::RunDemo(*module);
  return Usage();
}
