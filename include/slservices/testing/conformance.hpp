// A conformance kit for file systems: drives any SLFileSystem through what the module's streams
// and the file-system registry rely on, and prints one line per check ("ok   ...", "FAIL ...:
// why", "skip ...: why") and a summary. Returns the number of failed checks. It is test tooling
// beside the host SDK, not part of it: its own target (slservices::testing), for the tests of
// a host's file system.
//
//   #include "slservices/testing/conformance.hpp"
//   sl::sdk::CheckOptions options;
//   options.scratch = u"/tmp/kit";          // a folder the kit may fill; empty: read-only
//   int failures = sl::sdk::CheckFileSystem(myFs->table(), options, std::cout);
//
// What it checks: the table header (id, name, size, "EOFT" after the entries, stamp, entries
// present); reference counts and weak references; every entry's argument checks (3 for null
// arguments, out arguments untouched); every failure leaves a record for the calling thread that
// GetErrorInfo reads back with the same code; a missing file gives 11; reads deliver the sample's
// bytes with positions that follow reads and seeks (also past the end, where reads give 0 bytes,
// and a negative seek fails without moving); search finds names, a search result is frozen at
// the call; a handle opened on one thread works on another, several threads read at once, and
// failure records are kept per thread. With a scratch folder, written bytes read back with the
// right positions and size, and folders and files are made and removed with the usual codes;
// without one, every entry that would change the file system must fail with a record and leave
// its out arguments untouched. On a writable file system checked without a scratch folder those
// checks fail, and the kit removes what they made.
//
// The kit calls the file system only through its table, as the module does, and releases every
// handle and object it made. It reads no more than the sample's first MiB (kSampleBytes), once
// per thread: a larger sample is checked on those bytes and on its reported size, so that its
// time and memory do not grow with the file's size (an archive member of a few GiB unpacked is
// checked as quickly as a small one). A file system that holds no file at all (an empty
// archive) has nothing to read: the checks that need a sample are skipped. Each check's line is
// flushed as the check ends, so a reader at the other end of a pipe sees it at once.
#ifndef SLSERVICES_TESTING_CONFORMANCE_HPP_
#define SLSERVICES_TESTING_CONFORMANCE_HPP_

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "slservices/sdk/error.hpp"
#include "slservices/sdk/file_system.hpp"
#include "slservices/sdk/ref.hpp"
#include "slservices/sdk/text.hpp"

namespace sl::sdk {

struct CheckOptions {
  // A folder of the file system that the kit may fill; it removes what it made. Empty: the file
  // system is treated as read-only.
  std::u16string scratch;
  // A file to read. Empty: the kit writes one in the scratch folder, or else finds one through
  // Search from the root.
  std::u16string sample;
  unsigned threads = 4;  // readers at once in the thread check
};

namespace conformance_detail {

// The most of a file the kit reads.
constexpr uint64_t kSampleBytes = uint64_t{1} << 20;

// Values written into out arguments before a call: still there afterwards means untouched.
constexpr uint64_t kSentinel64 = 0xA5A5A5A5A5A5A5A5u;
constexpr uint8_t kSentinel8 = 0xA5;
constexpr uint32_t kSentinel32 = 0xA5A5A5A5u;
inline SLFileHandle SentinelHandle() { return reinterpret_cast<SLFileHandle>(kSentinel64); }
inline SLFileSystemSearchResult* SentinelResult() {
  return reinterpret_cast<SLFileSystemSearchResult*>(kSentinel64);
}
inline const SLChar16* SentinelName() { return reinterpret_cast<const SLChar16*>(kSentinel64); }

struct Skipped {
  std::string why;
};

class Kit {
 public:
  Kit(SLFileSystem* fs, const CheckOptions& options) : fs_(fs), options_(options) {}

  SLFileSystem* fs() const { return fs_; }
  ServiceObject* object() const { return reinterpret_cast<ServiceObject*>(fs_); }
  bool writable() const { return !options_.scratch.empty(); }
  const CheckOptions& options() const { return options_; }
  const std::u16string& sample() const { return sample_; }
  // The sample's first bytes, at most kSampleBytes of them, and the size its file system gives.
  const std::string& bytes() const { return bytes_; }
  uint64_t size() const { return size_; }
  bool whole() const { return bytes_.size() == size_; }
  std::u16string Scratch(const char16_t* name) const { return options_.scratch + u"/" + name; }
  // A path in the sample's folder that no file has.
  std::u16string Missing() const { return Folder() + u"kit-no-such-file-7f3e"; }
  // The sample's folder with a trailing separator ("" for a bare name), and its last part.
  std::u16string Folder() const {
    const size_t cut = sample_.find_last_of(u"/\\");
    return cut == std::u16string::npos ? std::u16string() : sample_.substr(0, cut + 1);
  }
  std::u16string Name() const {
    const size_t cut = sample_.find_last_of(u"/\\");
    return cut == std::u16string::npos ? sample_ : sample_.substr(cut + 1);
  }

  // Finds or writes the sample and reads its first bytes once; an empty string when that worked.
  // Throws Skipped when the file system holds no file.
  std::string Prepare() {
    sample_ = options_.sample;
    if (sample_.empty() && writable()) {
      sample_ = Scratch(u"kit-sample.bin");
      std::string pattern(100000, '\0');
      for (size_t i = 0; i < pattern.size(); ++i)
        pattern[i] = static_cast<char>((i * 7 + i / 251) & 0xFF);
      if (!WriteWhole(sample_, pattern)) return "cannot write a sample in the scratch folder";
    }
    if (sample_.empty() && !FindSample(u"", 0)) {
      if (!rootListed_) return "Search of the root (\"/*\") fails";
      if (!unopened_.empty()) return "no file found through Search opens: " + ToUtf8(unopened_);
      throw Skipped{"no file found through Search: the file system holds folders only or nothing"};
    }
    File file = Open(sample_, SL_OPEN_READ);
    if (!file || SL_FAILED(fs_->GetFileSize(fs_, file.handle(), &size_))) {
      return "cannot open the sample " + ToUtf8(sample_) + " or learn its size";
    }
    std::optional<std::string> bytes = ReadRest(file.handle(), 4096);
    if (!bytes) return "cannot read the sample " + ToUtf8(sample_);
    bytes_ = std::move(*bytes);
    // A read that ends before the size it was told is a file cut short.
    if (bytes_.size() < std::min(size_, kSampleBytes)) {
      return "the sample's data ends at " + std::to_string(bytes_.size()) +
             " bytes, GetFileSize gives " + std::to_string(size_);
    }
    return "";
  }
  void Cleanup() {
    if (writable() && options_.sample.empty()) fs_->RemoveFile(fs_, sample_.c_str());
  }

  // An open file, closed when it goes; empty when it does not open.
  File Open(const std::u16string& path, uint32_t mode, SLResult* code = nullptr) const {
    SLFileHandle handle = nullptr;
    const SLResult result = fs_->OpenFile(fs_, path.c_str(), mode, &handle);
    if (code != nullptr) *code = result;
    return File(Ref<SLFileSystem>::Share(fs_), result == SL_OK ? handle : nullptr);
  }
  File OpenSample() const {
    File handle = Open(sample_, SL_OPEN_READ);
    if (!handle) throw Failure("the sample does not open for reading");
    return handle;
  }

  // The rest of the file from where the handle stands, `chunk` bytes per ReadFile, up to
  // kSampleBytes bytes in all.
  std::optional<std::string> ReadRest(SLFileHandle handle, uint64_t chunk) const {
    std::string all;
    std::string buffer(static_cast<size_t>(chunk), '\0');
    while (all.size() < kSampleBytes) {
      uint64_t done = 0;
      if (SL_FAILED(fs_->ReadFile(fs_, handle, buffer.data(), chunk, &done))) return std::nullopt;
      if (done == 0 || done > chunk)
        return done == 0 ? std::optional<std::string>(all) : std::nullopt;
      all.append(buffer.data(), static_cast<size_t>(done));
    }
    all.resize(static_cast<size_t>(kSampleBytes));
    return all;
  }
  std::optional<std::string> ReadWhole(const std::u16string& path, uint64_t chunk) const {
    File handle = Open(path, SL_OPEN_READ);
    if (!handle) return std::nullopt;
    return ReadRest(handle.handle(), chunk);
  }
  bool WriteWhole(const std::u16string& path, const std::string& bytes) const {
    File handle = Open(path, SL_OPEN_CREATE);
    if (!handle) return false;
    uint64_t done = 0;
    return !SL_FAILED(fs_->WriteFile(fs_, handle.handle(), bytes.data(), bytes.size(), &done)) &&
           done == bytes.size() && Try([&] { handle.Close(); }).code == SL_OK;
  }
  uint64_t Position(SLFileHandle handle) const {
    uint64_t position = kSentinel64;
    const SLResult code = fs_->GetFilePos(fs_, handle, &position);
    if (SL_FAILED(code)) throw Failure("GetFilePos failed with " + HexCode(code));
    return position;
  }

  // Leaves a failure record whose code is not `avoid`, so that a record read afterwards is
  // known to come from the call under test.
  void Prime(SLResult avoid) const {
    if (avoid != SL_INVALID_ARGUMENT) {
      fs_->GetFileSystemName(fs_, nullptr);
    } else {
      SLFileHandle handle = nullptr;
      if (fs_->OpenFile(fs_, Missing().c_str(), SL_OPEN_READ, &handle) == SL_OK) {
        fs_->CloseFile(fs_, handle);
      }
    }
  }
  // Empty when `code` is a failure (`expected` when non-zero) and the calling thread's record
  // holds the same code and a message.
  std::string Recorded(SLResult code, const std::string& call, SLResult expected = 0) const {
    if (!SL_FAILED(code)) return call + " gave " + HexCode(code) + ", not a failure";
    if (expected != 0 && code != expected) {
      return call + " gave " + HexCode(code) + ", expected " + HexCode(expected);
    }
    const std::optional<ErrorRecord> record = ReadErrorRecord(object());
    if (!record) return call + " failed with " + HexCode(code) + " but left no failure record";
    if (record->code != code) {
      return call + " failed with " + HexCode(code) + " but the thread's record holds " +
             HexCode(record->code);
    }
    if (record->message.empty()) return call + ": the failure record has no message";
    return "";
  }
  // Primes, runs the failing call and checks its record.
  std::string FailsRecorded(const std::string& call, SLResult expected,
                            const std::function<SLResult()>& body) const {
    Prime(expected == 0 ? SL_INVALID_ARGUMENT : expected);
    return Recorded(body(), call, expected);
  }

  static ServiceError Failure(const std::string& why) { return ServiceError(SL_OS_FAILURE, why); }

 private:
  // Looks for a file that opens for reading, a few folders deep from `folder`. A name that
  // neither opens nor can be searched into is a file that does not open (`unopened_`).
  bool FindSample(const std::u16string& folder, int depth) {
    if (depth > 3) return false;
    Ref<SLFileSystemSearchResult> result;
    const std::u16string pattern = folder + u"/*";
    if (fs_->Search(fs_, pattern.c_str(), result.put()) != SL_OK) {
      if (depth == 0) rootListed_ = false;
      if (depth > 0 && unopened_.empty()) unopened_ = folder;
      return false;
    }
    uint64_t count = 0;
    result->GetCount(result.get(), &count);
    std::vector<std::u16string> folders;
    for (uint32_t i = 0; i < count && i < 64; ++i) {
      const SLChar16* name = nullptr;
      if (result->GetFileInfo(result.get(), i, &name) != SL_OK) continue;
      const std::u16string path = folder + u"/" + name;
      if (std::u16string_view(name) == u"." || std::u16string_view(name) == u"..") continue;
      if (Open(path, SL_OPEN_READ)) {
        sample_ = path;
        return true;
      }
      folders.push_back(path);
    }
    for (const std::u16string& below : folders) {
      if (FindSample(below, depth + 1)) return true;
    }
    return false;
  }

  SLFileSystem* fs_;
  CheckOptions options_;
  std::u16string sample_;
  std::string bytes_;
  uint64_t size_ = 0;
  bool rootListed_ = true;
  std::u16string unopened_;
};

// One check: its name and what it does, giving an empty string when it passes, the reason
// when not; it may throw Skipped, or a ServiceError that counts as a failure.
struct KitCheck {
  std::string name;
  std::function<std::string(Kit&)> run;
};

// The first reason that is not empty.
inline std::string FirstOf(std::initializer_list<std::string> reasons) {
  for (const std::string& reason : reasons) {
    if (!reason.empty()) return reason;
  }
  return "";
}

inline std::vector<KitCheck> TableChecks() {
  return {
      {"table header: id, name, size, EOFT after the entries, stamp",
       [](Kit& kit) -> std::string {
         const ServiceFunctionTable& header = kit.fs()->header;
         if (header.interfaceId != SL_FILESYSTEM_ID)
           return "interface id " + HexCode(header.interfaceId);
         if (header.interfaceName == nullptr ||
             std::strcmp(header.interfaceName, "SLFileSystem") != 0) {
           return "interface name is not \"SLFileSystem\"";
         }
         if (header.tableSize < SL_FILESYSTEM_TABLE_SIZE || header.tableSize % 8 != 0) {
           return "table size " + std::to_string(header.tableSize) +
                  " (at least 136, a multiple of 8)";
         }
         const char* end = reinterpret_cast<const char*>(kit.fs()) + 56 + header.tableSize;
         if (std::memcmp(end, SL_END_OF_TABLE_MARKER, 4) != 0)
           return "no \"EOFT\" after the entries";
         uint32_t stamp = 0;
         std::memcpy(&stamp, end + 4, 4);
         return stamp == 0 ? "the table stamp is 0" : "";
       }},
      {"table entries: the five base entries and all 17 entries present",
       [](Kit& kit) -> std::string {
         const ServiceFunctionTable& header = kit.fs()->header;
         if (!header.AddRef || !header.Release || !header.GetRefCount || !header.GetWeakRef ||
             !header.GetErrorInfo) {
           return "a base entry is null";
         }
         void* entries[17];
         std::memcpy(entries, reinterpret_cast<const char*>(kit.fs()) + 56, sizeof(entries));
         for (int i = 0; i < 17; ++i) {
           if (entries[i] == nullptr) return "entry " + std::to_string(i) + " is null";
         }
         return "";
       }},
      {"references: AddRef, Release and GetRefCount move by one",
       [](Kit& kit) -> std::string {
         ServiceObject* object = kit.object();
         const uint32_t count = object->header.GetRefCount(object);
         const uint32_t added = object->header.AddRef(object);
         const uint32_t seen = object->header.GetRefCount(object);
         const uint32_t released = object->header.Release(object);
         if (count == 0) return "GetRefCount gives 0 on a live object";
         if (added != count + 1 || seen != count + 1) return "AddRef does not add one";
         if (released != count || object->header.GetRefCount(object) != count) {
           return "Release does not take one away";
         }
         return "";
       }},
      {"weak reference: Lock gives the object back while it lives",
       [](Kit& kit) -> std::string {
         ServiceObject* object = kit.object();
         ServiceObjectWeakRef* weak = nullptr;
         if (object->header.GetWeakRef(object, &weak) != SL_OK || weak == nullptr) {
           return "GetWeakRef failed";
         }
         const uint32_t count = object->header.GetRefCount(object);
         const bool alive = weak->IsAlive(weak) == 1;
         ServiceObject* locked = weak->Lock(weak);
         const uint32_t during = object->header.GetRefCount(object);
         if (locked != nullptr) object->header.Release(locked);
         weak->Release(weak);
         if (!alive) return "IsAlive is not 1 on a live object";
         if (locked != object) return "Lock did not give the object back";
         return during == count + 1 ? "" : "Lock did not add a reference";
       }},
      {"GetErrorInfo: a null record pointer gives 3",
       [](Kit& kit) -> std::string {
         const SLResult code = kit.object()->header.GetErrorInfo(kit.object(), nullptr, 0);
         return code == SL_INVALID_ARGUMENT ? "" : "gave " + HexCode(code);
       }},
      {"GetFileSystemName: writes the name atom, the same each time",
       [](Kit& kit) -> std::string {
         uint32_t first = kSentinel32, second = 0;
         if (kit.fs()->GetFileSystemName(kit.fs(), &first) != SL_OK ||
             kit.fs()->GetFileSystemName(kit.fs(), &second) != SL_OK) {
           return "GetFileSystemName failed";
         }
         return first == kSentinel32 ? "the atom was not written"
                : first != second    ? "two calls gave two atoms"
                                     : "";
       }},
  };
}

// Every entry with a null argument: 3, recorded, out arguments untouched.
inline std::vector<KitCheck> NullArgumentChecks() {
  struct Row {
    const char* entry;
    std::function<SLResult(Kit&, uint64_t* out)> call;  // leaves its out argument in *out
  };
  static char byte = 0;
  const std::vector<Row> rows = {
      {"GetFileSystemName(null)",
       [](Kit& k, uint64_t*) { return k.fs()->GetFileSystemName(k.fs(), nullptr); }},
      {"CreateFolder(null)",
       [](Kit& k, uint64_t*) { return k.fs()->CreateFolder(k.fs(), nullptr); }},
      {"CreateAllFolders(null)",
       [](Kit& k, uint64_t*) { return k.fs()->CreateAllFolders(k.fs(), nullptr); }},
      {"RemoveFolder(null)",
       [](Kit& k, uint64_t*) { return k.fs()->RemoveFolder(k.fs(), nullptr); }},
      {"RemoveFile(null)", [](Kit& k, uint64_t*) { return k.fs()->RemoveFile(k.fs(), nullptr); }},
      {"OpenFile(null path)",
       [](Kit& k, uint64_t* out) {
         SLFileHandle handle = SentinelHandle();
         const SLResult code = k.fs()->OpenFile(k.fs(), nullptr, SL_OPEN_READ, &handle);
         *out = reinterpret_cast<uint64_t>(handle);
         return code;
       }},
      {"OpenFile(null handle pointer)",
       [](Kit& k, uint64_t*) {
         return k.fs()->OpenFile(k.fs(), k.sample().c_str(), SL_OPEN_READ, nullptr);
       }},
      {"CloseFile(null)", [](Kit& k, uint64_t*) { return k.fs()->CloseFile(k.fs(), nullptr); }},
      {"IsFileExists(null path)",
       [](Kit& k, uint64_t* out) {
         uint8_t exists = kSentinel8;
         const SLResult code = k.fs()->IsFileExists(k.fs(), nullptr, &exists);
         *out = exists == kSentinel8 ? kSentinel64 : exists;
         return code;
       }},
      {"IsFileExists(null flag)",
       [](Kit& k, uint64_t*) { return k.fs()->IsFileExists(k.fs(), k.sample().c_str(), nullptr); }},
      {"ReadFile(null handle)",
       [](Kit& k, uint64_t* out) { return k.fs()->ReadFile(k.fs(), nullptr, &byte, 1, out); }},
      {"ReadFile(null buffer)",
       [](Kit& k, uint64_t* out) {
         File file = k.OpenSample();
         return k.fs()->ReadFile(k.fs(), file.handle(), nullptr, 1, out);
       }},
      {"ReadFile(size 0)",
       [](Kit& k, uint64_t* out) {
         File file = k.OpenSample();
         return k.fs()->ReadFile(k.fs(), file.handle(), &byte, 0, out);
       }},
      {"WriteFile(null handle)",
       [](Kit& k, uint64_t* out) { return k.fs()->WriteFile(k.fs(), nullptr, &byte, 1, out); }},
      {"FlushFile(null)", [](Kit& k, uint64_t*) { return k.fs()->FlushFile(k.fs(), nullptr); }},
      {"GetFilePos(null handle)",
       [](Kit& k, uint64_t* out) { return k.fs()->GetFilePos(k.fs(), nullptr, out); }},
      {"GetFilePos(null position)",
       [](Kit& k, uint64_t*) {
         File file = k.OpenSample();
         return k.fs()->GetFilePos(k.fs(), file.handle(), nullptr);
       }},
      {"SetFilePos(null)",
       [](Kit& k, uint64_t*) { return k.fs()->SetFilePos(k.fs(), nullptr, 0); }},
      {"GetFileSize(null handle)",
       [](Kit& k, uint64_t* out) { return k.fs()->GetFileSize(k.fs(), nullptr, out); }},
      {"GetFileSize(null size)",
       [](Kit& k, uint64_t*) {
         File file = k.OpenSample();
         return k.fs()->GetFileSize(k.fs(), file.handle(), nullptr);
       }},
      {"Search(null pattern)",
       [](Kit& k, uint64_t* out) {
         SLFileSystemSearchResult* result = SentinelResult();
         const SLResult code = k.fs()->Search(k.fs(), nullptr, &result);
         *out = reinterpret_cast<uint64_t>(result);
         return code;
       }},
      {"Search(null result pointer)",
       [](Kit& k, uint64_t*) { return k.fs()->Search(k.fs(), u"*", nullptr); }},
  };
  std::vector<KitCheck> checks;
  for (const Row& row : rows) {
    checks.push_back({std::string("null argument: ") + row.entry + " gives 3, out untouched",
                      [row](Kit& kit) -> std::string {
                        uint64_t out = kSentinel64;
                        const std::string recorded = kit.FailsRecorded(
                            row.entry, SL_INVALID_ARGUMENT, [&] { return row.call(kit, &out); });
                        if (!recorded.empty()) return recorded;
                        return out == kSentinel64 ? "" : "the out argument was written";
                      }});
  }
  return checks;
}

inline std::vector<KitCheck> ReadChecks() {
  return {
      {"OpenFile: a mode without bits 1, 2 or 4 gives 3, handle untouched",
       [](Kit& kit) -> std::string {
         for (uint32_t mode : {0u, 8u}) {
           SLFileHandle handle = SentinelHandle();
           const std::string recorded = kit.FailsRecorded(
               "OpenFile(mode " + std::to_string(mode) + ")", SL_INVALID_ARGUMENT,
               [&] { return kit.fs()->OpenFile(kit.fs(), kit.sample().c_str(), mode, &handle); });
           if (!recorded.empty()) return recorded;
           if (handle != SentinelHandle()) return "the handle was written";
         }
         return "";
       }},
      {"OpenFile: a missing file gives 11, handle untouched",
       [](Kit& kit) -> std::string {
         SLFileHandle handle = SentinelHandle();
         const std::string recorded = kit.FailsRecorded("OpenFile(missing)", SL_NOT_FOUND, [&] {
           return kit.fs()->OpenFile(kit.fs(), kit.Missing().c_str(), SL_OPEN_READ, &handle);
         });
         if (!recorded.empty()) return recorded;
         return handle == SentinelHandle() ? "" : "the handle was written";
       }},
      {"ReadFile: the sample reads whole in any chunk size; GetFileSize agrees",
       [](Kit& kit) -> std::string {
         for (uint64_t chunk : {7u, 1000u, 65536u}) {
           File file = kit.OpenSample();
           uint64_t size = kSentinel64;
           if (kit.fs()->GetFileSize(kit.fs(), file.handle(), &size) != SL_OK)
             return "GetFileSize failed";
           if (size != kit.size()) return "GetFileSize gives " + std::to_string(size);
           const std::optional<std::string> bytes = kit.ReadRest(file.handle(), chunk);
           if (!bytes) return "a read failed or reported more than asked";
           if (*bytes != kit.bytes())
             return "different bytes in chunks of " + std::to_string(chunk);
         }
         return "";
       }},
      {"positions: GetFilePos after each read is the count read so far; 0 bytes at the end",
       [](Kit& kit) -> std::string {
         File file = kit.OpenSample();
         if (kit.Position(file.handle()) != 0) return "a new handle is not at 0";
         char buffer[1000];
         uint64_t total = 0;
         for (;;) {
           uint64_t done = kSentinel64;
           if (kit.fs()->ReadFile(kit.fs(), file.handle(), buffer, sizeof(buffer), &done) != SL_OK) {
             return "a read failed";
           }
           if (done == kSentinel64) return "done was not written";
           total += done;
           if (kit.Position(file.handle()) != total) {
             return "after " + std::to_string(total) + " bytes GetFilePos gives " +
                    std::to_string(kit.Position(file.handle()));
           }
           if (done == 0) return total == kit.size() ? "" : "the reads ended early";
           if (total >= kit.bytes().size() && !kit.whole()) return "";
         }
       }},
      {"SetFilePos: reads after seeks back and forth give the sample's bytes there",
       [](Kit& kit) -> std::string {
         const uint64_t size = kit.bytes().size();  // seeks stay among the bytes the kit knows
         if (size < 2) throw Skipped{"the sample is shorter than 2 bytes"};
         File file = kit.OpenSample();
         for (uint64_t at : {size / 2, uint64_t{1}, size - 1, uint64_t{0}, size / 3}) {
           if (kit.fs()->SetFilePos(kit.fs(), file.handle(), static_cast<int64_t>(at)) != SL_OK) {
             return "SetFilePos(" + std::to_string(at) + ") failed";
           }
           if (kit.Position(file.handle()) != at)
             return "GetFilePos after SetFilePos(" + std::to_string(at) + ")";
           char buffer[100];
           uint64_t done = 0;
           kit.fs()->ReadFile(kit.fs(), file.handle(), buffer, sizeof(buffer), &done);
           const uint64_t expected = std::min<uint64_t>(sizeof(buffer), kit.size() - at);
           const uint64_t known = std::min(expected, size - at);
           if (done != expected || kit.bytes().compare(at, known, buffer, known) != 0) {
             return "wrong bytes read at " + std::to_string(at);
           }
           if (kit.Position(file.handle()) != at + done)
             return "GetFilePos after reading at " + std::to_string(at);
         }
         return "";
       }},
      {"SetFilePos past the end: accepted, GetFilePos gives it, reads give 0 bytes",
       [](Kit& kit) -> std::string {
         File file = kit.OpenSample();
         const uint64_t beyond = kit.size() + 1000;
         if (kit.fs()->SetFilePos(kit.fs(), file.handle(), static_cast<int64_t>(beyond)) != SL_OK) {
           return "SetFilePos past the end failed";
         }
         if (kit.Position(file.handle()) != beyond) return "GetFilePos does not give the position set";
         char buffer[16];
         uint64_t done = kSentinel64;
         const SLResult code =
             kit.fs()->ReadFile(kit.fs(), file.handle(), buffer, sizeof(buffer), &done);
         return code != SL_OK ? "reading there gave " + HexCode(code)
                : done != 0   ? "reading there gave bytes"
                              : "";
       }},
      {"SetFilePos -1: fails with a record, the position stays",
       [](Kit& kit) -> std::string {
         File file = kit.OpenSample();
         const int64_t at = static_cast<int64_t>(std::min<size_t>(5, kit.bytes().size()));
         kit.fs()->SetFilePos(kit.fs(), file.handle(), at);
         const std::string recorded = kit.FailsRecorded(
             "SetFilePos(-1)", 0, [&] { return kit.fs()->SetFilePos(kit.fs(), file.handle(), -1); });
         if (!recorded.empty()) return recorded;
         return kit.Position(file.handle()) == static_cast<uint64_t>(at) ? "" : "the position moved";
       }},
      {"FlushFile on a read handle (streams flush them): succeeds or leaves a record",
       [](Kit& kit) -> std::string {
         File file = kit.OpenSample();
         kit.Prime(SL_INVALID_ARGUMENT);
         const SLResult code = kit.fs()->FlushFile(kit.fs(), file.handle());
         return SL_FAILED(code) ? kit.Recorded(code, "FlushFile") : "";
       }},
      {"IsFileExists: 1 for the sample and its folder, 0 for a missing path",
       [](Kit& kit) -> std::string {
         uint8_t sample = kSentinel8, missing = kSentinel8, folder = 1;
         const std::u16string parent = kit.Folder().size() > 1
                                           ? kit.Folder().substr(0, kit.Folder().size() - 1)
                                           : std::u16string(u"/");
         if (kit.fs()->IsFileExists(kit.fs(), kit.sample().c_str(), &sample) != SL_OK ||
             kit.fs()->IsFileExists(kit.fs(), kit.Missing().c_str(), &missing) != SL_OK ||
             kit.fs()->IsFileExists(kit.fs(), parent.c_str(), &folder) != SL_OK) {
           return "IsFileExists failed";
         }
         return sample != 1    ? "the sample does not exist"
                : missing != 0 ? "a missing path exists"
                : folder != 1  ? "the sample's folder does not exist"
                               : "";
       }},
  };
}

inline std::vector<std::u16string> Names(SLFileSystemSearchResult* result) {
  uint64_t count = 0;
  result->GetCount(result, &count);
  std::vector<std::u16string> names;
  for (uint32_t i = 0; i < count; ++i) {
    const SLChar16* name = nullptr;
    if (result->GetFileInfo(result, i, &name) == SL_OK && name != nullptr) names.emplace_back(name);
  }
  return names;
}

inline std::vector<KitCheck> SearchChecks() {
  return {
      {"Search: a '*' in the sample's folder finds the sample",
       [](Kit& kit) -> std::string {
         Ref<SLFileSystemSearchResult> result;
         const std::u16string pattern = kit.Folder() + u"*";
         if (kit.fs()->Search(kit.fs(), pattern.c_str(), result.put()) != SL_OK)
           return "Search failed";
         const std::vector<std::u16string> names = Names(result.get());
         return std::find(names.begin(), names.end(), kit.Name()) != names.end()
                    ? ""
                    : "the sample's name is not among " + std::to_string(names.size()) + " names";
       }},
      {"Search: a name without wildcards gives that one name",
       [](Kit& kit) -> std::string {
         Ref<SLFileSystemSearchResult> result;
         if (kit.fs()->Search(kit.fs(), kit.sample().c_str(), result.put()) != SL_OK)
           return "Search failed";
         const std::vector<std::u16string> names = Names(result.get());
         return names == std::vector<std::u16string>{kit.Name()} ? ""
                                                                 : "not exactly the sample's name";
       }},
      {"Search: nothing matches gives 3, result untouched",
       [](Kit& kit) -> std::string {
         SLFileSystemSearchResult* result = SentinelResult();
         const std::u16string pattern = kit.Missing() + u"*";
         const std::string recorded = kit.FailsRecorded(
             "Search(no match)", SL_INVALID_ARGUMENT,
             [&] { return kit.fs()->Search(kit.fs(), pattern.c_str(), &result); });
         if (!recorded.empty()) return recorded;
         return result == SentinelResult() ? "" : "the result pointer was written";
       }},
      {"search result: index = count gives 3, name untouched; a name keeps its address",
       [](Kit& kit) -> std::string {
         Ref<SLFileSystemSearchResult> result;
         const std::u16string pattern = kit.Folder() + u"*";
         if (kit.fs()->Search(kit.fs(), pattern.c_str(), result.put()) != SL_OK)
           return "Search failed";
         uint64_t count = 0;
         if (result->GetCount(result.get(), &count) != SL_OK || count == 0)
           return "GetCount gives no names";
         const SLChar16* name = SentinelName();
         if (result->GetFileInfo(result.get(), static_cast<uint32_t>(count), &name) !=
             SL_INVALID_ARGUMENT) {
           return "GetFileInfo(count) is not 3";
         }
         if (name != SentinelName()) return "GetFileInfo(count) wrote the name";
         const SLChar16* first = nullptr;
         const SLChar16* again = nullptr;
         result->GetFileInfo(result.get(), 0, &first);
         result->GetFileInfo(result.get(), 0, &again);
         return first != nullptr && first == again ? "" : "index 0 gives two addresses";
       }},
  };
}

inline std::vector<KitCheck> WriteChecks() {
  return {
      {"write and read back: bytes, positions and size",
       [](Kit& kit) -> std::string {
         const std::u16string path = kit.Scratch(u"kit-written.bin");
         std::string bytes(50000, '\0');
         for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 13 + 5);
         std::string why;
         {
           File file = kit.Open(path, SL_OPEN_CREATE);
           if (!file) return "OpenFile(create) failed";
           for (size_t at = 0; at < bytes.size() && why.empty(); at += 7000) {
             const uint64_t chunk = std::min<uint64_t>(7000, bytes.size() - at);
             uint64_t done = kSentinel64;
             if (kit.fs()->WriteFile(kit.fs(), file.handle(), bytes.data() + at, chunk, &done) !=
                     SL_OK ||
                 done != chunk) {
               why = "WriteFile failed or wrote less";
             } else if (kit.Position(file.handle()) != at + chunk) {
               why = "GetFilePos after a write";
             }
           }
           uint64_t size = 0;
           kit.fs()->GetFileSize(kit.fs(), file.handle(), &size);
           if (why.empty() && size != bytes.size()) why = "GetFileSize after writing";
         }
         if (why.empty()) {
           // Mode 2 writes over an existing file in place.
           File file = kit.Open(path, SL_OPEN_WRITE);
           uint64_t done = 0;
           if (!file || kit.fs()->SetFilePos(kit.fs(), file.handle(), 10) != SL_OK ||
               kit.fs()->WriteFile(kit.fs(), file.handle(), "XY", 2, &done) != SL_OK || done != 2) {
             why = "writing over an existing file failed";
           }
           bytes.replace(10, 2, "XY");
         }
         const std::optional<std::string> back =
             why.empty() ? kit.ReadWhole(path, 4096) : std::nullopt;
         if (why.empty() && back != bytes) why = "the bytes read back differ";
         kit.fs()->RemoveFile(kit.fs(), path.c_str());
         return why;
       }},
      {"folders and files: made, found, 16 when made twice, removed, 11 when missing",
       [](Kit& kit) -> std::string {
         const std::u16string folder = kit.Scratch(u"kit-folder");
         const std::u16string file = folder + u"/a.txt";
         std::string why;
         uint8_t exists = 0;
         if (kit.fs()->CreateFolder(kit.fs(), folder.c_str()) != SL_OK)
           return "CreateFolder failed";
         why = FirstOf(
             {kit.FailsRecorded("CreateFolder(again)", SL_ALREADY_EXISTS,
                                [&] { return kit.fs()->CreateFolder(kit.fs(), folder.c_str()); }),
              kit.WriteWhole(file, "a") ? "" : "a file in the new folder cannot be written"});
         if (why.empty()) {
           kit.fs()->RemoveFile(kit.fs(), file.c_str());
           kit.fs()->IsFileExists(kit.fs(), file.c_str(), &exists);
           why = FirstOf({exists == 0 ? "" : "a removed file still exists",
                          kit.FailsRecorded("RemoveFile(missing)", SL_NOT_FOUND, [&] {
                            return kit.fs()->RemoveFile(kit.fs(), file.c_str());
                          })});
         }
         kit.fs()->RemoveFile(kit.fs(), file.c_str());
         if (kit.fs()->RemoveFolder(kit.fs(), folder.c_str()) != SL_OK && why.empty())
           why = "RemoveFolder failed";
         kit.fs()->IsFileExists(kit.fs(), folder.c_str(), &exists);
         return why.empty() && exists != 0 ? "a removed folder still exists" : why;
       }},
      {"search results are frozen at the call",
       [](Kit& kit) -> std::string {
         const std::u16string folder = kit.Scratch(u"kit-frozen");
         const std::u16string pattern = folder + u"/*.txt";
         const std::u16string a = folder + u"/a.txt", b = folder + u"/b.txt";
         kit.fs()->CreateFolder(kit.fs(), folder.c_str());
         std::string why;
         Ref<SLFileSystemSearchResult> before;
         if (!kit.WriteWhole(a, "a") ||
             kit.fs()->Search(kit.fs(), pattern.c_str(), before.put()) != SL_OK) {
           why = "cannot write and search the scratch folder";
         } else {
           const std::vector<std::u16string> names = Names(before.get());
           kit.WriteWhole(b, "b");
           Ref<SLFileSystemSearchResult> after;
           kit.fs()->Search(kit.fs(), pattern.c_str(), after.put());
           why = names.size() != 1              ? "the first search did not find one file"
                 : Names(before.get()) != names ? "a result changed after a file was added"
                 : !after || Names(after.get()).size() != 2
                     ? "a new search does not see the new file"
                     : "";
         }
         kit.fs()->RemoveFile(kit.fs(), a.c_str());
         kit.fs()->RemoveFile(kit.fs(), b.c_str());
         kit.fs()->RemoveFolder(kit.fs(), folder.c_str());
         return why;
       }},
  };
}

// Without a scratch folder: nothing may change, and every refusal is a recorded failure.
inline std::vector<KitCheck> ReadOnlyChecks() {
  struct Row {
    const char* entry;
    std::function<SLResult(Kit&, const std::u16string& fresh, uint64_t* out)> call;
  };
  const std::vector<Row> rows = {
      {"CreateFolder", [](Kit& k, const std::u16string& fresh,
                          uint64_t*) { return k.fs()->CreateFolder(k.fs(), fresh.c_str()); }},
      {"CreateAllFolders",
       [](Kit& k, const std::u16string& fresh, uint64_t*) {
         return k.fs()->CreateAllFolders(k.fs(), fresh.c_str());
       }},
      {"RemoveFolder",
       [](Kit& k, const std::u16string&, uint64_t*) {
         const std::u16string folder = k.Folder().empty() ? u"/" : k.Folder();
         return k.fs()->RemoveFolder(k.fs(), folder.c_str());
       }},
      // A path that is not there: on a writable file system checked by mistake, nothing is lost.
      {"RemoveFile", [](Kit& k, const std::u16string& fresh,
                        uint64_t*) { return k.fs()->RemoveFile(k.fs(), fresh.c_str()); }},
      {"OpenFile(mode 2)",
       [](Kit& k, const std::u16string&, uint64_t* out) {
         SLFileHandle handle = SentinelHandle();
         const SLResult code = k.fs()->OpenFile(k.fs(), k.sample().c_str(), SL_OPEN_WRITE, &handle);
         if (code == SL_OK) k.fs()->CloseFile(k.fs(), handle);
         *out = reinterpret_cast<uint64_t>(handle);
         return code;
       }},
      {"OpenFile(mode 4)",
       [](Kit& k, const std::u16string& fresh, uint64_t* out) {
         SLFileHandle handle = SentinelHandle();
         const SLResult code = k.fs()->OpenFile(k.fs(), fresh.c_str(), SL_OPEN_CREATE, &handle);
         if (code == SL_OK) k.fs()->CloseFile(k.fs(), handle);
         *out = reinterpret_cast<uint64_t>(handle);
         return code;
       }},
      {"WriteFile on a read handle",
       [](Kit& k, const std::u16string&, uint64_t*) {
         File file = k.OpenSample();
         uint64_t done = 0;
         return k.fs()->WriteFile(k.fs(), file.handle(), "x", 1, &done);
       }},
  };
  std::vector<KitCheck> checks;
  for (const Row& row : rows) {
    checks.push_back({std::string("read-only: ") + row.entry + " fails, recorded, out untouched",
                      [row](Kit& kit) -> std::string {
                        const std::u16string fresh = kit.Folder() + u"kit-new-entry";
                        uint64_t out = kSentinel64;
                        std::string why = kit.FailsRecorded(
                            row.entry, 0, [&] { return row.call(kit, fresh, &out); });
                        if (why.empty() && out != kSentinel64) why = "the out argument was written";
                        kit.fs()->RemoveFile(kit.fs(), fresh.c_str());  // in case it was made
                        kit.fs()->RemoveFolder(kit.fs(), fresh.c_str());
                        const std::optional<std::string> after = kit.ReadWhole(kit.sample(), 65536);
                        return why.empty() && after != kit.bytes() ? "the sample changed" : why;
                      }});
  }
  return checks;
}

inline std::vector<KitCheck> ThreadChecks() {
  return {
      {"threads: a handle opened on one thread reads and closes on another",
       [](Kit& kit) -> std::string {
         File file = kit.OpenSample();
         std::optional<std::string> bytes;
         SLResult closed = SL_OS_FAILURE;
         std::thread other([&] {
           bytes = kit.ReadRest(file.handle(), 4096);
           closed = Try([&] { file.Close(); }).code;
         });
         other.join();
         return bytes != kit.bytes() ? "wrong bytes on the other thread"
                : closed != SL_OK    ? "CloseFile on the other thread failed"
                                     : "";
       }},
      {"threads: several threads read the sample at once, each on its own handle",
       [](Kit& kit) -> std::string {
         const unsigned count = std::max(2u, kit.options().threads);
         std::vector<int> good(count, 0);
         std::vector<std::thread> threads;
         for (unsigned i = 0; i < count; ++i) {
           threads.emplace_back([&kit, &good, i] {
             const std::optional<std::string> bytes = kit.ReadWhole(kit.sample(), 1000 + 517 * i);
             good[i] = bytes == kit.bytes() ? 1 : 0;
           });
         }
         for (std::thread& thread : threads) thread.join();
         const auto wrong = std::count(good.begin(), good.end(), 0);
         return wrong == 0 ? "" : std::to_string(wrong) + " threads read wrong bytes";
       }},
      {"threads: failure records are kept per thread",
       [](Kit& kit) -> std::string {
         kit.fs()->GetFileSystemName(kit.fs(), nullptr);  // this thread: 3
         std::string other;
         std::thread thread([&] {
           SLFileHandle handle = nullptr;
           other = kit.Recorded(
               kit.fs()->OpenFile(kit.fs(), kit.Missing().c_str(), SL_OPEN_READ, &handle),
               "OpenFile(missing) on another thread");
         });
         thread.join();
         if (!other.empty()) return other;
         const std::optional<ErrorRecord> mine = ReadErrorRecord(kit.object());
         return mine && mine->code == SL_INVALID_ARGUMENT
                    ? ""
                    : "another thread's failure replaced this thread's record";
       }},
  };
}

}  // namespace conformance_detail

// Runs every check against `fs` and prints one line per check and a summary to `out`; returns
// the number of failed checks.
inline int CheckFileSystem(SLFileSystem* fs, const CheckOptions& options, std::ostream& out) {
  using namespace conformance_detail;
  if (fs == nullptr) {
    out << "FAIL file system: null\ncheck-fs: 1 check, 1 failure\n";
    return 1;
  }
  Kit kit(fs, options);
  std::vector<KitCheck> checks = TableChecks();
  const size_t sampleFree = checks.size();
  std::string prepared;
  checks.push_back({"sample: found, opened and read (its first MiB at most)", [&prepared](Kit& k) {
                      try {
                        prepared = k.Prepare();
                      } catch (const Skipped& none) {
                        prepared = none.why;
                        throw;
                      }
                      return prepared;
                    }});
  for (std::vector<KitCheck> more :
       {NullArgumentChecks(), ReadChecks(), SearchChecks(),
        options.scratch.empty() ? ReadOnlyChecks() : WriteChecks(), ThreadChecks()}) {
    checks.insert(checks.end(), more.begin(), more.end());
  }
  int failed = 0, skipped = 0;
  for (size_t i = 0; i < checks.size(); ++i) {
    const KitCheck& check = checks[i];
    std::string why;
    try {
      if (i > sampleFree && !prepared.empty()) throw Skipped{"no sample"};
      why = check.run(kit);
    } catch (const Skipped& skip) {
      out << "skip " << check.name << ": " << skip.why << std::endl;
      ++skipped;
      continue;
    } catch (const std::exception& error) {
      why = error.what();
    }
    if (why.empty()) {
      out << "ok   " << check.name << std::endl;
    } else {
      out << "FAIL " << check.name << ": " << why << std::endl;
      ++failed;
    }
  }
  kit.Cleanup();
  out << "check-fs: " << checks.size() << " checks, " << failed << " failed, " << skipped
      << " skipped (" << (options.scratch.empty() ? "read-only" : "writable") << ", sample "
      << ToUtf8(kit.sample()) << ")\n";
  return failed;
}

}  // namespace sl::sdk

#endif  // SLSERVICES_TESTING_CONFORMANCE_HPP_
