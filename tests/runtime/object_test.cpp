// Object lifetime: the object stage of construction, reference counts, weak references, and the
// race between Lock and the final Release.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "common/test_objects.h"
#include "runtime/service_object.h"

namespace {

ServiceObjectWeakRef* WeakOf(ServiceObject* object) {
  ServiceObjectWeakRef* weak = nullptr;
  EXPECT_EQ(SL_OK, object->header.GetWeakRef(object, &weak));
  return weak;
}

TEST(Lifetime, TheObjectStageFinishesTheTableAndTheLastReleaseDestroys) {
  std::atomic<int> destroyed{0};
  sltest::ProbeObject* probe = sltest::MakeProbe(&destroyed);
  ServiceObject* object = probe->AsObject();
  const SLFileSystemSearchResult& table = *probe->AsInterface();
  EXPECT_EQ(static_cast<void*>(object), static_cast<void*>(probe)) << "the header comes first";
  EXPECT_EQ(SL_FILESYSTEM_SEARCH_RESULT_STAMP, table.tableStamp);  // 0 after the first stage
  EXPECT_TRUE(table.header.AddRef && table.header.Release && table.header.GetRefCount &&
              table.header.GetWeakRef && table.header.GetErrorInfo);
  EXPECT_EQ(1u, object->header.GetRefCount(object));
  EXPECT_EQ(2u, object->header.AddRef(object));
  EXPECT_EQ(1u, object->header.Release(object));
  EXPECT_EQ(0, destroyed.load());
  EXPECT_EQ(0u, object->header.Release(object));
  EXPECT_EQ(1, destroyed.load());
}

TEST(WeakRef, OneBlockPerObjectLockWhileAliveAndDetachmentAtDestruction) {
  std::atomic<int> destroyed{0};
  sltest::ProbeObject* probe = sltest::MakeProbe(&destroyed);
  ServiceObject* object = probe->AsObject();
  EXPECT_EQ(SL_INVALID_ARGUMENT, object->header.GetWeakRef(object, nullptr));
  EXPECT_EQ(nullptr, probe->core.weakRef.load()) << "no block built";
  ServiceObjectWeakRef* weak = WeakOf(object);
  EXPECT_EQ(2u, weak->GetRefCount(weak));  // the object's own plus ours
  EXPECT_EQ(weak, WeakOf(object));
  EXPECT_EQ(3u, weak->GetRefCount(weak));
  EXPECT_EQ(4u, weak->AddRef(weak));
  EXPECT_EQ(3u, weak->Release(weak));
  EXPECT_EQ(2u, weak->Release(weak));
  EXPECT_EQ(1, weak->IsAlive(weak));
  EXPECT_EQ(object, weak->Lock(weak));
  EXPECT_EQ(2u, object->header.GetRefCount(object));
  EXPECT_EQ(1u, object->header.Release(object));
  EXPECT_EQ(0u, object->header.Release(object));
  EXPECT_EQ(1, destroyed.load());
  EXPECT_EQ(0, weak->IsAlive(weak));
  EXPECT_EQ(nullptr, weak->Lock(weak));
  EXPECT_EQ(1u, weak->GetRefCount(weak));  // only ours: the object dropped its own
  EXPECT_EQ(0u, weak->Release(weak));      // frees the block (a leak checker would tell)
}

// Threads race Lock (and release what they got) against the owner's final Release: the object
// is destroyed exactly once, and no Lock hands out an object that is dying.
TEST(WeakRef, LockRacingTheFinalReleaseDestroysExactlyOnce) {
  for (int round = 0; round < 1000; ++round) {
    std::atomic<int> destroyed{0};
    ServiceObject* object = sltest::AsObject(sltest::MakeProbe(&destroyed));
    ServiceObjectWeakRef* weak = WeakOf(object);
    weak->AddRef(weak);  // one weak reference per locking thread
    std::atomic<bool> go{false};
    auto locker = [&] {
      while (!go.load()) {
      }
      for (int i = 0; i < 8; ++i) {
        ServiceObject* locked = weak->Lock(weak);
        if (locked == nullptr) break;
        EXPECT_EQ(0, destroyed.load());
        EXPECT_GE(locked->header.GetRefCount(locked), 1u);
        locked->header.Release(locked);
      }
      weak->Release(weak);
    };
    std::thread a(locker), b(locker);
    go = true;
    object->header.Release(object);
    a.join();
    b.join();
    ASSERT_EQ(1, destroyed.load()) << "round " << round;
  }
}

}  // namespace

// Debug builds check the protocol: a second Release of an object already destroyed stops at
// once with a message that names the misuse (under ASan, its own report stops it first).
TEST(DebugChecks, AnOverReleaseStopsWithAMessage) {
#if !SL_DEBUG_CHECKS
  GTEST_SKIP() << "debug checks are off in this build";
#endif
  EXPECT_DEATH(
      {
        ServiceObject* object = sltest::MakeProbe()->AsObject();
        object->header.Release(object);
        object->header.Release(object);
      },
      "released more often than it was taken|heap-use-after-free");
}
