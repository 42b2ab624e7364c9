// File streams over host-made file systems: which table entries are called, with what, in what
// order; failures with and without error information; short tables and null entries; and the
// one reference a stream holds on its file system.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "stream/file_adaptor.h"
#include "stream_fakes.h"
#include "stream_test_support.h"

namespace streamtest {
namespace {

const CallLog kReadClose = {"FlushFile", "FlushFile", "CloseFile", "Release"};

TEST(StreamFileRead, ReadsTheFileInBufferSizedRequests) {
  StreamService service;
  FakeFileSystem fake;
  fake.content = Pattern(10000);
  const SLStreamHandle handle = service.OpenFileRead(fake.fs(), fake.file());
  fake.calls.clear();

  std::string text;
  EXPECT_EQ(service.Read(handle, 5000, &text), 5000u);
  EXPECT_EQ(text, fake.content.substr(0, 5000));
  EXPECT_EQ(service.Read(handle, 6000, &text), 5000u);
  EXPECT_EQ(text, fake.content.substr(5000));
  EXPECT_EQ(service.Read(handle, 1), 0u);
  EXPECT_EQ(fake.calls,
            (CallLog{"ReadFile(4096)", "ReadFile(4096)", "ReadFile(4096)", "ReadFile(4096)"}));
  service.Close(handle);
  EXPECT_EQ(fake.wrongHandles, 0);
}

TEST(StreamFileRead, AReadThatReturnsOneStillDeliversItsBytes) {
  StreamService service;
  FakeFileSystem fake;
  fake.content = Pattern(100);
  fake.readCode = SL_NOT_DONE;
  const SLStreamHandle handle = service.OpenFileRead(fake.fs(), fake.file());
  std::string text;
  EXPECT_EQ(service.Read(handle, 200, &text), 100u);
  EXPECT_EQ(text, fake.content);
  service.Close(handle);
}

TEST(StreamFileRead, AFailureWithErrorInformationEndsTheStreamWithACountOfZero) {
  StreamService service;
  FakeFileSystem fake;
  fake.content = Pattern(10000);
  fake.failReadOnCall = 2;
  const SLStreamHandle handle = service.OpenFileRead(fake.fs(), fake.file());
  fake.calls.clear();

  // The first refill's bytes are copied, then the second fails: the count is 0 all the same.
  std::string text;
  EXPECT_EQ(service.Read(handle, 5000, &text), 0u);
  EXPECT_EQ(service.Read(handle, 10), 0u);
  EXPECT_EQ(fake.calls, (CallLog{"ReadFile(4096)", "ReadFile(4096)", "failed ReadFile"}));

  // The failure stays in the file system's record; the service recorded nothing.
  SLErrorInfo info{};
  EXPECT_EQ(fake.table().header.GetErrorInfo(reinterpret_cast<ServiceObject*>(fake.fs()), &info, 0),
            SL_OK);
  EXPECT_EQ(info.code, SL_OS_FAILURE);
  EXPECT_EQ(service.ErrorInfo(&info), SL_NOT_FOUND);

  fake.calls.clear();
  service.Close(handle);
  EXPECT_EQ(fake.calls, kReadClose);
}

TEST(StreamFileRead, AFailureWithoutErrorInformationPassesOnWhatTheEntryReported) {
  StreamService service;
  FakeFileSystem fake;
  fake.content = Pattern(50);
  fake.failReadOnCall = 1;
  fake.failedReadCount = 30;
  fake.failuresHaveRecord = false;
  const SLStreamHandle handle = service.OpenFileRead(fake.fs(), fake.file());
  fake.calls.clear();
  // The code is ignored: 30 bytes arrive, then the next refill brings the file's 50.
  EXPECT_EQ(service.Read(handle, 100), 80u);
  EXPECT_EQ(fake.calls,
            (CallLog{"ReadFile(4096)", "failed ReadFile", "ReadFile(4096)", "ReadFile(4096)"}));
  service.Close(handle);
}

TEST(StreamFileRead, CloseFlushesTwiceClosesTheFileThenReleasesIt) {
  StreamService service;
  FakeFileSystem fake;
  fake.content = "abc";
  const SLStreamHandle handle = service.OpenFileRead(fake.fs(), fake.file());
  EXPECT_EQ(service.Read(handle, 1), 1u);
  service.Flush(handle);
  fake.calls.clear();
  service.Close(handle);
  EXPECT_EQ(fake.calls, kReadClose);
  EXPECT_EQ(fake.refCount, 1);
  EXPECT_EQ(fake.wrongHandles, 0);
}

TEST(StreamFileWrite, WritesWholeBuffersAndFlushesOnFlushStream) {
  StreamService service;
  FakeFileSystem fake;
  const SLStreamHandle handle = service.OpenFileWrite(fake.fs(), fake.file());
  fake.calls.clear();
  const std::string data = Pattern(5000);
  EXPECT_EQ(service.Write(handle, data), 5000u);
  EXPECT_EQ(fake.calls, (CallLog{"WriteFile(4096)"}));
  service.Flush(handle);
  EXPECT_EQ(fake.calls, (CallLog{"WriteFile(4096)", "WriteFile(904)", "FlushFile"}));
  EXPECT_EQ(fake.written, data);
  service.Close(handle);
}

TEST(StreamFileWrite, CloseWritesTheRestFlushesThreeTimesClosesThenReleases) {
  StreamService service;
  FakeFileSystem fake;
  const SLStreamHandle handle = service.OpenFileWrite(fake.fs(), fake.file());
  EXPECT_EQ(service.Write(handle, "0123456789"), 10u);
  fake.calls.clear();
  service.Close(handle);
  EXPECT_EQ(fake.calls, (CallLog{"WriteFile(10)", "FlushFile", "FlushFile", "FlushFile",
                                 "CloseFile", "Release"}));
  EXPECT_EQ(fake.written, "0123456789");
  EXPECT_EQ(fake.refCount, 1);
  EXPECT_EQ(fake.wrongHandles, 0);
}

TEST(StreamFileWrite, PartialWritesInARowEachContinueFromTheFirstByteNotTaken) {
  StreamService service;
  FakeFileSystem fake;
  fake.writeCounts = {4, 2};
  const SLStreamHandle handle = service.OpenFileWrite(fake.fs(), fake.file());
  EXPECT_EQ(service.Write(handle, "0123456789"), 10u);
  fake.calls.clear();
  std::vector<std::string> taken;
  for (int flush = 0; flush < 3; ++flush) {
    const size_t before = fake.written.size();
    service.Flush(handle);
    taken.push_back(fake.written.substr(before));
  }
  EXPECT_EQ(taken, (std::vector<std::string>{"0123", "45", "6789"}));
  EXPECT_EQ(fake.written, "0123456789") << "every byte exactly once, in order";
  EXPECT_EQ(fake.calls, (CallLog{"WriteFile(10)", "FlushFile", "WriteFile(6)", "FlushFile",
                                 "WriteFile(4)", "FlushFile"}));
  fake.calls.clear();
  service.Close(handle);
  EXPECT_EQ(fake.calls, (CallLog{"FlushFile", "FlushFile", "FlushFile", "CloseFile", "Release"}));
}

TEST(StreamFileWrite, APartlyWrittenFullBufferMakesTheStreamBadAndCloseWritesTheRest) {
  StreamService service;
  FakeFileSystem fake;
  fake.writeCounts = {100, 1000, 500};
  const SLStreamHandle handle = service.OpenFileWrite(fake.fs(), fake.file());
  fake.calls.clear();
  const std::string data = Pattern(5000);
  EXPECT_EQ(service.Write(handle, data), 5000u);
  service.Flush(handle);
  EXPECT_EQ(fake.calls, (CallLog{"WriteFile(4096)"})) << "the stream is bad";
  service.Close(handle);
  EXPECT_EQ(fake.calls,
            (CallLog{"WriteFile(4096)", "WriteFile(3996)", "FlushFile", "WriteFile(2996)",
                     "FlushFile", "WriteFile(2496)", "FlushFile", "CloseFile", "Release"}));
  EXPECT_TRUE(fake.written == data.substr(0, 4096)) << "each byte of the full buffer once";
}

TEST(StreamFileWrite, FailuresWithErrorInformationMakeTheStreamBad) {
  for (const char* where : {"WriteFile", "FlushFile"}) {
    SCOPED_TRACE(where);
    StreamService service;
    FakeFileSystem fake;
    (std::string(where) == "WriteFile" ? fake.failWriteOnCall : fake.failFlushOnCall) = 1;
    const SLStreamHandle handle = service.OpenFileWrite(fake.fs(), fake.file());
    EXPECT_EQ(service.Write(handle, "abc"), 3u);
    service.Flush(handle);
    fake.calls.clear();
    EXPECT_EQ(service.Write(handle, "def"), 3u);
    service.Flush(handle);
    EXPECT_TRUE(fake.calls.empty()) << "a bad stream passes nothing on";
    SLErrorInfo info{};
    EXPECT_EQ(service.ErrorInfo(&info), SL_NOT_FOUND) << "device failures are not reported";
    service.Close(handle);
    EXPECT_EQ(fake.calls.back(), "Release");
  }
}

TEST(StreamFileWrite, AFailingCloseIsAbsorbedAndTheReferenceStillGoesLast) {
  for (const bool withRecord : {true, false}) {
    SCOPED_TRACE(withRecord);
    StreamService service;
    FakeFileSystem fake;
    fake.failClose = true;
    fake.failuresHaveRecord = withRecord;
    const SLStreamHandle handle = service.OpenFileWrite(fake.fs(), fake.file());
    EXPECT_EQ(service.Write(handle, "abc"), 3u);
    fake.calls.clear();
    service.Close(handle);
    EXPECT_EQ(fake.calls, (CallLog{"WriteFile(3)", "FlushFile", "FlushFile", "FlushFile",
                                   "CloseFile", "failed CloseFile", "Release"}));
    EXPECT_EQ(fake.refCount, 1);
  }
}

TEST(StreamFileWrite, FailuresDuringCloseAreAbsorbedOnReadStreamsToo) {
  StreamService service;
  FakeFileSystem fake;
  fake.failClose = true;
  fake.failFlushOnCall = 1;
  const SLStreamHandle handle = service.OpenFileRead(fake.fs(), fake.file());
  fake.calls.clear();
  service.Close(handle);
  EXPECT_EQ(fake.calls, (CallLog{"FlushFile", "failed FlushFile", "FlushFile", "CloseFile",
                                 "failed CloseFile", "Release"}));
  EXPECT_EQ(fake.refCount, 1);
}

TEST(StreamFileTables, ATableOfSizeFiftySixHasNoReadFileAndNoFlushFile) {
  StreamService service;
  FakeFileSystem fake(56);
  fake.content = "unreachable";
  const SLStreamHandle handle = service.OpenFileRead(fake.fs(), fake.file());
  fake.calls.clear();
  EXPECT_EQ(service.Read(handle, 10), 0u);
  EXPECT_EQ(service.Read(handle, 10), 0u);
  service.Close(handle);
  EXPECT_EQ(fake.calls, (CallLog{"CloseFile", "Release"}));
  SLErrorInfo info{};
  EXPECT_EQ(service.ErrorInfo(&info), SL_NOT_FOUND);
}

TEST(StreamFileTables, ATableOfSizeFortyHasNoCloseFile) {
  for (const bool write : {false, true}) {
    SCOPED_TRACE(write);
    StreamService service;
    FakeFileSystem fake(40);
    const SLStreamHandle handle = write ? service.OpenFileWrite(fake.fs(), fake.file())
                                        : service.OpenFileRead(fake.fs(), fake.file());
    if (write) {
      // No WriteFile either: the first full buffer makes the stream bad.
      EXPECT_EQ(service.Write(handle, Pattern(4097)), 4097u);
    }
    fake.calls.clear();
    service.Close(handle);
    EXPECT_EQ(fake.calls, (CallLog{"Release"})) << "the file stays open";
    EXPECT_EQ(fake.refCount, 1);
  }
}

TEST(StreamFileTables, NullEntriesAreSkippedLikeMissingOnes) {
  StreamService service;
  FakeFileSystem fake;
  fake.table().FlushFile = nullptr;
  fake.table().WriteFile = nullptr;
  const SLStreamHandle handle = service.OpenFileWrite(fake.fs(), fake.file());
  EXPECT_EQ(service.Write(handle, "abc"), 3u);
  service.Flush(handle);
  fake.calls.clear();
  service.Close(handle);
  EXPECT_EQ(fake.calls, (CallLog{"CloseFile", "Release"}));
}

TEST(StreamFileReferences, AStreamHoldsExactlyOneReferenceUntilItIsClosed) {
  for (const bool write : {false, true}) {
    SCOPED_TRACE(write);
    StreamService service;
    FakeFileSystem fake;
    fake.content = "abc";
    const SLStreamHandle handle = write ? service.OpenFileWrite(fake.fs(), fake.file())
                                        : service.OpenFileRead(fake.fs(), fake.file());
    EXPECT_EQ(fake.refCount, 2);
    EXPECT_EQ(fake.addRefs - fake.releases, 1) << "the Open's temporaries are all gone";
    // The caller lets go of its own reference (and would unregister it): the stream keeps it.
    fake.table().header.Release(reinterpret_cast<ServiceObject*>(fake.fs()));
    EXPECT_EQ(fake.refCount, 1);
    if (write) {
      EXPECT_EQ(service.Write(handle, "xyz"), 3u);
    } else {
      EXPECT_EQ(service.Read(handle, 3), 3u);
    }
    const int addRefs = fake.addRefs;
    fake.calls.clear();
    service.Close(handle);
    EXPECT_EQ(fake.refCount, 0);
    EXPECT_EQ(fake.addRefs, addRefs);
    EXPECT_EQ(fake.calls.back(), "Release");
    EXPECT_EQ(fake.calls.end()[-2], "CloseFile");
    if (write) {
      EXPECT_EQ(fake.written, "xyz");
    }
  }
}

TEST(StreamFileReferences, ARejectedOpenTouchesNoCount) {
  StreamService service;
  FakeFileSystem fake;
  SLStreamHandle handle = nullptr;
  EXPECT_EQ(service->OpenFileReadStream(service.get(), nullptr, fake.file(), &handle),
            SL_INVALID_ARGUMENT);
  EXPECT_EQ(service->OpenFileReadStream(service.get(), fake.fs(), fake.file(), nullptr),
            SL_INVALID_ARGUMENT);
  EXPECT_EQ(service->OpenFileWriteStream(service.get(), fake.fs(), fake.file(), nullptr),
            SL_INVALID_ARGUMENT);
  EXPECT_TRUE(fake.calls.empty());
  EXPECT_EQ(fake.refCount, 1);
}

TEST(StreamFileReferences, AFileSystemWithoutAddRefAndReleaseIsNotCounted) {
  StreamService service;
  FakeFileSystem fake;
  fake.table().header.AddRef = nullptr;
  fake.table().header.Release = nullptr;
  fake.content = "abc";
  const SLStreamHandle handle = service.OpenFileRead(fake.fs(), fake.file());
  EXPECT_EQ(service.Read(handle, 3), 3u);
  service.Close(handle);
  EXPECT_EQ(fake.calls, (CallLog{"ReadFile(4096)", "FlushFile", "FlushFile", "CloseFile"}));
}

// Positioning is never used by the streams; the device positions through the table.
TEST(StreamFileAdaptor, SeeksThroughTheTableAndGivesMinusOneWhenItCannot) {
  FakeFileSystem fake;
  fake.content = Pattern(1000);
  fake.position = 100;
  SLStreamServiceImpl::_FileAdaptor device(
      SODetails::BasicServiceObjectPtr<SLFileSystem>::Share(fake.fs()), fake.file());
  EXPECT_EQ(device.seek(10, std::ios_base::cur), std::streampos(110));
  EXPECT_EQ(device.seek(-10, std::ios_base::end), std::streampos(990));
  EXPECT_EQ(device.seek(7, std::ios_base::beg), std::streampos(7));
  EXPECT_EQ(fake.calls, (CallLog{"AddRef", "GetFilePos", "SetFilePos(110)", "GetFileSize",
                                 "SetFilePos(990)", "SetFilePos(7)"}));

  fake.failuresHaveRecord = false;
  EXPECT_EQ(device.seek(-8, std::ios_base::beg), std::streampos(-1));
  fake.failuresHaveRecord = true;
  EXPECT_THROW(device.seek(-8, std::ios_base::beg), ServiceObjectException);
  fake.table().GetFileSize = nullptr;
  EXPECT_EQ(device.seek(0, std::ios_base::end), std::streampos(-1));
  EXPECT_EQ(fake.position, 7);
}

}  // namespace
}  // namespace streamtest
