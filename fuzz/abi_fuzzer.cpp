// ABI interpreter: each input is a sequence of up to 80 calls a host could make, with arbitrary
// arguments (null pointers, odd paths, modes 0 to 15, sizes, positions, handles of the wrong
// kind): the file-system service's registry with host-made file systems bent every way (short
// tables, names that fail with or without a record, uncounted references); every file entry of
// the default file system on a private folder; weak references; failure records; Opens whose
// first allocations fail. Each result is checked against what the entry documents (the exact
// code where the arguments decide it, the documented set where the system does), out arguments
// left alone on refusal, bytes read back as they were written, sharing enforced, the calling
// thread's failure record on each object, and at the end every object destroyed and every
// reference the module took given back. SL_FUZZ_TRACE=1 prints the steps of an input.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <new>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "common/alloc_hook.h"
#include "common/fault_file_system.h"
#include "filesystem/file_system_service.h"
#include "slservices/sl_exception.hpp"
#include "stream/stream_service.h"

namespace {

using namespace sltest;  // NOLINT: entries by name
void* const kKept = reinterpret_cast<void*>(uintptr_t{0x5E27});

[[noreturn]] void Fail(const char* what, uint64_t expected, uint64_t actual) {
  std::fprintf(stderr, "abi fuzzer: %s: expected %llu, got %llu\n", what,
               static_cast<unsigned long long>(expected), static_cast<unsigned long long>(actual));
  std::abort();
}
void Expect(const char* what, uint64_t expected, uint64_t actual) {
  if (expected != actual) Fail(what, expected, actual);
}
const auto Atom = AtomOf;
const std::filesystem::path& Root() {
  static const std::filesystem::path root =
      std::filesystem::temp_directory_path() / ("slfuzz-" + std::to_string(std::random_device{}()));
  return root;
}

struct Handle {
  SLFileHandle file = nullptr;
  std::string name;  // empty when not modelled
  bool writable = false;
  std::optional<std::string> bytes;  // the file's, while this handle is its only writer
  std::optional<uint64_t> position;
};

class Interpreter {
 public:
  explicit Interpreter(FuzzedDataProvider& in) : in_(in) {
    Expect("GetDefaultFileSystem", SL_OK, fss()->GetDefaultFileSystem(fss(), &fs_));
    registry_[Atom("Default")] = fs_;
    static const char* const kNames[] = {"Default", "Faulty", "Other"};
    static const uint32_t kSizes[] = {0, 8, 40, SL_FILESYSTEM_TABLE_SIZE};
    for (auto& bent : bent_) {  // a name of the input's, bent as the input says
      const uint32_t name =
          in.ConsumeBool() ? Atom(in.PickValueInArray(kNames)) : in.ConsumeIntegral<uint8_t>();
      bent = std::make_unique<FaultFileSystem>(nullptr, name);
      ServiceFunctionTable& header = bent->table()->header;
      header.tableSize = in.PickValueInArray(kSizes);
      if (in.ConsumeBool()) header.AddRef = header.Release = nullptr;
      bent->Arm(kGetFileSystemName, Fault(in.ConsumeBool(), true, in.ConsumeBool()));
    }
  }

  void Run() {
    static void (Interpreter::*const kSteps[])() = {
        &Interpreter::Registry, &Interpreter::Lookup,     &Interpreter::Open,
        &Interpreter::Open,     &Interpreter::Close,      &Interpreter::Transfer,
        &Interpreter::Transfer, &Interpreter::Position,   &Interpreter::Folders,
        &Interpreter::Objects,  &Interpreter::OutOfMemory};
    for (int step = 0; step < 80 && in_.remaining_bytes() > 0; ++step) {
      const int op = in_.ConsumeIntegralInRange(0, 10);
      if (std::getenv("SL_FUZZ_TRACE") != nullptr) std::fprintf(stderr, "step %d\n", op);
      (this->*kSteps[op])();
    }
    TearDown();
  }

 private:
  SLFileSystemService* fss() const { return reinterpret_cast<SLFileSystemService*>(files_.get()); }
  SLStreamService* ss() const { return reinterpret_cast<SLStreamService*>(streams_.get()); }

  // The last failure this thread left on an object (0: none), when it is predicted.
  void Note(const void* object, SLResult result) {
    if (SL_FAILED(result)) records_[AsObject(object)] = result;
  }
  void CheckRecord(ServiceObject* object) {
    const auto found = records_.find(object);
    SLErrorInfo info{};
    const SLResult read = object->header.GetErrorInfo(object, &info, 0);
    const std::optional<SLResult> expected = found == records_.end() ? 0 : found->second;
    if (!expected) return;
    Expect("GetErrorInfo", *expected == 0 ? SL_NOT_FOUND : SL_OK, read);
    Expect("the recorded code", *expected, info.code);
  }

  // One call of a file entry of the default file system, whose record keeps its failure.
  template <class Call>
  SLResult Do(Call call) {
    const SLResult result = call(fs_);
    Note(fs_, result);
    return result;
  }

  std::u16string Path(bool* isNull, std::string* name) {
    static const char16_t* const kNames[] = {u"a", u"b", u"x.txt", u"sub", u"sub\\c", u"sub/d"};
    static const char16_t* const kOdd[] = {u"", u"\xD800", u"bad<name", u"sub\\", u"*", u"con:x"};
    name->clear();
    const int kind = in_.ConsumeIntegralInRange(0, 9);
    if ((*isNull = kind == 0)) return u"";
    if (kind == 1) return in_.PickValueInArray(kOdd);
    if (kind == 2) return std::u16string(300, u'n');
    const std::u16string picked = in_.PickValueInArray(kNames);
    for (const char16_t c : picked) *name += c == u'/' ? '\\' : static_cast<char>(c);
    if (*name == "sub") name->clear();                               // a folder: not modelled
    return kind < 5 ? picked : Root().u16string() + u"\\" + picked;  // relative: from the root
  }
  Handle* PickHandle() {
    if (handles_.empty() || in_.ConsumeIntegralInRange(0, 7) == 0) return nullptr;
    return &handles_[in_.ConsumeIntegralInRange<size_t>(0, handles_.size() - 1)];
  }
  bool Held(const std::string& name, bool writersOnly) const {
    for (const Handle& h : handles_) {
      if (h.name == name && (h.writable || !writersOnly)) return true;
    }
    return false;
  }

  void Registry() {
    const int which = in_.ConsumeIntegralInRange(0, 4);
    FaultFileSystem* bent = which >= 2 ? bent_[which - 2].get() : nullptr;
    SLFileSystem* fs = which == 0 ? nullptr : bent != nullptr ? bent->table() : fs_;
    const bool add = in_.ConsumeBool();
    const uint64_t named = bent != nullptr ? bent->calls[kGetFileSystemName] : 0;
    const uint64_t failures = bent != nullptr ? bent->failures : 0;
    SLResult result = SL_OK;
    bool threw = false;
    try {
      result = add ? fss()->RegisterFileSystem(fss(), fs) : fss()->UnregisterFileSystem(fss(), fs);
    } catch (const ServiceObjectException& e) {
      threw = SL_FAILED(e.code());
    }
    uint32_t key = Atom("Default");
    if (bent != nullptr) {
      const bool called = bent->calls[kGetFileSystemName] > named,
                 failed = bent->failures > failures;
      Expect("the name entry is called by the rules", bent->table()->header.tableSize > 0, called);
      Expect("a name failing with a record raises",
             failed && bent->faults[kGetFileSystemName].record, threw);
      if (threw) return;  // the registry as it was, and nothing recorded
      key = called && !failed ? bent->NameAtom() : SL_UNRESOLVED_ATOM;
    }
    const bool taken = registry_.count(key) != 0;
    Expect("RegisterFileSystem or UnregisterFileSystem",
           fs == nullptr ? 3
           : add         ? (taken ? SL_ALREADY_EXISTS : SL_OK)
                         : (taken ? SL_OK : SL_NOT_FOUND),
           result);
    if (result == SL_OK && add) registry_[key] = fs;
    if (result == SL_OK && !add) registry_.erase(key);
    Note(fss(), result);
  }

  void Lookup() {
    static const char* const kNames[] = {"Default", "Faulty", "Other"};
    const int kind = in_.ConsumeIntegralInRange(0, 3);
    const uint32_t atom = kind == 0   ? 0
                          : kind == 1 ? SL_UNRESOLVED_ATOM
                                      : Atom(in_.PickValueInArray(kNames));
    const bool nullOut = in_.ConsumeIntegralInRange(0, 5) == 0;
    SLFileSystem* found = static_cast<SLFileSystem*>(kKept);
    const SLResult result =
        fss()->GetRegisteredFileSystemByName(fss(), atom, nullOut ? nullptr : &found);
    Note(fss(), result);
    const auto entry = registry_.find(atom);
    Expect("GetRegisteredFileSystemByName",
           nullOut || atom == 0       ? 3
           : entry == registry_.end() ? 11
                                      : 0,
           result);
    if (result != SL_OK) return Expect("the out pointer kept", 1, found == kKept);
    Expect("the registered object", 1, found == entry->second);
    if (AsObject(found)->header.Release != nullptr) Release(found);
  }

  void Open() {
    bool nullPath = false;
    std::string name;
    const std::u16string path = Path(&nullPath, &name);
    const uint32_t mode = in_.ConsumeIntegralInRange<uint32_t>(0, 15);
    const bool nullOut = in_.ConsumeIntegralInRange(0, 7) == 0;
    SLFileHandle file = kKept;
    const SLResult result = Do([&](SLFileSystem* fs) {
      return fs->OpenFile(fs, nullPath ? nullptr : path.c_str(), mode, nullOut ? nullptr : &file);
    });
    if (result != SL_OK) Expect("a failed OpenFile keeps the handle", 1, file == kKept);
    if (nullPath || nullOut || (mode & 7u) == 0) return Expect("OpenFile refused", 3, result);
    if (result != SL_OK) {
      return Expect(
          "OpenFile", 1,
          result == SL_OS_FAILURE || result == SL_NOT_FOUND || result == SL_ACCESS_DENIED);
    }
    Handle h;
    h.file = file;
    h.name = name;
    h.writable = (mode & 6u) != 0;
    h.position = 0;
    if (!name.empty()) {
      if (Held(name, !h.writable)) Fail("sharing was not enforced", 0, 1);
      if ((mode & SL_OPEN_CREATE) != 0) names_[name] = "";
      h.bytes = names_[name];
    }
    handles_.push_back(h);
  }

  void Close() {
    Handle* h = PickHandle();
    const SLResult result =
        Do([&](SLFileSystem* fs) { return fs->CloseFile(fs, h ? h->file : nullptr); });
    Expect("CloseFile", h == nullptr ? 3 : 0, result);
    if (h == nullptr) return;
    if (!h->name.empty() && h->writable)
      names_[h->name] = h->bytes;  // its bytes are the name's now
    handles_.erase(handles_.begin() + (h - handles_.data()));
  }

  void Transfer() {
    Handle* h = PickHandle();
    const bool write = in_.ConsumeBool(), nullBuffer = in_.ConsumeIntegralInRange(0, 9) == 0;
    const bool nullDone = in_.ConsumeIntegralInRange(0, 5) == 0;
    const uint64_t size = in_.ConsumeIntegralInRange<uint64_t>(0, 9000);
    std::string buffer(size, '\0');
    for (uint64_t i = 0; i < size; ++i) buffer[i] = static_cast<char>(i * 13 + size);
    uint64_t done = 0xD0DE;
    const SLResult result = Do([&](SLFileSystem* fs) {
      void* data = nullBuffer ? nullptr : buffer.data();
      SLFileHandle file = h ? h->file : nullptr;
      return write ? fs->WriteFile(fs, file, data, size, nullDone ? nullptr : &done)
                   : fs->ReadFile(fs, file, data, size, nullDone ? nullptr : &done);
    });
    if (h == nullptr || nullBuffer || size == 0) {
      return Expect("ReadFile or WriteFile refused", 3, result),
             Expect("the count kept", 0xD0DE, done);
    }
    if (write && !h->writable)
      return Expect("WriteFile on a read handle", SL_ACCESS_DENIED, result);
    Expect(write ? "WriteFile" : "ReadFile", SL_OK, result);
    if (!nullDone && write) Expect("WriteFile count", size, done);
    if (!h->position || (!h->bytes && (write || nullDone)))
      return h->bytes.reset(), void(h->position.reset());
    if (!h->bytes) return void(*h->position += done);
    std::string& bytes = *h->bytes;
    if (write) {
      bytes.resize(std::max<size_t>(bytes.size(), *h->position + size), '\0');
      bytes.replace(*h->position, size, buffer);
      return void(*h->position += size);
    }
    const uint64_t at = std::min<uint64_t>(*h->position, bytes.size());
    const uint64_t expected = std::min<uint64_t>(size, bytes.size() - at);
    if (!nullDone) Expect("ReadFile count", expected, done);
    if (buffer.compare(0, expected, bytes, at, expected) != 0) Fail("ReadFile bytes", 0, 1);
    *h->position += expected;
  }

  void Position() {
    static const int64_t kTargets[] = {0, 1, 100, 4095, 4096, 5000, -1, INT64_MIN};
    Handle* h = PickHandle();
    const int which = in_.ConsumeIntegralInRange(0, 3);
    const bool nullOut = in_.ConsumeIntegralInRange(0, 5) == 0;
    const int64_t target = in_.PickValueInArray(kTargets);
    uint64_t value = 0xD0DE;
    const SLResult result = Do([&](SLFileSystem* fs) {
      SLFileHandle file = h ? h->file : nullptr;
      uint64_t* out = nullOut ? nullptr : &value;
      return which == 0   ? fs->GetFilePos(fs, file, out)
             : which == 1 ? fs->GetFileSize(fs, file, out)
             : which == 2 ? fs->SetFilePos(fs, file, target)
                          : fs->FlushFile(fs, file);
    });
    if (h == nullptr || (nullOut && which < 2)) {
      return Expect("a position entry refused", 3, result), Expect("kept", 0xD0DE, value);
    }
    if (which == 3) return Expect("FlushFile", h->writable ? SL_OK : SL_ACCESS_DENIED, result);
    if (which == 2) {
      Expect("SetFilePos", target < 0 ? SL_OS_FAILURE : SL_OK, result);
      if (target >= 0) h->position = static_cast<uint64_t>(target);
      return;
    }
    Expect("GetFilePos or GetFileSize", SL_OK, result);
    if (which == 0 && h->position) Expect("GetFilePos", *h->position, value);
    if (which == 0) h->position = value;
    if (which == 1 && h->bytes) Expect("GetFileSize", h->bytes->size(), value);
  }

  void Folders() {
    bool nullPath = false;
    std::string name;
    const std::u16string path = Path(&nullPath, &name);
    const int which = in_.ConsumeIntegralInRange(0, 4);
    const bool nullOut = in_.ConsumeIntegralInRange(0, 5) == 0;
    uint8_t exists = 0xEE;
    const SLResult result = Do([&](SLFileSystem* fs) {
      const SLChar16* text = nullPath ? nullptr : path.c_str();
      return which == 0   ? fs->CreateFolder(fs, text)
             : which == 1 ? fs->CreateAllFolders(fs, text)
             : which == 2 ? fs->RemoveFolder(fs, text)
             : which == 3 ? fs->RemoveFile(fs, text)
                          : fs->IsFileExists(fs, text, nullOut ? nullptr : &exists);
    });
    if (nullPath || (which == 4 && nullOut)) return Expect("a path entry refused", 3, result);
    if (which == 4) return Expect("IsFileExists", SL_OK, result), Expect("a flag", 1, exists <= 1);
    Expect("a folder or file entry", 1,
           result < 17 && ((1u << result) & 0x18889u) != 0);  // 0 3 7 11 15 16
    if (result != SL_OK || name.empty() || which != 3) return;
    if (Held(name, true)) Fail("a file open for writing was removed", 0, 1);
    names_.erase(name);  // the handles on it keep the old file, which has no name now
    for (Handle& h : handles_) h.name = h.name == name ? "" : h.name;
  }

  void Objects() {
    std::vector<ServiceObject*> objects = {files_.object(), streams_.object(), AsObject(fs_)};
    ServiceObject* object = objects[in_.ConsumeIntegralInRange<size_t>(0, objects.size() - 1)];
    const int which = in_.ConsumeIntegralInRange(0, 4);
    if (which == 0) {  // counts
      const uint32_t count = object->header.GetRefCount(object);
      Expect("AddRef", count + 1, object->header.AddRef(object));
      return Expect("Release", count, object->header.Release(object));
    }
    if (which == 1)
      return Expect("GetErrorInfo(null)", 3, object->header.GetErrorInfo(object, nullptr, 0));
    if (which == 2) return CheckRecord(object);
    if (which == 4 && !weak_.empty()) {  // Lock gives an object exactly while it lives
      ServiceObjectWeakRef* weak = weak_[in_.ConsumeIntegralInRange<size_t>(0, weak_.size() - 1)];
      ServiceObject* locked = weak->Lock(weak);
      Expect("Lock", weak->IsAlive(weak), locked != nullptr);
      if (locked != nullptr)
        Expect("a locked object's count", 1, locked->header.Release(locked) >= 1);
      return;
    }
    const bool nullOut = in_.ConsumeIntegralInRange(0, 5) == 0;
    ServiceObjectWeakRef* weak = nullptr;
    Expect("GetWeakRef", nullOut ? 3 : 0,
           object->header.GetWeakRef(object, nullOut ? nullptr : &weak));
    if (weak != nullptr) weak_.push_back(weak);
  }

  // One of the first allocations of an Open fails: the failure leaves the entry, nothing is
  // handed out, and the service records nothing.
  void OutOfMemory() {
    SLStreamHandle out = static_cast<SLStreamHandle>(kKept);
    const Refusal refusal = RunFailing(in_.ConsumeIntegralInRange<uint64_t>(1, 8),
                                       [&] { ss()->OpenMemReadStream(ss(), "abc", 3, &out); });
    Expect("an allocation failure leaves the entry", refusal.reached, refusal.threw);
    if (!refusal.threw) return Expect("CloseStream", SL_OK, ss()->CloseStream(ss(), out));
    Expect("nothing handed out", 1, out == kKept);
    CheckRecord(streams_.object());
  }

  void TearDown() {
    for (const Handle& h : handles_) Expect("CloseFile", SL_OK, fs_->CloseFile(fs_, h.file));
    AsObject(fs_)->header.Release(AsObject(fs_));
    // The service releases what its registry still holds when it goes.
    Expect("the file-system service's last Release", 0,
           files_.object()->header.Release(files_.detach()));
    Expect("the stream service's last Release", 0,
           streams_.object()->header.Release(streams_.detach()));
    for (const auto& bent : bent_)
      Expect("references of a host-made file system", 1, bent->RefCount());
    for (ServiceObjectWeakRef* weak : weak_) {
      Expect("an object outlived every reference", 0, weak->IsAlive(weak));
      weak->Release(weak);
    }
  }

  FuzzedDataProvider& in_;
  sl::sdk::Ref<ServiceObject> files_ = sl::filesystem::CreateFileSystemService();
  sl::sdk::Ref<ServiceObject> streams_ = sl::stream::CreateStreamService();
  SLFileSystem* fs_ = nullptr;
  std::unique_ptr<FaultFileSystem> bent_[3];
  std::map<uint32_t, SLFileSystem*> registry_;
  std::map<std::string, std::optional<std::string>> names_;  // the bytes of each name, if known
  std::vector<Handle> handles_;
  std::vector<ServiceObjectWeakRef*> weak_;
  std::map<ServiceObject*, std::optional<SLResult>> records_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // While an input runs the working folder is the private one, so relative paths land there.
  std::error_code ignored;
  std::filesystem::create_directories(Root(), ignored);
  const std::filesystem::path previous = std::filesystem::current_path();
  std::filesystem::current_path(Root());
  {
    FuzzedDataProvider input(data, size);
    Interpreter(input).Run();
  }
  std::filesystem::current_path(previous);
  for (const auto& entry : std::filesystem::directory_iterator(Root(), ignored)) {
    std::filesystem::permissions(entry.path(), std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ignored);
    std::filesystem::remove_all(entry.path(), ignored);
  }
  return 0;
}
