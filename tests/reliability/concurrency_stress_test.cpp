// Races, for the TSan build above all: failure records written and read back from many threads
// on one object, Lock against the final Release, and first weak references published from many
// threads at once. (Streams on several threads: tests/stream.)
// SL_STRESS_SCALE multiplies every loop (default 1; the long runs of docs/reliability.md use
// more, the Windows build under Wine, where starting a thread is slow, less).
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "filesystem/file_system_service.h"
#include "stream/stream_service.h"

namespace {

using ObjectPtr = SODetails::BasicServiceObjectPtr<ServiceObject>;

int Rounds(int base) {
  const char* value = std::getenv("SL_STRESS_SCALE");
  const double rounds = base * (value != nullptr ? std::atof(value) : 1.0);
  return rounds >= 1.0 ? static_cast<int>(rounds) : 1;
}

// Starts `count` threads running `body(index)` at one moment and waits for them.
template <class Body>
void RunTogether(int count, Body body) {
  std::atomic<bool> go{false};
  std::vector<std::thread> threads;
  for (int t = 0; t < count; ++t) {
    threads.emplace_back([&, t] {
      while (!go.load()) std::this_thread::yield();
      body(t);
    });
  }
  go = true;
  for (std::thread& thread : threads) thread.join();
}

// The default file system of a new file-system service (which stays alive beside it).
struct DefaultFs {
  ObjectPtr service = sl::filesystem::CreateFileSystemService();
  SLFileSystem* fs = [this] {
    auto* fss = reinterpret_cast<SLFileSystemService*>(service.get());
    SLFileSystem* found = nullptr;
    fss->GetDefaultFileSystem(fss, &found);
    return found;
  }();
  ServiceObject* object() const { return reinterpret_cast<ServiceObject*>(fs); }
  ~DefaultFs() { object()->header.Release(object()); }
};

TEST(ConcurrencyStress, EachThreadReadsBackItsOwnFailuresWhileOthersWriteTheirs) {
  DefaultFs d;
  SLFileSystem* fs = d.fs;
  const int iterations = Rounds(300);
  RunTogether(6, [&](int t) {
    const SLChar16* firstMessage = nullptr;
    for (int i = 0; i < iterations; ++i) {
      SLErrorInfo info{};
      if (t == 0) {  // a thread that never fails sees no record, however many the others leave
        ASSERT_EQ(SL_NOT_FOUND, d.object()->header.GetErrorInfo(d.object(), &info, 0));
        continue;
      }
      const int which = (t + i) % 3;
      const SLResult code = which == 0   ? fs->OpenFile(fs, nullptr, SL_OPEN_READ, nullptr)
                            : which == 1 ? fs->RemoveFile(fs, u"sl-stress-missing")
                                         : fs->Search(fs, nullptr, nullptr);
      ASSERT_EQ(which == 1 ? SL_NOT_FOUND : SL_INVALID_ARGUMENT, code);
      ASSERT_EQ(SL_OK, d.object()->header.GetErrorInfo(d.object(), &info, 0));
      ASSERT_EQ(code, info.code);
      ASSERT_EQ(which == 0 ? 15u : which == 1 ? 24u : 27u, info.line);
      if (firstMessage == nullptr) firstMessage = info.message;
      ASSERT_EQ(firstMessage, info.message) << "the thread's record is rewritten in place";
      ASSERT_EQ(0u, std::u16string(info.message).find(u"SLFileSystem::"));
    }
  });
}

TEST(ConcurrencyStress, FirstWeakReferencesFromManyThreadsShareOneBlock) {
  for (int round = 0; round < Rounds(100); ++round) {
    ServiceObject* object = sl::stream::CreateStreamService().detach();
    ServiceObjectWeakRef* seen[4] = {};
    RunTogether(4, [&](int t) {
      ASSERT_EQ(SL_OK, object->header.GetWeakRef(object, &seen[t]));
      ServiceObject* locked = seen[t]->Lock(seen[t]);
      ASSERT_EQ(object, locked);
      locked->header.Release(locked);
    });
    for (int t = 1; t < 4; ++t) ASSERT_EQ(seen[0], seen[t]);
    ASSERT_EQ(5u, seen[0]->GetRefCount(seen[0]));
    ASSERT_EQ(0u, object->header.Release(object));
    ASSERT_EQ(0, seen[0]->IsAlive(seen[0]));
    for (ServiceObjectWeakRef* weak : seen) weak->Release(weak);
  }
}

}  // namespace
