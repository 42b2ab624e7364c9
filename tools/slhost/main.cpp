// slhost: a host program that loads the module the way any host does (by path, through its
// exports and object tables only) and shows what it offers.
//
//   slhost [MODULE_PATH] demo
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <string>

#include "slservices/sdk/module.hpp"
#include "slservices/slservices.h"

namespace {

std::string ModulePathBeside(const char* argv0) {
  std::string path(argv0);
  const size_t slash = path.find_last_of("/\\");
  const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash);
  return folder + "/" + sl::sdk::Module::DefaultFileName();
}

void PrintHeader(const ServiceObject* object) {
  const ServiceFunctionTable& header = object->header;
  const auto* bytes = reinterpret_cast<const unsigned char*>(object);
  char marker[5] = {};
  uint32_t stamp = 0;
  std::memcpy(marker, bytes + 56 + header.tableSize, 4);
  std::memcpy(&stamp, bytes + 60 + header.tableSize, 4);
  std::printf("    interface %s: id 0x%08" PRIx32 ", table size %" PRIu32
              " (%" PRIu32 " entries), marker \"%s\", stamp 0x%08" PRIx32 "\n",
              header.interfaceName, header.interfaceId, header.tableSize, header.tableSize / 8,
              marker, stamp);
  std::printf("    reference count %" PRIu32 "\n", header.GetRefCount(const_cast<ServiceObject*>(object)));
}

int Demo(const sl::sdk::Module& module) {
  const ServiceObjectInfo* classes = nullptr;
  uint32_t count = 0;
  SLResult result = module.reflect(&classes, &count);
  std::printf("ReflectServiceObjectInfo -> %" PRIu32 ", %" PRIu32 " classes\n", result, count);
  for (uint32_t i = 0; i < count; ++i) {
    uint32_t atom = SL_UNRESOLVED_ATOM;
    SLGetAtomFromString(classes[i].className, &atom);
    std::printf("  [%" PRIu32 "] %-18s listed atom 0x%08" PRIx32 ", atom library says 0x%08" PRIx32
                "\n",
                i, classes[i].className, classes[i].classAtom, atom);
  }
  for (uint32_t i = 0; i < count; ++i) {
    uint32_t atom = SL_UNRESOLVED_ATOM;
    SLGetAtomFromString(classes[i].className, &atom);
    ServiceObject* object = nullptr;
    result = module.create(atom, &object);
    std::printf("CreateServiceObject(%s) -> %" PRIu32 "%s\n", classes[i].className, result,
                result == SL_NO_OBJECT ? " (no object: the class has no factory yet)" : "");
    if (result != SL_OK) continue;
    PrintHeader(object);
    std::printf("    Release -> %" PRIu32 "\n", object->header.Release(object));
  }
  return 0;
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
  if (command == "demo") return Demo(*module);
  return Usage();
}
