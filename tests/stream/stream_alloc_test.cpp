// What streams cost in allocations: nothing per read, write or flush once a stream runs, an
// Open of a memory stream whatever the block's size, and an Open that runs out of memory at
// any of its allocations leaves nothing behind.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <new>
#include <string>

#include "counting_allocator.h"
#include "stream_fakes.h"
#include "stream_test_support.h"

namespace streamtest {
namespace {

// Callbacks that neither log nor allocate.
uint64_t ZeroRead(void*, void* buffer, uint64_t capacity) {
  std::memset(buffer, 0, capacity);
  return capacity;
}
uint64_t TakeAll(void*, const void*, uint64_t size) { return size; }
uint8_t FlushOk(void*) { return 1; }
void CloseNothing(void*) {}

constexpr SLReadHandler kQuietReader = {&ZeroRead, &FlushOk, &CloseNothing};
constexpr SLWriteHandler kQuietWriter = {&TakeAll, &FlushOk, &CloseNothing};

// Reads, writes and flushes in sizes that cross buffer boundaries both ways.
void Exercise(const StreamService& service, SLStreamHandle handle, bool input, char* buffer) {
  uint64_t done = 0;
  for (const uint64_t size : {uint64_t{1}, uint64_t{100}, uint64_t{5000}, uint64_t{4096}}) {
    if (input) {
      service->ReadStream(service.get(), handle, buffer, size, &done);
    } else {
      service->WriteStream(service.get(), handle, buffer, size, &done);
    }
    service->FlushStream(service.get(), handle);
  }
}

TEST(StreamAllocations, RunningStreamsAllocateNothing) {
  StreamService service;
  FakeFileSystem readFs;
  readFs.quiet = true;
  readFs.content = Pattern(1 << 20);
  FakeFileSystem writeFs;
  writeFs.quiet = true;
  const std::string block = Pattern(1 << 20);
  std::string buffer(8192, '\0');

  struct Kind {
    const char* name;
    SLStreamHandle handle;
    bool input;
  };
  const Kind kinds[] = {
      {"memory", service.OpenMem(block), true},
      {"read handler", service.OpenRead(kQuietReader, nullptr), true},
      {"file read", service.OpenFileRead(readFs.fs(), readFs.file()), true},
      {"write handler", service.OpenWrite(kQuietWriter, nullptr), false},
      {"file write", service.OpenFileWrite(writeFs.fs(), writeFs.file()), false},
  };
  for (const Kind& kind : kinds) {
    SCOPED_TRACE(kind.name);
    Exercise(service, kind.handle, kind.input, buffer.data());  // warm-up
    AllocationCount count;
    {
      CountAllocations counting;
      for (int round = 0; round < 20; ++round) {
        Exercise(service, kind.handle, kind.input, buffer.data());
      }
      count = counting.count();
    }
    EXPECT_EQ(count.calls, 0u);
    EXPECT_EQ(count.bytes, 0u);
    service.Close(kind.handle);
  }
  // The file streams really moved data meanwhile.
  EXPECT_GT(readFs.readPos, 100000u);
  EXPECT_GT(writeFs.writtenBytes, 100000u);
}

TEST(StreamAllocations, AMemoryStreamCostsTheSameWhateverTheBlocksSize) {
  StreamService service;
  const std::string small = Pattern(16);
  const std::string large = Pattern(8 << 20);
  AllocationCount costs[2];
  const std::string* blocks[2] = {&small, &large};
  for (int i = 0; i < 2; ++i) {
    SLStreamHandle handle = nullptr;
    {
      CountAllocations counting;
      service->OpenMemReadStream(service.get(), blocks[i]->data(), blocks[i]->size(), &handle);
      costs[i] = counting.count();
    }
    ASSERT_NE(handle, nullptr);
    service.Close(handle);
  }
  EXPECT_EQ(costs[0].calls, costs[1].calls);
  EXPECT_EQ(costs[0].bytes, costs[1].bytes);
  EXPECT_LT(costs[1].bytes, 1024u) << "no buffer of its own, no copy of the block";
}

// Fails each allocation of an Open in turn, until the Open gets through.
void FailEachAllocation(const std::function<SLResult(SLStreamHandle*)>& open,
                        const std::function<void()>& checkNothingLeft) {
  int failures = 0;
  for (uint64_t n = 1;; ++n) {
    SCOPED_TRACE(n);
    SLStreamHandle handle = reinterpret_cast<SLStreamHandle>(uintptr_t{0xBAD});
    bool threw = false;
    bool reached = false;
    {
      FailAllocation fail(n);
      try {
        open(&handle);
      } catch (const std::bad_alloc&) {
        threw = true;
      }
      reached = fail.failed();
    }
    EXPECT_EQ(threw, reached);
    if (!reached) {
      StreamService().Close(handle);
      break;
    }
    ++failures;
    EXPECT_EQ(handle, reinterpret_cast<SLStreamHandle>(uintptr_t{0xBAD}));
    checkNothingLeft();
  }
  EXPECT_GE(failures, 4) << "record, stream, chain, link and buffer are all allocated";
}

TEST(StreamAllocations, AnOpenThatRunsOutOfMemoryLeavesNothingBehind) {
  StreamService service;
  SLStreamService* s = service.get();

  FakeFileSystem fake;
  fake.quiet = true;
  for (const bool write : {false, true}) {
    SCOPED_TRACE(write ? "file write" : "file read");
    fake.flushCalls = fake.closeCalls = 0;
    FailEachAllocation(
        [&](SLStreamHandle* out) {
          return write ? s->OpenFileWriteStream(s, fake.fs(), fake.file(), out)
                       : s->OpenFileReadStream(s, fake.fs(), fake.file(), out);
        },
        [&] {
          EXPECT_EQ(fake.refCount, 1) << "no extra reference";
          EXPECT_EQ(fake.addRefs, fake.releases);
          EXPECT_EQ(fake.flushCalls, 0);
          EXPECT_EQ(fake.closeCalls, 0) << "the caller's file stays open";
          fake.flushCalls = fake.closeCalls = 0;
        });
  }

  WriteHandlerFake writer;
  const SLWriteHandler writeHandler = writer.handler();
  FailEachAllocation(
      [&](SLStreamHandle* out) {
        return s->OpenWriteStream(s, &writeHandler, writer.context(), out);
      },
      [&] { EXPECT_TRUE(writer.calls.empty()); });

  ReadHandlerFake reader;
  const SLReadHandler readHandler = reader.handler();
  FailEachAllocation(
      [&](SLStreamHandle* out) {
        return s->OpenReadStream(s, &readHandler, reader.context(), out);
      },
      [&] { EXPECT_TRUE(reader.calls.empty()); });

  const std::string block = "abc";
  FailEachAllocation(
      [&](SLStreamHandle* out) { return s->OpenMemReadStream(s, block.data(), 3, out); }, [] {});
}

}  // namespace
}  // namespace streamtest
