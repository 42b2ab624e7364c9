#include "stream_fakes.h"

#include <algorithm>
#include <cstring>

namespace streamtest {
namespace {

std::string Call(const char* entry, uint64_t size) {
  return std::string(entry) + "(" + std::to_string(size) + ")";
}

constexpr SLChar16 kFakeMessage[] = u"fake file system failure";

}  // namespace

FakeFileSystem::FakeFileSystem(uint32_t tableSize) {
  std::memset(&object_.table, 0, sizeof(object_.table));
  object_.owner = this;
  SLFileSystem& t = object_.table;
  t.header.interfaceId = SL_FILESYSTEM_ID;
  t.header.tableSize = tableSize;
  t.header.interfaceName = "SLFileSystem";
  t.header.AddRef = &AddRef;
  t.header.Release = &Release;
  t.header.GetRefCount = &GetRefCount;
  t.header.GetErrorInfo = &GetErrorInfo;
  t.CloseFile = &CloseFile;
  t.ReadFile = &ReadFile;
  t.WriteFile = &WriteFile;
  t.FlushFile = &FlushFile;
  t.GetFilePos = &GetFilePos;
  t.SetFilePos = &SetFilePos;
  t.GetFileSize = &GetFileSize;
  std::memcpy(t.endMarker, "EOFT", 4);
  t.tableStamp = SL_FILESYSTEM_STAMP;
}

FakeFileSystem& FakeFileSystem::Of(const void* self) {
  return *static_cast<const Object*>(self)->owner;
}

void FakeFileSystem::Log(std::string call) {
  if (!quiet) calls.push_back(std::move(call));
}

SLResult FakeFileSystem::Fail(const char* entry) {
  Log(std::string("failed ") + entry);
  if (failuresHaveRecord) {
    hasRecord = true;
    record = SLErrorInfo{failCode, 18, kFakeMessage, entry, "fake"};
  }
  return failCode;
}

void FakeFileSystem::Check(SLFileHandle handle) {
  if (handle != file()) ++wrongHandles;
}

uint32_t FakeFileSystem::AddRef(ServiceObject* self) {
  FakeFileSystem& me = Of(self);
  me.Log("AddRef");
  ++me.addRefs;
  return static_cast<uint32_t>(++me.refCount);
}

uint32_t FakeFileSystem::Release(ServiceObject* self) {
  FakeFileSystem& me = Of(self);
  me.Log("Release");
  ++me.releases;
  return static_cast<uint32_t>(--me.refCount);
}

uint32_t FakeFileSystem::GetRefCount(ServiceObject* self) {
  return static_cast<uint32_t>(Of(self).refCount);
}

SLResult FakeFileSystem::GetErrorInfo(ServiceObject* self, SLErrorInfo* info, uint64_t) {
  FakeFileSystem& me = Of(self);
  if (!me.hasRecord) {
    std::memset(info, 0, sizeof(*info));
    return SL_NOT_FOUND;
  }
  *info = me.record;
  return SL_OK;
}

SLResult FakeFileSystem::CloseFile(SLFileSystem* self, SLFileHandle file) {
  FakeFileSystem& me = Of(self);
  me.Check(file);
  me.Log("CloseFile");
  ++me.closeCalls;
  return me.failClose ? me.Fail("CloseFile") : SL_OK;
}

SLResult FakeFileSystem::ReadFile(SLFileSystem* self, SLFileHandle file, void* buffer,
                                  uint64_t size, uint64_t* done) {
  FakeFileSystem& me = Of(self);
  me.Check(file);
  me.Log(Call("ReadFile", size));
  if (++me.readCalls == me.failReadOnCall) {
    *done = me.failedReadCount;
    return me.Fail("ReadFile");
  }
  const uint64_t left = me.content.size() - me.readPos;
  const uint64_t n = std::min({size, me.readChunk, left});
  std::memcpy(buffer, me.content.data() + me.readPos, n);
  me.readPos += n;
  *done = n;
  return me.readCode;
}

SLResult FakeFileSystem::WriteFile(SLFileSystem* self, SLFileHandle file, const void* buffer,
                                   uint64_t size, uint64_t* done) {
  FakeFileSystem& me = Of(self);
  me.Check(file);
  me.Log(Call("WriteFile", size));
  const auto call = static_cast<size_t>(++me.writeCalls);
  if (me.writeCalls == me.failWriteOnCall) return me.Fail("WriteFile");
  const uint64_t limit = call <= me.writeCounts.size() ? me.writeCounts[call - 1] : me.writeAccept;
  const uint64_t n = std::min(size, limit);
  if (!me.quiet) me.written.append(static_cast<const char*>(buffer), n);
  me.writtenBytes += n;
  *done = n;
  return SL_OK;
}

SLResult FakeFileSystem::FlushFile(SLFileSystem* self, SLFileHandle file) {
  FakeFileSystem& me = Of(self);
  me.Check(file);
  me.Log("FlushFile");
  return ++me.flushCalls == me.failFlushOnCall ? me.Fail("FlushFile") : SL_OK;
}

SLResult FakeFileSystem::GetFilePos(SLFileSystem* self, SLFileHandle file, uint64_t* position) {
  FakeFileSystem& me = Of(self);
  me.Check(file);
  me.Log("GetFilePos");
  *position = static_cast<uint64_t>(me.position);
  return SL_OK;
}

SLResult FakeFileSystem::SetFilePos(SLFileSystem* self, SLFileHandle file, int64_t position) {
  FakeFileSystem& me = Of(self);
  me.Check(file);
  me.Log(Call("SetFilePos", static_cast<uint64_t>(position)));
  if (position < 0) return me.Fail("SetFilePos");
  me.position = position;
  return SL_OK;
}

SLResult FakeFileSystem::GetFileSize(SLFileSystem* self, SLFileHandle file, uint64_t* size) {
  FakeFileSystem& me = Of(self);
  me.Check(file);
  me.Log("GetFileSize");
  *size = me.content.size();
  return SL_OK;
}

namespace {

ReadHandlerFake& ReaderOf(void* context) { return *static_cast<ReadHandlerFake*>(context); }
WriteHandlerFake& WriterOf(void* context) { return *static_cast<WriteHandlerFake*>(context); }

uint64_t FakeRead(void* context, void* buffer, uint64_t capacity) {
  ReadHandlerFake& me = ReaderOf(context);
  me.calls.push_back(Call("Read", capacity));
  if (me.useFixedResult) return me.fixedResult;
  const uint64_t n = std::min({capacity, me.chunk, uint64_t{me.data.size() - me.pos}});
  if (n == 0) return me.endResult;
  std::memcpy(buffer, me.data.data() + me.pos, n);
  me.pos += n;
  return n;
}

uint8_t FakeReadFlush(void* context) {
  ReaderOf(context).calls.push_back("Flush");
  return ReaderOf(context).flushResult;
}

void FakeReadClose(void* context) { ReaderOf(context).calls.push_back("Close"); }

uint64_t FakeWrite(void* context, const void* source, uint64_t size) {
  WriteHandlerFake& me = WriterOf(context);
  me.calls.push_back(Call("Write", size));
  me.offered.emplace_back(static_cast<const char*>(source), size);
  uint64_t n = size;
  if (!me.accept.empty()) {
    n = std::min(size, me.accept.front());
    me.accept.pop_front();
  }
  me.written.append(static_cast<const char*>(source), n);
  return n;
}

uint8_t FakeWriteFlush(void* context) {
  WriterOf(context).calls.push_back("Flush");
  return WriterOf(context).flushResult;
}

void FakeWriteClose(void* context) { WriterOf(context).calls.push_back("Close"); }

}  // namespace

SLReadHandler ReadHandlerFake::handler() const {
  return SLReadHandler{&FakeRead, &FakeReadFlush, &FakeReadClose};
}

SLWriteHandler WriteHandlerFake::handler() const {
  return SLWriteHandler{&FakeWrite, &FakeWriteFlush, &FakeWriteClose};
}

}  // namespace streamtest
