// Streams on different handles used from different threads at once, through one service
// object, with failures recorded per thread.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "stream_fakes.h"
#include "stream_test_support.h"

namespace streamtest {
namespace {

struct ThreadOutcome {
  std::string fromMemory;
  std::string fromHandler;
  std::string fromFile;
  std::string written;
  CallLog writerCalls;
  CallLog fileCalls;
  uint32_t failureLine = 0;
};

void UseOwnStreams(const StreamService& service, int index, ThreadOutcome& out) {
  const std::string data = std::to_string(index) + Pattern(9000);
  ReadHandlerFake reader;
  reader.data = data;
  reader.chunk = 1000;
  WriteHandlerFake writer;
  FakeFileSystem fake;
  fake.content = data;

  const SLStreamHandle mem = service.OpenMem(data);
  const SLStreamHandle read = service.OpenRead(reader.handler(), reader.context());
  const SLStreamHandle write = service.OpenWrite(writer.handler(), writer.context());
  const SLStreamHandle file = service.OpenFileRead(fake.fs(), fake.file());
  std::string piece;
  for (size_t at = 0; at < data.size(); at += 700) {
    service.Read(mem, 700, &piece);
    out.fromMemory += piece;
    service.Read(read, 700, &piece);
    out.fromHandler += piece;
    service.Read(file, 700, &piece);
    out.fromFile += piece;
    service.Write(write, piece);
  }
  // A rejected call on this thread leaves this thread's record only.
  uint64_t done = 0;
  const SLStreamHandle wrongKind = (index % 2 == 0) ? write : read;
  if (index % 2 == 0) {
    service->ReadStream(service.get(), wrongKind, &piece[0], 1, &done);
  } else {
    service->WriteStream(service.get(), wrongKind, piece.data(), 1, &done);
  }
  SLErrorInfo info{};
  if (service.ErrorInfo(&info) == SL_OK) out.failureLine = info.line;

  service.Close(mem);
  service.Close(read);
  service.Close(write);
  service.Close(file);
  out.written = writer.written;
  out.writerCalls = writer.calls;
  out.fileCalls = fake.calls;
}

TEST(StreamThreads, HandlesOnDifferentThreadsAreIndependent) {
  StreamService service;
  constexpr int kThreads = 4;
  std::vector<ThreadOutcome> outcomes(kThreads);
  std::vector<std::thread> threads;
  for (int i = 0; i < kThreads; ++i) {
    threads.emplace_back(UseOwnStreams, std::cref(service), i, std::ref(outcomes[i]));
  }
  for (std::thread& thread : threads) thread.join();

  for (int i = 0; i < kThreads; ++i) {
    SCOPED_TRACE(i);
    const std::string data = std::to_string(i) + Pattern(9000);
    const ThreadOutcome& out = outcomes[i];
    EXPECT_EQ(out.fromMemory, data);
    EXPECT_EQ(out.fromHandler, data);
    EXPECT_EQ(out.fromFile, data);
    EXPECT_EQ(out.written, data);
    EXPECT_EQ(out.failureLine, i % 2 == 0 ? 13u : 14u);
    ASSERT_GE(out.writerCalls.size(), 4u);
    EXPECT_EQ(CallLog(out.writerCalls.end() - 4, out.writerCalls.end()),
              (CallLog{"Flush", "Flush", "Flush", "Close"}));
    ASSERT_GE(out.fileCalls.size(), 4u);
    EXPECT_EQ(CallLog(out.fileCalls.end() - 4, out.fileCalls.end()),
              (CallLog{"FlushFile", "FlushFile", "CloseFile", "Release"}));
  }
  SLErrorInfo info{};
  EXPECT_EQ(service.ErrorInfo(&info), SL_NOT_FOUND) << "no failure on the main thread";
}

}  // namespace
}  // namespace streamtest
