#include "module/class_registry.h"

#include <utility>

#include "runtime/atoms.h"

namespace sl::module {

ServiceFactoryRecord::ServiceFactoryRecord(ServiceFactoryRecord** head, const char* name,
                                           ServiceFactory make)
    : className(name), factory(std::move(make)), next(*head) {
  *head = this;
}

SLResult ClassList::Reflect(const ServiceObjectInfo** info, uint32_t* count) {
  if (info == nullptr || count == nullptr) return SL_INVALID_ARGUMENT;
  if (!built_.load()) {
    std::lock_guard<std::mutex> guard(buildLock_);
    if (!built_.load()) {
      // Built aside and moved in whole: when memory runs out on the way, the list stays empty
      // and unbuilt, and the next call starts again instead of appending to a partial list.
      std::vector<ServiceObjectInfo> built;
      for (ServiceFactoryRecord* record = *head_; record != nullptr; record = record->next) {
        built.push_back(ServiceObjectInfo{record->classAtom.load(), 0, record->className});
      }
      if (!built.empty()) built.push_back(ServiceObjectInfo{0, 0, nullptr});
      records_ = std::move(built);
      built_.store(true);
    }
  }
  if (records_.empty()) {
    *info = nullptr;
    *count = 0;
    return SL_NOT_FOUND;
  }
  *info = records_.data();
  *count = static_cast<uint32_t>(records_.size() - 1);
  return SL_OK;
}

SLResult CreateFromList(ServiceFactoryRecord* head, uint32_t classAtom, ServiceObject** object) {
  if (classAtom == 0 || object == nullptr) return SL_INVALID_ARGUMENT;
  ServiceFactoryRecord* match = nullptr;
  for (ServiceFactoryRecord* record = head; record != nullptr; record = record->next) {
    uint32_t atom = record->classAtom.load();
    if (atom == SL_UNRESOLVED_ATOM) {
      SODetails::GetAtomFromString(record->className, &atom);
      record->classAtom.store(atom);
    }
    // The atom as the library left it decides, the unresolved marker included: a request for
    // 0xFFFFFFFF finds the first record that the library could not resolve.
    if (atom == classAtom) {
      match = record;
      break;
    }
  }
  if (match == nullptr) return SL_NOT_FOUND;
  if (!match->factory) return SL_NO_OBJECT;
  SODetails::BasicServiceObjectPtr<ServiceObject> made = match->factory();
  if (!made) return SL_NO_OBJECT;
  *object = made.detach();
  return SL_OK;
}

}  // namespace sl::module
