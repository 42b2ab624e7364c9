// The host-side tests load the built module from beside the executable, as a host does: a load
// of their own, so each test starts with the module's state as a new process finds it. The
// fixture adds both services, the default file system and a temporary folder.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>

#include "common/fault_file_system.h"
#include "common/temp_directory.h"
#include "slservices/sdk/sdk.hpp"

namespace sltest {

inline std::unique_ptr<sl::sdk::Module> LoadModule() {
  return sl::sdk::Module::Open(sl::sdk::Module::BesideExecutable());
}

class HostTest : public ::testing::Test {
 protected:
  ~HostTest() override { std::filesystem::remove_all(dir_); }

  std::unique_ptr<sl::sdk::Module> module_ = LoadModule();  // first: it goes last
  sl::sdk::FileSystemService files_{*module_};
  sl::sdk::StreamService streams_{*module_};
  sl::sdk::FileSystem fs_ = files_.Default();
  std::filesystem::path dir_ = MakeTempFolder("sl-host");
};

}  // namespace sltest
