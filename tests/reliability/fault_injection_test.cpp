// Faults from below: a host-written file system that fails its N-th call (once or from then on,
// with or without error information) is plugged in through the registry, in front of the real
// default file system, and file streams are driven through it with every N in turn. Whatever
// fails, each stream ends as documented, the failure stays in the file system's own record, the
// stream gives back its reference and closes its file exactly once, and the file holds exactly
// the bytes the file system acknowledged, in order: nothing lost, nothing written twice.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "common/fault_file_system.h"
#include "filesystem/factory.h"
#include "filesystem/fs_test_support.h"
#include "runtime/service_object_ptr.h"
#include "slservices/sl_exception.hpp"
#include "stream/factory.h"

namespace reltest {
namespace {

using sltest::FaultFileSystem;
using sltest::FaultPlan;
using ObjectPtr = SODetails::BasicServiceObjectPtr<ServiceObject>;

std::string Pattern(size_t size) {
  std::string bytes(size, '\0');
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 7 + i / 251) & 0xFF);
  return bytes;
}

std::u16string Numbered(const char16_t* stem, int number) {
  std::u16string name = stem;
  for (const char c : std::to_string(number)) name += static_cast<char16_t>(c);
  return name;
}

// The ways a fault can be injected, each swept over every call.
struct Mode {
  const char* name;
  bool persistent;
  bool withRecord;
  bool partial;
};
const Mode kModes[] = {
    {"once, with record", false, true, false},
    {"from then on, with record", true, true, false},
    {"once, without record", false, false, false},
    {"from then on, without record", true, false, false},
    {"once, without record, half moved", false, false, true},
    {"from then on, without record, half moved", true, false, true},
};

FaultPlan PlanOf(const Mode& mode, uint64_t failAt) {
  FaultPlan plan;
  plan.failAt = failAt;
  plan.persistent = mode.persistent;
  plan.withRecord = mode.withRecord;
  plan.partialTransfers = mode.partial;
  return plan;
}

class FaultInjection : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(SL_OK, fss()->GetDefaultFileSystem(fss(), &defaultFs_));
    faulty_ = std::make_unique<FaultFileSystem>(defaultFs_, fstest::AtomOf("Faulty"));
    // Plugged in as a host does: registered by its own name, found again by that name.
    ASSERT_EQ(SL_OK, fss()->RegisterFileSystem(fss(), faulty_->fs()));
    ASSERT_EQ(SL_OK, fss()->GetRegisteredFileSystemByName(fss(), fstest::AtomOf("Faulty"), &fs_));
    ASSERT_EQ(faulty_->fs(), fs_);
    fstest::Release(fs_);  // the registry keeps it alive
  }
  void TearDown() override {
    EXPECT_EQ(SL_OK, fss()->UnregisterFileSystem(fss(), faulty_->fs()));
    EXPECT_EQ(1, faulty_->refCount()) << "every reference the module took was given back";
    faulty_.reset();
    fstest::Release(defaultFs_);
  }

  SLFileSystemService* fss() const { return reinterpret_cast<SLFileSystemService*>(fss_.get()); }
  SLStreamService* ss() const { return reinterpret_cast<SLStreamService*>(ss_.get()); }

  // The file's bytes, read straight from the default file system.
  std::string ReadBack(const std::u16string& path) {
    SLFileHandle file = nullptr;
    EXPECT_EQ(SL_OK, defaultFs_->OpenFile(defaultFs_, path.c_str(), SL_OPEN_READ, &file));
    std::string bytes;
    char buffer[4096];
    uint64_t done = 0;
    while (defaultFs_->ReadFile(defaultFs_, file, buffer, sizeof(buffer), &done) == SL_OK &&
           done > 0) {
      bytes.append(buffer, done);
    }
    EXPECT_EQ(SL_OK, defaultFs_->CloseFile(defaultFs_, file));
    return bytes;
  }
  void WriteFile(const std::u16string& path, const std::string& bytes) {
    SLFileHandle file = nullptr;
    ASSERT_EQ(SL_OK, defaultFs_->OpenFile(defaultFs_, path.c_str(), SL_OPEN_CREATE, &file));
    uint64_t done = 0;
    EXPECT_EQ(SL_OK, defaultFs_->WriteFile(defaultFs_, file, bytes.data(), bytes.size(), &done));
    EXPECT_EQ(SL_OK, defaultFs_->CloseFile(defaultFs_, file));
  }

  // What the file system's own record says for this thread (0: no record).
  SLResult FaultRecord() {
    SLErrorInfo info{};
    ServiceObject* object = reinterpret_cast<ServiceObject*>(fs_);
    return object->header.GetErrorInfo(object, &info, 0) == SL_OK ? info.code : 0;
  }
  // Device failures never become codes of the stream service.
  void ExpectNoStreamRecord() {
    SLErrorInfo info{};
    EXPECT_EQ(SL_NOT_FOUND, ss_.AsObject()->header.GetErrorInfo(ss_.AsObject(), &info, 0));
  }

  fstest::TempFolder dir_;  // first: removed after every handle is closed
  ObjectPtr fss_ = sl::filesystem::CreateFileSystemService();
  ObjectPtr ss_ = sl::stream::CreateStreamService();
  SLFileSystem* defaultFs_ = nullptr;
  std::unique_ptr<FaultFileSystem> faulty_;
  SLFileSystem* fs_ = nullptr;  // the fault-injecting file system as the registry gives it out
};

// One write through a file stream: pieces, a flush halfway, the close.
struct WriteRun {
  bool opened = false;
  uint64_t calls = 0;
  uint64_t acknowledged = 0;
  std::string content;
};

TEST_F(FaultInjection, WriteStreamsKeepExactlyWhatTheFileSystemAcknowledged) {
  const std::string data = Pattern(10000);
  int run = 0;
  auto write = [&](const FaultPlan& plan) {
    WriteRun out;
    const std::u16string path = dir_ / Numbered(u"w", run++);
    const int32_t refs = faulty_->refCount();
    const uint64_t closes = faulty_->callsOf(sltest::kCloseFileSlot);
    const uint64_t closeFailures = faulty_->injectedInto(sltest::kCloseFileSlot);
    const uint64_t written = faulty_->bytesWritten();
    const uint64_t failures = faulty_->injectedFailures();
    const size_t handles = faulty_->openHandles();
    faulty_->Arm(plan);
    SLFileHandle file = nullptr;
    const SLResult opened = fs_->OpenFile(fs_, path.c_str(), SL_OPEN_CREATE, &file);
    if (opened != SL_OK) {
      EXPECT_EQ(plan.code, opened);
      EXPECT_EQ(plan.withRecord ? plan.code : 0u, FaultRecord());
      faulty_->Disarm();
      return out;
    }
    out.opened = true;
    SLStreamHandle stream = nullptr;
    EXPECT_EQ(SL_OK, ss()->OpenFileWriteStream(ss(), fs_, file, &stream));
    for (size_t at = 0; at < data.size(); at += 1000) {
      uint64_t done = 0;
      EXPECT_EQ(SL_OK, ss()->WriteStream(ss(), stream, data.data() + at, 1000, &done));
      EXPECT_EQ(1000u, done) << "a write stream always reports the size it was given";
      if (at == 3000) {
        EXPECT_EQ(SL_OK, ss()->FlushStream(ss(), stream));
      }
    }
    EXPECT_EQ(SL_OK, ss()->CloseStream(ss(), stream));
    out.calls = faulty_->countedCalls();
    const bool injected = faulty_->injectedFailures() > failures;
    faulty_->Disarm();

    EXPECT_EQ(refs, faulty_->refCount()) << "the stream gave its reference back";
    EXPECT_EQ(closes + 1, faulty_->callsOf(sltest::kCloseFileSlot)) << "closed exactly once";
    const bool closeFailed = faulty_->injectedInto(sltest::kCloseFileSlot) > closeFailures;
    EXPECT_EQ(handles + (closeFailed ? 1u : 0u), faulty_->openHandles());
    if (injected) {
      EXPECT_EQ(plan.withRecord ? plan.code : 0u, FaultRecord());
    }
    ExpectNoStreamRecord();
    if (closeFailed) return out;  // still open, without sharing: read it at the end
    out.acknowledged = faulty_->bytesWritten() - written;
    out.content = ReadBack(path);
    EXPECT_LE(out.acknowledged, data.size());
    EXPECT_EQ(data.substr(0, out.acknowledged), out.content);
    if (!injected) {
      EXPECT_EQ(data, out.content);
    }
    return out;
  };

  const WriteRun clean = write(FaultPlan{});
  ASSERT_EQ(data, clean.content);
  // Open, the flush's write and FlushFile, a buffer-full, the close's write, three FlushFile
  // calls and CloseFile.
  ASSERT_EQ(9u, clean.calls);
  for (const Mode& mode : kModes) {
    for (uint64_t n = 1; n <= clean.calls + 1; ++n) {
      SCOPED_TRACE(std::string(mode.name) + ", call " + std::to_string(n) + " fails");
      write(PlanOf(mode, n));
    }
  }

  // Failing flushes lose nothing: every byte reaches the file.
  for (const Mode& mode : kModes) {
    for (uint64_t n = 1; n <= 4; ++n) {
      SCOPED_TRACE(std::string(mode.name) + ", FlushFile call " + std::to_string(n) + " fails");
      FaultPlan plan = PlanOf(mode, n);
      plan.countedSlots = sltest::SlotBit(sltest::kFlushFileSlot);
      const WriteRun flushed = write(plan);
      if (!mode.withRecord || n > 1) {
        EXPECT_EQ(data, flushed.content);
      }
    }
  }
}

TEST_F(FaultInjection, AWriteFailureWithRecordMakesTheStreamBadAndTheCloseRetries) {
  const std::u16string path = dir_ / u"bad";
  SLFileHandle file = nullptr;
  ASSERT_EQ(SL_OK, fs_->OpenFile(fs_, path.c_str(), SL_OPEN_CREATE, &file));
  SLStreamHandle stream = nullptr;
  ASSERT_EQ(SL_OK, ss()->OpenFileWriteStream(ss(), fs_, file, &stream));
  FaultPlan plan;
  plan.failAt = 1;
  plan.countedSlots = sltest::SlotBit(sltest::kWriteFileSlot);
  plan.code = SL_ACCESS_DENIED;
  faulty_->Arm(plan);
  const std::string data = Pattern(5000);
  uint64_t done = 0;
  // The buffer fills at 4096 bytes; handing it over fails and the stream turns bad.
  EXPECT_EQ(SL_OK, ss()->WriteStream(ss(), stream, data.data(), data.size(), &done));
  EXPECT_EQ(5000u, done);
  EXPECT_EQ(1u, faulty_->callsOf(sltest::kWriteFileSlot));
  EXPECT_EQ(SL_ACCESS_DENIED, FaultRecord());
  // A bad stream passes nothing on and its flush does nothing.
  EXPECT_EQ(SL_OK, ss()->WriteStream(ss(), stream, data.data(), 100, &done));
  EXPECT_EQ(100u, done);
  EXPECT_EQ(SL_OK, ss()->FlushStream(ss(), stream));
  EXPECT_EQ(1u, faulty_->callsOf(sltest::kWriteFileSlot));
  EXPECT_EQ(0u, faulty_->callsOf(sltest::kFlushFileSlot));
  // The close still synchronises: the buffered block is offered again and now taken.
  EXPECT_EQ(SL_OK, ss()->CloseStream(ss(), stream));
  EXPECT_EQ(2u, faulty_->callsOf(sltest::kWriteFileSlot));
  EXPECT_EQ(3u, faulty_->callsOf(sltest::kFlushFileSlot));
  EXPECT_EQ(1u, faulty_->callsOf(sltest::kCloseFileSlot));
  EXPECT_EQ(data.substr(0, 4096), ReadBack(path));
  ExpectNoStreamRecord();
}

TEST_F(FaultInjection, ReadStreamsDeliverAPrefixOfTheFileAndNothingElse) {
  const std::string content = Pattern(10000);
  const std::u16string path = dir_ / u"source";
  WriteFile(path, content);

  auto read = [&](const FaultPlan& plan, uint64_t* calls) {
    const int32_t refs = faulty_->refCount();
    const uint64_t closes = faulty_->callsOf(sltest::kCloseFileSlot);
    const uint64_t readFailures = faulty_->injectedInto(sltest::kReadFileSlot);
    faulty_->Arm(plan);
    SLFileHandle file = nullptr;
    const SLResult opened = fs_->OpenFile(fs_, path.c_str(), SL_OPEN_READ, &file);
    if (opened != SL_OK) {
      EXPECT_EQ(plan.code, opened);
      faulty_->Disarm();
      return std::string();
    }
    SLStreamHandle stream = nullptr;
    EXPECT_EQ(SL_OK, ss()->OpenFileReadStream(ss(), fs_, file, &stream));
    std::string delivered;
    uint64_t last = 0;
    for (int call = 0; call < 100; ++call) {
      char piece[700];
      last = ~uint64_t{0};
      EXPECT_EQ(SL_OK, ss()->ReadStream(ss(), stream, piece, sizeof(piece), &last));
      delivered.append(piece, last);
      if (last < sizeof(piece)) break;
    }
    // Once short, a read stream stays so.
    char more[10];
    uint64_t again = ~uint64_t{0};
    EXPECT_EQ(SL_OK, ss()->ReadStream(ss(), stream, more, sizeof(more), &again));
    EXPECT_EQ(0u, again);
    const bool readFailed = faulty_->injectedInto(sltest::kReadFileSlot) > readFailures;
    // Taken before the close: flushing a read handle fails in the file system below (15), and
    // that failure is recorded too.
    const SLResult record = FaultRecord();
    EXPECT_EQ(SL_OK, ss()->CloseStream(ss(), stream));
    if (calls != nullptr) *calls = faulty_->countedCalls();
    faulty_->Disarm();

    EXPECT_EQ(refs, faulty_->refCount());
    EXPECT_EQ(closes + 1, faulty_->callsOf(sltest::kCloseFileSlot));
    EXPECT_EQ(content.substr(0, delivered.size()), delivered) << "only the file's own bytes";
    if (readFailed && plan.withRecord) {
      EXPECT_EQ(0u, last) << "a read that meets a raised failure counts nothing";
      EXPECT_EQ(plan.code, record);
    }
    if (plan.partialTransfers && !plan.withRecord) {
      EXPECT_EQ(content, delivered) << "short counts are no end";
    }
    ExpectNoStreamRecord();
    return delivered;
  };

  uint64_t calls = 0;
  ASSERT_EQ(content, read(FaultPlan{}, &calls));
  // Open, three reads with data and one at the end, two FlushFile calls and CloseFile.
  ASSERT_EQ(8u, calls);
  for (const Mode& mode : kModes) {
    for (uint64_t n = 1; n <= calls + 1; ++n) {
      SCOPED_TRACE(std::string(mode.name) + ", call " + std::to_string(n) + " fails");
      read(PlanOf(mode, n), nullptr);
    }
  }
}

TEST_F(FaultInjection, ANameThatCannotBeReadLeavesTheRegistryAsItWas) {
  FaultFileSystem other(defaultFs_, fstest::AtomOf("Other"));
  FaultPlan plan;
  plan.failAt = 1;
  plan.persistent = true;
  plan.countedSlots = sltest::SlotBit(sltest::kGetFileSystemNameSlot);
  plan.code = SL_ACCESS_DENIED;

  // With error information the failure leaves the entry as an exception; nothing changes.
  other.Arm(plan);
  try {
    fss()->RegisterFileSystem(fss(), other.fs());
    ADD_FAILURE() << "no exception";
  } catch (const ServiceObjectException& e) {
    EXPECT_EQ(SL_ACCESS_DENIED, e.code());
  }
  SLErrorInfo info{};
  EXPECT_EQ(SL_NOT_FOUND, fss_.AsObject()->header.GetErrorInfo(fss_.AsObject(), &info, 0))
      << "an exception records nothing on the service";
  EXPECT_EQ(1, other.refCount());
  SLFileSystem* found = nullptr;
  EXPECT_EQ(SL_NOT_FOUND, fss()->GetRegisteredFileSystemByName(fss(), SL_UNRESOLVED_ATOM, &found));

  // Without it the code is ignored and the key stays unresolved.
  plan.withRecord = false;
  other.Arm(plan);
  EXPECT_EQ(SL_OK, fss()->RegisterFileSystem(fss(), other.fs()));
  EXPECT_EQ(2, other.refCount());
  ASSERT_EQ(SL_OK, fss()->GetRegisteredFileSystemByName(fss(), SL_UNRESOLVED_ATOM, &found));
  EXPECT_EQ(other.fs(), found);
  fstest::Release(found);

  // Unregistering by a name that raises leaves the entry in place.
  plan.withRecord = true;
  other.Arm(plan);
  EXPECT_THROW(fss()->UnregisterFileSystem(fss(), other.fs()), ServiceObjectException);
  EXPECT_EQ(2, other.refCount());
  plan.withRecord = false;
  other.Arm(plan);
  EXPECT_EQ(SL_OK, fss()->UnregisterFileSystem(fss(), other.fs()));
  EXPECT_EQ(1, other.refCount());
}

}  // namespace
}  // namespace reltest
