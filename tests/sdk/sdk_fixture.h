// The SDK tests load the built module beside the test executable, as a host does, and work in
// a fresh temporary folder.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <optional>
#include <random>
#include <string>

#include "slservices/sdk/sdk.hpp"

namespace sltest {

// One module for the whole test process, unloaded at exit, after every test has released its
// objects (so the leak checker also sees the module's unload). Tests that load the module again
// only add to its load count.
inline sl::sdk::Module& SharedModule() {
  static const std::unique_ptr<sl::sdk::Module> module =
      sl::sdk::Module::Open(sl::sdk::Module::BesideExecutable());
  return *module;
}

class SdkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    module_ = &SharedModule();
    files_.emplace(*module_);
    streams_.emplace(*module_);
    fs_ = files_->Default();
    std::random_device random;
    dir_ = std::filesystem::temp_directory_path() /
           ("sl-sdk-test-" + std::to_string(random()) + "-" +
            std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
    std::filesystem::create_directories(dir_);
  }
  void TearDown() override {
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
    fs_ = sl::sdk::FileSystem();
    streams_.reset();
    files_.reset();
  }

  sl::sdk::Module* module_ = nullptr;
  std::optional<sl::sdk::FileSystemService> files_;
  std::optional<sl::sdk::StreamService> streams_;
  sl::sdk::FileSystem fs_;
  std::filesystem::path dir_;
};

// The calling thread's record on an object, or the code GetErrorInfo gave instead.
inline SLErrorInfo RecordOf(ServiceObject* object, SLResult* result = nullptr) {
  SLErrorInfo info{};
  const SLResult code = object->header.GetErrorInfo(object, &info, 0);
  if (result != nullptr) *result = code;
  return info;
}

}  // namespace sltest
