// What the host-style tests share: loading the built module by path, as a host does.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "slservices/sdk/module.hpp"

namespace sltest {

// The module beside the test executables (tests run in the binaries' folder).
inline std::unique_ptr<sl::sdk::Module> LoadBuiltModule() {
  std::string error;
  auto module = sl::sdk::Module::Load(std::string("./") + sl::sdk::Module::DefaultFileName(),
                                      &error);
  EXPECT_NE(module, nullptr) << error;
  return module;
}

inline uint32_t AtomOf(const char* name) {
  uint32_t atom = SL_UNRESOLVED_ATOM;
  SLGetAtomFromString(name, &atom);
  return atom;
}

}  // namespace sltest
