// How an implementation class becomes a service object.
//
// An object is built in two stages. The interface stage is the generated base
// (SOImpl::Cpp<Interface>Base): it writes the header with null base entries and a stamp of 0,
// then the implementation's own data is constructed. The object stage is
// ServiceObjectT<Impl>: it sets up the ServiceObjectCore (count 1) and then writes the five
// base entries and the table stamp. If construction throws, the parts already built are torn
// down in reverse order and the memory is freed, so no object is handed out half-built.
//
// Memory layout: header (first member of the generated base), implementation data, core.
// Destruction runs in the opposite order of the layout's last two parts: the core (and with it
// the failure records) goes first, then the implementation's data, then the memory.
//
// The five base entries forward to the core: the same protocol (count, weak block, failure
// records, debug checks) that host objects built on the SDK use, slservices/core/object_core.hpp.
//
// Example:
//   struct SLFileSystemImpl
//       : SOImpl::CppSLFileSystemBase<SLFileSystemImpl, SODetails::ServiceObjectTraits> {...};
//   SLFileSystem* fs = SODetails::MakeServiceObject<SLFileSystemImpl>();  // count 1, caller's
#pragma once

#include <cstdint>
#include <new>
#include <utility>

#include "runtime/failure_report.h"
#include "runtime/object_core.h"
#include "slservices/sl_object.h"

namespace SODetails {

template <class Impl>
class ServiceObjectT final : public Impl {
 public:
  using Interface = typename Impl::Interface;

  template <class... Args>
  explicit ServiceObjectT(Args&&... args) : Impl(std::forward<Args>(args)...) {
    ServiceFunctionTable& header = this->table_.header;
    header.AddRef = &AddRefEntry;
    header.Release = &ReleaseEntry;
    header.GetRefCount = &GetRefCountEntry;
    header.GetWeakRef = &GetWeakRefEntry;
    header.GetErrorInfo = &GetErrorInfoEntry;
    this->table_.tableStamp = Impl::kTableStamp;
  }

  ServiceObjectT(const ServiceObjectT&) = delete;
  ServiceObjectT& operator=(const ServiceObjectT&) = delete;
  // Only the final Release destroys a module object. (Host objects may live on a host's stack,
  // so the check is the module's, not the shared core's.)
  ~ServiceObjectT() {
    SLSERVICES_DCHECK(core.RefCount() == 0, "an object destroyed while references to it remain");
  }

  Interface* AsInterface() { return &this->table_; }
  ServiceObject* AsObject() { return reinterpret_cast<ServiceObject*>(&this->table_); }

  // The object whose header is at `self`. The header is the first member of the standard-layout
  // generated base, so the header's address is the base's address.
  static ServiceObjectT* FromHeader(const void* self) {
    auto* base = reinterpret_cast<typename Impl::GlueBase*>(const_cast<void*>(self));
    auto* object = static_cast<ServiceObjectT*>(base);
    SLSERVICES_DCHECK(
        object->core.IsAlive(),
        "a call on an object that is no longer alive: a reference was released more often "
        "than it was taken, or the pointer is not a module object");
    return object;
  }

  ServiceObjectCore core;

 private:
  static uint32_t AddRefEntry(ServiceObject* self) { return FromHeader(self)->core.AddRef(); }

  static uint32_t ReleaseEntry(ServiceObject* self) {
    ServiceObjectT* object = FromHeader(self);
    const uint32_t left = object->core.Release();
    if (left == 0) delete object;
    return left;
  }

  static uint32_t GetRefCountEntry(ServiceObject* self) {
    return FromHeader(self)->core.RefCount();
  }

  static SLResult GetWeakRefEntry(ServiceObject* self, ServiceObjectWeakRef** weak) {
    return FromHeader(self)->core.GetWeakRef(self, weak);
  }

  static SLResult GetErrorInfoEntry(ServiceObject* self, SLErrorInfo* info, uint64_t) {
    return FromHeader(self)->core.GetErrorInfo(info);
  }
};

// What the generated bases need from the object runtime.
class ServiceObjectTraits {
 public:
  // The object (implementation and core) whose header is at `header`.
  template <class Impl>
  static ServiceObjectT<Impl>* ObjectOf(const void* header) {
    return ServiceObjectT<Impl>::FromHeader(header);
  }
};

// Builds an object in both stages; the caller owns its one reference.
template <class Impl, class... Args>
typename Impl::Interface* MakeServiceObject(Args&&... args) {
  return (new ServiceObjectT<Impl>(std::forward<Args>(args)...))->AsInterface();
}

}  // namespace SODetails
