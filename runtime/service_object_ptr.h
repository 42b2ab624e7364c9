// BasicServiceObjectPtr: a counted pointer to any service object, ours or a host's.
//
// Copying calls the object's AddRef, destroying or overwriting calls Release, moving transfers
// the reference. Each call is skipped when the pointer is null or the table holds a null entry
// for it, so an object without AddRef/Release is simply not counted.
//
// Thread safety: like a raw pointer; the counts it changes are atomic in the module's objects.
#pragma once

#include <utility>

#include "slservices/sl_object.h"

namespace SODetails {

template <class T>
class BasicServiceObjectPtr {
 public:
  BasicServiceObjectPtr() = default;
  BasicServiceObjectPtr(std::nullptr_t) {}

  // Adopts a reference the caller already owns (a new object's first reference).
  static BasicServiceObjectPtr Adopt(T* object) {
    BasicServiceObjectPtr ptr;
    ptr.object_ = object;
    return ptr;
  }
  // Takes a new reference to a borrowed object.
  static BasicServiceObjectPtr Share(T* object) {
    BasicServiceObjectPtr ptr;
    ptr.object_ = object;
    ptr.AddRef();
    return ptr;
  }

  BasicServiceObjectPtr(const BasicServiceObjectPtr& other) : object_(other.object_) { AddRef(); }
  BasicServiceObjectPtr(BasicServiceObjectPtr&& other) noexcept
      : object_(std::exchange(other.object_, nullptr)) {}
  template <class U>
  BasicServiceObjectPtr(BasicServiceObjectPtr<U>&& other) noexcept
      : object_(reinterpret_cast<T*>(other.Detach())) {}

  BasicServiceObjectPtr& operator=(BasicServiceObjectPtr other) noexcept {
    std::swap(object_, other.object_);
    return *this;
  }
  ~BasicServiceObjectPtr() { Reset(); }

  void Reset() {
    T* object = std::exchange(object_, nullptr);
    if (object == nullptr) return;
    ServiceObject* base = reinterpret_cast<ServiceObject*>(object);
    if (base->header.Release != nullptr) base->header.Release(base);
  }
  // Gives the reference to the caller.
  T* Detach() { return std::exchange(object_, nullptr); }

  T* get() const { return object_; }
  T* operator->() const { return object_; }
  explicit operator bool() const { return object_ != nullptr; }
  ServiceObject* AsObject() const { return reinterpret_cast<ServiceObject*>(object_); }

 private:
  void AddRef() {
    if (object_ == nullptr) return;
    ServiceObject* base = reinterpret_cast<ServiceObject*>(object_);
    if (base->header.AddRef != nullptr) base->header.AddRef(base);
  }

  T* object_ = nullptr;
};

}  // namespace SODetails
