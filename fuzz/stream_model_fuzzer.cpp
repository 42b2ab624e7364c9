// Stream model: memory, callback and file streams driven by random reads, writes, flushes and
// closes of 0 to 12000 bytes, over the fault-injecting file system (called by file streams
// directly, by callback streams through callbacks that call it), whose answers the input arms:
// short and zero counts, the codes 1, 7 and 15, with or without a failure record, after moving
// a part. Every device call is checked in order with its size, and every count and byte, against
// a model of the buffering and close sequences:
//   read streams   a 4096-byte area refilled by one device read of 4096 when empty; a refill of 0
//                  (a callback's all ones too) ends the data for good; a raised failure makes the
//                  stream bad and the call's count 0; FlushStream calls nothing; the close
//                  flushes twice, then closes;
//   write streams  a 4096-byte buffer handed over whole when full; bytes not taken stay buffered
//                  from the first one not taken and make the WriteStream's stream bad; a bad
//                  stream passes nothing on; FlushStream hands over, then flushes, a raised
//                  failure making the stream bad; the close synchronises three times, then closes;
//   file streams   hold one reference to their file system from the Open to the end of the close.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "common/fault_file_system.h"
#include "slservices/sdk/ref.hpp"
#include "stream/stream_service.h"

namespace {

using namespace sltest;  // NOLINT: the model names entries
constexpr uint64_t kArea = 4096;

[[noreturn]] void Fail(const char* what, uint64_t expected, uint64_t actual) {
  std::fprintf(stderr, "stream model: %s: expected %llu, got %llu\n", what,
               static_cast<unsigned long long>(expected), static_cast<unsigned long long>(actual));
  std::abort();
}
void Check(bool condition, const char* what) {
  if (!condition) Fail(what, 1, 0);
}
char Byte(uint32_t seed, uint64_t at) { return static_cast<char>(at * 131 + seed * 7 + (at >> 9)); }
std::string Bytes(uint32_t seed, uint64_t from, uint64_t count) {
  std::string bytes(count, '\0');
  for (uint64_t i = 0; i < count; ++i) bytes[i] = Byte(seed, from + i);
  return bytes;
}

enum Kind { kMemory, kReadCallbacks, kWriteCallbacks, kFileRead, kFileWrite };

struct Stream {
  Kind kind;
  uint32_t seed;
  FaultFileSystem fs;
  FileCallbacks callbacks{};
  SLStreamHandle handle = nullptr;
  std::string memory;
  size_t next = 0;  // the next call of fs.log the model checks
  // Read model: bytes in the area, bytes the device moved so far, at the end or bad.
  std::string area;
  uint64_t produced = 0;
  bool ended = false, bad = false;
  // Write model: buffered bytes not yet taken, the end of them in the buffer, what the file holds.
  std::string pending, accepted;
  uint64_t used = 0, written = 0;

  bool input() const { return kind == kMemory || kind == kReadCallbacks || kind == kFileRead; }
  bool file() const { return kind >= kFileRead; }
  const Call& Next(Entry entry, uint64_t size) {
    Check(next < fs.log.size(), "a device call is missing");
    const Call& call = fs.log[next++];
    if (call.entry != entry) Fail("device call", entry, call.entry);
    if (call.size != size) Fail("device call size", size, call.size);
    return call;
  }
  void NoMoreCalls() {
    if (next != fs.log.size()) Fail("unexpected device call", 0, fs.log[next].entry);
    fs.log.clear();
    next = 0;
  }
  // A file entry's failure with a record: the module raises it, the stream absorbs it.
  bool Raised(const Call& call) const { return file() && SL_FAILED(call.code) && call.recorded; }

  // One refill: false when the data ends or the read raised (then the stream is bad).
  bool Refill() {
    const Call& call = Next(kReadFile, kArea);
    produced += call.moved;
    if (Raised(call)) return !(bad = true);
    if (call.moved == 0 || (!file() && SL_FAILED(call.code))) return false;  // 0 or all ones
    area += Bytes(seed, produced - call.moved, call.moved);
    return true;
  }
  std::string ModelRead(uint64_t size) {
    if (ended || bad) return "";
    if (kind == kMemory) {
      const std::string bytes = memory.substr(produced, size);
      produced += bytes.size();
      ended = bytes.size() < size;
      return bytes;
    }
    std::string bytes;
    while (bytes.size() < size) {
      const size_t take = std::min<size_t>(size - bytes.size(), area.size());
      bytes += area.substr(0, take);
      area.erase(0, take);
      if (bytes.size() < size && !Refill()) break;
    }
    if (bad) return "";
    ended = bytes.size() < size;
    return bytes;
  }
  // One hand-over of the buffered bytes; false when it raised.
  bool HandOver() {
    const Call& call = Next(kWriteFile, pending.size());
    accepted += pending.substr(0, call.moved);
    if (Raised(call)) return false;
    pending.erase(0, call.moved);  // the first byte not taken comes first next time
    if (pending.empty()) used = 0;
    return true;
  }
  bool Sync() { return (pending.empty() || HandOver()) && !Raised(Next(kFlushFile, 0)); }
  void ModelWrite(const std::string& data) {
    for (size_t at = 0; !bad && at < data.size();) {
      const size_t copy = std::min<size_t>(kArea - used, data.size() - at);
      pending += data.substr(at, copy);
      used += copy;
      at += copy;
      if (at == data.size()) break;
      // Full with bytes to come: handed over whole, or the stream turns bad.
      if (!HandOver() || !pending.empty()) bad = true;
    }
  }
};

struct Harness {
  explicit Harness(FuzzedDataProvider& input) : in(input) {}
  FuzzedDataProvider& in;
  sl::sdk::Ref<ServiceObject> service = sl::stream::CreateStreamService();
  SLStreamService* ss = reinterpret_cast<SLStreamService*>(service.get());
  std::vector<std::unique_ptr<Stream>> streams;
  uint32_t seeds = 0;
  bool refused = false;  // a refused call leaves a record on the service

  void Open() {
    auto owned = std::make_unique<Stream>();
    Stream& s = *owned;
    s.kind = static_cast<Kind>(in.ConsumeIntegralInRange(0, 4));
    s.seed = ++seeds;
    const uint64_t size = in.ConsumeIntegralInRange<uint64_t>(0, 20000);
    s.memory = Bytes(s.seed, 0, size);
    s.fs.memory()->SetFile("/f", s.input() ? s.memory : "");
    s.callbacks = {s.fs.table(), s.fs.Open(u"/f", s.input() ? SL_OPEN_READ : SL_OPEN_WRITE)};
    const SLReadHandler reader = s.callbacks.reader();
    const SLWriteHandler writer = s.callbacks.writer();
    SLFileSystem* fs = s.fs.table();
    const SLFileHandle file = s.callbacks.file;
    const SLResult result =
        s.kind == kMemory           ? ss->OpenMemReadStream(ss, s.memory.data(), size, &s.handle)
        : s.kind == kReadCallbacks  ? ss->OpenReadStream(ss, &reader, &s.callbacks, &s.handle)
        : s.kind == kWriteCallbacks ? ss->OpenWriteStream(ss, &writer, &s.callbacks, &s.handle)
        : s.kind == kFileRead       ? ss->OpenFileReadStream(ss, fs, file, &s.handle)
                                    : ss->OpenFileWriteStream(ss, fs, file, &s.handle);
    if (result != SL_OK) Fail("Open", SL_OK, result);
    if (s.fs.RefCount() != (s.file() ? 2u : 1u))
      Fail("references after the Open", 2, s.fs.RefCount());
    for (const Call& call : s.fs.log) Check(call.entry >= kAddRef, "a device call during the Open");
    s.fs.log.clear();
    streams.push_back(std::move(owned));
  }

  // Arms one of the device's entries for one of its next calls, as the input says.
  void Arm(Stream& s) {
    static const Entry kDevice[] = {kReadFile, kWriteFile, kFlushFile, kCloseFile};
    static const SLResult kCodes[] = {SL_NOT_DONE, SL_OS_FAILURE, SL_ACCESS_DENIED};
    const Entry entry = in.PickValueInArray(kDevice);
    Fault fault(in.ConsumeIntegralInRange<uint64_t>(0, 3), in.ConsumeBool(), in.ConsumeBool(),
                in.PickValueInArray(kCodes), in.ConsumeIntegralInRange<uint64_t>(0, 5000));
    for (int caps = in.ConsumeIntegralInRange(0, 3); caps > 0; --caps) {
      fault.caps.push_back(in.ConsumeIntegralInRange<uint64_t>(0, 5000));
    }
    s.fs.Arm(entry, fault);
  }

  void Use(Stream& s, int op) {
    const uint64_t size = in.ConsumeIntegralInRange<uint64_t>(0, 12000);
    uint64_t done = ~uint64_t{0};
    if (op <= 6 && (op <= 3) != s.input()) {  // a read of a write stream, or the other way
      const SLResult result = op <= 3 ? ss->ReadStream(ss, s.handle, &done, 1, &done)
                                      : ss->WriteStream(ss, s.handle, "x", 1, &done);
      if (result != SL_INVALID_ARGUMENT || done != ~uint64_t{0})
        Fail("a wrong-kind call", 3, result);
      refused = true;
    } else if (op <= 3) {
      std::string buffer(size, '\x5A');
      if (ss->ReadStream(ss, s.handle, buffer.data(), size, &done) != SL_OK)
        Fail("ReadStream", 0, 1);
      const std::string expected = s.ModelRead(size);
      if (done != expected.size()) Fail("ReadStream count", expected.size(), done);
      Check(buffer.compare(0, done, expected) == 0, "ReadStream bytes");
    } else if (op <= 6) {
      const std::string data = Bytes(s.seed + 1000, s.written, size);
      s.written += size;
      if (ss->WriteStream(ss, s.handle, data.data(), size, &done) != SL_OK)
        Fail("WriteStream", 0, 1);
      if (done != size) Fail("WriteStream count", size, done);
      s.ModelWrite(data);
    } else {
      if (ss->FlushStream(ss, s.handle) != SL_OK) Fail("FlushStream", 0, 1);
      if (!s.input() && !s.bad && !s.Sync()) s.bad = true;
    }
    s.NoMoreCalls();
    if (!s.input())
      Check(*s.fs.memory()->FileContents("/f") == s.accepted, "the bytes the file took");
  }

  void Close(size_t index) {
    Stream& s = *streams[index];
    if (ss->CloseStream(ss, s.handle) != SL_OK) Fail("CloseStream", 0, 1);
    if (s.kind != kMemory) {
      // Two flushes for a read stream, three synchronisations for a write stream, whatever
      // its state; then the close, and for a file stream the release of its reference.
      for (int sync = 0; sync < 3; ++sync) {
        if (!s.input()) s.Sync();
        if (s.input() && sync < 2) s.Next(kFlushFile, 0);
      }
      s.Next(kCloseFile, 0);
      if (s.file()) s.Next(kRelease, 0);
    }
    s.NoMoreCalls();
    if (!s.input())
      Check(*s.fs.memory()->FileContents("/f") == s.accepted, "the bytes the file took");
    if (s.fs.RefCount() != 1) Fail("references after the close", 1, s.fs.RefCount());
    streams.erase(streams.begin() + static_cast<std::ptrdiff_t>(index));
  }

  void Run() {
    for (int step = 0; step < 64 && in.remaining_bytes() > 0; ++step) {
      const int op = in.ConsumeIntegralInRange(0, 9);
      if (streams.empty() || op == 0) {
        if (streams.size() < 4) Open();
        continue;
      }
      const size_t index = in.ConsumeIntegralInRange<size_t>(0, streams.size() - 1);
      Arm(*streams[index]);
      op == 9 ? Close(index) : Use(*streams[index], op);
    }
    while (!streams.empty()) Close(streams.size() - 1);
    // Device failures never become the service's own: only refused calls are recorded.
    SLErrorInfo info{};
    const SLResult read = service.object()->header.GetErrorInfo(service.object(), &info, 0);
    if (read != (refused ? SL_OK : SL_NOT_FOUND)) Fail("GetErrorInfo of the service", 0, read);
    if (refused && info.code != SL_INVALID_ARGUMENT) Fail("recorded code", 3, info.code);
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider input(data, size);
  Harness(input).Run();
  return 0;
}
