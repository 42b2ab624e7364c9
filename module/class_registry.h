// The registry of service classes: one static ServiceFactoryRecord per class, pushed at the
// head of one list while the library starts up, so the list runs from the last registered
// class to the first. Class atoms are resolved lazily through the host's atom library.
//
// Thread safety: the list is written only during start-up. Resolved atoms are stored
// atomically (always the same value for a record's fixed name) and the class list array is
// built once under a lock, so both exports may be called from any thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <vector>

#include "runtime/service_object_ptr.h"
#include "slservices/sl_module.h"

namespace sl::module {

using ServiceFactory = std::function<SODetails::BasicServiceObjectPtr<ServiceObject>()>;

struct ServiceFactoryRecord {
  // Registers the record at the head of `*head`.
  ServiceFactoryRecord(ServiceFactoryRecord** head, const char* name, ServiceFactory make);
  ServiceFactoryRecord(const ServiceFactoryRecord&) = delete;
  ServiceFactoryRecord& operator=(const ServiceFactoryRecord&) = delete;

  const char* className;
  std::atomic<uint32_t> classAtom{SL_UNRESOLVED_ATOM};
  ServiceFactory factory;  // may be empty
  ServiceFactoryRecord* next;
};

// The class list: built from the list at `head` on the first call, never rebuilt.
class ClassList {
 public:
  explicit ClassList(ServiceFactoryRecord* const* head) : head_(head) {}
  SLResult Reflect(const ServiceObjectInfo** info, uint32_t* count);

 private:
  ServiceFactoryRecord* const* head_;
  // Set once the array is complete. A build that runs out of memory leaves it clear, and the
  // next call builds again. Not a std::call_once: with some thread runtimes (ThreadSanitizer's,
  // for one) a once flag whose function throws stays locked, and the next call waits for ever.
  std::atomic<bool> built_{false};
  std::mutex buildLock_;
  std::vector<ServiceObjectInfo> records_;
};

// CreateServiceObject's work over the list at `head`.
SLResult CreateFromList(ServiceFactoryRecord* head, uint32_t classAtom, ServiceObject** object);

}  // namespace sl::module
