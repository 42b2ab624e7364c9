// A class list built after a CreateServiceObject shows the atoms resolved by then: the head
// record "StreamService" only, when that was the class asked for.
#include <gtest/gtest.h>

#include "host_support.h"

namespace {

TEST(ModuleExports, ClassListBuiltAfterCreateShowsTheAtomsResolvedSoFar) {
  auto module = sltest::LoadBuiltModule();
  ASSERT_TRUE(module);
  ServiceObject* object = nullptr;
  ASSERT_EQ(module->create(sltest::AtomOf("StreamService"), &object), SL_OK);
  object->header.Release(object);

  const ServiceObjectInfo* info = nullptr;
  uint32_t count = 0;
  ASSERT_EQ(module->reflect(&info, &count), SL_OK);
  ASSERT_EQ(count, 2u);
  EXPECT_EQ(info[0].classAtom, sltest::AtomOf("StreamService"));
  EXPECT_EQ(info[1].classAtom, SL_UNRESOLVED_ATOM);
}

}  // namespace
