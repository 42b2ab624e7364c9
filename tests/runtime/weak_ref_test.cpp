// Weak references: one block per object, Lock while alive, detachment at destruction, and
// the race between Lock and the final Release.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "common/test_objects.h"

namespace {

ServiceObjectWeakRef* WeakOf(ServiceObject* object) {
  ServiceObjectWeakRef* weak = nullptr;
  EXPECT_EQ(object->header.GetWeakRef(object, &weak), SL_OK);
  return weak;
}

TEST(WeakRef, NullOutPointerGives3AndBuildsNoBlock) {
  sltest::ProbeObject* probe = sltest::MakeProbe();
  EXPECT_EQ(probe->AsObject()->header.GetWeakRef(probe->AsObject(), nullptr), SL_INVALID_ARGUMENT);
  EXPECT_EQ(probe->core.weakRef.load(), nullptr);
  probe->AsObject()->header.Release(probe->AsObject());
}

TEST(WeakRef, SameBlockEveryTimeWithCountsTwoThenThree) {
  ServiceObject* object = sltest::AsObject(sltest::MakeProbe());
  ServiceObjectWeakRef* first = WeakOf(object);
  EXPECT_EQ(first->GetRefCount(first), 2u);  // the object's own plus ours
  ServiceObjectWeakRef* second = WeakOf(object);
  EXPECT_EQ(second, first);
  EXPECT_EQ(first->GetRefCount(first), 3u);
  EXPECT_EQ(first->AddRef(first), 4u);
  EXPECT_EQ(first->Release(first), 3u);
  first->Release(first);
  first->Release(first);
  object->header.Release(object);
}

TEST(WeakRef, LockOnALiveObjectAddsOneReference) {
  ServiceObject* object = sltest::AsObject(sltest::MakeProbe());
  ServiceObjectWeakRef* weak = WeakOf(object);
  EXPECT_EQ(weak->IsAlive(weak), 1);
  ServiceObject* locked = weak->Lock(weak);
  EXPECT_EQ(locked, object);
  EXPECT_EQ(object->header.GetRefCount(object), 2u);
  object->header.Release(locked);
  object->header.Release(object);
  weak->Release(weak);
}

TEST(WeakRef, DestructionDetachesTheBlockWhichLivesOnUntilItsLastRelease) {
  std::atomic<int> destroyed{0};
  ServiceObject* object = sltest::AsObject(sltest::MakeProbe(&destroyed));
  ServiceObjectWeakRef* weak = WeakOf(object);
  EXPECT_EQ(object->header.Release(object), 0u);
  EXPECT_EQ(destroyed.load(), 1);
  EXPECT_EQ(weak->IsAlive(weak), 0);
  EXPECT_EQ(weak->Lock(weak), nullptr);
  EXPECT_EQ(weak->GetRefCount(weak), 1u);  // only ours: the object dropped its own
  EXPECT_EQ(weak->AddRef(weak), 2u);
  EXPECT_EQ(weak->Release(weak), 1u);
  EXPECT_EQ(weak->Release(weak), 0u);  // frees the block (ASan would flag a leak otherwise)
}

TEST(WeakRef, ConcurrentFirstRequestsPublishOneBlock) {
  for (int round = 0; round < 200; ++round) {
    ServiceObject* object = sltest::AsObject(sltest::MakeProbe());
    constexpr int kThreads = 4;
    ServiceObjectWeakRef* seen[kThreads] = {};
    std::atomic<bool> go{false};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
      threads.emplace_back([&, t] {
        while (!go.load()) {
        }
        object->header.GetWeakRef(object, &seen[t]);
      });
    }
    go = true;
    for (auto& thread : threads) thread.join();
    for (int t = 1; t < kThreads; ++t) ASSERT_EQ(seen[t], seen[0]);
    EXPECT_EQ(seen[0]->GetRefCount(seen[0]), 1u + kThreads);
    for (int t = 0; t < kThreads; ++t) seen[t]->Release(seen[t]);
    object->header.Release(object);
  }
}

// Threads race Lock (and release what they got) against the owner's final Release: the object
// must be destroyed exactly once, and no Lock may hand out an object that is dying.
TEST(WeakRef, LockRacingTheFinalReleaseDestroysExactlyOnce) {
  constexpr int kRounds = 2000;
  for (int round = 0; round < kRounds; ++round) {
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
        EXPECT_EQ(destroyed.load(), 0);
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
    ASSERT_EQ(destroyed.load(), 1) << "round " << round;
  }
}

}  // namespace
