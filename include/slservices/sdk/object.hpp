// What every object a host makes for the module needs behind its table: a reference count
// (atomic; the last Release deletes the C++ object), weak references, and the calling thread's
// last failure for GetErrorInfo. FileSystemBase (sdk/file_system.hpp) builds on it.
//
// A host object is always created with MakeRef<T>(...) (it starts with one reference, which
// the Ref takes over) and never on the stack: the module may hold references of its own.
#ifndef SLSERVICES_SDK_OBJECT_HPP_
#define SLSERVICES_SDK_OBJECT_HPP_

#include <atomic>
#include <cstring>
#include <exception>
#include <map>
#include <mutex>
#include <new>
#include <string>
#include <thread>
#include <type_traits>

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

  uint32_t AddRef() { return static_cast<uint32_t>(refs_.fetch_add(1) + 1); }
  uint32_t RefCount() const { return static_cast<uint32_t>(refs_.load()); }
  uint32_t Release() {
    const int32_t left = refs_.fetch_sub(1) - 1;
    if (left != 0) return static_cast<uint32_t>(left);
    if (WeakBlock* block = weak_.load()) {
      {
        std::lock_guard<std::mutex> guard(block->lock);  // no Lock() is between check and AddRef
        block->owner.store(nullptr);
      }
      WeakBlock::Release(&block->entries);  // the object's own reference on its block
    }
    delete this;
    return 0;
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
      return Owner<Table>(self)->GetWeakRef(weak);
    };
    header.GetErrorInfo = [](ServiceObject* self, SLErrorInfo* info, uint64_t) {
      return Owner<Table>(self)->GetErrorInfo(info);
    };
    std::memcpy(shell.table.endMarker, SL_END_OF_TABLE_MARKER, 4);
    shell.table.tableStamp = stamp;
    shell.owner = this;
  }

  template <class Table>
  static HostObject* Owner(ServiceObject* self) {
    return reinterpret_cast<Shell<Table>*>(self)->owner;
  }

  // Fails the running entry with `code`, adding `detail` to the recorded message.
  static SLResult Fail(SLResult code, std::string detail) {
    PendingDetail() = std::move(detail);
    return code;
  }

  // Runs the body of one interface entry. No exception leaves it: a ServiceError gives its
  // code, anything else 7. A failing code is recorded for the calling thread as
  // "<DisplayName>::<entry>() failed, code: 0x...[: detail]".
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
        std::string message = FormatFailure(std::string(DisplayName()) + "::" + site.entry, code);
        if (!detail.empty()) message += ": " + detail;
        RecordFailure(code, message, site);
      } catch (...) {  // out of memory: the code still goes back
      }
    }
    return code;
  }

 private:
  struct WeakBlock {
    ServiceObjectWeakRef entries;  // first: the block's address is the entries'
    std::atomic<int32_t> count{1};
    std::atomic<HostObject*> owner{nullptr};
    std::mutex lock;

    static WeakBlock* Of(ServiceObjectWeakRef* self) { return reinterpret_cast<WeakBlock*>(self); }
    static uint32_t Release(ServiceObjectWeakRef* self) {
      WeakBlock* block = Of(self);
      const int32_t left = block->count.fetch_sub(1) - 1;
      if (left == 0) delete block;
      return static_cast<uint32_t>(left);
    }
    static ServiceObject* Lock(ServiceObjectWeakRef* self) {
      WeakBlock* block = Of(self);
      std::lock_guard<std::mutex> guard(block->lock);
      HostObject* owner = block->owner.load();
      return owner != nullptr && owner->TryAddRef() ? owner->object() : nullptr;
    }
  };

  struct Record {
    uint32_t code = 0;
    uint32_t line = 0;
    SLChar16 message[512] = {};
    const char* function = nullptr;
    const char* source = nullptr;
  };

  static std::string& PendingDetail() {
    static thread_local std::string detail;
    return detail;
  }

  // A reference only while another one still exists: a dying object is never revived.
  bool TryAddRef() {
    int32_t count = refs_.load();
    while (count > 0) {
      if (refs_.compare_exchange_weak(count, count + 1)) return true;
    }
    return false;
  }

  SLResult GetWeakRef(ServiceObjectWeakRef** weak) {
    if (weak == nullptr) return SL_INVALID_ARGUMENT;
    WeakBlock* block = weak_.load();
    if (block == nullptr) {
      WeakBlock* fresh = new (std::nothrow) WeakBlock;
      if (fresh == nullptr) return SL_OS_FAILURE;
      fresh->entries.AddRef = [](ServiceObjectWeakRef* self) {
        return static_cast<uint32_t>(WeakBlock::Of(self)->count.fetch_add(1) + 1);
      };
      fresh->entries.Release = &WeakBlock::Release;
      fresh->entries.GetRefCount = [](ServiceObjectWeakRef* self) {
        return static_cast<uint32_t>(WeakBlock::Of(self)->count.load());
      };
      fresh->entries.IsAlive = [](ServiceObjectWeakRef* self) {
        return static_cast<uint8_t>(WeakBlock::Of(self)->owner.load() != nullptr);
      };
      fresh->entries.Lock = &WeakBlock::Lock;
      fresh->owner.store(this);
      if (weak_.compare_exchange_strong(block, fresh)) {
        block = fresh;
      } else {
        delete fresh;  // another thread published first; `block` is its block
      }
    }
    block->count.fetch_add(1);
    *weak = &block->entries;
    return SL_OK;
  }

  SLResult GetErrorInfo(SLErrorInfo* info) {
    if (info == nullptr) return SL_INVALID_ARGUMENT;
    std::lock_guard<std::mutex> guard(recordsLock_);
    const auto found = records_.find(std::this_thread::get_id());
    if (found == records_.end()) {
      std::memset(info, 0, sizeof(*info));
      return SL_NOT_FOUND;
    }
    const Record& record = found->second;
    *info = SLErrorInfo{record.code, record.line, record.message, record.function, record.source};
    return SL_OK;
  }

  void RecordFailure(SLResult code, const std::string& message, const EntrySite& site) {
    const std::u16string text = ToUtf16(message);
    std::lock_guard<std::mutex> guard(recordsLock_);
    Record& record = records_[std::this_thread::get_id()];  // never moves while the object lives
    record.code = code;
    record.line = site.line;
    record.function = site.function;
    record.source = site.source;
    const size_t length = text.size() < 511 ? text.size() : 511;
    std::memset(record.message, 0, sizeof(record.message));
    std::memcpy(record.message, text.data(), length * sizeof(SLChar16));
  }

  std::atomic<int32_t> refs_{1};
  std::atomic<WeakBlock*> weak_{nullptr};
  std::mutex recordsLock_;
  std::map<std::thread::id, Record> records_;
};

}  // namespace sl::sdk

#endif  // SLSERVICES_SDK_OBJECT_HPP_
