// Without the atom library nothing crashes: class atoms stay unresolved, so CreateServiceObject
// answers 11 for every atom but the unresolved marker itself, which the first class (the head,
// "StreamService") then holds. This executable lives in a folder of its own, without the atom
// library, and loads a copy of the module from an empty temporary folder.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "common/temp_directory.h"
#include "slservices/sdk/module.hpp"

#ifndef SL_MODULE_BUILD_PATH
#error "SL_MODULE_BUILD_PATH must name the built module"
#endif

namespace {

namespace fs = std::filesystem;

TEST(AtomBinding, MissingAtomLibraryLeavesAtomsUnresolved) {
  const fs::path folder = sltest::MakeTempFolder("sl-atom-missing");
  const fs::path copy = folder / sl::sdk::Module::DefaultFileName();
  fs::copy_file(SL_MODULE_BUILD_PATH, copy);
  {
    std::string error;
    auto module = sl::sdk::Module::Load(copy.string(), &error);
    ASSERT_TRUE(module) << error;
    ServiceObject* object = nullptr;
    for (uint32_t atom : {1u, 2u, 3u, 0xFFFFFFFEu}) {
      EXPECT_EQ(module->create(atom, &object), SL_NOT_FOUND) << atom;
    }
    EXPECT_EQ(object, nullptr);
    ASSERT_EQ(module->create(SL_UNRESOLVED_ATOM, &object), SL_OK);
    EXPECT_STREQ(object->header.interfaceName, "SLStreamService");
    EXPECT_EQ(object->header.Release(object), 0u);
    const ServiceObjectInfo* info = nullptr;
    uint32_t count = 0;
    ASSERT_EQ(module->reflect(&info, &count), SL_OK);
    ASSERT_EQ(count, 2u);
    EXPECT_EQ(info[0].classAtom, SL_UNRESOLVED_ATOM);
    EXPECT_EQ(info[1].classAtom, SL_UNRESOLVED_ATOM);
  }
  std::error_code ignored;
  fs::remove_all(folder, ignored);
}

}  // namespace
