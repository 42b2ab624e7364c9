// Every allocation failed once. For each operation that allocates, the sweep makes its first
// allocation fail, then its second, and so on until the operation gets through without
// reaching the failing one. After every refused allocation the operation must have the
// documented outcome (std::bad_alloc out of the entry, or Search's 7), hand nothing out, take no
// reference it keeps, call no device, and give back every block it had taken.
//
// Each sweep prints how many allocations it failed: the figures of docs/reliability.md.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <functional>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include "common/fault_file_system.h"
#include "failing_allocator.h"
#include "filesystem/fs_test_support.h"
#include "module/class_registry.h"
#include "module/factories.h"
#include "runtime/service_object_ptr.h"
#include "slservices/slservices.h"

namespace reltest {
namespace {

using ObjectPtr = SODetails::BasicServiceObjectPtr<ServiceObject>;

ServiceObject* AsObject(const void* object) {
  return static_cast<ServiceObject*>(const_cast<void*>(object));
}
uint32_t RefCount(const void* object) {
  return AsObject(object)->header.GetRefCount(AsObject(object));
}

// What one attempt came to.
struct Outcome {
  bool threw = false;             // std::bad_alloc left the call
  SLResult result = 0xFFFFFFFFu;  // the code, when it returned
};

// Fails allocation 1, 2, ... of `attempt` until it gets through; `afterFailure(n, outcome)`
// checks each refused run. Returns the number of allocations failed. Whatever the attempt made
// when it got through is left to the caller.
uint64_t Sweep(const char* name, const std::function<SLResult()>& attempt,
               const std::function<void(uint64_t, const Outcome&)>& afterFailure) {
  for (uint64_t n = 1;; ++n) {
    SCOPED_TRACE(std::string(name) + ": allocation " + std::to_string(n) + " fails");
    const int64_t liveBefore = LiveBlocks();
    Outcome outcome;
    bool reached = false;
    {
      FailNthAllocation fail(n);
      try {
        outcome.result = attempt();
      } catch (const std::bad_alloc&) {
        outcome.threw = true;
      }
      reached = fail.reached();
    }
    if (!reached) {
      EXPECT_FALSE(outcome.threw);
      std::printf("[sweep] %s: %llu allocations failed in turn\n", name,
                  static_cast<unsigned long long>(n - 1));
      return n - 1;
    }
    EXPECT_EQ(LiveBlocks(), liveBefore) << "blocks left behind";
    afterFailure(n, outcome);
    if (::testing::Test::HasFatalFailure() || n > 10000) return n;
  }
}

// The module's class records over the real factories, as the exports hold them.
class Registry {
 public:
  Registry() {
    // Atoms are resolved once, outside the sweeps: the atom library is the host's, not ours.
    ServiceObject* warm = nullptr;
    for (const char* name : {SL_CLASS_FILE_SYSTEM_SERVICE, SL_CLASS_STREAM_SERVICE}) {
      EXPECT_EQ(SL_OK, Create(fstest::AtomOf(name), &warm));
      ObjectPtr::Adopt(warm);
    }
  }
  SLResult Create(uint32_t atom, ServiceObject** object) {
    return sl::module::CreateFromList(head_, atom, object);
  }
  sl::module::ServiceFactoryRecord* const* head() const { return &head_; }

 private:
  sl::module::ServiceFactoryRecord* head_ = nullptr;
  sl::module::ServiceFactoryRecord fileSystems_{&head_, SL_CLASS_FILE_SYSTEM_SERVICE,
                                                sl::module::FileSystemServiceFactory()};
  sl::module::ServiceFactoryRecord streams_{&head_, SL_CLASS_STREAM_SERVICE,
                                            sl::module::StreamServiceFactory()};
};

ServiceObject* const kUntouched = reinterpret_cast<ServiceObject*>(uintptr_t{0xBAD0});

TEST(AllocationSweep, CreatingEitherClassHandsOutNothingHalfBuilt) {
  Registry registry;
  for (const char* name : {SL_CLASS_FILE_SYSTEM_SERVICE, SL_CLASS_STREAM_SERVICE}) {
    const uint32_t atom = fstest::AtomOf(name);
    ServiceObject* made = kUntouched;
    const uint64_t sites = Sweep(
        name, [&] { return registry.Create(atom, &made); },
        [&](uint64_t, const Outcome& outcome) {
          EXPECT_TRUE(outcome.threw) << "no entry catches an allocation failure";
          EXPECT_EQ(made, kUntouched);
        });
    ASSERT_NE(made, kUntouched);
    EXPECT_EQ(1u, RefCount(made));
    EXPECT_EQ(0u, AsObject(made)->header.Release(AsObject(made)));
    EXPECT_GE(sites, 1u);
  }
}

TEST(AllocationSweep, TheClassListIsBuiltWholeOrNotAtAll) {
  Registry registry;
  sl::module::ClassList list(registry.head());
  const ServiceObjectInfo* info = nullptr;
  uint32_t count = 0;
  const uint64_t sites = Sweep(
      "ReflectServiceObjectInfo", [&] { return list.Reflect(&info, &count); },
      [&](uint64_t, const Outcome& outcome) {
        EXPECT_TRUE(outcome.threw);
        EXPECT_EQ(info, nullptr);
      });
  EXPECT_GE(sites, 1u);
  ASSERT_EQ(2u, count) << "a later call builds the list after a refused one";
  EXPECT_STREQ(SL_CLASS_STREAM_SERVICE, info[0].className);
  EXPECT_STREQ(SL_CLASS_FILE_SYSTEM_SERVICE, info[1].className);
  EXPECT_EQ(nullptr, info[2].className);
}

// The four kinds of object the module makes, each with one reference of the test's.
struct Objects {
  Objects() {
    SLFileSystemService* service = fileSystems();
    EXPECT_EQ(SL_OK, service->GetDefaultFileSystem(service, &defaultFs));
    SLFileHandle file = nullptr;
    EXPECT_EQ(SL_OK, defaultFs->OpenFile(defaultFs, (dir / u"a").c_str(), SL_OPEN_CREATE, &file));
    EXPECT_EQ(SL_OK, defaultFs->CloseFile(defaultFs, file));
    EXPECT_EQ(SL_OK, defaultFs->Search(defaultFs, (dir / u"*").c_str(), &search));
  }
  ~Objects() {
    for (const void* object :
         {static_cast<const void*>(search), static_cast<const void*>(defaultFs)}) {
      if (object != nullptr) AsObject(object)->header.Release(AsObject(object));
    }
  }
  SLFileSystemService* fileSystems() const {
    return reinterpret_cast<SLFileSystemService*>(fss.get());
  }
  SLStreamService* streams() const { return reinterpret_cast<SLStreamService*>(ss.get()); }

  struct Named {
    const char* name;
    ServiceObject* object;
  };
  std::vector<Named> all() const {
    return {{"SLFileSystemService", fss.AsObject()},
            {"SLStreamService", ss.AsObject()},
            {"SLFileSystem", AsObject(defaultFs)},
            {"SLFileSystemSearchResult", AsObject(search)}};
  }

  fstest::TempFolder dir;
  Registry registry;
  ObjectPtr fss = sl::module::FileSystemServiceFactory()();
  ObjectPtr ss = sl::module::StreamServiceFactory()();
  SLFileSystem* defaultFs = nullptr;
  SLFileSystemSearchResult* search = nullptr;
};

TEST(AllocationSweep, GetWeakRefPublishesNoBlockWhenItsBlockCannotBeMade) {
  Objects objects;
  for (const Objects::Named& named : objects.all()) {
    ServiceObject* object = named.object;
    const uint32_t refs = RefCount(object);
    ServiceObjectWeakRef* weak = nullptr;
    const uint64_t sites = Sweep(
        named.name, [&] { return object->header.GetWeakRef(object, &weak); },
        [&](uint64_t, const Outcome& outcome) {
          EXPECT_TRUE(outcome.threw);
          EXPECT_EQ(weak, nullptr);
          EXPECT_EQ(refs, RefCount(object));
        });
    EXPECT_EQ(1u, sites);
    ASSERT_NE(weak, nullptr);
    EXPECT_EQ(2u, weak->GetRefCount(weak)) << "the block was published once, by the last try";
    EXPECT_EQ(refs, RefCount(object));
    EXPECT_EQ(object, weak->Lock(weak));
    object->header.Release(object);
    weak->Release(weak);
  }
}

// Runs `call` on a thread of its own, so that its failure is that thread's first on the object.
void OnNewThread(const std::function<void()>& call) { std::thread(call).join(); }

TEST(AllocationSweep, AThreadsFirstFailureRecordIsWholeOrAbsent) {
  Objects objects;
  SLFileSystemService* fss = objects.fileSystems();
  SLStreamService* ss = objects.streams();
  SLFileSystem* fs = objects.defaultFs;
  SLFileSystemSearchResult* search = objects.search;
  // One failing entry per kind of object; each returns 3 and leaves a record.
  const std::function<SLResult()> failing[] = {
      [&] { return fss->GetDefaultFileSystem(fss, nullptr); },
      [&] { return ss->FlushStream(ss, nullptr); },
      [&] { return fs->OpenFile(fs, nullptr, SL_OPEN_READ, nullptr); },
      [&] { return search->GetCount(search, nullptr); },
  };
  const auto all = objects.all();
  for (size_t i = 0; i < all.size(); ++i) {
    ServiceObject* object = all[i].object;
    uint64_t sites = 0;
    for (uint64_t n = 1;; ++n) {
      bool reached = false;
      OnNewThread([&] {
        SCOPED_TRACE(std::string(all[i].name) + ": allocation " + std::to_string(n) + " fails");
        const int64_t liveBefore = LiveBlocks();
        Outcome outcome;
        {
          FailNthAllocation fail(n);
          try {
            outcome.result = failing[i]();
          } catch (const std::bad_alloc&) {
            outcome.threw = true;
          }
          reached = fail.reached();
        }
        SLErrorInfo info{};
        const SLResult read = object->header.GetErrorInfo(object, &info, 0);
        if (reached) {
          EXPECT_TRUE(outcome.threw) << "the code the entry was about to return is lost";
          EXPECT_EQ(SL_NOT_FOUND, read) << "no half-made record";
          EXPECT_EQ(LiveBlocks(), liveBefore);
        } else {
          EXPECT_EQ(SL_INVALID_ARGUMENT, outcome.result);
          EXPECT_EQ(SL_OK, read);
          EXPECT_EQ(SL_INVALID_ARGUMENT, info.code);
        }
      });
      if (!reached) break;
      ++sites;
    }
    std::printf("[sweep] first failure record on %s: %llu allocations failed in turn\n",
                all[i].name, static_cast<unsigned long long>(sites));
    EXPECT_EQ(1u, sites) << "one map entry per thread, nothing else";
  }
}

TEST(AllocationSweep, SearchAnswersSevenAndHandsOutNothing) {
  Objects objects;
  SLFileSystem* fs = objects.defaultFs;
  for (const char16_t* name : {u"a file with a name too long for any short string buffer",
                               u"another file with a name too long for any short string"}) {
    SLFileHandle file = nullptr;
    ASSERT_EQ(SL_OK, fs->OpenFile(fs, (objects.dir / name).c_str(), SL_OPEN_CREATE, &file));
    ASSERT_EQ(SL_OK, fs->CloseFile(fs, file));
  }
  ASSERT_EQ(SL_INVALID_ARGUMENT, fs->Search(fs, nullptr, nullptr));  // the record exists now
  const std::u16string pattern = objects.dir / u"*";
  auto* const untouched = reinterpret_cast<SLFileSystemSearchResult*>(uintptr_t{0xBAD0});
  SLFileSystemSearchResult* result = untouched;
  int sevens = 0;
  const uint64_t sites = Sweep(
      "Search", [&] { return fs->Search(fs, pattern.c_str(), &result); },
      [&](uint64_t, const Outcome& outcome) {
        ASSERT_FALSE(outcome.threw) << "Search answers running out of memory with a code";
        if (outcome.result == SL_OK) {
          // The system's own listing may end early when its memory runs out: fewer names.
          uint64_t count = 0;
          EXPECT_EQ(SL_OK, result->GetCount(result, &count));
          EXPECT_GE(count, 1u);
          AsObject(result)->header.Release(AsObject(result));
          result = untouched;
          return;
        }
        // 7: the module's own memory ran out; 3: the system could not start the search.
        EXPECT_TRUE(outcome.result == SL_OS_FAILURE || outcome.result == SL_INVALID_ARGUMENT)
            << outcome.result;
        EXPECT_EQ(result, untouched);
        EXPECT_EQ(outcome.result, fstest::LastFailure(fs).code);
        if (outcome.result == SL_OS_FAILURE) ++sevens;
      });
  EXPECT_GE(sevens, 3) << "the list, the names and the object are the module's allocations";
  EXPECT_GE(sites, 4u);
  ASSERT_NE(result, untouched);
  uint64_t count = 0;
  EXPECT_EQ(SL_OK, result->GetCount(result, &count));
  EXPECT_EQ(5u, count) << ". .. a and the two long names";
  AsObject(result)->header.Release(AsObject(result));
}

TEST(AllocationSweep, RegisteringTakesNoReferenceWhenItsEntryCannotBeMade) {
  Objects objects;
  SLFileSystemService* fss = objects.fileSystems();
  sltest::FaultFileSystem foreign(objects.defaultFs, fstest::AtomOf("Foreign"));
  const uint64_t sites = Sweep(
      "RegisterFileSystem", [&] { return fss->RegisterFileSystem(fss, foreign.fs()); },
      [&](uint64_t, const Outcome& outcome) {
        EXPECT_TRUE(outcome.threw);
        EXPECT_EQ(1, foreign.refCount());
        SLFileSystem* found = nullptr;
        EXPECT_EQ(SL_NOT_FOUND,
                  fss->GetRegisteredFileSystemByName(fss, fstest::AtomOf("Foreign"), &found));
      });
  EXPECT_GE(sites, 1u);
  EXPECT_EQ(2, foreign.refCount());
  EXPECT_EQ(SL_OK, fss->UnregisterFileSystem(fss, foreign.fs()));
  EXPECT_EQ(1, foreign.refCount());
}

// Callbacks that record that they were called; an Open must call none of them.
int gCallbacks = 0;
uint64_t CountRead(void*, void*, uint64_t) {
  ++gCallbacks;
  return 0;
}
uint64_t CountWrite(void*, const void*, uint64_t size) {
  ++gCallbacks;
  return size;
}
uint8_t CountFlush(void*) {
  ++gCallbacks;
  return 1;
}
void CountClose(void*) { ++gCallbacks; }

TEST(AllocationSweep, AnOpenThatRunsOutOfMemoryLeavesTheCallerAsBefore) {
  Objects objects;
  SLStreamService* ss = objects.streams();
  ServiceObject* streamObject = objects.ss.AsObject();
  sltest::FaultFileSystem fs(objects.defaultFs, fstest::AtomOf("Foreign"));
  const std::u16string path = objects.dir / u"a";
  const char bytes[] = "some bytes";
  const SLReadHandler reader = {&CountRead, &CountFlush, &CountClose};
  const SLWriteHandler writer = {&CountWrite, &CountFlush, &CountClose};

  struct Kind {
    const char* name;
    uint32_t openMode;  // 0: no file
    std::function<SLResult(SLFileHandle, SLStreamHandle*)> open;
  };
  const Kind kinds[] = {
      {"OpenMemReadStream", 0,
       [&](SLFileHandle, SLStreamHandle* out) {
         return ss->OpenMemReadStream(ss, bytes, sizeof(bytes), out);
       }},
      {"OpenFileReadStream", SL_OPEN_READ,
       [&](SLFileHandle file, SLStreamHandle* out) {
         return ss->OpenFileReadStream(ss, fs.fs(), file, out);
       }},
      {"OpenFileWriteStream", SL_OPEN_WRITE,
       [&](SLFileHandle file, SLStreamHandle* out) {
         return ss->OpenFileWriteStream(ss, fs.fs(), file, out);
       }},
      {"OpenReadStream", 0,
       [&](SLFileHandle, SLStreamHandle* out) {
         return ss->OpenReadStream(ss, &reader, nullptr, out);
       }},
      {"OpenWriteStream", 0,
       [&](SLFileHandle, SLStreamHandle* out) {
         return ss->OpenWriteStream(ss, &writer, nullptr, out);
       }},
  };
  for (const Kind& kind : kinds) {
    SLFileHandle file = nullptr;
    if (kind.openMode != 0) {
      ASSERT_EQ(SL_OK, fs.fs()->OpenFile(fs.fs(), path.c_str(), kind.openMode, &file));
    }
    const auto untouched = reinterpret_cast<SLStreamHandle>(uintptr_t{0xBAD0});
    SLStreamHandle stream = untouched;
    gCallbacks = 0;
    const uint64_t deviceCalls =
        fs.callsOf(sltest::kFlushFileSlot) + fs.callsOf(sltest::kCloseFileSlot);
    const uint64_t sites = Sweep(
        kind.name, [&] { return kind.open(file, &stream); },
        [&](uint64_t, const Outcome& outcome) {
          EXPECT_TRUE(outcome.threw);
          EXPECT_EQ(stream, untouched);
          EXPECT_EQ(1, fs.refCount()) << "no reference left behind";
          EXPECT_EQ(deviceCalls,
                    fs.callsOf(sltest::kFlushFileSlot) + fs.callsOf(sltest::kCloseFileSlot))
              << "no device call";
          EXPECT_EQ(kind.openMode != 0 ? 1u : 0u, fs.openHandles())
              << "the caller still owns its file";
          EXPECT_EQ(0, gCallbacks);
          SLErrorInfo info{};
          EXPECT_EQ(SL_NOT_FOUND, streamObject->header.GetErrorInfo(streamObject, &info, 0))
              << "nothing recorded";
        });
    EXPECT_GE(sites, 4u) << "record, stream, chain, link and buffer are allocated";
    ASSERT_NE(stream, untouched);
    if (kind.openMode != 0) {
      EXPECT_EQ(2, fs.refCount()) << "the stream's one reference";
      EXPECT_EQ(1u, fs.openHandles());
    }
    EXPECT_EQ(SL_OK, ss->CloseStream(ss, stream));
    EXPECT_EQ(1, fs.refCount());
    EXPECT_EQ(0u, fs.openHandles()) << "the stream closed the file it owned";
  }
}

}  // namespace
}  // namespace reltest
