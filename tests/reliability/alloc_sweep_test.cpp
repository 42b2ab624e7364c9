// Every allocation failed once: each operation that allocates runs with its first allocation
// failing, then its second, and so on until it gets through. After each refused allocation the
// operation has its documented outcome (std::bad_alloc out of the entry; Search answers 7, or 3
// when the system's own search could not start), has handed nothing out, kept no reference,
// called no device or callback, recorded nothing, and given back every block it took.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>

#include "common/alloc_hook.h"
#include "common/fault_file_system.h"
#include "common/temp_directory.h"
#include "filesystem/file_system_service.h"
#include "module/class_registry.h"
#include "stream/stream_service.h"

namespace {

using ObjectPtr = sl::sdk::Ref<ServiceObject>;
using sltest::AsObject;
using sltest::Release;
template <class T>
T* As(void** out) {
  return static_cast<T*>(static_cast<void*>(out));
}
const auto Atom = sltest::AtomOf;

class AllocationSweep : public ::testing::Test {
 protected:
  // ASSERTs here skip the test body, which needs every object made.
  void SetUp() override {
    // Atoms are resolved outside the sweeps: the atom library is the host's.
    for (const char* name : {SL_CLASS_FILE_SYSTEM_SERVICE, SL_CLASS_STREAM_SERVICE}) {
      ServiceObject* made = nullptr;
      EXPECT_EQ(SL_OK, sl::module::CreateFromList(head_, Atom(name), &made));
      Release(made);
    }
    ASSERT_EQ(SL_OK, fss()->GetDefaultFileSystem(fss(), &fs_));
    for (const char* name : {"a", "a file with a name too long for any short string buffer",
                             "another file with a name too long for any short string"}) {
      SLFileHandle file = nullptr;
      EXPECT_EQ(SL_OK, fs_->OpenFile(fs_, (dir_ / name).u16string().c_str(), 4, &file));
      EXPECT_EQ(SL_OK, fs_->CloseFile(fs_, file));
    }
    ASSERT_EQ(SL_OK, fs_->Search(fs_, pattern_.c_str(), &search_));
    fault_.logging = false;  // the hook would count the log's allocations
  }
  ~AllocationSweep() override {
    if (search_ != nullptr) Release(search_);
    if (fs_ != nullptr) Release(fs_);
    std::filesystem::remove_all(dir_);
  }
  SLFileSystemService* fss() const { return reinterpret_cast<SLFileSystemService*>(files_.get()); }
  SLStreamService* ss() const { return reinterpret_cast<SLStreamService*>(streams_.get()); }

  // Fails allocation 1, 2, ... of `attempt` until it gets through; `release` takes what it made.
  void Sweep(const char* name, uint64_t sites, const std::function<SLResult(void**)>& attempt,
             const std::function<void(void*)>& release, bool throws = true) {
    for (uint64_t n = 1;; ++n) {
      SCOPED_TRACE(std::string(name) + ": allocation " + std::to_string(n) + " fails");
      void* out = kUntouched;
      SLResult code = SL_OK;
      const int64_t live = sltest::LiveBlocks();
      const sltest::Refusal refusal = sltest::RunFailing(n, [&] { code = attempt(&out); });
      if (!refusal.reached || (!throws && code == SL_OK)) {  // a Search may list fewer names
        ASSERT_EQ(SL_OK, code);
        if (release) release(out);
        if (refusal.reached) continue;
        std::printf("[sweep] %s: %llu allocations failed in turn\n", name,
                    static_cast<unsigned long long>(n - 1));
        EXPECT_GE(n - 1, sites);
        return;
      }
      EXPECT_EQ(throws, refusal.threw) << "no entry catches an allocation failure";
      if (!throws) {
        EXPECT_TRUE(code == SL_OS_FAILURE || code == SL_INVALID_ARGUMENT) << code;
        SLErrorInfo info{};
        EXPECT_EQ(SL_OK, fs_->header.GetErrorInfo(AsObject(fs_), &info, 0));
        EXPECT_EQ(code, info.code);
      }
      EXPECT_EQ(kUntouched, out) << "nothing handed out";
      EXPECT_EQ(live, sltest::LiveBlocks()) << "every block given back";
      EXPECT_EQ(1u, fault_.RefCount()) << "no reference kept";
      for (const sltest::Entry entry :
           {sltest::kReadFile, sltest::kWriteFile, sltest::kFlushFile, sltest::kCloseFile}) {
        EXPECT_EQ(0u, fault_.calls[entry]) << "no device called";
      }
      SLErrorInfo info{};
      EXPECT_EQ(SL_NOT_FOUND, streams_.object()->header.GetErrorInfo(streams_.object(), &info, 0));
    }
  }

  void* const kUntouched = reinterpret_cast<void*>(uintptr_t{0xBAD0});
  sl::module::ServiceFactoryRecord* head_ = nullptr;
  sl::module::ServiceFactoryRecord fileSystems_{&head_, SL_CLASS_FILE_SYSTEM_SERVICE,
                                                &sl::filesystem::CreateFileSystemService};
  sl::module::ServiceFactoryRecord streamClass_{&head_, SL_CLASS_STREAM_SERVICE,
                                                &sl::stream::CreateStreamService};
  ObjectPtr files_ = sl::filesystem::CreateFileSystemService();
  ObjectPtr streams_ = sl::stream::CreateStreamService();
  SLFileSystem* fs_ = nullptr;
  SLFileSystemSearchResult* search_ = nullptr;
  std::filesystem::path dir_ = sltest::MakeTempFolder("sl-sweep");
  std::u16string pattern_ = (dir_ / "*").u16string();
  sltest::FaultFileSystem fault_;
};

TEST_F(AllocationSweep, EveryOperationThatAllocates) {
  sl::module::ClassList list(&head_);
  uint32_t count = 0;
  const uint32_t fileSystems = Atom(SL_CLASS_FILE_SYSTEM_SERVICE),
                 streams = Atom(SL_CLASS_STREAM_SERVICE);
  const auto unregister = [&](void*) {
    EXPECT_EQ(SL_OK, fss()->UnregisterFileSystem(fss(), fault_.table()));
  };
  // clang-format off
  Sweep("FileSystemService", 1, [&](void** out) { return sl::module::CreateFromList(head_, fileSystems, As<ServiceObject*>(out)); }, Release);
  Sweep("StreamService", 1, [&](void** out) { return sl::module::CreateFromList(head_, streams, As<ServiceObject*>(out)); }, Release);
  Sweep("RegisterFileSystem", 1, [&](void**) { return fss()->RegisterFileSystem(fss(), fault_.table()); }, unregister);
  // A refused build of the class list leaves none: a later call builds it whole.
  Sweep("ReflectServiceObjectInfo", 1, [&](void** out) { return list.Reflect(As<const ServiceObjectInfo*>(out), &count); }, nullptr);
  // clang-format on
  const ServiceObjectInfo* info = nullptr;
  ASSERT_EQ(SL_OK, list.Reflect(&info, &count));
  ASSERT_EQ(2u, count);
  EXPECT_STREQ(SL_CLASS_STREAM_SERVICE, info[0].className);
  EXPECT_EQ(nullptr, info[2].className);
  // The first GetWeakRef of an object publishes its block once, or not at all.
  for (ServiceObject* object :
       {files_.object(), streams_.object(), AsObject(fs_), AsObject(search_)}) {
    const auto weak = [&](void** out) {
      return object->header.GetWeakRef(object, As<ServiceObjectWeakRef*>(out));
    };
    Sweep(object->header.interfaceName, 1, weak, [&](void* out) {
      auto* block = static_cast<ServiceObjectWeakRef*>(out);
      EXPECT_EQ(2u, block->GetRefCount(block));
      EXPECT_EQ(object, block->Lock(block));
      Release(object);
      block->Release(block);
    });
  }
  ASSERT_EQ(SL_INVALID_ARGUMENT, fs_->Search(fs_, nullptr, nullptr));  // the record exists now
  const auto search = [&](void** out) {
    return fs_->Search(fs_, pattern_.c_str(), As<SLFileSystemSearchResult*>(out));
  };
  Sweep("Search", 4, search, Release, false);
  void* found = nullptr;  // when memory lasts, every name
  ASSERT_EQ(SL_OK, search(&found));
  uint64_t names = 0;
  EXPECT_EQ(SL_OK, static_cast<SLFileSystemSearchResult*>(found)->GetCount(
                       static_cast<SLFileSystemSearchResult*>(found), &names));
  EXPECT_EQ(5u, names) << ". .. a and the two long names";
  Release(found);
  // An Open that runs out of memory leaves the caller's file open (the stream closes it).
  sltest::FileCallbacks callbacks{fault_.table(), nullptr};
  const SLReadHandler reader = callbacks.reader();
  const SLWriteHandler writer = callbacks.writer();
  SLFileHandle& file = callbacks.file;
  // clang-format off
  const std::pair<const char*, std::function<SLResult(SLStreamHandle*)>> opens[] = {
    {"OpenMemReadStream", [&](SLStreamHandle* out) { return ss()->OpenMemReadStream(ss(), "abc", 3, out); }},
    {"OpenReadStream", [&](SLStreamHandle* out) { return ss()->OpenReadStream(ss(), &reader, &callbacks, out); }},
    {"OpenWriteStream", [&](SLStreamHandle* out) { return ss()->OpenWriteStream(ss(), &writer, &callbacks, out); }},
    {"OpenFileReadStream", [&](SLStreamHandle* out) { return ss()->OpenFileReadStream(ss(), fault_.table(), file, out); }},
    {"OpenFileWriteStream", [&](SLStreamHandle* out) { return ss()->OpenFileWriteStream(ss(), fault_.table(), file, out); }},
  };
  // clang-format on
  for (const auto& [name, open] : opens) {
    const bool memory = name[4] == 'M';
    file = memory ? nullptr : fault_.Open(u"/f", SL_OPEN_CREATE);
    Sweep(
        name, 4, [&](void** out) { return open(As<SLStreamHandle>(out)); },
        [&](void* out) {
          EXPECT_EQ(memory ? 0u : 1u, fault_.OpenFileCount()) << "the caller's file is still open";
          EXPECT_EQ(SL_OK, ss()->CloseStream(ss(), static_cast<SLStreamHandle>(out)));
          fault_.calls = {};
        });
    EXPECT_EQ(0u, fault_.OpenFileCount()) << "the stream closed its file";
  }
}

// A thread's first failure record on an object is one allocation: whole, or none at all (the
// code the entry was about to return is lost with it).
TEST_F(AllocationSweep, AThreadsFirstFailureRecordIsWholeOrAbsent) {
  const std::function<SLResult()> failing[] = {
      [&] { return fss()->GetDefaultFileSystem(fss(), nullptr); },
      [&] { return ss()->FlushStream(ss(), nullptr); },
      [&] { return fs_->OpenFile(fs_, nullptr, SL_OPEN_READ, nullptr); },
      [&] { return search_->GetCount(search_, nullptr); },
  };
  const ServiceObject* objects[] = {files_.object(), streams_.object(), AsObject(fs_),
                                    AsObject(search_)};
  for (int i = 0; i < 4; ++i) {
    for (uint64_t n = 1; n <= 2; ++n) {
      std::thread([&] {
        SCOPED_TRACE(std::string(objects[i]->header.interfaceName) + ", allocation " +
                     std::to_string(n));
        const int64_t live = sltest::LiveBlocks();
        SLResult code = SL_OK;
        const sltest::Refusal refusal = sltest::RunFailing(n, [&] { code = failing[i](); });
        EXPECT_EQ(n == 1, refusal.reached) << "one allocation: the thread's entry in the map";
        EXPECT_EQ(refusal.reached, refusal.threw);
        SLErrorInfo info{};
        const SLResult read =
            AsObject(objects[i])->header.GetErrorInfo(AsObject(objects[i]), &info, 0);
        EXPECT_EQ(refusal.reached ? SL_NOT_FOUND : SL_OK, read) << "no half-made record";
        EXPECT_EQ(refusal.reached ? 0u : SL_INVALID_ARGUMENT, info.code);
        EXPECT_EQ(refusal.reached ? SL_OK : SL_INVALID_ARGUMENT, code);
        EXPECT_EQ(refusal.reached ? live : sltest::LiveBlocks(), sltest::LiveBlocks());
      }).join();
    }
  }
}

}  // namespace
