// Read streams over the caller's memory: chunked reads, the end of the data, empty blocks, and
// reading in place.
#include <gtest/gtest.h>

#include <streambuf>
#include <string>

#include "stream/stream_records.h"
#include "stream_test_support.h"

namespace streamtest {
namespace {

// The stream buffer's read pointers, which std::streambuf keeps protected.
struct ReadArea : std::streambuf {
  static const char* Next(std::streambuf* buffer) { return (buffer->*&ReadArea::gptr)(); }
  static const char* End(std::streambuf* buffer) { return (buffer->*&ReadArea::egptr)(); }
};

std::streambuf* BufferOf(SLStreamHandle handle) {
  auto* record = static_cast<_SLInputStreamRec*>(_SLStreamRec::FromHandle(handle));
  return record->stream->rdbuf();
}

TEST(StreamMemory, TenBytesReadByFourGiveFourFourTwoThenZero) {
  StreamService service;
  const std::string data = "0123456789";
  const SLStreamHandle handle = service.OpenMem(data);
  std::string text;
  EXPECT_EQ(service.Read(handle, 4, &text), 4u);
  EXPECT_EQ(text, "0123");
  EXPECT_EQ(service.Read(handle, 4, &text), 4u);
  EXPECT_EQ(text, "4567");
  EXPECT_EQ(service.Read(handle, 4, &text), 2u);
  EXPECT_EQ(text, "89");
  for (int i = 0; i < 3; ++i) EXPECT_EQ(service.Read(handle, 4), 0u);
  EXPECT_EQ(service.Read(handle, 0), 0u);
  service.Close(handle);
}

TEST(StreamMemory, AnEmptyBlockOpensAndReadsNothing) {
  StreamService service;
  const char byte = 'x';
  const SLStreamHandle handle = service.OpenMem(&byte, 0);
  ASSERT_NE(handle, nullptr);
  EXPECT_EQ(service.Read(handle, 1), 0u);
  EXPECT_EQ(service.Read(handle, 1), 0u);
  service.Close(handle);
}

TEST(StreamMemory, AZeroSizedReadLeavesTheStreamReadable) {
  StreamService service;
  const std::string data = "abc";
  const SLStreamHandle handle = service.OpenMem(data);
  EXPECT_EQ(service.Read(handle, 0), 0u);
  EXPECT_EQ(service.Read(handle, 0), 0u);
  std::string text;
  EXPECT_EQ(service.Read(handle, 3, &text), 3u);
  EXPECT_EQ(text, "abc");
  service.Close(handle);
}

TEST(StreamMemory, ReadsTheCallersBytesInPlace) {
  StreamService service;
  std::string data = Pattern(100000);
  const SLStreamHandle handle = service.OpenMem(data);
  std::string text;
  EXPECT_EQ(service.Read(handle, 4, &text), 4u);
  // The read area is the caller's block itself, not a copy of it.
  std::streambuf* buffer = BufferOf(handle);
  EXPECT_EQ(ReadArea::Next(buffer), data.data() + 4);
  EXPECT_EQ(ReadArea::End(buffer), data.data() + data.size());

  // A byte changed after the open, not yet passed, is read with its new value.
  data[4] = 'Z';
  EXPECT_EQ(service.Read(handle, 1, &text), 1u);
  EXPECT_EQ(text, "Z");
  EXPECT_EQ(service.Read(handle, data.size(), &text), data.size() - 5);
  EXPECT_EQ(text, data.substr(5));
  service.Close(handle);
  EXPECT_EQ(data[4], 'Z') << "closing touches nothing in the block";
}

}  // namespace
}  // namespace streamtest
