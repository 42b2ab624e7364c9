// Stream model: memory, callback and file streams driven by random reads, writes and flushes
// whose devices answer with random behaviours (full, short and zero counts, all ones, failing
// codes with and without error information), checked byte for byte and call for call against a
// small model of the buffering and close sequences the stream service documents:
//
//   read streams   a 4096-byte read area refilled by one device read of 4096 when empty; a
//                  refill of 0 (or all ones) ends the data for good; a raised failure makes the
//                  stream bad and the call's count 0; FlushStream calls nothing; the close
//                  flushes twice, then closes the device;
//   write streams  a 4096-byte buffer handed over whole when full; bytes the device does not
//                  take stay buffered, from the first byte not taken, and make a WriteStream bad;
//                  a bad stream passes nothing on; FlushStream = hand over, then flush; a raised
//                  failure during it makes the stream bad; the close synchronises three times,
//                  then closes the device;
//   file streams   the same, through a host-written file system whose ReadFile, WriteFile,
//                  FlushFile and CloseFile are the device; the stream holds one reference to it
//                  from Open to the end of the close, released last.
//
// Input: a sequence of operations, each a few bytes; device behaviours are drawn from the same
// input as the calls happen.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "runtime/service_object_ptr.h"
#include "slservices/slservices.h"
#include "stream/factory.h"

namespace {

constexpr uint64_t kArea = 4096;  // read area and write buffer
constexpr uint64_t kAllOnes = ~uint64_t{0};

[[noreturn]] void Fail(const char* what, uint64_t expected, uint64_t actual) {
  std::fprintf(stderr, "stream model: %s: expected %llu, got %llu\n", what,
               static_cast<unsigned long long>(expected), static_cast<unsigned long long>(actual));
  std::abort();
}
void Check(bool condition, const char* what) {
  if (!condition) Fail(what, 1, 0);
}

// The byte at offset `at` of stream `seed`'s data.
char DataByte(uint32_t seed, uint64_t at) {
  return static_cast<char>((at * 131 + seed * 7 + (at >> 9)) & 0xFF);
}

enum class Op {
  kRead,
  kWrite,
  kFlush,
  kClose,
  kReadFile,
  kWriteFile,
  kFlushFile,
  kCloseFile,
  kAddRef,
  kRelease
};

// One call a device received, with what it answered.
struct Call {
  explicit Call(Op what, uint64_t n = 0, uint64_t count = 0) : op(what), size(n), result(count) {}

  Op op;
  uint64_t size = 0;    // asked for (reads) or offered (writes)
  uint64_t result = 0;  // count returned or reported
  SLResult code = 0;    // file entries
  bool raised = false;  // a failing code with error information: the module raises it
  std::string offered;  // the bytes a write was offered
};

// Everything a device does goes through here: behaviours come from the input, calls go to the
// log the model then walks.
struct Device {
  FuzzedDataProvider* input = nullptr;
  std::deque<Call> log;
  uint32_t seed = 0;
  uint64_t produced = 0;  // data bytes handed out by reads so far
  std::string accepted;   // bytes the device took from writes

  // A count for a request of n: everything, part of it, none, or (reads) all ones.
  uint64_t Count(uint64_t n, bool allowAllOnes) {
    switch (input->ConsumeIntegralInRange<int>(0, allowAllOnes ? 4 : 3)) {
      case 0:
      case 1:
        return n;
      case 2:
        return n == 0 ? 0 : input->ConsumeIntegralInRange<uint64_t>(1, n);
      case 3:
        return 0;
      default:
        return kAllOnes;
    }
  }
  // A file entry's code: mostly success, sometimes 1 (no failure), sometimes a failure with or
  // without error information.
  SLResult Code(bool* raised) {
    *raised = false;
    switch (input->ConsumeIntegralInRange<int>(0, 7)) {
      case 0:
        return SL_NOT_DONE;
      case 1:
        *raised = true;
        return SL_OS_FAILURE;
      case 2:
        return SL_ACCESS_DENIED;
      default:
        return SL_OK;
    }
  }
  void Produce(char* buffer, uint64_t count) {
    for (uint64_t i = 0; i < count; ++i) buffer[i] = DataByte(seed, produced + i);
    produced += count;
  }
};

// Callback records over a Device.
uint64_t HandlerRead(void* context, void* buffer, uint64_t capacity) {
  Device& d = *static_cast<Device*>(context);
  const uint64_t count = d.Count(capacity, true);
  if (count != kAllOnes) d.Produce(static_cast<char*>(buffer), count);
  d.log.emplace_back(Op::kRead, capacity, count);
  return count;
}
uint64_t HandlerWrite(void* context, const void* source, uint64_t size) {
  Device& d = *static_cast<Device*>(context);
  const uint64_t count = d.Count(size, false);
  d.accepted.append(static_cast<const char*>(source), count);
  Call call{Op::kWrite, size, count};
  call.offered.assign(static_cast<const char*>(source), size);
  d.log.push_back(std::move(call));
  return count;
}
uint8_t HandlerFlush(void* context) {
  Device& d = *static_cast<Device*>(context);
  const uint8_t result = d.input->ConsumeBool() ? 1 : 0;
  d.log.emplace_back(Op::kFlush, 0, result);
  return result;
}
void HandlerClose(void* context) { static_cast<Device*>(context)->log.emplace_back(Op::kClose); }

// A file system written by a host: a plain table whose file entries are the Device.
struct FakeFileSystem {
  SLFileSystem table;  // first: the object's address is the table's
  Device* device;
  int32_t refs = 1;
  bool hasRecord = false;
  SLChar16 message[16] = u"fake failure";

  static FakeFileSystem& Of(const void* self) {
    return *static_cast<FakeFileSystem*>(const_cast<void*>(self));
  }
  SLResult Finish(Call call) {
    hasRecord = call.raised;
    if (SL_FAILED(call.code) && !call.raised) hasRecord = false;
    const SLResult code = call.code;
    device->log.push_back(std::move(call));
    return code;
  }
  static uint32_t AddRef(ServiceObject* self) {
    Of(self).device->log.emplace_back(Op::kAddRef);
    return static_cast<uint32_t>(++Of(self).refs);
  }
  static uint32_t Release(ServiceObject* self) {
    Of(self).device->log.emplace_back(Op::kRelease);
    return static_cast<uint32_t>(--Of(self).refs);
  }
  static SLResult GetErrorInfo(ServiceObject* self, SLErrorInfo* info, uint64_t) {
    FakeFileSystem& me = Of(self);
    std::memset(info, 0, sizeof(*info));
    if (!me.hasRecord) return SL_NOT_FOUND;
    info->code = SL_OS_FAILURE;
    info->message = me.message;
    return SL_OK;
  }
  static SLResult ReadFile(SLFileSystem* self, SLFileHandle, void* buffer, uint64_t size,
                           uint64_t* done) {
    FakeFileSystem& me = Of(self);
    Device& d = *me.device;
    Call call{Op::kReadFile, size};
    call.result = d.Count(size, false);
    call.code = d.Code(&call.raised);
    d.Produce(static_cast<char*>(buffer), call.result);
    *done = call.result;
    return me.Finish(std::move(call));
  }
  static SLResult WriteFile(SLFileSystem* self, SLFileHandle, const void* source, uint64_t size,
                            uint64_t* done) {
    FakeFileSystem& me = Of(self);
    Device& d = *me.device;
    Call call{Op::kWriteFile, size};
    call.result = d.Count(size, false);
    call.code = d.Code(&call.raised);
    call.offered.assign(static_cast<const char*>(source), size);
    d.accepted.append(static_cast<const char*>(source), call.result);
    *done = call.result;
    return me.Finish(std::move(call));
  }
  static SLResult FlushFile(SLFileSystem* self, SLFileHandle) {
    FakeFileSystem& me = Of(self);
    Call call{Op::kFlushFile};
    call.code = me.device->Code(&call.raised);
    return me.Finish(std::move(call));
  }
  static SLResult CloseFile(SLFileSystem* self, SLFileHandle) {
    FakeFileSystem& me = Of(self);
    Call call{Op::kCloseFile};
    call.code = me.device->Code(&call.raised);
    return me.Finish(std::move(call));
  }

  explicit FakeFileSystem(Device* d) : device(d) {
    std::memset(&table, 0, sizeof(table));
    table.header.interfaceId = SL_FILESYSTEM_ID;
    table.header.tableSize = SL_FILESYSTEM_TABLE_SIZE;
    table.header.interfaceName = "SLFileSystem";
    table.header.AddRef = &AddRef;
    table.header.Release = &Release;
    table.header.GetErrorInfo = &GetErrorInfo;
    table.ReadFile = &ReadFile;
    table.WriteFile = &WriteFile;
    table.FlushFile = &FlushFile;
    table.CloseFile = &CloseFile;
  }
};

enum class Kind { kMemory, kReadHandler, kWriteHandler, kFileRead, kFileWrite };

// One open stream, its device and the model of its buffer.
struct Stream {
  Kind kind;
  SLStreamHandle handle = nullptr;
  std::unique_ptr<Device> device = std::make_unique<Device>();
  std::unique_ptr<FakeFileSystem> fs;
  std::string memory;  // a memory stream's block
  // Read model.
  std::string area;        // bytes in the read area, not yet delivered
  uint64_t delivered = 0;  // data bytes delivered so far
  bool ended = false;      // at end or failed: reads nothing more
  // Write model.
  std::string pending;  // bytes in the buffer, not yet taken
  uint64_t used = 0;    // end of the buffered bytes in the 4096-byte buffer
  bool bad = false;
  std::string expectAccepted;  // what the device should hold
  uint64_t written = 0;        // data bytes handed to WriteStream so far

  bool input() const {
    return kind == Kind::kMemory || kind == Kind::kReadHandler || kind == Kind::kFileRead;
  }
  bool file() const { return kind == Kind::kFileRead || kind == Kind::kFileWrite; }

  // The next call of the device, which must be `op` with `size`.
  Call Next(Op op, uint64_t size) {
    Check(!device->log.empty(), "a device call is missing");
    Call call = std::move(device->log.front());
    device->log.pop_front();
    if (call.op != op)
      Fail("device call", static_cast<uint64_t>(op), static_cast<uint64_t>(call.op));
    if (call.size != size) Fail("device call size", size, call.size);
    return call;
  }
  void NoMoreCalls() {
    if (!device->log.empty()) {
      Fail("unexpected device call", 0, static_cast<uint64_t>(device->log.front().op));
    }
  }

  // One device read of the model: the bytes it brought (into `area`), false when the data ends
  // or the read raised (then `raised`).
  bool Refill(bool* raised) {
    *raised = false;
    if (kind == Kind::kReadHandler) {
      const Call call = Next(Op::kRead, kArea);
      if (call.result == 0 || call.result == kAllOnes) return false;
      for (uint64_t i = 0; i < call.result; ++i) area += DataByte(device->seed, produced() + i);
      modelProduced += call.result;
      return true;
    }
    const Call call = Next(Op::kReadFile, kArea);
    modelProduced += call.result;  // the fake produced them, delivered or not
    if (SL_FAILED(call.code) && call.raised) {
      *raised = true;
      return false;
    }
    if (call.result == 0) return false;
    for (uint64_t i = 0; i < call.result; ++i) {
      area += DataByte(device->seed, modelProduced - call.result + i);
    }
    return true;
  }
  uint64_t produced() const { return modelProduced; }
  uint64_t modelProduced = 0;

  // ReadStream of `size`: the count and bytes the model expects.
  uint64_t ModelRead(uint64_t size, std::string* bytes) {
    bytes->clear();
    if (ended || bad || size == 0) return 0;
    if (kind == Kind::kMemory) {
      const uint64_t count = std::min<uint64_t>(size, memory.size() - delivered);
      bytes->assign(memory, delivered, count);
      delivered += count;
      if (count < size) ended = true;
      return count;
    }
    while (bytes->size() < size) {
      const uint64_t take = std::min<uint64_t>(size - bytes->size(), area.size());
      bytes->append(area, 0, take);
      area.erase(0, take);
      if (bytes->size() == size) break;
      bool raised = false;
      if (!Refill(&raised)) {
        if (raised) {
          bad = true;
          bytes->clear();
          return 0;
        }
        break;
      }
    }
    if (bytes->size() < size) ended = true;
    return bytes->size();
  }

  // One synchronisation: hand the buffered bytes over, then flush. False when a device failure
  // was raised (the flush is skipped when the write raised).
  bool ModelSync() {
    if (!pending.empty()) {
      if (!ModelHandOver()) return false;
    }
    return ModelFlush();
  }
  // One device write of the whole buffered block; false when it raised.
  bool ModelHandOver() {
    const Call call = Next(file() ? Op::kWriteFile : Op::kWrite, pending.size());
    Check(call.offered == pending, "a write was offered other bytes than the buffered ones");
    expectAccepted.append(pending, 0, call.result);
    if (file() && SL_FAILED(call.code) && call.raised) return false;
    if (call.result == pending.size()) {
      pending.clear();
      used = 0;
    } else {
      pending.erase(0, call.result);  // the first byte not taken comes first next time
    }
    return true;
  }
  bool ModelFlush() {
    if (!file()) {
      Next(Op::kFlush, 0);
      return true;
    }
    const Call call = Next(Op::kFlushFile, 0);
    return !(SL_FAILED(call.code) && call.raised);
  }

  void ModelWrite(const std::string& data) {
    if (bad) return;
    size_t at = 0;
    while (at < data.size()) {
      const uint64_t room = kArea - used;
      const uint64_t copy = std::min<uint64_t>(room, data.size() - at);
      pending.append(data, at, copy);
      used += copy;
      at += copy;
      if (at == data.size()) break;
      // The buffer is full and bytes remain: hand it over.
      if (!ModelHandOver()) {
        bad = true;
        return;
      }
      if (!pending.empty()) {
        // Part was taken: no room was freed, the write stops and the stream is bad.
        bad = true;
        return;
      }
      // The overflowing byte goes in first.
      pending += data[at++];
      used = 1;
    }
  }
};

struct Harness {
  explicit Harness(FuzzedDataProvider& in) : input(in) {}

  FuzzedDataProvider& input;
  SODetails::BasicServiceObjectPtr<ServiceObject> service = sl::stream::CreateStreamService();
  SLStreamService* ss = reinterpret_cast<SLStreamService*>(service.get());
  std::vector<std::unique_ptr<Stream>> streams;
  uint32_t nextSeed = 1;
  bool refused = false;  // a call was refused with 3, which the service records

  void Open() {
    auto stream = std::make_unique<Stream>();
    stream->kind = static_cast<Kind>(input.ConsumeIntegralInRange<int>(0, 4));
    stream->device->input = &input;
    stream->device->seed = nextSeed++;
    SLResult result = 0;
    Stream& s = *stream;
    switch (s.kind) {
      case Kind::kMemory: {
        const size_t size = input.ConsumeIntegralInRange<size_t>(0, 20000);
        s.memory.resize(size);
        for (size_t i = 0; i < size; ++i) s.memory[i] = DataByte(s.device->seed, i);
        result = ss->OpenMemReadStream(ss, s.memory.data(), size, &s.handle);
        break;
      }
      case Kind::kReadHandler: {
        const SLReadHandler handler = {&HandlerRead, &HandlerFlush, &HandlerClose};
        result = ss->OpenReadStream(ss, &handler, s.device.get(), &s.handle);
        break;
      }
      case Kind::kWriteHandler: {
        const SLWriteHandler handler = {&HandlerWrite, &HandlerFlush, &HandlerClose};
        result = ss->OpenWriteStream(ss, &handler, s.device.get(), &s.handle);
        break;
      }
      case Kind::kFileRead:
      case Kind::kFileWrite: {
        s.fs = std::make_unique<FakeFileSystem>(s.device.get());
        const SLFileHandle file = reinterpret_cast<SLFileHandle>(uintptr_t{0xF11E});
        result = s.kind == Kind::kFileRead
                     ? ss->OpenFileReadStream(ss, &s.fs->table, file, &s.handle)
                     : ss->OpenFileWriteStream(ss, &s.fs->table, file, &s.handle);
        // The Open takes one reference and makes no file call.
        if (s.fs->refs != 2) Fail("references after Open", 2, s.fs->refs);
        for (const Call& call : s.device->log) {
          Check(call.op == Op::kAddRef || call.op == Op::kRelease, "a file call during Open");
        }
        s.device->log.clear();
        break;
      }
    }
    if (result != SL_OK) Fail("Open", SL_OK, result);
    s.NoMoreCalls();
    streams.push_back(std::move(stream));
  }

  void Read(Stream& s) {
    const uint64_t size = input.ConsumeIntegralInRange<uint64_t>(0, 12000);
    std::string buffer(size + 1, '\x5A');
    uint64_t done = kAllOnes;
    const SLResult result = ss->ReadStream(ss, s.handle, buffer.data(), size, &done);
    if (!s.input()) {
      if (result != SL_INVALID_ARGUMENT) Fail("ReadStream on a write stream", 3, result);
      if (done != kAllOnes) Fail("count of a refused ReadStream", kAllOnes, done);
      refused = true;
      s.NoMoreCalls();
      return;
    }
    if (result != SL_OK) Fail("ReadStream", SL_OK, result);
    std::string expected;
    const uint64_t count = s.ModelRead(size, &expected);
    if (done != count) Fail("ReadStream count", count, done);
    Check(buffer.compare(0, count, expected) == 0, "ReadStream bytes");
    s.NoMoreCalls();
  }

  void Write(Stream& s) {
    const size_t size = input.ConsumeIntegralInRange<size_t>(0, 12000);
    std::string data(size, '\0');
    for (size_t i = 0; i < size; ++i) data[i] = DataByte(s.device->seed + 1000, s.written + i);
    s.written += size;
    uint64_t done = kAllOnes;
    const SLResult result = ss->WriteStream(ss, s.handle, data.data(), size, &done);
    if (s.input()) {
      if (result != SL_INVALID_ARGUMENT) Fail("WriteStream on a read stream", 3, result);
      if (done != kAllOnes) Fail("count of a refused WriteStream", kAllOnes, done);
      refused = true;
      s.NoMoreCalls();
      return;
    }
    if (result != SL_OK) Fail("WriteStream", SL_OK, result);
    if (done != size) Fail("WriteStream count", size, done);
    s.ModelWrite(data);
    s.NoMoreCalls();
    Check(s.device->accepted == s.expectAccepted, "bytes the device took");
  }

  void Flush(Stream& s) {
    const SLResult result = ss->FlushStream(ss, s.handle);
    if (result != SL_OK) Fail("FlushStream", SL_OK, result);
    if (!s.input() && !s.bad && !s.ModelSync()) s.bad = true;
    s.NoMoreCalls();
    Check(s.device->accepted == s.expectAccepted, "bytes the device took");
  }

  void Close(size_t index) {
    Stream& s = *streams[index];
    const SLResult result = ss->CloseStream(ss, s.handle);
    if (result != SL_OK) Fail("CloseStream", SL_OK, result);
    switch (s.kind) {
      case Kind::kMemory:
        break;
      case Kind::kReadHandler:
        s.Next(Op::kFlush, 0);
        s.Next(Op::kFlush, 0);
        s.Next(Op::kClose, 0);
        break;
      case Kind::kFileRead:
        s.Next(Op::kFlushFile, 0);
        s.Next(Op::kFlushFile, 0);
        s.Next(Op::kCloseFile, 0);
        s.Next(Op::kRelease, 0);
        break;
      case Kind::kWriteHandler:
      case Kind::kFileWrite:
        // Three synchronisations whatever the stream's state, then the close.
        for (int sync = 0; sync < 3; ++sync) s.ModelSync();
        s.Next(s.file() ? Op::kCloseFile : Op::kClose, 0);
        if (s.file()) s.Next(Op::kRelease, 0);
        Check(s.device->accepted == s.expectAccepted, "bytes the device took by the close");
        break;
    }
    s.NoMoreCalls();
    if (s.fs && s.fs->refs != 1) Fail("references after the close", 1, s.fs->refs);
    streams.erase(streams.begin() + static_cast<std::ptrdiff_t>(index));
  }

  void Run() {
    for (int steps = 0; steps < 64 && input.remaining_bytes() > 0; ++steps) {
      const int op = input.ConsumeIntegralInRange<int>(0, 9);
      if (streams.empty() || op == 0) {
        if (streams.size() < 4) Open();
        continue;
      }
      const size_t index = input.ConsumeIntegralInRange<size_t>(0, streams.size() - 1);
      Stream& s = *streams[index];
      if (op <= 3) {
        Read(s);
      } else if (op <= 6) {
        Write(s);
      } else if (op <= 8) {
        Flush(s);
      } else {
        Close(index);
      }
    }
    while (!streams.empty()) Close(streams.size() - 1);
    // Device failures never become the service's own: only refused calls are recorded.
    SLErrorInfo info{};
    ServiceObject* object = service.AsObject();
    const SLResult read = object->header.GetErrorInfo(object, &info, 0);
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
