// The reference atom library: equal names, equal atoms; never 0 or the unresolved marker.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <thread>
#include <vector>

#include "slservices/sl_module.h"

namespace {

TEST(AtomLibrary, EqualNamesGiveEqualAtomsAndDistinctNamesDistinctOnes) {
  uint32_t a1 = 0, a2 = 0, b = 0;
  EXPECT_EQ(SLGetAtomFromString("AtomLibraryTest.a", &a1), 0u);
  EXPECT_EQ(SLGetAtomFromString("AtomLibraryTest.a", &a2), 0u);
  EXPECT_EQ(SLGetAtomFromString("AtomLibraryTest.b", &b), 0u);
  EXPECT_EQ(a1, a2);
  EXPECT_NE(a1, b);
  for (uint32_t atom : {a1, b}) {
    EXPECT_NE(atom, 0u);
    EXPECT_NE(atom, SL_UNRESOLVED_ATOM);
  }
}

TEST(AtomLibrary, NullArgumentsAreRefused) {
  uint32_t atom = 77;
  EXPECT_EQ(SLGetAtomFromString(nullptr, &atom), 3u);
  EXPECT_EQ(atom, 77u);
  EXPECT_EQ(SLGetAtomFromString("x", nullptr), 3u);
}

TEST(AtomLibrary, ConcurrentInterningAgreesOnEveryName) {
  constexpr int kThreads = 4, kNames = 500;
  std::vector<std::vector<uint32_t>> atoms(kThreads, std::vector<uint32_t>(kNames));
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kNames; ++i) {
        const std::string name = "concurrent." + std::to_string((i * 7 + t) % kNames);
        SLGetAtomFromString(name.c_str(), &atoms[t][(i * 7 + t) % kNames]);
      }
    });
  }
  for (auto& thread : threads) thread.join();
  std::set<uint32_t> distinct;
  for (int i = 0; i < kNames; ++i) {
    for (int t = 1; t < kThreads; ++t) ASSERT_EQ(atoms[t][i], atoms[0][i]);
    distinct.insert(atoms[0][i]);
  }
  EXPECT_EQ(distinct.size(), static_cast<size_t>(kNames));
}

}  // namespace
