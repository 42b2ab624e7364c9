#include "common/fault_file_system.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace sltest {
namespace {

const char* const kNames[kEntries] = {"Name",   "Mkdir",  "MkdirAll", "Rmdir",  "Open", "Close",
                                      "Exists", "Read",   "Write",    "Flush",  "Pos",  "Seek",
                                      "Size",   "Remove", "AddRef",   "Release"};

}  // namespace

FaultFileSystem::FaultFileSystem(SLFileSystem* inner, uint32_t nameAtom)
    : FileSystemBase(nameAtom) {
  if (inner == nullptr) {
    memory_ = sl::sdk::MakeRef<sl::sdk::MemoryFileSystem>(nameAtom);
    inner = memory_->table();
  }
  inner_ = sl::sdk::Ref<SLFileSystem>::Share(inner);
  below_ = inner;
  // The base entries are counted and recorded too, and a failure may leave no record.
  ServiceFunctionTable& header = table()->header;
  header.AddRef = [](ServiceObject* self) {
    Of(self).Finish(kAddRef, 0, SL_OK, false);
    return Of(self).AddRef();
  };
  header.Release = [](ServiceObject* self) {
    Of(self).Finish(kRelease, 0, SL_OK, false);
    return Of(self).Release();
  };
  recordOf_ = header.GetErrorInfo;
  header.GetErrorInfo = [](ServiceObject* self, SLErrorInfo* info, uint64_t reserved) {
    // The record of an injected failure that is to leave none is hidden; any later failure's is
    // not (a failure refused by the base's own checks included).
    const SLResult code = Of(self).recordOf_(self, info, reserved);
    const std::u16string_view message = code == SL_OK ? info->message : u"";
    if (!Of(self).silent_ || message.size() < 10 ||
        message.substr(message.size() - 10) != u": injected") {
      return code;
    }
    std::memset(info, 0, sizeof(*info));
    return SL_NOT_FOUND;
  };
  table()->GetFileSystemName = [](SLFileSystem* self, uint32_t* atom) {
    FaultFileSystem& me = Of(self);
    return me.RunEntry({"GetFileSystemName", "sltest::FaultFileSystem::GetFileSystemName",
                        "fault_file_system.cpp", __LINE__},
                       [&] {
                         return me.Pass(kGetFileSystemName, [&] {
                           if (atom == nullptr) return SL_INVALID_ARGUMENT;
                           *atom = me.NameAtom();
                           return SL_OK;
                         });
                       });
  };
}

FaultFileSystem::~FaultFileSystem() {
  for (SLFileHandle file : open_) below_->CloseFile(below_, file);
}

FaultFileSystem& FaultFileSystem::Of(void* self) {
  return *static_cast<FaultFileSystem*>(Owner<SLFileSystem>(static_cast<ServiceObject*>(self)));
}

SLFileHandle FaultFileSystem::Open(const char16_t* path, uint32_t mode) {
  SLFileHandle file = nullptr;
  if (below_->OpenFile(below_, path, mode, &file) == SL_OK) open_.insert(file);
  return file;
}

std::string FaultFileSystem::Trace() const {
  std::string trace;
  for (const Call& call : log) {
    trace += (trace.empty() ? "" : " ") + std::string(kNames[call.entry]);
    if (call.entry == kReadFile || call.entry == kWriteFile || call.entry == kSetFilePos) {
      trace += "(" + std::to_string(call.size) + ")";
    }
    if (SL_FAILED(call.code)) trace += "!";
  }
  return trace;
}

void FaultFileSystem::Arm(Entry entry, Fault fault) {
  if (fault.at != 0) fault.at += calls[entry];
  faults[entry] = std::move(fault);
}

bool FaultFileSystem::Injects(Entry entry) {
  const Fault& fault = faults[entry];
  const uint64_t call = ++calls[entry];
  return fault.at != 0 && (call == fault.at || (fault.forGood && call > fault.at));
}

SLResult FaultFileSystem::Finish(Entry entry, uint64_t size, SLResult code, bool injected,
                                 uint64_t moved) {
  const bool failed = SL_FAILED(code);
  if (entry >= kAddRef) ++calls[entry];
  if (failed) silent_ = injected && !faults[entry].record;
  if (logging) log.push_back({entry, size, moved, code, failed && !silent_});
  if (!failed || !injected) return code;
  ++failures;
  return Fail(code, "injected");
}

template <class Forward>
SLResult FaultFileSystem::Move(Entry entry, uint64_t size, uint64_t* done, Forward forward) {
  Fault& fault = faults[entry];
  const bool injected = Injects(entry);
  uint64_t most = injected ? fault.moved : fault.caps.empty() ? size : fault.caps.front();
  if (!injected && !fault.caps.empty()) fault.caps.pop_front();
  most = std::min(most, size);
  SLResult code = most == 0 ? SL_OK : forward(most, done);
  if (most == 0) *done = 0;
  if (entry == kWriteFile) written += *done;
  if (injected) code = fault.code;
  return Finish(entry, size, code, injected, *done);
}

SLResult FaultFileSystem::OpenFile(std::u16string_view path, sl::sdk::OpenMode mode,
                                   SLFileHandle* file) {
  const uint32_t bits = mode == sl::sdk::OpenMode::Create  ? SL_OPEN_CREATE
                        : mode == sl::sdk::OpenMode::Write ? SL_OPEN_WRITE
                                                           : SL_OPEN_READ;
  const SLResult code =
      Pass(kOpenFile, [&] { return below_->OpenFile(below_, path.data(), bits, file); });
  if (code == SL_OK) open_.insert(*file);
  return code;
}

SLResult FaultFileSystem::CloseFile(SLFileHandle file) {
  const SLResult code = Pass(kCloseFile, [&] { return below_->CloseFile(below_, file); });
  if (code == SL_OK) open_.erase(file);
  return code;
}

SLResult FaultFileSystem::ReadFile(SLFileHandle file, void* buffer, uint64_t size, uint64_t* done) {
  return Move(kReadFile, size, done, [&](uint64_t most, uint64_t* moved) {
    return below_->ReadFile(below_, file, buffer, most, moved);
  });
}

SLResult FaultFileSystem::WriteFile(SLFileHandle file, const void* buffer, uint64_t size,
                                    uint64_t* done) {
  return Move(kWriteFile, size, done, [&](uint64_t most, uint64_t* moved) {
    return below_->WriteFile(below_, file, buffer, most, moved);
  });
}

// The entries passed on as they come, unless their fault record fails them.
// clang-format off
#define SL_PASS(Name, Params, ...) \
  SLResult FaultFileSystem::Name Params { return Pass(k##Name, [&] { return below_->Name(below_, __VA_ARGS__); }); }
SL_PASS(FlushFile, (SLFileHandle file), file)
SL_PASS(GetFilePos, (SLFileHandle file, uint64_t* position), file, position)
SL_PASS(GetFileSize, (SLFileHandle file, uint64_t* size), file, size)
#undef SL_PASS
// clang-format on

SLResult FaultFileSystem::SetFilePos(SLFileHandle file, int64_t position) {
  const auto forward = [&] { return below_->SetFilePos(below_, file, position); };
  return Pass(kSetFilePos, forward, static_cast<uint64_t>(position));
}

namespace {

FileCallbacks& Callbacks(void* context) { return *static_cast<FileCallbacks*>(context); }

uint64_t Read(void* context, void* buffer, uint64_t capacity) {
  FileCallbacks& c = Callbacks(context);
  uint64_t done = 0;
  const SLResult code = c.fs->ReadFile(c.fs, c.file, buffer, capacity, &done);
  return SL_FAILED(code) ? ~uint64_t{0} : done;
}
uint64_t Write(void* context, const void* buffer, uint64_t size) {
  FileCallbacks& c = Callbacks(context);
  uint64_t done = 0;
  c.fs->WriteFile(c.fs, c.file, buffer, size, &done);
  return done;
}
uint8_t Flush(void* context) {
  FileCallbacks& c = Callbacks(context);
  const SLResult code = c.fs->FlushFile(c.fs, c.file);
  return SL_FAILED(code) ? 0 : 1;
}
void Close(void* context) {
  FileCallbacks& c = Callbacks(context);
  c.fs->CloseFile(c.fs, c.file);
}

}  // namespace

SLReadHandler FileCallbacks::reader() const { return {&Read, &Flush, &Close}; }
SLWriteHandler FileCallbacks::writer() const { return {&Write, &Flush, &Close}; }

}  // namespace sltest
