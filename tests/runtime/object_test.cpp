// Object lifetime on module and host objects alike: reference counts, weak references, the race
// between Lock and the final Release, and the debug checks.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "common/test_objects.h"
#include "runtime/service_object.h"
#include "slservices/sdk/object.hpp"

namespace {

// The protocol is one implementation (slservices/core/object_core.hpp) under two kinds of object:
// the module's own and a host's built on the SDK's HostObject. Every case runs on both.
struct ModuleObject {
  static ServiceObject* Make(std::atomic<int>* destroyed) {
    return sltest::AsObject(sltest::MakeProbe(destroyed));
  }
};
struct HostMadeObject {
  struct Counted final : sl::sdk::HostObject {
    explicit Counted(std::atomic<int>* destroyed) : destroyed_(destroyed) {
      InitShell(shell_, SL_FILESYSTEM_SEARCH_RESULT_ID, "SLFileSystemSearchResult",
                SL_FILESYSTEM_SEARCH_RESULT_STAMP);
    }
    ~Counted() override { ++*destroyed_; }
    ServiceObject* object() override { return reinterpret_cast<ServiceObject*>(&shell_.table); }
    const char* DisplayName() const override { return "Counted"; }
    sl::sdk::Shell<SLFileSystemSearchResult> shell_;
    std::atomic<int>* destroyed_;
  };
  static ServiceObject* Make(std::atomic<int>* destroyed) {
    return (new Counted(destroyed))->object();
  }
};

template <class Kind>
class Protocol : public ::testing::Test {};
using Kinds = ::testing::Types<ModuleObject, HostMadeObject>;
TYPED_TEST_SUITE(Protocol, Kinds);

ServiceObjectWeakRef* WeakOf(ServiceObject* object) {
  ServiceObjectWeakRef* weak = nullptr;
  EXPECT_EQ(SL_OK, object->header.GetWeakRef(object, &weak));
  return weak;
}

TYPED_TEST(Protocol, TheLastReleaseDestroys) {
  std::atomic<int> destroyed{0};
  ServiceObject* object = TypeParam::Make(&destroyed);
  EXPECT_TRUE(object->header.AddRef && object->header.Release && object->header.GetRefCount &&
              object->header.GetWeakRef && object->header.GetErrorInfo);
  EXPECT_EQ(1u, object->header.GetRefCount(object));
  EXPECT_EQ(2u, object->header.AddRef(object));
  EXPECT_EQ(1u, object->header.Release(object));
  EXPECT_EQ(0, destroyed.load());
  EXPECT_EQ(0u, object->header.Release(object));
  EXPECT_EQ(1, destroyed.load());
}

TYPED_TEST(Protocol, OneWeakBlockPerObjectLockWhileAliveAndDetachmentAtDestruction) {
  std::atomic<int> destroyed{0};
  ServiceObject* object = TypeParam::Make(&destroyed);
  EXPECT_EQ(SL_INVALID_ARGUMENT, object->header.GetWeakRef(object, nullptr));
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
TYPED_TEST(Protocol, LockRacingTheFinalReleaseDestroysExactlyOnce) {
  for (int round = 0; round < 1000; ++round) {
    std::atomic<int> destroyed{0};
    ServiceObject* object = TypeParam::Make(&destroyed);
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
    for (int spin = 0; spin < round % 64; ++spin) std::this_thread::yield();  // meet them anywhere
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
