// Reference counting, destruction and the counted pointer.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "runtime/service_object_ptr.h"
#include "common/foreign_object.h"
#include "common/test_objects.h"

namespace {

using SODetails::BasicServiceObjectPtr;

TEST(Lifetime, CountsUpAndDownAndTheLastReleaseDestroys) {
  std::atomic<int> destroyed{0};
  ServiceObject* object = sltest::AsObject(sltest::MakeProbe(&destroyed));
  EXPECT_EQ(object->header.GetRefCount(object), 1u);
  EXPECT_EQ(object->header.AddRef(object), 2u);
  EXPECT_EQ(object->header.Release(object), 1u);
  EXPECT_EQ(destroyed.load(), 0);
  EXPECT_EQ(object->header.Release(object), 0u);
  EXPECT_EQ(destroyed.load(), 1);
}

TEST(Lifetime, ObjectWithoutWeakReferenceNeverNeedsTheSpinFlag) {
  std::atomic<int> destroyed{0};
  sltest::ProbeObject* probe = sltest::MakeProbe(&destroyed);
  EXPECT_EQ(probe->core.weakRef.load(), nullptr);
  probe->AsObject()->header.Release(probe->AsObject());
  EXPECT_EQ(destroyed.load(), 1);
}

TEST(Lifetime, ConcurrentAddRefAndReleaseKeepTheCountExact) {
  std::atomic<int> destroyed{0};
  ServiceObject* object = sltest::AsObject(sltest::MakeProbe(&destroyed));
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([object] {
      for (int i = 0; i < 20000; ++i) {
        object->header.AddRef(object);
        object->header.Release(object);
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(object->header.GetRefCount(object), 1u);
  EXPECT_EQ(destroyed.load(), 0);
  object->header.Release(object);
  EXPECT_EQ(destroyed.load(), 1);
}

TEST(CountedPointer, CopyAddsMoveTransfersDestroyReleases) {
  sltest::ForeignFileSystem foreign;
  {
    auto first = BasicServiceObjectPtr<SLFileSystem>::Share(foreign.fs());
    EXPECT_EQ(foreign.addRefs, 1);
    BasicServiceObjectPtr<SLFileSystem> copy = first;
    EXPECT_EQ(foreign.addRefs, 2);
    BasicServiceObjectPtr<SLFileSystem> moved = std::move(copy);
    EXPECT_EQ(copy.get(), nullptr);
    EXPECT_EQ(foreign.addRefs, 2);
    EXPECT_EQ(foreign.releases, 0);
    first = nullptr;  // overwriting releases
    EXPECT_EQ(foreign.releases, 1);
  }
  EXPECT_EQ(foreign.addRefs, 2);
  EXPECT_EQ(foreign.releases, 2);
}

TEST(CountedPointer, AdoptKeepsTheFirstReferenceAndDetachGivesItAway) {
  std::atomic<int> destroyed{0};
  sltest::ProbeObject* probe = sltest::MakeProbe(&destroyed);
  auto ptr = BasicServiceObjectPtr<SLFileSystemSearchResult>::Adopt(probe->AsInterface());
  EXPECT_EQ(probe->core.refCount.load(), 1);
  SLFileSystemSearchResult* raw = ptr.Detach();
  EXPECT_FALSE(ptr);
  EXPECT_EQ(destroyed.load(), 0);
  ptr = BasicServiceObjectPtr<SLFileSystemSearchResult>::Adopt(raw);
  ptr.Reset();
  EXPECT_EQ(destroyed.load(), 1);
}

TEST(CountedPointer, NullPointerAndNullEntriesAreSkipped) {
  BasicServiceObjectPtr<SLFileSystem> empty;
  BasicServiceObjectPtr<SLFileSystem> copy = empty;  // no call, no crash
  EXPECT_FALSE(copy);

  sltest::ForeignFileSystem foreign;
  foreign.table.header.AddRef = nullptr;
  foreign.table.header.Release = nullptr;
  {
    auto ptr = BasicServiceObjectPtr<SLFileSystem>::Share(foreign.fs());
    BasicServiceObjectPtr<SLFileSystem> another = ptr;
    EXPECT_EQ(another.get(), foreign.fs());
  }
  EXPECT_EQ(foreign.addRefs, 0);
  EXPECT_EQ(foreign.releases, 0);
}

}  // namespace
