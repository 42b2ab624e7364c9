// Long races, meant for the TSan build: failure records written and read from many threads on
// the same objects, Lock against the final Release, first weak references published from many
// threads at once, and file streams on different handles used from different threads.
//
// SL_STRESS_SCALE multiplies every loop (default 1; the long runs of docs/reliability.md use more,
// the Windows build under Wine, where starting a thread is slow, less).
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "common/test_objects.h"
#include "filesystem/default_file_system.h"
#include "filesystem/fs_test_support.h"
#include "runtime/service_object_ptr.h"
#include "stream/factory.h"

namespace reltest {
namespace {

// `base` times SL_STRESS_SCALE, at least 1.
int Rounds(int base) {
  const char* value = std::getenv("SL_STRESS_SCALE");
  const double scale = value != nullptr ? std::atof(value) : 1.0;
  const double rounds = base * scale;
  return rounds >= 1.0 ? static_cast<int>(rounds) : 1;
}

ServiceObject* AsObject(const void* object) {
  return static_cast<ServiceObject*>(const_cast<void*>(object));
}

// Starts `count` threads running `body(index)` at the same moment and waits for them.
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

TEST(ConcurrencyStress, EachThreadReadsBackItsOwnFailuresWhileOthersWriteTheirs) {
  SLFileSystem* fs = sl::filesystem::CreateDefaultFileSystem();
  fstest::TempFolder dir;
  const std::u16string missing = dir / u"missing";
  const int iterations = Rounds(500);
  constexpr int kThreads = 6;
  RunTogether(kThreads, [&](int t) {
    const SLChar16* firstMessage = nullptr;
    if (t == 0) {
      // A thread that never fails sees no record, however many the others leave.
      for (int i = 0; i < iterations; ++i) {
        SLErrorInfo info{};
        ASSERT_EQ(SL_NOT_FOUND, AsObject(fs)->header.GetErrorInfo(AsObject(fs), &info, 0));
        ASSERT_EQ(nullptr, info.message);
      }
      return;
    }
    for (int i = 0; i < iterations; ++i) {
      // Three failing entries in turn, each with its own code and line.
      SLResult code = 0;
      uint32_t line = 0;
      switch ((t + i) % 3) {
        case 0:
          code = fs->OpenFile(fs, nullptr, SL_OPEN_READ, nullptr);
          line = 15;
          break;
        case 1:
          code = fs->RemoveFile(fs, missing.c_str());
          line = 24;
          break;
        default:
          code = fs->Search(fs, nullptr, nullptr);
          line = 27;
          break;
      }
      ASSERT_EQ(line == 24 ? SL_NOT_FOUND : SL_INVALID_ARGUMENT, code);
      SLErrorInfo info{};
      ASSERT_EQ(SL_OK, AsObject(fs)->header.GetErrorInfo(AsObject(fs), &info, 0));
      ASSERT_EQ(code, info.code);
      ASSERT_EQ(line, info.line);
      // The thread's record is rewritten in place: the message never moves.
      if (firstMessage == nullptr) firstMessage = info.message;
      ASSERT_EQ(firstMessage, info.message);
      const std::u16string text = info.message;
      ASSERT_EQ(0u, text.find(u"SLFileSystem::")) << std::string(text.begin(), text.end());
    }
  });
  fstest::Release(fs);
}

// Threads lock the object over and over, hold what they got for a moment and release it, while
// the owner drops the last strong reference: one destruction, and no Lock ever hands out an
// object that has started to die.
TEST(ConcurrencyStress, LockAgainstTheFinalReleaseDestroysExactlyOnce) {
  const int rounds = Rounds(1000);
  int revived = 0;
  for (int round = 0; round < rounds; ++round) {
    std::atomic<int> destroyed{0};
    sltest::ProbeObject* probe = sltest::MakeProbe(&destroyed);
    ServiceObject* object = probe->AsObject();
    ServiceObjectWeakRef* weak = nullptr;
    ASSERT_EQ(SL_OK, object->header.GetWeakRef(object, &weak));
    constexpr int kLockers = 3;
    for (int i = 1; i < kLockers; ++i) weak->AddRef(weak);  // one weak reference per locker
    std::atomic<int> locks{0};
    RunTogether(kLockers + 1, [&](int t) {
      if (t == kLockers) {
        for (int spin = 0; spin < round % 64; ++spin) std::this_thread::yield();
        object->header.Release(object);
        return;
      }
      for (int i = 0; i < 16; ++i) {
        ServiceObject* locked = weak->Lock(weak);
        if (locked == nullptr) break;
        locks.fetch_add(1);
        EXPECT_EQ(0, destroyed.load()) << "a dead object was handed out";
        EXPECT_GE(locked->header.GetRefCount(locked), 1u);
        if (i % 2 == 0) std::this_thread::yield();
        locked->header.Release(locked);
      }
      weak->Release(weak);
    });
    ASSERT_EQ(1, destroyed.load()) << "round " << round;
    if (locks.load() > 0) ++revived;
  }
  std::printf("[stress] Lock against final Release: %d rounds, %d with locks taken\n", rounds,
              revived);
}

TEST(ConcurrencyStress, FirstWeakReferencesFromManyThreadsShareOneBlock) {
  const int rounds = Rounds(300);
  for (int round = 0; round < rounds; ++round) {
    SLFileSystem* fs = sl::filesystem::CreateDefaultFileSystem();
    ServiceObject* object = AsObject(fs);
    constexpr int kThreads = 4;
    ServiceObjectWeakRef* seen[kThreads] = {};
    RunTogether(kThreads, [&](int t) {
      ASSERT_EQ(SL_OK, object->header.GetWeakRef(object, &seen[t]));
      // Lock and release through the block right away, racing the other publishers.
      ServiceObject* locked = seen[t]->Lock(seen[t]);
      ASSERT_EQ(object, locked);
      locked->header.Release(locked);
    });
    for (int t = 1; t < kThreads; ++t) ASSERT_EQ(seen[0], seen[t]);
    ASSERT_EQ(1u + kThreads, seen[0]->GetRefCount(seen[0]));
    ASSERT_EQ(1u, object->header.GetRefCount(object));
    ASSERT_EQ(0u, object->header.Release(object));
    ASSERT_EQ(0, seen[0]->IsAlive(seen[0]));
    for (int t = 0; t < kThreads; ++t) seen[t]->Release(seen[t]);
  }
}

// Each thread writes its own files through file write streams and reads them back through file
// read streams, all on one stream service and one default file system.
TEST(ConcurrencyStress, FileStreamsOnDifferentHandlesRunOnDifferentThreads) {
  SODetails::BasicServiceObjectPtr<ServiceObject> service = sl::stream::CreateStreamService();
  SLStreamService* ss = reinterpret_cast<SLStreamService*>(service.get());
  SLFileSystem* fs = sl::filesystem::CreateDefaultFileSystem();
  fstest::TempFolder dir;
  const int files = Rounds(10);
  constexpr int kThreads = 4;
  RunTogether(kThreads, [&](int t) {
    for (int f = 0; f < files; ++f) {
      const std::u16string path =
          dir / (u"t" + std::u16string(1, static_cast<char16_t>(u'0' + t)) + u"-" +
                 std::u16string(1, static_cast<char16_t>(u'a' + f % 26)) +
                 std::u16string(1, static_cast<char16_t>(u'a' + f / 26 % 26)));
      std::string data(3000 + 997 * f % 9000, '\0');
      for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * (t + 3) + f);

      SLFileHandle file = nullptr;
      ASSERT_EQ(SL_OK, fs->OpenFile(fs, path.c_str(), SL_OPEN_CREATE, &file));
      SLStreamHandle out = nullptr;
      ASSERT_EQ(SL_OK, ss->OpenFileWriteStream(ss, fs, file, &out));
      for (size_t at = 0; at < data.size(); at += 333) {
        const uint64_t size = std::min<size_t>(333, data.size() - at);
        uint64_t done = 0;
        ASSERT_EQ(SL_OK, ss->WriteStream(ss, out, data.data() + at, size, &done));
      }
      ASSERT_EQ(SL_OK, ss->CloseStream(ss, out));

      ASSERT_EQ(SL_OK, fs->OpenFile(fs, path.c_str(), SL_OPEN_READ, &file));
      SLStreamHandle in = nullptr;
      ASSERT_EQ(SL_OK, ss->OpenFileReadStream(ss, fs, file, &in));
      std::string back(data.size() + 10, '\0');
      uint64_t done = 0;
      ASSERT_EQ(SL_OK, ss->ReadStream(ss, in, back.data(), back.size(), &done));
      ASSERT_EQ(SL_OK, ss->CloseStream(ss, in));
      back.resize(done);
      ASSERT_EQ(data, back);
    }
  });
  EXPECT_EQ(1u, fstest::RefCount(fs)) << "every stream gave its reference back";
  fstest::Release(fs);
}

}  // namespace
}  // namespace reltest
