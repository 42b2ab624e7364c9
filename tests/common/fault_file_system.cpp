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
  // The positions are the base's: counted, logged and failed in front of its entries.
  positionOf_ = table()->GetFilePos;
  seekOf_ = table()->SetFilePos;
  table()->GetFilePos = [](SLFileSystem* self, SLFileHandle file, uint64_t* position) {
    return Of(self).Position(kGetFilePos, 0,
                             [&] { return Of(self).positionOf_(self, file, position); });
  };
  table()->SetFilePos = [](SLFileSystem* self, SLFileHandle file, int64_t position) {
    return Of(self).Position(kSetFilePos, static_cast<uint64_t>(position),
                             [&] { return Of(self).seekOf_(self, file, position); });
  };
  readOf_ = table()->ReadFile;
  writeOf_ = table()->WriteFile;
  flushOf_ = table()->FlushFile;
  closeOf_ = table()->CloseFile;
  table()->ReadFile = [](SLFileSystem* self, SLFileHandle file, void* buffer, uint64_t size,
                         uint64_t* done) {
    return Of(self).Refused(kReadFile, size,
                            [&] { return Of(self).readOf_(self, file, buffer, size, done); });
  };
  table()->WriteFile = [](SLFileSystem* self, SLFileHandle file, const void* buffer, uint64_t size,
                          uint64_t* done) {
    return Of(self).Refused(kWriteFile, size,
                            [&] { return Of(self).writeOf_(self, file, buffer, size, done); });
  };
  table()->FlushFile = [](SLFileSystem* self, SLFileHandle file) {
    return Of(self).Refused(kFlushFile, 0, [&] { return Of(self).flushOf_(self, file); });
  };
  table()->CloseFile = [](SLFileSystem* self, SLFileHandle file) {
    return Of(self).Refused(kCloseFile, 0, [&] { return Of(self).closeOf_(self, file); });
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

FaultFileSystem::~FaultFileSystem() { CloseOpenFiles(); }  // while the one below is there

// An open file of the file system below, each call passed on through its entry's fault record.
class FaultFileSystem::Forwarded final : public sl::sdk::FileBase {
 public:
  explicit Forwarded(FaultFileSystem& fs) : fs_(fs), below_(fs.below_) {}
  ~Forwarded() override {
    if (file != nullptr) below_->CloseFile(below_, file);
  }
  SLResult Read(uint64_t offset, void* buffer, uint64_t size, uint64_t* done) override {
    return fs_.Move(kReadFile, size, done, [&](uint64_t most, uint64_t* moved) {
      return At(offset, moved, [&] { return below_->ReadFile(below_, file, buffer, most, moved); });
    });
  }
  SLResult Write(uint64_t offset, const void* buffer, uint64_t size, uint64_t* done) override {
    return fs_.Move(kWriteFile, size, done, [&](uint64_t most, uint64_t* moved) {
      return At(offset, moved,
                [&] { return below_->WriteFile(below_, file, buffer, most, moved); });
    });
  }
  SLResult Size(uint64_t* size) override {
    return fs_.Pass(kGetFileSize, [&] { return below_->GetFileSize(below_, file, size); });
  }
  SLResult Flush() override {
    return fs_.Pass(kFlushFile, [&] { return below_->FlushFile(below_, file); });
  }
  SLResult Close() override {
    const SLResult code = fs_.Pass(kCloseFile, [&] { return below_->CloseFile(below_, file); });
    if (code == SL_OK) file = nullptr;  // else the destructor closes it
    return code;
  }

  SLFileHandle file = nullptr;  // of the file system below

 private:
  // A read or write at `offset`, the file below moved there first when it stands elsewhere.
  template <class Call>
  SLResult At(uint64_t offset, uint64_t* moved, Call call) {
    *moved = 0;
    if (offset != at_) {
      const SLResult code = below_->SetFilePos(below_, file, static_cast<int64_t>(offset));
      if (SL_FAILED(code)) return code;
      at_ = offset;
    }
    const SLResult code = call();
    at_ += *moved;
    return code;
  }

  FaultFileSystem& fs_;
  SLFileSystem* below_;
  uint64_t at_ = 0;  // where the file below stands
};

FaultFileSystem& FaultFileSystem::Of(void* self) {
  return *static_cast<FaultFileSystem*>(Owner<SLFileSystem>(static_cast<ServiceObject*>(self)));
}

SLFileHandle FaultFileSystem::Open(const char16_t* path, uint32_t mode) {
  auto opened = std::make_unique<Forwarded>(*this);
  if (below_->OpenFile(below_, path, mode, &opened->file) != SL_OK) return nullptr;
  return Keep(std::move(opened));
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

template <class Forward>
SLResult FaultFileSystem::Position(Entry entry, uint64_t size, Forward forward) {
  if (!Injects(entry)) return Finish(entry, size, forward(), false);
  return RunEntry({entry == kSetFilePos ? "SetFilePos" : "GetFilePos",
                   "sltest::FaultFileSystem::Position", "fault_file_system.cpp", __LINE__},
                  [&] { return Finish(entry, size, faults[entry].code, true); });
}

template <class Forward>
SLResult FaultFileSystem::Refused(Entry entry, uint64_t size, Forward forward) {
  const uint64_t seen = calls[entry];
  const SLResult code = forward();
  if (calls[entry] == seen) {
    ++calls[entry];
    if (logging) log.push_back({entry, size, 0, code, SL_FAILED(code) != 0});
  }
  return code;
}

SLResult FaultFileSystem::OpenFile(std::u16string_view path, sl::sdk::OpenMode mode,
                                   std::unique_ptr<sl::sdk::FileBase>* file) {
  const uint32_t bits = mode == sl::sdk::OpenMode::Create  ? SL_OPEN_CREATE
                        : mode == sl::sdk::OpenMode::Write ? SL_OPEN_WRITE
                                                           : SL_OPEN_READ;
  auto opened = std::make_unique<Forwarded>(*this);
  const SLResult code =
      Pass(kOpenFile, [&] { return below_->OpenFile(below_, path.data(), bits, &opened->file); });
  if (code == SL_OK) *file = std::move(opened);
  return code;
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
