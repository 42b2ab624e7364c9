// The service object and the entries' own checks: argument failures with their records,
// handle kinds, and handles that live apart from the object that opened them.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>

#include "stream_fakes.h"
#include "stream_test_support.h"

namespace streamtest {
namespace {

std::string Narrow(const SLChar16* text) {
  std::string out;
  for (; text != nullptr && *text != 0; ++text) out.push_back(static_cast<char>(*text));
  return out;
}

SLStreamHandle const kUntouched = reinterpret_cast<SLStreamHandle>(uintptr_t{0xBAD});

TEST(StreamServiceObject, FactoryMakesAStreamServiceWithOneReference) {
  StreamService service;
  ASSERT_NE(service.get(), nullptr);
  const ServiceFunctionTable& header = service->header;
  EXPECT_EQ(header.interfaceId, SL_STREAM_SERVICE_ID);
  EXPECT_EQ(header.tableSize, SL_STREAM_SERVICE_TABLE_SIZE);
  EXPECT_STREQ(header.interfaceName, "SLStreamService");
  EXPECT_EQ(header.GetRefCount(service.object()), 1u);
  EXPECT_EQ(std::memcmp(service->endMarker, "EOFT", 4), 0);
  EXPECT_EQ(service->tableStamp, SL_STREAM_SERVICE_STAMP);
}

// Each entry with an argument it rejects: the code, and the record the failure leaves.
struct RejectedCall {
  const char* entry;
  uint32_t line;
  std::function<SLResult(SLStreamService*, SLStreamHandle read, SLStreamHandle write)> call;
};

TEST(StreamServiceArguments, EveryRejectionGivesThreeAndARecordWithTheEntrysLine) {
  static const char kData[] = "0123456789";
  const SLReadHandler readHandler = ReadHandlerFake{}.handler();
  const SLWriteHandler writeHandler = WriteHandlerFake{}.handler();
  FakeFileSystem fake;
  uint64_t count = 0;
  char buffer[4];
  const RejectedCall calls[] = {
      {"OpenMemReadStream", 8,
       [](SLStreamService* s, SLStreamHandle, SLStreamHandle) {
         SLStreamHandle out = kUntouched;
         const SLResult r = s->OpenMemReadStream(s, nullptr, 0, &out);
         EXPECT_EQ(out, kUntouched);
         return r;
       }},
      {"OpenMemReadStream", 8,
       [](SLStreamService* s, SLStreamHandle, SLStreamHandle) {
         return s->OpenMemReadStream(s, kData, 10, nullptr);
       }},
      {"OpenFileReadStream", 9,
       [&](SLStreamService* s, SLStreamHandle, SLStreamHandle) {
         SLStreamHandle out = kUntouched;
         const SLResult r = s->OpenFileReadStream(s, nullptr, fake.file(), &out);
         EXPECT_EQ(out, kUntouched);
         return r;
       }},
      {"OpenFileReadStream", 9,
       [&](SLStreamService* s, SLStreamHandle, SLStreamHandle) {
         return s->OpenFileReadStream(s, fake.fs(), fake.file(), nullptr);
       }},
      {"OpenFileWriteStream", 10,
       [&](SLStreamService* s, SLStreamHandle, SLStreamHandle) {
         SLStreamHandle out = kUntouched;
         const SLResult r = s->OpenFileWriteStream(s, nullptr, fake.file(), &out);
         EXPECT_EQ(out, kUntouched);
         return r;
       }},
      {"OpenFileWriteStream", 10,
       [&](SLStreamService* s, SLStreamHandle, SLStreamHandle) {
         return s->OpenFileWriteStream(s, fake.fs(), fake.file(), nullptr);
       }},
      {"OpenReadStream", 11,
       [&](SLStreamService* s, SLStreamHandle, SLStreamHandle) {
         SLStreamHandle out = kUntouched;
         const SLResult r = s->OpenReadStream(s, nullptr, nullptr, &out);
         EXPECT_EQ(out, kUntouched);
         return r;
       }},
      {"OpenReadStream", 11,
       [&](SLStreamService* s, SLStreamHandle, SLStreamHandle) {
         return s->OpenReadStream(s, &readHandler, nullptr, nullptr);
       }},
      {"OpenWriteStream", 12,
       [&](SLStreamService* s, SLStreamHandle, SLStreamHandle) {
         SLStreamHandle out = kUntouched;
         const SLResult r = s->OpenWriteStream(s, nullptr, nullptr, &out);
         EXPECT_EQ(out, kUntouched);
         return r;
       }},
      {"OpenWriteStream", 12,
       [&](SLStreamService* s, SLStreamHandle, SLStreamHandle) {
         return s->OpenWriteStream(s, &writeHandler, nullptr, nullptr);
       }},
      {"ReadStream", 13,
       [&](SLStreamService* s, SLStreamHandle, SLStreamHandle) {
         return s->ReadStream(s, nullptr, buffer, 4, &count);
       }},
      {"ReadStream", 13,
       [&](SLStreamService* s, SLStreamHandle read, SLStreamHandle) {
         return s->ReadStream(s, read, buffer, 4, nullptr);
       }},
      {"ReadStream", 13,
       [&](SLStreamService* s, SLStreamHandle, SLStreamHandle write) {
         return s->ReadStream(s, write, buffer, 4, &count);
       }},
      {"WriteStream", 14,
       [&](SLStreamService* s, SLStreamHandle, SLStreamHandle) {
         return s->WriteStream(s, nullptr, kData, 4, &count);
       }},
      {"WriteStream", 14,
       [&](SLStreamService* s, SLStreamHandle, SLStreamHandle write) {
         return s->WriteStream(s, write, kData, 4, nullptr);
       }},
      {"WriteStream", 14,
       [&](SLStreamService* s, SLStreamHandle read, SLStreamHandle) {
         return s->WriteStream(s, read, kData, 4, &count);
       }},
      {"FlushStream", 15,
       [](SLStreamService* s, SLStreamHandle, SLStreamHandle) {
         return s->FlushStream(s, nullptr);
       }},
  };

  StreamService service;
  ReadHandlerFake reader;
  reader.data = "abcdefgh";
  WriteHandlerFake writer;
  const SLStreamHandle read = service.OpenRead(reader.handler(), reader.context());
  const SLStreamHandle write = service.OpenWrite(writer.handler(), writer.context());
  for (const RejectedCall& c : calls) {
    SCOPED_TRACE(std::string(c.entry) + " line " + std::to_string(c.line));
    count = 77;
    EXPECT_EQ(c.call(service.get(), read, write), SL_INVALID_ARGUMENT);
    EXPECT_EQ(count, 77u) << "the out count is left as it was";

    SLErrorInfo info{};
    ASSERT_EQ(service.ErrorInfo(&info), SL_OK);
    EXPECT_EQ(info.code, SL_INVALID_ARGUMENT);
    EXPECT_EQ(info.line, c.line);
    EXPECT_EQ(Narrow(info.message),
              "SLStreamService::" + std::string(c.entry) + "() failed, code: 0x00000003");
    EXPECT_EQ(std::string(info.functionName),
              "SOImpl::CppSLStreamServiceBase<struct SLStreamServiceImpl,class "
              "SODetails::ServiceObjectTraits>::" +
                  std::string(c.entry) + "Impl::staticF");
    EXPECT_STREQ(info.sourceFile, "Support/include/support/details/StreamServiceCalls");
  }
  // No rejection reached a device or a reference count.
  EXPECT_TRUE(reader.calls.empty());
  EXPECT_TRUE(writer.calls.empty());
  EXPECT_TRUE(fake.calls.empty());
  EXPECT_EQ(fake.refCount, 1);

  // Both streams still work after being handed to the wrong entries.
  EXPECT_EQ(service.Read(read, 8), 8u);
  EXPECT_EQ(service.Write(write, "xy"), 2u);
  service.Close(read);
  service.Close(write);
  EXPECT_EQ(writer.written, "xy");
}

TEST(StreamServiceArguments, SuccessfulCallsAndNullCloseLeaveNoRecord) {
  StreamService service;
  const std::string data = "abc";
  const SLStreamHandle mem = service.OpenMem(data);
  EXPECT_EQ(service.Read(mem, 3), 3u);
  EXPECT_EQ(service.Read(mem, 3), 0u) << "the end of the data is not a failure";
  service.Close(mem);
  EXPECT_EQ(service->CloseStream(service.get(), nullptr), SL_OK);

  SLErrorInfo info;
  std::memset(&info, 0xAB, sizeof(info));
  EXPECT_EQ(service.ErrorInfo(&info), SL_NOT_FOUND);
  const SLErrorInfo zero{};
  EXPECT_EQ(std::memcmp(&info, &zero, sizeof(info)), 0);
}

TEST(StreamServiceArguments, ZeroSizedTransfersWithNullBuffersSucceed) {
  StreamService service;
  WriteHandlerFake writer;
  const std::string data = "abc";
  const SLStreamHandle mem = service.OpenMem(data);
  const SLStreamHandle write = service.OpenWrite(writer.handler(), writer.context());
  uint64_t done = 9;
  EXPECT_EQ(service->ReadStream(service.get(), mem, nullptr, 0, &done), SL_OK);
  EXPECT_EQ(done, 0u);
  done = 9;
  EXPECT_EQ(service->WriteStream(service.get(), write, nullptr, 0, &done), SL_OK);
  EXPECT_EQ(done, 0u);
  EXPECT_EQ(service.Read(mem, 3), 3u);
  service.Close(mem);
  service.Close(write);
}

TEST(StreamServiceHandles, AHandleWorksThroughAnyServiceObject) {
  StreamService opener;
  StreamService other;
  WriteHandlerFake writer;
  const SLStreamHandle write = opener.OpenWrite(writer.handler(), writer.context());
  EXPECT_EQ(other.Write(write, "hello"), 5u);
  other.Flush(write);
  EXPECT_EQ(writer.written, "hello");

  // A failure is recorded on the object the call went through, not on the opener.
  uint64_t done = 0;
  char byte = 0;
  EXPECT_EQ(other->ReadStream(other.get(), write, &byte, 1, &done), SL_INVALID_ARGUMENT);
  SLErrorInfo info{};
  EXPECT_EQ(other.ErrorInfo(&info), SL_OK);
  EXPECT_EQ(info.line, 13u);
  EXPECT_EQ(opener.ErrorInfo(&info), SL_NOT_FOUND);

  other.Close(write);
  EXPECT_EQ(writer.calls.back(), "Close");
}

TEST(StreamServiceHandles, StreamsOutliveTheServiceObjectThatOpenedThem) {
  ReadHandlerFake reader;
  reader.data = "still here";
  FakeFileSystem fake;
  fake.content = "file bytes";
  SLStreamHandle read = nullptr;
  SLStreamHandle file = nullptr;
  {
    StreamService opener;
    read = opener.OpenRead(reader.handler(), reader.context());
    file = opener.OpenFileRead(fake.fs(), fake.file());
    opener.Release();  // the object is destroyed here
  }
  StreamService later;
  std::string text;
  EXPECT_EQ(later.Read(read, 10, &text), 10u);
  EXPECT_EQ(text, "still here");
  EXPECT_EQ(later.Read(file, 10, &text), 10u);
  EXPECT_EQ(text, "file bytes");
  later.Close(read);
  later.Close(file);
  EXPECT_EQ(reader.calls.back(), "Close");
  EXPECT_EQ(fake.calls.back(), "Release");
  EXPECT_EQ(fake.refCount, 1);
}

}  // namespace
}  // namespace streamtest
