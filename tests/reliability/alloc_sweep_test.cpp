// Every allocation failed once: each operation that allocates runs with its first allocation
// failing, then its second, and so on until it gets through. After each refused allocation the
// operation has its documented outcome (std::bad_alloc out of the entry; Search answers 7, or 3
// when the system's own search could not start), has handed nothing out, kept no reference,
// called no device or callback, recorded nothing, and given back every block it took.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <functional>
#include <new>
#include <string>
#include <thread>

#include "common/alloc_hook.h"
#include "common/fault_file_system.h"
#include "module/factories.h"

namespace {

using ObjectPtr = SODetails::BasicServiceObjectPtr<ServiceObject>;

ServiceObject* AsObject(const void* object) {
  return static_cast<ServiceObject*>(const_cast<void*>(object));
}
uint32_t Atom(const char* name) {
  uint32_t atom = SL_UNRESOLVED_ATOM;
  SLGetAtomFromString(name, &atom);
  return atom;
}

template <class T>
T* As(void** out) {
  return static_cast<T*>(static_cast<void*>(out));
}

struct Op {
  const char* name;
  std::function<SLResult(void** out)> attempt;
  std::function<void(void* out)> release;  // what a successful attempt made
  uint64_t sites;                          // at least this many allocations
};

class AllocationSweep : public ::testing::Test {
 protected:
  AllocationSweep() {
    // Atoms are resolved outside the sweeps: the atom library is the host's.
    for (const char* name : {SL_CLASS_FILE_SYSTEM_SERVICE, SL_CLASS_STREAM_SERVICE}) {
      ServiceObject* made = nullptr;
      EXPECT_EQ(SL_OK, sl::module::CreateFromList(head_, Atom(name), &made));
      ObjectPtr::Adopt(made);
    }
    EXPECT_EQ(SL_OK, fss()->GetDefaultFileSystem(fss(), &fs_));
    std::filesystem::create_directories(dir_);
    for (const char* name : {"a", "a file with a name too long for any short string buffer",
                             "another file with a name too long for any short string"}) {
      SLFileHandle file = nullptr;
      EXPECT_EQ(SL_OK,
                fs_->OpenFile(fs_, (dir_ / name).u16string().c_str(), SL_OPEN_CREATE, &file));
      EXPECT_EQ(SL_OK, fs_->CloseFile(fs_, file));
    }
    EXPECT_EQ(SL_OK, fs_->Search(fs_, (dir_ / "*").u16string().c_str(), &search_));
    fault_.logging = false;  // the hook would count the log's allocations
  }
  ~AllocationSweep() override {
    AsObject(search_)->header.Release(AsObject(search_));
    AsObject(fs_)->header.Release(AsObject(fs_));
    std::filesystem::remove_all(dir_);
  }
  SLFileSystemService* fss() const { return reinterpret_cast<SLFileSystemService*>(files_.get()); }
  SLStreamService* ss() const { return reinterpret_cast<SLStreamService*>(streams_.get()); }

  // Fails allocation 1, 2, ... of the operation until it gets through.
  void Sweep(const Op& op, bool throws = true) {
    void* const untouched = reinterpret_cast<void*>(uintptr_t{0xBAD0});
    for (uint64_t n = 1;; ++n) {
      SCOPED_TRACE(std::string(op.name) + ": allocation " + std::to_string(n) + " fails");
      void* out = untouched;
      const int64_t live = sltest::LiveBlocks();
      bool threw = false, reached = false;
      SLResult code = SL_OK;
      {
        sltest::FailAllocation fail(n);
        try {
          code = op.attempt(&out);
        } catch (const std::bad_alloc&) {
          threw = true;
        }
        reached = fail.reached();
      }
      if (!reached || (!throws && code == SL_OK)) {
        EXPECT_FALSE(threw);
        ASSERT_EQ(SL_OK, code);
        if (op.release) op.release(out);
        if (reached) continue;  // the system's own listing ended early: fewer names
        std::printf("[sweep] %s: %llu allocations failed in turn\n", op.name,
                    static_cast<unsigned long long>(n - 1));
        EXPECT_GE(n - 1, op.sites);
        return;
      }
      EXPECT_EQ(throws, threw) << "no entry catches an allocation failure";
      if (!throws) {
        EXPECT_TRUE(code == SL_OS_FAILURE || code == SL_INVALID_ARGUMENT) << code;
        SLErrorInfo info{};
        EXPECT_EQ(SL_OK, fs_->header.GetErrorInfo(AsObject(fs_), &info, 0));
        EXPECT_EQ(code, info.code);
      }
      EXPECT_EQ(untouched, out) << "nothing handed out";
      EXPECT_EQ(live, sltest::LiveBlocks()) << "every block given back";
      EXPECT_EQ(1u, fault_.RefCount()) << "no reference kept";
      EXPECT_EQ(0u, fault_.calls[sltest::kReadFile] + fault_.calls[sltest::kWriteFile] +
                        fault_.calls[sltest::kFlushFile] + fault_.calls[sltest::kCloseFile])
          << "no device called";
      EXPECT_EQ(opened_, fault_.openFiles()) << "the caller still owns its file";
      SLErrorInfo info{};
      EXPECT_EQ(SL_NOT_FOUND,
                streams_.AsObject()->header.GetErrorInfo(streams_.AsObject(), &info, 0));
    }
  }

  sl::module::ServiceFactoryRecord* head_ = nullptr;
  sl::module::ServiceFactoryRecord fileSystems_{&head_, SL_CLASS_FILE_SYSTEM_SERVICE,
                                                sl::module::FileSystemServiceFactory()};
  sl::module::ServiceFactoryRecord streamClass_{&head_, SL_CLASS_STREAM_SERVICE,
                                                sl::module::StreamServiceFactory()};
  ObjectPtr files_ = sl::module::FileSystemServiceFactory()();
  ObjectPtr streams_ = sl::module::StreamServiceFactory()();
  SLFileSystem* fs_ = nullptr;
  SLFileSystemSearchResult* search_ = nullptr;
  std::filesystem::path dir_ = std::filesystem::temp_directory_path() /
                               ("sl-sweep-" + std::to_string(reinterpret_cast<uintptr_t>(this)));
  sltest::FaultFileSystem fault_;
  size_t opened_ = 0;
};

void ReleaseObject(void* out) { AsObject(out)->header.Release(AsObject(out)); }

TEST_F(AllocationSweep, EveryOperationThatAllocates) {
  sl::module::ClassList list(&head_);
  uint32_t count = 0;
  const auto create = [&](const char* name) {
    const uint32_t atom = Atom(name);
    return Op{name,
              [this, atom](void** out) {
                return sl::module::CreateFromList(head_, atom, As<ServiceObject*>(out));
              },
              ReleaseObject, 1};
  };
  Sweep(create(SL_CLASS_FILE_SYSTEM_SERVICE));
  Sweep(create(SL_CLASS_STREAM_SERVICE));
  // A refused build of the class list leaves none: a later call builds it whole.
  Sweep({"ReflectServiceObjectInfo",
         [&](void** out) { return list.Reflect(As<const ServiceObjectInfo*>(out), &count); },
         nullptr, 1});
  const auto* info = static_cast<const ServiceObjectInfo*>(nullptr);
  ASSERT_EQ(SL_OK, list.Reflect(&info, &count));
  ASSERT_EQ(2u, count);
  EXPECT_STREQ(SL_CLASS_STREAM_SERVICE, info[0].className);
  EXPECT_EQ(nullptr, info[2].className);
  // The first GetWeakRef of an object publishes its block once, or not at all.
  for (ServiceObject* object :
       {files_.AsObject(), streams_.AsObject(), AsObject(fs_), AsObject(search_)}) {
    Sweep({object->header.interfaceName,
           [object](void** out) {
             return object->header.GetWeakRef(object, As<ServiceObjectWeakRef*>(out));
           },
           [object](void* out) {
             auto* weak = static_cast<ServiceObjectWeakRef*>(out);
             EXPECT_EQ(2u, weak->GetRefCount(weak));
             EXPECT_EQ(object, weak->Lock(weak));
             object->header.Release(object);
             weak->Release(weak);
           },
           1});
  }
  const std::u16string pattern = (dir_ / "*").u16string();
  ASSERT_EQ(SL_INVALID_ARGUMENT, fs_->Search(fs_, nullptr, nullptr));  // the record exists now
  Sweep({"Search",
         [&](void** out) {
           return fs_->Search(fs_, pattern.c_str(), As<SLFileSystemSearchResult*>(out));
         },
         ReleaseObject, 4},
        false);
  Sweep({"RegisterFileSystem",
         [&](void**) { return fss()->RegisterFileSystem(fss(), fault_.table()); },
         [&](void*) {
           EXPECT_EQ(2u, fault_.RefCount());
           EXPECT_EQ(SL_OK, fss()->UnregisterFileSystem(fss(), fault_.table()));
         },
         1});
  // An Open that runs out of memory leaves the caller's file open and calls nothing.
  const auto closeStream = [&](void* out) {
    EXPECT_EQ(SL_OK, ss()->CloseStream(ss(), static_cast<SLStreamHandle>(out)));
    fault_.calls = {};
  };
  sltest::FileCallbacks callbacks{fault_.table(), nullptr};
  const SLReadHandler reader = callbacks.reader();
  const SLWriteHandler writer = callbacks.writer();
  SLFileHandle& file = callbacks.file;
  const Op opens[] = {
      {"OpenMemReadStream",
       [&](void** out) {
         return ss()->OpenMemReadStream(ss(), "abc", 3, reinterpret_cast<SLStreamHandle*>(out));
       },
       closeStream, 4},
      {"OpenReadStream",
       [&](void** out) {
         return ss()->OpenReadStream(ss(), &reader, &callbacks,
                                     reinterpret_cast<SLStreamHandle*>(out));
       },
       closeStream, 4},
      {"OpenWriteStream",
       [&](void** out) {
         return ss()->OpenWriteStream(ss(), &writer, &callbacks,
                                      reinterpret_cast<SLStreamHandle*>(out));
       },
       closeStream, 4},
      {"OpenFileReadStream",
       [&](void** out) {
         return ss()->OpenFileReadStream(ss(), fault_.table(), file,
                                         reinterpret_cast<SLStreamHandle*>(out));
       },
       closeStream, 4},
      {"OpenFileWriteStream",
       [&](void** out) {
         return ss()->OpenFileWriteStream(ss(), fault_.table(), file,
                                          reinterpret_cast<SLStreamHandle*>(out));
       },
       closeStream, 4},
  };
  for (const Op& op : opens) {
    const bool memory = op.name[4] == 'M';
    file = memory ? nullptr : fault_.Open(u"/f", SL_OPEN_CREATE);
    opened_ = fault_.openFiles();
    Sweep(op);
    EXPECT_EQ(0u, fault_.openFiles()) << "the stream closed its file";
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
  const ServiceObject* objects[] = {files_.AsObject(), streams_.AsObject(), AsObject(fs_),
                                    AsObject(search_)};
  for (int i = 0; i < 4; ++i) {
    for (uint64_t n = 1; n <= 2; ++n) {
      std::thread([&] {
        SCOPED_TRACE(std::string(objects[i]->header.interfaceName) + ", allocation " +
                     std::to_string(n));
        const int64_t live = sltest::LiveBlocks();
        bool threw = false, reached = false;
        SLResult code = SL_OK;
        {
          sltest::FailAllocation fail(n);
          try {
            code = failing[i]();
          } catch (const std::bad_alloc&) {
            threw = true;
          }
          reached = fail.reached();
        }
        EXPECT_EQ(n == 1, reached) << "one allocation, the thread's entry in the object's map";
        SLErrorInfo info{};
        const SLResult read =
            AsObject(objects[i])->header.GetErrorInfo(AsObject(objects[i]), &info, 0);
        EXPECT_EQ(reached, threw);
        EXPECT_EQ(reached ? SL_NOT_FOUND : SL_OK, read) << "no half-made record";
        EXPECT_EQ(reached ? 0u : SL_INVALID_ARGUMENT, info.code);
        EXPECT_EQ(reached ? live : sltest::LiveBlocks(), sltest::LiveBlocks());
        EXPECT_EQ(reached ? SL_OK : SL_INVALID_ARGUMENT, code);
      }).join();
    }
  }
}

}  // namespace
