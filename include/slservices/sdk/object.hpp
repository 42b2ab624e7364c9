// What every object a host makes for the module needs behind its table: a reference count
// (atomic; the last Release deletes the C++ object), weak references, and the calling thread's
// last failure for GetErrorInfo. FileSystemBase (sdk/file_system.hpp) builds on it. The base
// entries run the module's own object protocol (slservices/core/object_core.hpp), so host objects
// and module objects count, hand out weak references and keep records alike.
//
// A host object is normally created with MakeRef<T>(...): it starts with one reference, which
// the Ref takes over, and the last Release deletes it. It may also live on the stack or inside
// another object, as the tests' fakes do, when it outlives every reference handed out: its own
// first reference is then never released, so Release never deletes it, and every reference the
// module took (a registered file system, a file stream over it) must be given back before the
// object goes out of scope.
#ifndef SLSERVICES_SDK_OBJECT_HPP_
#define SLSERVICES_SDK_OBJECT_HPP_

#include <chrono>
#include <cstring>
#include <exception>
#include <new>
#include <string>
#include <thread>

#include "slservices/core/object_core.hpp"
#include "slservices/sdk/error.hpp"
#include "slservices/sdk/ref.hpp"
#include "slservices/sdk/text.hpp"

namespace sl::sdk {

class HostObject;

// Where an entry is, for the failure records it leaves.
struct EntrySite {
  const char* entry;     // "OpenFile"
  const char* function;  // "sl::sdk::FileSystemBase::OpenFile"
  const char* source;    // the header that holds the entry
  uint32_t line;
};

// The first bytes of a host object as others see it: its table, then a way back to its owner.
template <class Table>
struct Shell {
  Table table;
  HostObject* owner;
};

class HostObject {
 public:
  HostObject(const HostObject&) = delete;
  HostObject& operator=(const HostObject&) = delete;
  virtual ~HostObject() = default;

  // The object as the module sees it: the address of its table.
  virtual ServiceObject* object() = 0;
  // The name failure messages start with ("MemoryFileSystem::OpenFile() failed, ...").
  virtual const char* DisplayName() const = 0;

  uint32_t AddRef() { return core_.AddRef(); }
  uint32_t RefCount() const { return core_.RefCount(); }
  uint32_t Release() {
    const uint32_t left = core_.Release();
    if (left == 0) delete this;
    return left;
  }

 protected:
  HostObject() = default;

  // Writes a table: header, the five base entries, "EOFT" and the stamp. The interface entries
  // are the caller's to fill.
  template <class Table>
  void InitShell(Shell<Table>& shell, uint32_t id, const char* name, uint32_t stamp) {
    std::memset(&shell.table, 0, sizeof(Table));
    ServiceFunctionTable& header = shell.table.header;
    header.interfaceId = id;
    header.tableSize = static_cast<uint32_t>(sizeof(Table) - SL_HEADER_SIZE(0));
    header.interfaceName = name;
    header.AddRef = [](ServiceObject* self) { return Owner<Table>(self)->AddRef(); };
    header.Release = [](ServiceObject* self) { return Owner<Table>(self)->Release(); };
    header.GetRefCount = [](ServiceObject* self) { return Owner<Table>(self)->RefCount(); };
    header.GetWeakRef = [](ServiceObject* self, ServiceObjectWeakRef** weak) {
      return Owner<Table>(self)->GetWeakRef(self, weak);
    };
    header.GetErrorInfo = [](ServiceObject* self, SLErrorInfo* info, uint64_t) {
      return Owner<Table>(self)->core_.GetErrorInfo(info);
    };
    std::memcpy(shell.table.endMarker, SL_END_OF_TABLE_MARKER, 4);
    shell.table.tableStamp = stamp;
    shell.owner = this;
  }

  template <class Table>
  static HostObject* Owner(ServiceObject* self) {
    HostObject* owner = reinterpret_cast<Shell<Table>*>(self)->owner;
    SLSERVICES_DCHECK(
        owner->core_.IsAlive(),
        "a call on a host object that is no longer alive: a reference was released more "
        "often than it was taken");
    return owner;
  }

  // Fails the running entry with `code`, adding `detail` to the recorded message.
  static SLResult Fail(SLResult code, std::string detail) {
    PendingDetail() = std::move(detail);
    return code;
  }

  // Runs the body of one interface entry. No exception leaves it: a ServiceError gives its
  // code, anything else 7. A failing code is recorded for the calling thread with the entry's
  // failure text (slservices/core/failure_text.hpp) for DisplayName() and the entry, then
  // ": detail" when there is one.
  template <class Body>
  SLResult RunEntry(const EntrySite& site, Body&& body) noexcept {
    SLResult code = SL_OS_FAILURE;
    std::string detail;
    try {
      PendingDetail().clear();
      code = body();
      detail = std::move(PendingDetail());
    } catch (const ServiceError& error) {
      code = error.code(), detail = error.what();
    } catch (const ServiceObjectException& exception) {
      code = exception.code(), detail = FromModuleException(exception).what();
    } catch (const std::exception& exception) {
      code = SL_OS_FAILURE, detail = exception.what();
    } catch (...) {
      code = SL_OS_FAILURE, detail = "unknown exception";
    }
    if (SL_FAILED(code)) {
      try {
        std::string message;
        core::AppendEntryFailure(error_detail::AppendTo{message}, DisplayName(), site.entry, code);
        if (!detail.empty()) message += ": " + detail;
        RecordFailure(code, message, site);
      } catch (...) {  // out of memory: the code still goes back
      }
    }
    return code;
  }

 private:
  // The host's side of the protocol: records keyed by the standard library's thread id, the
  // spin flag's backoff through std::this_thread.
  struct HostProtocol {
    using ThreadKey = std::thread::id;
    static ThreadKey CurrentThread() { return std::this_thread::get_id(); }
    static void YieldThread() { std::this_thread::yield(); }
    static void SleepOneMillisecond() { std::this_thread::sleep_for(std::chrono::milliseconds(1)); }
  };

  static std::string& PendingDetail() {
    static thread_local std::string detail;
    return detail;
  }

  // No exception reaches the module: a weak block that cannot be allocated gives 7.
  SLResult GetWeakRef(ServiceObject* self, ServiceObjectWeakRef** weak) {
    try {
      return core_.GetWeakRef(self, weak);
    } catch (const std::bad_alloc&) {
      return SL_OS_FAILURE;
    }
  }

  void RecordFailure(SLResult code, const std::string& message, const EntrySite& site) {
    const std::u16string text = ToUtf16(message);
    ErrorInfo info;
    info.code = code;
    info.line = site.line;
    info.functionName = site.function;
    info.sourceFile = site.source;
    info.length = static_cast<uint32_t>(
        text.size() < ErrorInfo::kMessageUnits - 1 ? text.size() : ErrorInfo::kMessageUnits - 1);
    std::memcpy(info.message, text.data(), info.length * sizeof(SLChar16));
    core_.errors().Store(info);
  }

  core::ObjectCore<HostProtocol> core_;
};

}  // namespace sl::sdk

#endif  // SLSERVICES_SDK_OBJECT_HPP_
