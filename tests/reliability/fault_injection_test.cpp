// Faults from below: the fault-injecting file system, plugged into the file-system service as a
// host plugs one in, fails each entry a file stream calls at each of its calls in turn, in six
// ways: once or for good, with or without a failure record, and without one after moving a part.
// Whatever fails, the stream ends as documented, gives back its reference, closes its file
// exactly once and records nothing on the stream service; a write stream's file holds exactly
// the bytes the file system took, in order, and a read stream delivers a prefix of its file.
#include <gtest/gtest.h>

#include <string>

#include "common/fault_file_system.h"
#include "filesystem/file_system_service.h"
#include "slservices/sdk/ref.hpp"
#include "stream/stream_service.h"

namespace {

using namespace sltest;  // NOLINT: the table names entries
using ObjectPtr = sl::sdk::Ref<ServiceObject>;

const Fault kKinds[] = {{0, false, true},
                        {0, true, true},
                        {0, false, false},
                        {0, true, false},
                        {0, false, false, SL_ACCESS_DENIED, 100},
                        {0, true, false, SL_ACCESS_DENIED, 100}};
const Entry kStreamEntries[] = {kOpenFile, kReadFile, kWriteFile, kFlushFile, kCloseFile};

SLResult RecordCode(SLFileSystem* fs) {  // 0: none
  const Record record = RecordOf(fs);
  return record.read == SL_OK ? record.info.code : 0;
}

class FaultInjection : public ::testing::Test {
 protected:
  void SetUp() override {
    auto* fss = reinterpret_cast<SLFileSystemService*>(files_.get());
    ASSERT_EQ(SL_OK, fss->RegisterFileSystem(fss, fs_.table()));
    ASSERT_EQ(SL_OK, fss->GetRegisteredFileSystemByName(fss, FaultFileSystem::kName, &found_));
    ASSERT_EQ(fs_.table(), found_);
  }
  void TearDown() override { Release(found_); }

  // Opens "/f" and writes 10000 bytes through a file write stream in pieces of 1000, with a
  // flush after 4000, or reads it through a file read stream in pieces of 700; then closes.
  void Drive(bool input, Entry entry, const Fault& fault) {
    SCOPED_TRACE(std::string(input ? "read" : "write") + ", entry " + std::to_string(entry) +
                 ", call " + std::to_string(fault.at) + (fault.forGood ? " on" : "") +
                 (fault.record ? ", recorded" : "") + ", moved " + std::to_string(fault.moved));
    auto* ss = reinterpret_cast<SLStreamService*>(streams_.get());
    std::string data(10000, '\0');
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 7 + i / 251);
    const std::string name = "/f" + std::to_string(++runs_);  // a failed close leaves it open
    fs_.memory()->SetFile(name, input ? data : "");
    fs_.calls = {}, fs_.faults = {}, fs_.written = fs_.failures = 0;
    fs_.faults[entry] = fault;
    SLFileHandle file = nullptr;
    const SLResult opened =
        found_->OpenFile(found_, sl::sdk::ToUtf16(name).c_str(), input ? 1 : 4, &file);
    if (opened != SL_OK) {
      EXPECT_EQ(fault.code, opened);
      EXPECT_EQ(fault.record ? fault.code : 0u, RecordCode(found_));
      return;
    }
    SLStreamHandle h = nullptr;
    ASSERT_EQ(SL_OK, input ? ss->OpenFileReadStream(ss, found_, file, &h)
                           : ss->OpenFileWriteStream(ss, found_, file, &h));
    std::string got(data.size() + 700, '\0');
    uint64_t at = 0, done = 700;
    while (input && done == 700 && at + 700 <= got.size()) {
      EXPECT_EQ(SL_OK, ss->ReadStream(ss, h, &got[at], 700, &done));
      at += done;
    }
    for (; !input && at < data.size(); at += 1000) {
      EXPECT_EQ(SL_OK, ss->WriteStream(ss, h, &data[at], 1000, &done));
      EXPECT_EQ(1000u, done) << "a write stream reports the size it was given";
      EXPECT_EQ(SL_OK, at == 3000 ? ss->FlushStream(ss, h) : SL_OK);
    }
    if (input) {
      EXPECT_EQ(SL_OK, ss->ReadStream(ss, h, &got[0], 10, &done));
      EXPECT_EQ(0u, done) << "once short, a read stream stays so";
    }
    EXPECT_EQ(SL_OK, ss->CloseStream(ss, h));
    EXPECT_EQ(3u, fs_.RefCount())
        << "the stream gave its reference back (the registry and `found_` hold two)";
    EXPECT_EQ(1u, fs_.calls[kCloseFile]) << "the file is closed exactly once";
    SLErrorInfo info{};
    EXPECT_EQ(SL_NOT_FOUND, streams_.object()->header.GetErrorInfo(streams_.object(), &info, 0));
    if (fs_.failures > 0) {
      EXPECT_EQ(fault.record ? fault.code : 0u, RecordCode(found_));
    }
    if (input) {
      got.resize(at);
      EXPECT_TRUE(data.compare(0, at, got) == 0) << "only the file's own bytes, in order";
      if (fs_.failures == 0 || (entry == kReadFile && fault.moved > 0)) {
        EXPECT_EQ(data.size(), at) << "no fault, or short counts only: everything";
      }
      return;
    }
    const std::string written = *fs_.memory()->FileContents(name);
    EXPECT_EQ(fs_.written, written.size());
    EXPECT_TRUE(data.compare(0, written.size(), written) == 0) << "each byte once, in order";
    // A raised failure of the FlushStream's flush makes the stream bad; any other failing flush
    // loses nothing.
    if (fs_.failures == 0 || (entry == kFlushFile && (!fault.record || fault.at > 1))) {
      EXPECT_EQ(data.size(), written.size());
    }
  }

  FaultFileSystem fs_;  // first: it outlives the service that holds it
  ObjectPtr files_ = sl::filesystem::CreateFileSystemService();
  ObjectPtr streams_ = sl::stream::CreateStreamService();
  SLFileSystem* found_ = nullptr;  // the file system as the registry hands it out
  int runs_ = 0;
};

TEST_F(FaultInjection, EveryCallOfEveryEntryFailsInTurn) {
  for (const bool input : {true, false}) {
    Drive(input, kOpenFile, Fault());
    const auto clean = fs_.calls;
    EXPECT_EQ(input ? 4u : 3u, clean[input ? kReadFile : kWriteFile]);
    for (const Entry entry : kStreamEntries) {
      for (Fault fault : kKinds) {
        for (fault.at = 1; fault.at <= clean[entry] + 1; ++fault.at) Drive(input, entry, fault);
      }
    }
  }
}

}  // namespace
