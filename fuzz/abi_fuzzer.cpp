// Operation interpreter over the public ABI. Each input is a sequence of calls a host could make:
// the class registry's CreateServiceObject and ReflectServiceObjectInfo, the file-system
// service's registry with host-made file systems (tables too short for their entries, null
// entries, name entries that fail with or without error information, uncounted references) and
// a fault-injecting file system in front of the default one, every entry of the default file
// system on a private folder, search results, weak references, failure records and all five
// kinds of stream, with arbitrary arguments: null pointers, odd modes, sizes, indices,
// positions and handles of the wrong kind.
//
// Every result is checked against what the entry documents: exact codes where the arguments
// decide them, the documented set where the operating system does; what was written through a
// handle or a stream reads back unchanged; the calling thread's failure record on each object
// holds the last failure; references taken by the module are all given back at the end.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <initializer_list>
#include <map>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <system_error>
#include <vector>

#include "common/fault_file_system.h"
#include "module/class_registry.h"
#include "module/factories.h"
#include "runtime/service_object_ptr.h"
#include "slservices/sl_exception.hpp"
#include "slservices/slservices.h"

namespace {

using ObjectPtr = SODetails::BasicServiceObjectPtr<ServiceObject>;
using sltest::FaultFileSystem;

[[noreturn]] void Fail(const char* what, uint64_t expected, uint64_t actual) {
  std::fprintf(stderr, "abi fuzzer: %s: expected %llu, got %llu\n", what,
               static_cast<unsigned long long>(expected), static_cast<unsigned long long>(actual));
  std::abort();
}
void Expect(const char* what, uint64_t expected, uint64_t actual) {
  if (expected != actual) Fail(what, expected, actual);
}
void ExpectIn(const char* what, SLResult actual, std::initializer_list<SLResult> allowed) {
  for (const SLResult code : allowed) {
    if (code == actual) return;
  }
  Fail(what, *allowed.begin(), actual);
}

// SL_FUZZ_TRACE=1 prints the steps of an input, to follow a finding by hand.
bool Tracing() {
  static const bool trace = std::getenv("SL_FUZZ_TRACE") != nullptr;
  return trace;
}

ServiceObject* AsObject(const void* object) {
  return static_cast<ServiceObject*>(const_cast<void*>(object));
}
uint32_t Atom(const char* name) {
  uint32_t atom = SL_UNRESOLVED_ATOM;
  SLGetAtomFromString(name, &atom);
  return atom;
}

// The private folder every input works in.
const std::filesystem::path& Root() {
  static const std::filesystem::path root = [] {
    std::filesystem::path path = std::filesystem::temp_directory_path() /
                                 ("slfuzz-" + std::to_string(std::random_device{}()));
    std::filesystem::create_directories(path);
    return path;
  }();
  return root;
}

// While an input runs, the working folder is the private one, so relative paths land there
// too; the fuzzer's own folder is back before it writes anything of its own.
class InRoot {
 public:
  InRoot() : previous_(std::filesystem::current_path()) { std::filesystem::current_path(Root()); }
  ~InRoot() { std::filesystem::current_path(previous_); }
  InRoot(const InRoot&) = delete;
  InRoot& operator=(const InRoot&) = delete;

 private:
  std::filesystem::path previous_;
};

void EmptyRoot() {
  std::error_code ignored;
  for (const auto& entry : std::filesystem::directory_iterator(Root(), ignored)) {
    std::filesystem::permissions(entry.path(), std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ignored);
    std::filesystem::remove_all(entry.path(), ignored);
  }
}

// A file system made by a host with an odd table: any table size, a name entry that may be
// missing or fail (with or without error information), references counted or not counted.
struct OddFileSystem {
  SLFileSystem table;  // first: the object's address is the table's
  int32_t refs = 1;
  uint32_t atom = 0;
  int nameBehaviour = 0;  // 0 reports the atom, 1 fails with a record, 2 fails without one
  bool counted = true;

  static OddFileSystem& Of(const void* self) {
    return *static_cast<OddFileSystem*>(const_cast<void*>(self));
  }
  static uint32_t AddRef(ServiceObject* self) { return static_cast<uint32_t>(++Of(self).refs); }
  static uint32_t Release(ServiceObject* self) { return static_cast<uint32_t>(--Of(self).refs); }
  static SLResult GetErrorInfo(ServiceObject* self, SLErrorInfo* info, uint64_t) {
    std::memset(info, 0, sizeof(*info));
    if (Of(self).nameBehaviour != 1) return SL_NOT_FOUND;
    info->code = SL_ACCESS_DENIED;
    info->line = 1;
    return SL_OK;
  }
  static SLResult GetFileSystemName(SLFileSystem* self, uint32_t* atom) {
    OddFileSystem& me = Of(self);
    if (me.nameBehaviour != 0) return SL_ACCESS_DENIED;
    *atom = me.atom;
    return SL_OK;
  }

  OddFileSystem(FuzzedDataProvider& in, uint32_t nameAtom) {
    std::memset(&table, 0, sizeof(table));
    static const uint32_t kSizes[] = {0, 8, 40, 56, 64, SL_FILESYSTEM_TABLE_SIZE};
    table.header.interfaceId = SL_FILESYSTEM_ID;
    table.header.tableSize = in.PickValueInArray(kSizes);
    table.header.interfaceName = "SLFileSystem";
    counted = in.ConsumeBool();
    if (counted) {
      table.header.AddRef = &AddRef;
      table.header.Release = &Release;
    }
    table.header.GetErrorInfo = &GetErrorInfo;
    if (in.ConsumeIntegralInRange(0, 3) != 0) table.GetFileSystemName = &GetFileSystemName;
    nameBehaviour = in.ConsumeIntegralInRange(0, 2);
    atom = nameAtom;
  }
  SLFileSystem* fs() { return &table; }

  // The registry key the service must find for it, or nothing when naming it raises.
  std::optional<uint32_t> Key() const {
    if (table.header.tableSize == 0 || table.GetFileSystemName == nullptr) {
      return SL_UNRESOLVED_ATOM;
    }
    if (nameBehaviour == 1) return std::nullopt;
    return nameBehaviour == 0 ? atom : SL_UNRESOLVED_ATOM;
  }
};

// What the harness knows about a file's bytes.
struct Known {
  bool known = false;
  std::string bytes;
};

struct Handle {
  SLFileHandle file = nullptr;
  std::string name;  // canonical name, empty when not modelled
  bool readable = false;
  bool writable = false;
  Known content;  // the file's bytes while this handle is the only writer
  uint64_t position = 0;
  bool positionKnown = true;
};

enum class StreamKind { kMemory, kFileRead, kFileWrite, kReadHandler, kWriteHandler };

struct Stream {
  StreamKind kind;
  SLStreamHandle handle = nullptr;
  std::string source;      // memory block, or the read handler's data
  uint64_t handed = 0;     // bytes the read handler has handed out
  uint64_t delivered = 0;  // bytes ReadStream delivered so far
  bool ended = false;
  std::string written;         // bytes given to WriteStream
  std::string taken;           // bytes the write handler took
  Handle file;                 // file streams: the handle they own
  SLFileSystem* fs = nullptr;  // file streams: the file system they read or write through
  uint64_t faultsAtOpen = 0;
};

uint64_t HandlerRead(void* context, void* buffer, uint64_t capacity) {
  Stream& s = *static_cast<Stream*>(context);
  const uint64_t count = std::min<uint64_t>(capacity, s.source.size() - s.handed);
  std::memcpy(buffer, s.source.data() + s.handed, count);
  s.handed += count;
  return count;
}
uint64_t HandlerWrite(void* context, const void* source, uint64_t size) {
  static_cast<Stream*>(context)->taken.append(static_cast<const char*>(source), size);
  return size;
}
uint8_t HandlerFlush(void*) { return 1; }
void HandlerClose(void*) {}

class Interpreter {
 public:
  explicit Interpreter(FuzzedDataProvider& in) : in_(in) {
    fss_ = reinterpret_cast<SLFileSystemService*>(Create(Atom(SL_CLASS_FILE_SYSTEM_SERVICE)));
    ss_ = reinterpret_cast<SLStreamService*>(Create(Atom(SL_CLASS_STREAM_SERVICE)));
    Expect("GetDefaultFileSystem", SL_OK, fss_->GetDefaultFileSystem(fss_, &defaultFs_));
    faulty_ = std::make_unique<FaultFileSystem>(defaultFs_, Atom("Faulty"));
    registry_[Atom("Default")] = defaultFs_;
    for (int i = 0; i < 3; ++i) {
      static const char* const kNames[] = {"Default", "Faulty", "Foreign", "Other"};
      const uint32_t atom = in.ConsumeBool() ? Atom(in.PickValueInArray(kNames))
                                             : in.ConsumeIntegralInRange<uint32_t>(0, 2);
      odd_.push_back(std::make_unique<OddFileSystem>(in, atom));
    }
  }

  void Run() {
    for (int step = 0; step < 80 && in_.remaining_bytes() > 0; ++step) Step();
    TearDown();
  }

 private:
  // ---------------------------------------------------------------- choices
  ServiceObject* Create(uint32_t atom) {
    ServiceObject* object = nullptr;
    Expect("CreateServiceObject", SL_OK, sl::module::CreateFromList(Head(), atom, &object));
    return object;
  }
  static sl::module::ServiceFactoryRecord* Head() {
    static sl::module::ServiceFactoryRecord* head = nullptr;
    static sl::module::ServiceFactoryRecord fileSystems(&head, SL_CLASS_FILE_SYSTEM_SERVICE,
                                                        sl::module::FileSystemServiceFactory());
    static sl::module::ServiceFactoryRecord streams(&head, SL_CLASS_STREAM_SERVICE,
                                                    sl::module::StreamServiceFactory());
    return head;
  }

  // A path: null, empty, malformed, or one of a few names, relative or under the root.
  std::u16string PathText(bool* isNull, std::string* canonical) {
    *isNull = false;
    canonical->clear();
    static const char16_t* const kNames[] = {u"a",      u"b",     u"x.txt",    u"sub",
                                             u"sub\\c", u"sub/d", u"sub\\e\\f"};
    static const char16_t* const kOdd[] = {u"",  u"\xD800",    u"bad<name", u"sub\\",
                                           u"*", u"trailing.", u"con:x"};
    switch (in_.ConsumeIntegralInRange(0, 9)) {
      case 0:
        *isNull = true;
        return u"";
      case 1:
        return in_.PickValueInArray(kOdd);
      case 2:
        return std::u16string(300, u'n');
      case 3:
      case 4: {
        const std::u16string name = in_.PickValueInArray(kNames);
        *canonical = Canonical(name);
        return name;  // relative: the working folder is the root
      }
      default: {
        const std::u16string name = in_.PickValueInArray(kNames);
        *canonical = Canonical(name);
        return Root().u16string() + u"\\" + name;
      }
    }
  }
  static std::string Canonical(const std::u16string& name) {
    std::string text;
    for (const char16_t c : name) text += c == u'/' ? '\\' : static_cast<char>(c);
    return text;
  }
  std::u16string Pattern(bool* isNull) {
    *isNull = false;
    static const char16_t* const kPatterns[] = {u"*",      u"*.*",   u"?",          u"a*",
                                                u"sub\\*", u"*.txt", u"missing\\*", u"",
                                                u"sub\\",  u"x.txt", u"s?b"};
    if (in_.ConsumeIntegralInRange(0, 7) == 0) {
      *isNull = true;
      return u"";
    }
    const std::u16string pattern = in_.PickValueInArray(kPatterns);
    return in_.ConsumeBool() ? pattern : Root().u16string() + u"\\" + pattern;
  }
  // The default file system or the fault-injecting one in front of it.
  SLFileSystem* FileSystem() { return in_.ConsumeBool() ? defaultFs_ : faulty_->fs(); }
  bool Faulty(SLFileSystem* fs) const { return fs == faulty_->fs(); }

  // ---------------------------------------------------------------- failure records
  // The last failure this thread left on an object; nullopt: not predicted.
  struct Record {
    bool known = true;
    SLResult code = 0;  // 0: none
  };
  void Note(const void* object, SLResult result) {
    if (SL_FAILED(result)) records_[AsObject(object)] = Record{true, result};
  }
  void Unknown(const void* object) { records_[AsObject(object)] = Record{false, 0}; }
  // After a call through `fs` that returned `result`: the records of `fs` and, for the
  // fault-injecting one, of the default file system behind it.
  void NoteFileSystem(SLFileSystem* fs, SLResult result, uint64_t injectedBefore) {
    if (!Faulty(fs)) return Note(fs, result);
    if (faulty_->injectedFailures() > injectedBefore) {
      // Injected: no call reached the default file system.
      if (SL_FAILED(result)) {
        records_[AsObject(fs)] = Record{true, plan_.withRecord ? result : 0};
      }
      return;
    }
    Note(fs, result);
    Note(defaultFs_, result);
  }
  void CheckRecord(ServiceObject* object) {
    const auto found = records_.find(object);
    const Record record = found == records_.end() ? Record{} : found->second;
    SLErrorInfo info{};
    const SLResult read = object->header.GetErrorInfo(object, &info, 0);
    if (!record.known) return;
    if (record.code == 0) {
      if (read != SL_NOT_FOUND) {
        std::fprintf(stderr, "object %s holds code %u\n", object->header.interfaceName, info.code);
      }
      Expect("GetErrorInfo without a failure", SL_NOT_FOUND, read);
      Expect("zeroed record", 0, info.code);
    } else {
      Expect("GetErrorInfo after a failure", SL_OK, read);
      Expect("recorded code", record.code, info.code);
    }
  }
  uint64_t Faults() const { return faulty_->injectedFailures(); }

  // ---------------------------------------------------------------- steps
  void Step() {
    const int op = in_.ConsumeIntegralInRange(0, 21);
    if (Tracing()) std::fprintf(stderr, "step %d\n", op);
    switch (op) {
      case 0:
        return ClassRegistry();
      case 1:
        return Registry();
      case 2:
        return Lookup();
      case 3:
      case 4:
        return Open();
      case 5:
        return Close();
      case 6:
      case 7:
        return Transfer();
      case 8:
        return Position();
      case 9:
        return Folders();
      case 10:
        return Search();
      case 11:
        return ReadResult();
      case 12:
      case 13:
        return OpenStream();
      case 14:
      case 15:
        return UseStream();
      case 16:
        return CloseStream();
      case 17:
        return WeakReference();
      case 18:
        return ErrorInfo();
      case 19:
        return ArmFaults();
      case 20:
        return Counting();
      default:
        return PathMapping();
    }
  }

  void ClassRegistry() {
    if (in_.ConsumeBool()) {
      const ServiceObjectInfo* info = nullptr;
      uint32_t count = 0;
      const int which = in_.ConsumeIntegralInRange(0, 2);
      static sl::module::ServiceFactoryRecord* const head = Head();
      static sl::module::ClassList list(&head);
      const SLResult result =
          list.Reflect(which == 1 ? nullptr : &info, which == 2 ? nullptr : &count);
      if (which != 0) return Expect("ReflectServiceObjectInfo with a null pointer", 3, result);
      Expect("ReflectServiceObjectInfo", SL_OK, result);
      Expect("class count", 2, count);
      Expect("terminator", 0, reinterpret_cast<uintptr_t>(info[2].className));
      return;
    }
    static const char* const kNames[] = {SL_CLASS_FILE_SYSTEM_SERVICE, SL_CLASS_STREAM_SERVICE,
                                         "NoSuchClass"};
    const int which = in_.ConsumeIntegralInRange(0, 4);
    const uint32_t atom = which < 3 ? Atom(kNames[which]) : which == 3 ? 0 : SL_UNRESOLVED_ATOM;
    const bool nullOut = in_.ConsumeIntegralInRange(0, 5) == 0;
    ServiceObject* object = nullptr;
    const SLResult result = sl::module::CreateFromList(Head(), atom, nullOut ? nullptr : &object);
    if (atom == 0 || nullOut) return Expect("CreateServiceObject refused", 3, result);
    if (which >= 2) return Expect("CreateServiceObject of no class", 11, result);
    Expect("CreateServiceObject", SL_OK, result);
    Expect("a new object's count", 1, object->header.GetRefCount(object));
    Expect("its last Release", 0, object->header.Release(object));
  }

  SLFileSystem* RegistryCandidate(std::optional<uint32_t>* key, bool* isNull) {
    *isNull = false;
    const int which = in_.ConsumeIntegralInRange(0, static_cast<int>(odd_.size()) + 2);
    if (which == 0) {
      *isNull = true;
      return nullptr;
    }
    if (which == 1) {
      *key = Atom("Default");
      return defaultFs_;
    }
    if (which == 2) {
      // Naming the fault-injecting file system is itself a call that may fail.
      *key = Atom("Faulty");
      return faulty_->fs();
    }
    OddFileSystem& odd = *odd_[which - 3];
    *key = odd.Key();
    return odd.fs();
  }
  // The key the service actually used for the fault-injecting file system's last naming call.
  std::optional<uint32_t> FaultyKey(uint64_t injectedBefore, bool* threwExpected) {
    *threwExpected = false;
    if (faulty_->injectedFailures() == injectedBefore) return Atom("Faulty");
    if (plan_.withRecord) {
      *threwExpected = true;
      return std::nullopt;
    }
    return SL_UNRESOLVED_ATOM;
  }

  void Registry() {
    std::optional<uint32_t> key;
    bool isNull = false;
    SLFileSystem* fs = RegistryCandidate(&key, &isNull);
    const bool add = in_.ConsumeBool();
    const uint64_t before = Faults();
    SLResult result = 0;
    bool threw = false;
    try {
      result = add ? fss_->RegisterFileSystem(fss_, fs) : fss_->UnregisterFileSystem(fss_, fs);
    } catch (const ServiceObjectException& e) {
      threw = true;
      if (!SL_FAILED(e.code())) Fail("a raised non-failure", 0, e.code());
    }
    if (isNull) {
      Expect("Register/Unregister of null", 3, result);
      return Note(fss_, result);
    }
    if (fs == faulty_->fs()) {
      if (Faults() > before) {
        records_[AsObject(fs)] = Record{true, plan_.withRecord ? plan_.code : 0};
      }
      bool threwExpected = false;
      key = FaultyKey(before, &threwExpected);
      Expect("naming the fault-injecting file system raised", threwExpected, threw);
      if (threw) return;
    }
    if (!key) {
      Expect("a name entry failing with a record raises", 1, threw);
      return;  // the registry is unchanged and nothing is recorded
    }
    Expect("no exception", 0, threw);
    const auto entry = registry_.find(*key);
    if (add) {
      if (entry != registry_.end()) {
        Expect("RegisterFileSystem of a taken name", SL_ALREADY_EXISTS, result);
      } else {
        Expect("RegisterFileSystem", SL_OK, result);
        registry_[*key] = fs;
      }
    } else {
      if (entry == registry_.end()) {
        Expect("UnregisterFileSystem of a free name", SL_NOT_FOUND, result);
      } else {
        Expect("UnregisterFileSystem", SL_OK, result);
        registry_.erase(entry);
      }
    }
    Note(fss_, result);
  }

  void Lookup() {
    static const char* const kNames[] = {"Default", "Faulty", "Foreign", "Other"};
    uint32_t atom = 0;
    switch (in_.ConsumeIntegralInRange(0, 3)) {
      case 0:
        atom = 0;
        break;
      case 1:
        atom = SL_UNRESOLVED_ATOM;
        break;
      case 2:
        atom = in_.ConsumeIntegralInRange<uint32_t>(0, 3);
        break;
      default:
        atom = Atom(in_.PickValueInArray(kNames));
        break;
    }
    const bool nullOut = in_.ConsumeIntegralInRange(0, 5) == 0;
    if (in_.ConsumeIntegralInRange(0, 5) == 0) {
      SLFileSystem* fs = nullptr;
      const SLResult result = fss_->GetDefaultFileSystem(fss_, nullOut ? nullptr : &fs);
      Note(fss_, result);
      if (nullOut) return Expect("GetDefaultFileSystem(null)", 3, result);
      Expect("GetDefaultFileSystem", SL_OK, result);
      Expect("the default", reinterpret_cast<uintptr_t>(defaultFs_),
             reinterpret_cast<uintptr_t>(fs));
      AsObject(fs)->header.Release(AsObject(fs));
      return;
    }
    SLFileSystem* const untouched = reinterpret_cast<SLFileSystem*>(uintptr_t{0x5E27});
    SLFileSystem* fs = untouched;
    const SLResult result =
        fss_->GetRegisteredFileSystemByName(fss_, atom, nullOut ? nullptr : &fs);
    Note(fss_, result);
    if (atom == 0 || nullOut) return Expect("lookup refused", 3, result);
    const auto entry = registry_.find(atom);
    if (entry == registry_.end()) {
      Expect("lookup of a free name", SL_NOT_FOUND, result);
      Expect("out pointer kept", reinterpret_cast<uintptr_t>(untouched),
             reinterpret_cast<uintptr_t>(fs));
      return;
    }
    Expect("lookup", SL_OK, result);
    Expect("the registered object", reinterpret_cast<uintptr_t>(entry->second),
           reinterpret_cast<uintptr_t>(fs));
    if (AsObject(fs)->header.Release != nullptr) AsObject(fs)->header.Release(AsObject(fs));
  }

  // ---------------------------------------------------------------- files
  Handle* PickHandle(bool* isNull) {
    *isNull = handles_.empty() || in_.ConsumeIntegralInRange(0, 7) == 0;
    if (*isNull) return nullptr;
    return &handles_[in_.ConsumeIntegralInRange<size_t>(0, handles_.size() - 1)];
  }
  // Whether a handle the harness holds (directly or in a stream) is open on `name`; with
  // `writersOnly`, one that can write.
  bool Held(const std::string& name, bool writersOnly) const {
    for (const Handle& h : handles_) {
      if (h.name == name && (h.writable || !writersOnly)) return true;
    }
    for (const auto& s : streams_) {
      if (s->file.name == name && (s->file.writable || !writersOnly)) return true;
    }
    return false;
  }
  // After the name is removed its handles keep the old file, which no longer has that name.
  void Unname(const std::string& name) {
    for (Handle& h : handles_) {
      if (h.name == name) h.name.clear();
    }
    for (const auto& s : streams_) {
      if (s->file.name == name) s->file.name.clear();
    }
  }

  void Open() {
    bool nullPath = false;
    std::string name;
    const std::u16string path = PathText(&nullPath, &name);
    const uint32_t mode = in_.ConsumeIntegralInRange<uint32_t>(0, 15);
    const bool nullOut = in_.ConsumeIntegralInRange(0, 7) == 0;
    SLFileSystem* fs = FileSystem();
    const uint64_t before = Faults();
    SLFileHandle file = reinterpret_cast<SLFileHandle>(uintptr_t{0x5E27});
    const SLResult result =
        fs->OpenFile(fs, nullPath ? nullptr : path.c_str(), mode, nullOut ? nullptr : &file);
    NoteFileSystem(fs, result, before);
    if (Tracing()) {
      std::fprintf(stderr, "  OpenFile %s mode %u: %u -> %p\n", name.c_str(), mode, result, file);
    }
    if (Faults() > before) return Expect("injected OpenFile", plan_.code, result);
    if (nullPath || nullOut || (mode & 7u) == 0) return Expect("OpenFile refused", 3, result);
    ExpectIn("OpenFile", result, {SL_OK, SL_OS_FAILURE, SL_NOT_FOUND, SL_ACCESS_DENIED});
    if (result != SL_OK) {
      Expect("failed OpenFile keeps the out pointer", 0x5E27, reinterpret_cast<uintptr_t>(file));
      return;
    }
    Handle h;
    h.file = file;
    h.readable = true;
    h.writable = (mode & (SL_OPEN_CREATE | SL_OPEN_WRITE)) != 0;
    // Only ordinary names are modelled; the others still get used, unmodelled.
    if (!name.empty() && name != "sub") {
      h.name = name;
      if ((mode & SL_OPEN_CREATE) != 0) {
        h.content.known = true;
        names_[name] = Known{true, ""};
      } else {
        h.content = names_[name];
      }
    }
    if (!h.name.empty() && Held(h.name, !h.writable)) Fail("sharing was not enforced", 0, 1);
    handles_.push_back(h);
  }

  // Gives a handle's modelled bytes back to its name when it closes.
  void Closed(const Handle& h) {
    if (!h.name.empty() && h.writable) names_[h.name] = h.content;
  }

  void Close() {
    bool isNull = false;
    Handle* h = PickHandle(&isNull);
    SLFileSystem* fs = FileSystem();
    const uint64_t before = Faults();
    const SLResult result = fs->CloseFile(fs, isNull ? nullptr : h->file);
    NoteFileSystem(fs, result, before);
    if (Faults() > before) return Expect("injected CloseFile", plan_.code, result);
    if (isNull) return Expect("CloseFile(null)", 3, result);
    Expect("CloseFile", SL_OK, result);
    Closed(*h);
    handles_.erase(handles_.begin() + (h - handles_.data()));
  }

  void Transfer() {
    bool isNull = false;
    Handle* h = PickHandle(&isNull);
    SLFileSystem* fs = FileSystem();
    const bool write = in_.ConsumeBool();
    const uint64_t size = in_.ConsumeIntegralInRange<uint64_t>(0, 9000);
    const bool nullBuffer = in_.ConsumeIntegralInRange(0, 9) == 0;
    const bool nullDone = in_.ConsumeIntegralInRange(0, 5) == 0;
    std::string buffer(size, '\0');
    for (uint64_t i = 0; i < size; ++i) buffer[i] = static_cast<char>(i * 13 + size);
    uint64_t done = 0xD0DE;
    const uint64_t before = Faults();
    const uint64_t writtenBefore = faulty_->bytesWritten();
    SLFileHandle file = isNull ? nullptr : h->file;
    void* data = nullBuffer ? nullptr : buffer.data();
    const SLResult result = write ? fs->WriteFile(fs, file, data, size, nullDone ? nullptr : &done)
                                  : fs->ReadFile(fs, file, data, size, nullDone ? nullptr : &done);
    NoteFileSystem(fs, result, before);
    const bool injected = Faults() > before;
    if (!injected && (isNull || nullBuffer || size == 0)) {
      Expect("ReadFile/WriteFile refused", 3, result);
      if (!nullDone) Expect("refused count kept", 0xD0DE, done);
      return;
    }
    if (injected) {
      Expect("injected ReadFile/WriteFile", plan_.code, result);
      // A partial transfer moved the position and perhaps the bytes (or failed below, with a
      // record there): no longer predicted.
      if (plan_.partialTransfers && !isNull) {
        Unknown(defaultFs_);
        h->positionKnown = false;
        h->content.known = false;
        if (write && faulty_->bytesWritten() > writtenBefore) ForgetName(h->name);
      }
      return;
    }
    if (write && !h->writable) {
      Expect("WriteFile on a read handle", SL_ACCESS_DENIED, result);
      return;
    }
    Expect(write ? "WriteFile" : "ReadFile", SL_OK, result);
    if (!h->positionKnown) {
      h->content.known = false;
      return;
    }
    if (write) {
      if (!nullDone) Expect("WriteFile count", size, done);
      if (h->content.known) {
        std::string& bytes = h->content.bytes;
        if (bytes.size() < h->position + size) bytes.resize(h->position + size, '\0');
        bytes.replace(h->position, size, buffer);
      }
      h->position += size;
      return;
    }
    if (!h->content.known) {
      if (nullDone)
        h->positionKnown = false;
      else
        h->position += done;
      return;
    }
    const std::string& bytes = h->content.bytes;
    const uint64_t expected =
        h->position >= bytes.size() ? 0 : std::min<uint64_t>(size, bytes.size() - h->position);
    if (!nullDone) Expect("ReadFile count", expected, done);
    if (expected > 0 && buffer.compare(0, expected, bytes, h->position, expected) != 0) {
      Fail("ReadFile bytes", 0, 1);
    }
    h->position += expected;
  }
  void ForgetName(const std::string& name) {
    if (!name.empty()) names_[name] = Known{};
  }

  void Position() {
    bool isNull = false;
    Handle* h = PickHandle(&isNull);
    SLFileSystem* fs = FileSystem();
    const int which = in_.ConsumeIntegralInRange(0, 3);
    const bool nullOut = in_.ConsumeIntegralInRange(0, 5) == 0;
    SLFileHandle file = isNull ? nullptr : h->file;
    uint64_t value = 0xD0DE;
    const uint64_t before = Faults();
    SLResult result = 0;
    int64_t target = 0;
    switch (which) {
      case 0:
        result = fs->GetFilePos(fs, file, nullOut ? nullptr : &value);
        break;
      case 1:
        result = fs->GetFileSize(fs, file, nullOut ? nullptr : &value);
        break;
      case 2: {
        static const int64_t kTargets[] = {0, 1, 100, 4095, 4096, 5000, -1, INT64_MIN};
        target = in_.PickValueInArray(kTargets);
        result = fs->SetFilePos(fs, file, target);
        break;
      }
      default:
        result = fs->FlushFile(fs, file);
        break;
    }
    NoteFileSystem(fs, result, before);
    if (Faults() > before) return Expect("injected position entry", plan_.code, result);
    if (isNull || (nullOut && which < 2)) {
      Expect("position entry refused", 3, result);
      return;
    }
    if (which == 3) {
      return Expect("FlushFile", h->writable ? SL_OK : SL_ACCESS_DENIED, result);
    }
    if (which == 2) {
      if (target < 0) return Expect("SetFilePos before the start", SL_OS_FAILURE, result);
      Expect("SetFilePos", SL_OK, result);
      h->position = static_cast<uint64_t>(target);
      h->positionKnown = true;
      return;
    }
    Expect("GetFilePos/GetFileSize", SL_OK, result);
    if (which == 0) {
      if (h->positionKnown) Expect("GetFilePos", h->position, value);
      h->position = value;
      h->positionKnown = true;
    } else if (h->content.known) {
      Expect("GetFileSize", h->content.bytes.size(), value);
    }
  }

  void Folders() {
    bool nullPath = false;
    std::string name;
    const std::u16string path = PathText(&nullPath, &name);
    SLFileSystem* fs = FileSystem();
    const SLChar16* text = nullPath ? nullptr : path.c_str();
    const int which = in_.ConsumeIntegralInRange(0, 4);
    const uint64_t before = Faults();
    SLResult result = 0;
    uint8_t exists = 0xEE;
    const bool nullOut = in_.ConsumeIntegralInRange(0, 5) == 0;
    switch (which) {
      case 0:
        result = fs->CreateFolder(fs, text);
        break;
      case 1:
        result = fs->CreateAllFolders(fs, text);
        break;
      case 2:
        result = fs->RemoveFolder(fs, text);
        break;
      case 3:
        result = fs->RemoveFile(fs, text);
        break;
      default:
        result = fs->IsFileExists(fs, text, nullOut ? nullptr : &exists);
        break;
    }
    NoteFileSystem(fs, result, before);
    if (Tracing()) std::fprintf(stderr, "  path entry %d %s: %u\n", which, name.c_str(), result);
    if (Faults() > before) return Expect("injected path entry", plan_.code, result);
    if (nullPath || (which == 4 && nullOut)) return Expect("path entry refused", 3, result);
    if (which == 4) {
      Expect("IsFileExists", SL_OK, result);
      if (exists > 1) Fail("exists flag", 1, exists);
      return;
    }
    ExpectIn("folder or file entry", result,
             {SL_OK, SL_INVALID_ARGUMENT, SL_OS_FAILURE, SL_NOT_FOUND, SL_ACCESS_DENIED,
              SL_ALREADY_EXISTS});
    if (which == 3 && result == SL_OK && !name.empty()) {
      if (Held(name, true)) Fail("a file open for writing was removed", 0, 1);
      Unname(name);
      names_.erase(name);
    }
    if (which == 2 && result == SL_OK) {
      // Every file that was inside is gone with it (it was empty).
      for (auto it = names_.begin(); it != names_.end();) {
        it = it->first.rfind(name + "\\", 0) == 0 ? names_.erase(it) : std::next(it);
      }
    }
  }

  void Search() {
    bool nullPattern = false;
    const std::u16string pattern = Pattern(&nullPattern);
    const bool nullOut = in_.ConsumeIntegralInRange(0, 7) == 0;
    SLFileSystem* fs = FileSystem();
    auto* const untouched = reinterpret_cast<SLFileSystemSearchResult*>(uintptr_t{0x5E27});
    SLFileSystemSearchResult* result = untouched;
    const uint64_t before = Faults();
    const SLResult code =
        fs->Search(fs, nullPattern ? nullptr : pattern.c_str(), nullOut ? nullptr : &result);
    NoteFileSystem(fs, code, before);
    if (Faults() > before) return Expect("injected Search", plan_.code, code);
    if (nullPattern || nullOut) return Expect("Search refused", 3, code);
    ExpectIn("Search", code, {SL_OK, SL_INVALID_ARGUMENT});
    if (code != SL_OK) {
      Expect("failed Search keeps the out pointer", 0x5E27, reinterpret_cast<uintptr_t>(result));
      return;
    }
    uint64_t count = 0;
    Expect("GetCount", SL_OK, result->GetCount(result, &count));
    if (count == 0) Fail("an empty search result", 1, 0);
    Expect("a new result's count", 1, AsObject(result)->header.GetRefCount(AsObject(result)));
    results_.push_back(result);
  }

  void ReadResult() {
    if (results_.empty()) return;
    const size_t index = in_.ConsumeIntegralInRange<size_t>(0, results_.size() - 1);
    SLFileSystemSearchResult* result = results_[index];
    if (in_.ConsumeIntegralInRange(0, 3) == 0) {
      Expect("releasing a result", 0, AsObject(result)->header.Release(AsObject(result)));
      results_.erase(results_.begin() + static_cast<std::ptrdiff_t>(index));
      records_.erase(AsObject(result));
      return;
    }
    uint64_t count = 0;
    const bool nullCount = in_.ConsumeIntegralInRange(0, 7) == 0;
    SLResult code = result->GetCount(result, nullCount ? nullptr : &count);
    Note(result, code);
    if (nullCount) return Expect("GetCount(null)", 3, code);
    const uint32_t at = in_.ConsumeIntegralInRange<uint32_t>(0, static_cast<uint32_t>(count) + 1);
    const bool nullName = in_.ConsumeIntegralInRange(0, 7) == 0;
    const SLChar16* const untouched = u"untouched";
    const SLChar16* name = untouched;
    code = result->GetFileInfo(result, at, nullName ? nullptr : &name);
    Note(result, code);
    if (nullName || at >= count) {
      Expect("GetFileInfo refused", 3, code);
      Expect("name kept", reinterpret_cast<uintptr_t>(untouched),
             reinterpret_cast<uintptr_t>(name));
      return;
    }
    Expect("GetFileInfo", SL_OK, code);
    size_t length = 0;
    for (; name[length] != 0; ++length) {
      if (name[length] == u'\\' || name[length] == u'/') Fail("a separator in a found name", 0, 1);
    }
    if (length == 0 || length > 259) Fail("found name length", 1, length);
    const SLChar16* again = nullptr;
    Expect("GetFileInfo again", SL_OK, result->GetFileInfo(result, at, &again));
    Expect("the same name each time", reinterpret_cast<uintptr_t>(name),
           reinterpret_cast<uintptr_t>(again));
  }

  void PathMapping() {
    SLFileSystem* fs = FileSystem();
    SLChar16 out[8] = {u'k'};
    const uint64_t before = Faults();
    const SLResult result =
        in_.ConsumeBool()
            ? fs->MakeDIPathFromPath(fs, nullptr, out, in_.ConsumeIntegral<uint64_t>())
            : fs->MakePathFromDIPath(fs, u"x", nullptr, 0);
    NoteFileSystem(fs, result, before);
    if (Faults() > before) return Expect("injected path mapping", plan_.code, result);
    Expect("path mapping maps nothing", SL_NOT_DONE, result);
    Expect("nothing written", u'k', out[0]);
  }

  // ---------------------------------------------------------------- streams
  void OpenStream() {
    if (streams_.size() >= 6) return;
    auto owned = std::make_unique<Stream>();
    Stream& s = *owned;
    s.kind = static_cast<StreamKind>(in_.ConsumeIntegralInRange(0, 4));
    const bool nullOut = in_.ConsumeIntegralInRange(0, 9) == 0;
    SLStreamHandle* out = nullOut ? nullptr : &s.handle;
    SLResult result = 0;
    bool refused = nullOut;
    switch (s.kind) {
      case StreamKind::kMemory: {
        s.source = in_.ConsumeBytesAsString(in_.ConsumeIntegralInRange<size_t>(0, 9000));
        const bool nullData = in_.ConsumeIntegralInRange(0, 9) == 0;
        refused = refused || nullData;
        streams_.push_back(std::move(owned));  // the block stays where the stream reads it
        Stream& placed = *streams_.back();
        result = ss_->OpenMemReadStream(ss_, nullData ? nullptr : placed.source.data(),
                                        placed.source.size(), nullOut ? nullptr : &placed.handle);
        Note(ss_, result);
        if (refused) {
          streams_.pop_back();
          return Expect("OpenMemReadStream refused", 3, result);
        }
        return Expect("OpenMemReadStream", SL_OK, result);
      }
      case StreamKind::kReadHandler:
      case StreamKind::kWriteHandler: {
        const bool nullHandler = in_.ConsumeIntegralInRange(0, 9) == 0;
        refused = refused || nullHandler;
        if (s.kind == StreamKind::kReadHandler) {
          s.source = in_.ConsumeBytesAsString(in_.ConsumeIntegralInRange<size_t>(0, 9000));
        }
        streams_.push_back(std::move(owned));
        Stream& placed = *streams_.back();
        static const SLReadHandler kReader = {&HandlerRead, &HandlerFlush, &HandlerClose};
        static const SLWriteHandler kWriter = {&HandlerWrite, &HandlerFlush, &HandlerClose};
        SLStreamHandle* placedOut = nullOut ? nullptr : &placed.handle;
        result =
            placed.kind == StreamKind::kReadHandler
                ? ss_->OpenReadStream(ss_, nullHandler ? nullptr : &kReader, &placed, placedOut)
                : ss_->OpenWriteStream(ss_, nullHandler ? nullptr : &kWriter, &placed, placedOut);
        Note(ss_, result);
        if (refused) {
          streams_.pop_back();
          return Expect("handler Open refused", 3, result);
        }
        return Expect("handler Open", SL_OK, result);
      }
      default:
        break;
    }
    // File streams: over a handle the harness gives up, through the default file system, the
    // fault-injecting one, or a host-made one whose table lacks the file entries.
    const int fsChoice = in_.ConsumeIntegralInRange(0, 9);
    SLFileSystem* fs = fsChoice == 0   ? nullptr
                       : fsChoice <= 4 ? defaultFs_
                       : fsChoice <= 8 ? faulty_->fs()
                                       : odd_[0]->fs();
    refused = refused || fs == nullptr;
    const bool bogus = fs == odd_[0]->fs();
    if (!refused && !bogus && handles_.empty()) return;
    size_t index = 0;
    if (!refused && !bogus) {
      index = in_.ConsumeIntegralInRange<size_t>(0, handles_.size() - 1);
      s.file = handles_[index];
    } else {
      s.file.file = reinterpret_cast<SLFileHandle>(uintptr_t{0xB06});
    }
    s.fs = fs;
    s.faultsAtOpen = Faults();
    const int32_t oddRefs = odd_[0]->refs;
    result = s.kind == StreamKind::kFileRead ? ss_->OpenFileReadStream(ss_, fs, s.file.file, out)
                                             : ss_->OpenFileWriteStream(ss_, fs, s.file.file, out);
    Note(ss_, result);
    if (refused) {
      Expect("file Open refused", 3, result);
      Expect("no reference taken", oddRefs, odd_[0]->refs);
      return;
    }
    Expect("file Open", SL_OK, result);
    if (!bogus) handles_.erase(handles_.begin() + static_cast<std::ptrdiff_t>(index));
    streams_.push_back(std::move(owned));
  }

  Stream* PickStream(bool* isNull) {
    *isNull = streams_.empty() || in_.ConsumeIntegralInRange(0, 9) == 0;
    if (*isNull) return nullptr;
    return streams_[in_.ConsumeIntegralInRange<size_t>(0, streams_.size() - 1)].get();
  }
  static bool IsInput(const Stream& s) {
    return s.kind == StreamKind::kMemory || s.kind == StreamKind::kFileRead ||
           s.kind == StreamKind::kReadHandler;
  }
  // Whether this stream's bytes can be predicted: a modelled file, no fault since its Open.
  bool Modelled(const Stream& s) const {
    return s.fs != odd_[0]->fs() && s.file.content.known && s.file.positionKnown &&
           Faults() == s.faultsAtOpen && (!Faulty(s.fs) || plan_.failAt == 0);
  }

  void UseStream() {
    bool isNull = false;
    Stream* s = PickStream(&isNull);
    const int which = in_.ConsumeIntegralInRange(0, 2);
    const bool nullDone = in_.ConsumeIntegralInRange(0, 9) == 0;
    SLStreamHandle handle = isNull ? nullptr : s->handle;
    uint64_t done = 0xD0DE;
    if (which == 2) {
      const SLResult result = ss_->FlushStream(ss_, handle);
      Note(ss_, result);
      if (!isNull && s->fs != nullptr) StreamTouchedFileSystem(*s);
      return Expect("FlushStream", isNull ? 3 : 0, result);
    }
    const uint64_t size = in_.ConsumeIntegralInRange<uint64_t>(0, 10000);
    std::string buffer(size, '\0');
    for (uint64_t i = 0; i < size; ++i) buffer[i] = static_cast<char>(i * 7 + size);
    const bool read = which == 0;
    const SLResult result =
        read ? ss_->ReadStream(ss_, handle, buffer.data(), size, nullDone ? nullptr : &done)
             : ss_->WriteStream(ss_, handle, buffer.data(), size, nullDone ? nullptr : &done);
    Note(ss_, result);
    if (isNull || nullDone || IsInput(*s) != read) {
      Expect("ReadStream/WriteStream refused", 3, result);
      Expect("refused count kept", 0xD0DE, done);
      return;
    }
    Expect("ReadStream/WriteStream", SL_OK, result);
    if (s->fs != nullptr) StreamTouchedFileSystem(*s);
    if (!read) {
      Expect("WriteStream count", size, done);
      s->written += buffer;
      return;
    }
    // What the stream delivers is always the next bytes of its source, never anything else.
    const std::string* source = nullptr;
    uint64_t from = 0;
    if (s->kind == StreamKind::kFileRead) {
      if (!Modelled(*s) || s->fs == odd_[0]->fs()) {
        if (s->fs == odd_[0]->fs()) Expect("a file system without ReadFile gives nothing", 0, done);
        return;
      }
      source = &s->file.content.bytes;
      from = s->file.position + s->delivered;
    } else {
      source = &s->source;
      from = s->delivered;
    }
    const uint64_t available = from >= source->size() ? 0 : source->size() - from;
    const uint64_t expected = s->ended ? 0 : std::min<uint64_t>(size, available);
    Expect("ReadStream count", expected, done);
    if (done > 0 && buffer.compare(0, done, *source, from, done) != 0) {
      Fail("ReadStream bytes", 0, 1);
    }
    if (done < size) s->ended = true;
    s->delivered += done;
  }

  // A stream over a file system may leave failures in that file system's records (flushing a
  // read handle fails, so do writes to it): after that they are not predicted.
  void StreamTouchedFileSystem(const Stream& s) {
    Unknown(s.fs);
    if (Faulty(s.fs)) Unknown(defaultFs_);
  }

  void CloseStream() {
    bool isNull = false;
    Stream* s = PickStream(&isNull);
    const SLResult result = ss_->CloseStream(ss_, isNull ? nullptr : s->handle);
    Expect("CloseStream", SL_OK, result);
    if (!isNull) Closed(s);
  }
  void Closed(Stream* s) {
    if (s->kind == StreamKind::kWriteHandler) {
      Expect("the write handler got every byte", 1, s->taken == s->written);
    }
    if (s->fs != nullptr) {
      StreamTouchedFileSystem(*s);
      // The stream closed the handle it owned: a writable one gives its bytes back to its name,
      // with what the stream wrote when that can be predicted.
      if (s->file.writable && !s->file.name.empty()) {
        if (!Modelled(*s)) {
          ForgetName(s->file.name);
        } else {
          Known content = s->file.content;
          if (s->kind == StreamKind::kFileWrite && !s->written.empty()) {
            const uint64_t at = s->file.position;
            if (content.bytes.size() < at + s->written.size()) {
              content.bytes.resize(at + s->written.size(), '\0');
            }
            content.bytes.replace(at, s->written.size(), s->written);
          }
          names_[s->file.name] = content;
        }
      }
    }
    for (size_t i = 0; i < streams_.size(); ++i) {
      if (streams_[i].get() == s) {
        streams_.erase(streams_.begin() + static_cast<std::ptrdiff_t>(i));
        break;
      }
    }
  }

  // ---------------------------------------------------------------- objects
  ServiceObject* PickObject() {
    std::vector<ServiceObject*> objects = {AsObject(fss_), AsObject(ss_), AsObject(defaultFs_)};
    for (SLFileSystemSearchResult* result : results_) objects.push_back(AsObject(result));
    return objects[in_.ConsumeIntegralInRange<size_t>(0, objects.size() - 1)];
  }

  void WeakReference() {
    if (!weak_.empty() && in_.ConsumeBool()) {
      const size_t index = in_.ConsumeIntegralInRange<size_t>(0, weak_.size() - 1);
      ServiceObjectWeakRef* weak = weak_[index];
      if (weak->IsAlive(weak) != 0) {
        ServiceObject* locked = weak->Lock(weak);
        if (locked == nullptr) Fail("Lock on a live object", 1, 0);
        const uint32_t count = locked->header.GetRefCount(locked);
        if (count < 2) Fail("a locked object's count", 2, count);
        locked->header.Release(locked);
      } else if (weak->Lock(weak) != nullptr) {
        Fail("Lock after destruction", 0, 1);
      }
      if (in_.ConsumeBool()) {
        weak->Release(weak);
        weak_.erase(weak_.begin() + static_cast<std::ptrdiff_t>(index));
      }
      return;
    }
    ServiceObject* object = PickObject();
    const bool nullOut = in_.ConsumeIntegralInRange(0, 5) == 0;
    ServiceObjectWeakRef* weak = nullptr;
    const SLResult result = object->header.GetWeakRef(object, nullOut ? nullptr : &weak);
    if (nullOut) return Expect("GetWeakRef(null)", 3, result);
    Expect("GetWeakRef", SL_OK, result);
    if (weak->IsAlive(weak) != 1) Fail("a new weak reference is alive", 1, 0);
    weak_.push_back(weak);
  }

  void ErrorInfo() {
    ServiceObject* object = PickObject();
    if (in_.ConsumeIntegralInRange(0, 5) == 0) {
      return Expect("GetErrorInfo(null)", 3, object->header.GetErrorInfo(object, nullptr, 0));
    }
    CheckRecord(object);
    CheckRecord(AsObject(faulty_->fs()));
  }

  void Counting() {
    ServiceObject* object = PickObject();
    const uint32_t count = object->header.GetRefCount(object);
    Expect("AddRef", count + 1, object->header.AddRef(object));
    Expect("Release", count, object->header.Release(object));
  }

  void ArmFaults() {
    sltest::FaultPlan plan;
    plan.failAt = in_.ConsumeIntegralInRange<uint64_t>(0, 12);
    plan.persistent = in_.ConsumeBool();
    plan.withRecord = in_.ConsumeBool();
    plan.partialTransfers = in_.ConsumeBool();
    static const SLResult kCodes[] = {SL_OS_FAILURE, SL_ACCESS_DENIED, SL_NOT_FOUND, 42};
    plan.code = in_.PickValueInArray(kCodes);
    plan.countedSlots = in_.ConsumeBool() ? sltest::kAllSlots : in_.ConsumeIntegral<uint32_t>();
    plan_ = plan;
    faulty_->Arm(plan);
    // Whatever the streams over it do from now on is no longer predicted.
    for (const auto& s : streams_) {
      if (Faulty(s->fs)) s->faultsAtOpen = ~uint64_t{0};
    }
  }

  // ---------------------------------------------------------------- the end
  void TearDown() {
    faulty_->Disarm();
    plan_ = sltest::FaultPlan{};
    while (!streams_.empty()) {
      Expect("CloseStream", SL_OK, ss_->CloseStream(ss_, streams_.back()->handle));
      Closed(streams_.back().get());
    }
    for (const Handle& h : handles_)
      Expect("CloseFile", SL_OK, defaultFs_->CloseFile(defaultFs_, h.file));
    handles_.clear();
    for (SLFileSystemSearchResult* result : results_) {
      Expect("releasing a result", 0, AsObject(result)->header.Release(AsObject(result)));
    }
    results_.clear();
    AsObject(defaultFs_)->header.Release(AsObject(defaultFs_));
    // The service releases what its registry still holds when it goes.
    Expect("the file-system service's last Release", 0,
           AsObject(fss_)->header.Release(AsObject(fss_)));
    Expect("the stream service's last Release", 0, AsObject(ss_)->header.Release(AsObject(ss_)));
    for (const auto& odd : odd_) {
      if (odd->counted) Expect("references of a host-made file system", 1, odd->refs);
    }
    Expect("references of the fault-injecting file system", 1, faulty_->refCount());
    faulty_.reset();  // releases the default file system: its last reference
    for (ServiceObjectWeakRef* weak : weak_) {
      if (weak->IsAlive(weak) != 0) Fail("an object outlived every reference", 0, 1);
      weak->Release(weak);
    }
  }

  FuzzedDataProvider& in_;
  SLFileSystemService* fss_ = nullptr;
  SLStreamService* ss_ = nullptr;
  SLFileSystem* defaultFs_ = nullptr;
  std::unique_ptr<FaultFileSystem> faulty_;
  sltest::FaultPlan plan_;
  std::vector<std::unique_ptr<OddFileSystem>> odd_;
  std::map<uint32_t, SLFileSystem*> registry_;
  std::map<std::string, Known> names_;
  std::vector<Handle> handles_;
  std::vector<std::unique_ptr<Stream>> streams_;
  std::vector<SLFileSystemSearchResult*> results_;
  std::vector<ServiceObjectWeakRef*> weak_;
  std::map<ServiceObject*, Record> records_;
};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  Root();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  {
    const InRoot inRoot;
    FuzzedDataProvider input(data, size);
    Interpreter(input).Run();
  }
  EmptyRoot();
  return 0;
}
