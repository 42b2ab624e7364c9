// Streams over the caller's callbacks: when Read, Write, Flush and Close run, with what, and
// what the stream makes of their results, including the exact close sequences.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "stream_fakes.h"
#include "stream_test_support.h"

namespace streamtest {
namespace {

const CallLog kReadClose = {"Flush", "Flush", "Close"};

TEST(StreamHandlerRead, OneByteReadFetchesAFullBufferOnce) {
  StreamService service;
  ReadHandlerFake reader;
  reader.data = Pattern(5000);
  const SLStreamHandle handle = service.OpenRead(reader.handler(), reader.context());
  EXPECT_TRUE(reader.calls.empty()) << "opening calls nothing";

  std::string text;
  EXPECT_EQ(service.Read(handle, 1, &text), 1u);
  EXPECT_EQ(reader.calls, (CallLog{"Read(4096)"}));
  // The rest of the first 4096 bytes comes from the buffer.
  EXPECT_EQ(service.Read(handle, 4000, &text), 4000u);
  EXPECT_EQ(service.Read(handle, 95, &text), 95u);
  EXPECT_EQ(text, reader.data.substr(4001, 95));
  EXPECT_EQ(reader.calls.size(), 1u);
  // The next byte needs a refill, which again asks for the whole read area.
  EXPECT_EQ(service.Read(handle, 1, &text), 1u);
  EXPECT_EQ(text, reader.data.substr(4096, 1));
  EXPECT_EQ(reader.calls, (CallLog{"Read(4096)", "Read(4096)"}));
  service.Close(handle);
}

TEST(StreamHandlerRead, ShortReadsAreContinuedUntilTheRequestIsMet) {
  StreamService service;
  ReadHandlerFake reader;
  reader.data = Pattern(3000);
  reader.chunk = 100;
  const SLStreamHandle handle = service.OpenRead(reader.handler(), reader.context());
  std::string text;
  EXPECT_EQ(service.Read(handle, 1000, &text), 1000u);
  EXPECT_EQ(text, reader.data.substr(0, 1000));
  EXPECT_EQ(reader.calls, CallLog(10, "Read(4096)"));
  service.Close(handle);
}

TEST(StreamHandlerRead, ZeroOrAllOnesEndsTheDataForGood) {
  for (const uint64_t end : {uint64_t{0}, ~uint64_t{0}}) {
    SCOPED_TRACE(end);
    StreamService service;
    ReadHandlerFake reader;
    reader.useFixedResult = true;
    reader.fixedResult = end;
    const SLStreamHandle handle = service.OpenRead(reader.handler(), reader.context());
    EXPECT_EQ(service.Read(handle, 10), 0u);
    // Data arriving later is never asked for.
    reader.useFixedResult = false;
    reader.data = "late";
    EXPECT_EQ(service.Read(handle, 10), 0u);
    EXPECT_EQ(service.Read(handle, 1), 0u);
    EXPECT_EQ(reader.calls, (CallLog{"Read(4096)"}));
    service.Close(handle);
    EXPECT_EQ(reader.calls, (CallLog{"Read(4096)", "Flush", "Flush", "Close"}));
  }
}

TEST(StreamHandlerRead, TheEndOfTheDataAfterSomeBytesGivesAShortCount) {
  StreamService service;
  ReadHandlerFake reader;
  reader.data = "abcdef";
  reader.endResult = ~uint64_t{0};
  const SLStreamHandle handle = service.OpenRead(reader.handler(), reader.context());
  std::string text;
  EXPECT_EQ(service.Read(handle, 10, &text), 6u);
  EXPECT_EQ(text, "abcdef");
  EXPECT_EQ(service.Read(handle, 10), 0u);
  EXPECT_EQ(reader.calls, (CallLog{"Read(4096)", "Read(4096)"}));
  service.Close(handle);
}

TEST(StreamHandlerRead, FlushStreamOnAReadStreamCallsNothing) {
  StreamService service;
  ReadHandlerFake reader;
  reader.data = "abc";
  const SLStreamHandle handle = service.OpenRead(reader.handler(), reader.context());
  EXPECT_EQ(service.Read(handle, 1), 1u);
  service.Flush(handle);
  service.Flush(handle);
  EXPECT_EQ(reader.calls, (CallLog{"Read(4096)"}));
  service.Close(handle);
}

TEST(StreamHandlerRead, CloseFlushesTwiceThenClosesWhateverTheState) {
  struct Case {
    const char* name;
    uint64_t readFirst;
    CallLog before;
  };
  for (const Case& c : {Case{"unread", 0, {}}, Case{"mid-buffer", 2, {"Read(4096)"}},
                        Case{"ended", 10, {"Read(4096)", "Read(4096)"}}}) {
    SCOPED_TRACE(c.name);
    StreamService service;
    ReadHandlerFake reader;
    reader.data = "abcd";
    reader.flushResult = 0;  // a failing flush changes nothing
    const SLStreamHandle handle = service.OpenRead(reader.handler(), reader.context());
    if (c.readFirst != 0) service.Read(handle, c.readFirst);
    ASSERT_EQ(reader.calls, c.before);
    reader.calls.clear();
    service.Close(handle);
    EXPECT_EQ(reader.calls, kReadClose);
  }
}

TEST(StreamHandlerWrite, BytesWaitInTheBufferUntilFlushStream) {
  StreamService service;
  WriteHandlerFake writer;
  const SLStreamHandle handle = service.OpenWrite(writer.handler(), writer.context());
  EXPECT_EQ(service.Write(handle, "0123456789"), 10u);
  EXPECT_TRUE(writer.calls.empty());
  service.Flush(handle);
  EXPECT_EQ(writer.calls, (CallLog{"Write(10)", "Flush"}));
  EXPECT_EQ(writer.written, "0123456789");
  // With nothing buffered, a flush only flushes.
  service.Flush(handle);
  EXPECT_EQ(writer.calls, (CallLog{"Write(10)", "Flush", "Flush"}));
  service.Close(handle);
}

TEST(StreamHandlerWrite, SmallWritesReachTheDeviceAsWholeBuffers) {
  StreamService service;
  WriteHandlerFake writer;
  const SLStreamHandle handle = service.OpenWrite(writer.handler(), writer.context());
  const std::string data = Pattern(10000);
  for (size_t at = 0; at < data.size(); at += 10) {
    EXPECT_EQ(service.Write(handle, data.substr(at, 10)), 10u);
  }
  EXPECT_EQ(writer.calls, (CallLog{"Write(4096)", "Write(4096)"}));
  service.Flush(handle);
  EXPECT_EQ(writer.calls, (CallLog{"Write(4096)", "Write(4096)", "Write(1808)", "Flush"}));
  EXPECT_EQ(writer.written, data);
  service.Close(handle);
}

TEST(StreamHandlerWrite, CloseWritesTheRestThenFlushesThreeTimesThenCloses) {
  StreamService service;
  WriteHandlerFake writer;
  const SLStreamHandle handle = service.OpenWrite(writer.handler(), writer.context());
  EXPECT_EQ(service.Write(handle, "0123456789"), 10u);
  service.Close(handle);
  EXPECT_EQ(writer.calls, (CallLog{"Write(10)", "Flush", "Flush", "Flush", "Close"}));
  EXPECT_EQ(writer.written, "0123456789");
}

TEST(StreamHandlerWrite, CloseWithAnEmptyBufferOnlyFlushesAndCloses) {
  StreamService service;
  WriteHandlerFake writer;
  writer.flushResult = 0;  // a failing flush changes nothing
  const SLStreamHandle handle = service.OpenWrite(writer.handler(), writer.context());
  service.Close(handle);
  EXPECT_EQ(writer.calls, (CallLog{"Flush", "Flush", "Flush", "Close"}));
}

TEST(StreamHandlerWrite, AFullBufferTheDeviceRefusesMakesTheStreamBad) {
  StreamService service;
  WriteHandlerFake writer;
  writer.accept = {0};
  const SLStreamHandle handle = service.OpenWrite(writer.handler(), writer.context());
  EXPECT_EQ(service.Write(handle, Pattern(5000)), 5000u);
  EXPECT_EQ(writer.calls, (CallLog{"Write(4096)"}));

  // Bad from now on: writes still report their size, but nothing moves.
  EXPECT_EQ(service.Write(handle, Pattern(5000)), 5000u);
  EXPECT_EQ(service.Write(handle, "x"), 1u);
  service.Flush(handle);
  EXPECT_EQ(writer.calls, (CallLog{"Write(4096)"}));

  // Closing still synchronises three times, offering the stuck bytes each time.
  writer.accept = {0, 0, 0};
  service.Close(handle);
  EXPECT_EQ(writer.calls, (CallLog{"Write(4096)", "Write(4096)", "Flush", "Write(4096)", "Flush",
                                   "Write(4096)", "Flush", "Close"}));
  EXPECT_EQ(writer.offered.back(), Pattern(4096));
  EXPECT_TRUE(writer.written.empty());
}

TEST(StreamHandlerWrite, APartlyTakenBufferIsOfferedAgainFromTheFirstByteNotTaken) {
  StreamService service;
  WriteHandlerFake writer;
  writer.accept = {4};
  const SLStreamHandle handle = service.OpenWrite(writer.handler(), writer.context());
  EXPECT_EQ(service.Write(handle, "0123456789"), 10u);
  service.Flush(handle);
  // A short write during a flush does not make the stream bad: it takes more bytes.
  EXPECT_EQ(service.Write(handle, "ab"), 2u);
  service.Flush(handle);
  EXPECT_EQ(writer.offered, (std::vector<std::string>{"0123456789", "456789ab"}));
  EXPECT_EQ(writer.written, "0123456789ab");
  EXPECT_EQ(writer.calls, (CallLog{"Write(10)", "Flush", "Write(8)", "Flush"}));
  service.Close(handle);
}

TEST(StreamHandlerWrite, PartialTakesInARowEachContinueFromTheFirstByteNotTaken) {
  StreamService service;
  WriteHandlerFake writer;
  writer.accept = {4, 2};
  const SLStreamHandle handle = service.OpenWrite(writer.handler(), writer.context());
  EXPECT_EQ(service.Write(handle, "0123456789"), 10u);
  std::vector<std::string> taken;
  for (int flush = 0; flush < 3; ++flush) {
    const size_t before = writer.written.size();
    service.Flush(handle);
    taken.push_back(writer.written.substr(before));
  }
  EXPECT_EQ(taken, (std::vector<std::string>{"0123", "45", "6789"}));
  EXPECT_EQ(writer.offered, (std::vector<std::string>{"0123456789", "456789", "6789"}));
  EXPECT_EQ(writer.written, "0123456789") << "every byte exactly once, in order";
  EXPECT_EQ(writer.calls,
            (CallLog{"Write(10)", "Flush", "Write(6)", "Flush", "Write(4)", "Flush"}));
  writer.calls.clear();
  service.Close(handle);
  EXPECT_EQ(writer.calls, (CallLog{"Flush", "Flush", "Flush", "Close"})) << "nothing is left";
}

TEST(StreamHandlerWrite, APartlyTakenFullBufferMakesTheStreamBadAndCloseOffersTheRest) {
  StreamService service;
  WriteHandlerFake writer;
  writer.accept = {100};
  const SLStreamHandle handle = service.OpenWrite(writer.handler(), writer.context());
  const std::string data = Pattern(5000);
  EXPECT_EQ(service.Write(handle, data), 5000u);
  EXPECT_EQ(writer.calls, (CallLog{"Write(4096)"}));
  EXPECT_EQ(service.Write(handle, "more"), 4u);
  service.Flush(handle);
  EXPECT_EQ(writer.calls, (CallLog{"Write(4096)"})) << "no room was freed: the stream is bad";

  // Each synchronisation at close takes part and leaves the rest for the next one.
  writer.accept = {1000, 500};
  service.Close(handle);
  EXPECT_EQ(writer.calls, (CallLog{"Write(4096)", "Write(3996)", "Flush", "Write(2996)", "Flush",
                                   "Write(2496)", "Flush", "Close"}));
  // Large byte strings are compared as a whole; the sizes above show where they went wrong.
  EXPECT_TRUE(writer.offered ==
              (std::vector<std::string>{data.substr(0, 4096), data.substr(100, 3996),
                                        data.substr(1100, 2996), data.substr(1600, 2496)}));
  EXPECT_TRUE(writer.written == data.substr(0, 4096)) << "what came after the full buffer is lost";
}

TEST(StreamHandlerWrite, ABufferFillingUpAfterAPartialFlushKeepsTheFirstByteNotTaken) {
  StreamService service;
  WriteHandlerFake writer;
  writer.accept = {4, 2};
  const SLStreamHandle handle = service.OpenWrite(writer.handler(), writer.context());
  EXPECT_EQ(service.Write(handle, "0123456789"), 10u);
  service.Flush(handle);
  // The buffer now starts at "4": it fills up after 4086 more bytes, of which 2 are taken.
  const std::string more = Pattern(5000);
  EXPECT_EQ(service.Write(handle, more), 5000u);
  EXPECT_EQ(writer.calls, (CallLog{"Write(10)", "Flush", "Write(4092)"}));
  EXPECT_TRUE(writer.offered.back() == "456789" + more.substr(0, 4086));
  service.Close(handle);
  EXPECT_EQ(writer.calls, (CallLog{"Write(10)", "Flush", "Write(4092)", "Write(4090)", "Flush",
                                   "Flush", "Flush", "Close"}));
  EXPECT_TRUE(writer.offered.at(2) == "6789" + more.substr(0, 4086));
  EXPECT_TRUE(writer.written == "0123456789" + more.substr(0, 4086));
}

}  // namespace
}  // namespace streamtest
