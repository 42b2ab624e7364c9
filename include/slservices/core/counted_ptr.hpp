// One counted reference to a service object, and the rule by which anyone calls an object's
// reference entries: AddRef, Release and GetRefCount are called only when the object pointer
// and the table's entry are both non-null, so objects whose tables leave them empty are held
// without any bookkeeping.
//
//   CountedPtr<SLFileSystem> fs = CountedPtr<SLFileSystem>::Adopt(handedOut);  // takes it over
//   CountedPtr<SLFileSystem> copy = fs;            // AddRef
//   copy.reset();                                  // Release
//   SLFileSystem* given = fs.detach();             // the caller owns the reference now
//
// The module holds its references in it (runtime/ names it BasicServiceObjectPtr); the SDK's
// Ref adds checked casts between interfaces on top of it.
//
// Thread safety: one CountedPtr is used by one thread at a time; the counts it changes are the
// object's, which are atomic.
#ifndef SLSERVICES_CORE_COUNTED_PTR_HPP_
#define SLSERVICES_CORE_COUNTED_PTR_HPP_

#include <cstddef>
#include <cstdint>
#include <type_traits>
#include <utility>

#include "slservices/sl_object.h"

namespace sl::core {

namespace counted_detail {

template <class T, class = void>
struct SaysWhereItsTableIs : std::false_type {};
// Objects made in C++ around a table (a host's objects) say where their table is.
template <class T>
struct SaysWhereItsTableIs<T, std::void_t<decltype(std::declval<T&>().object())>> : std::true_type {
};

}  // namespace counted_detail

// The object as seen through its header: an interface table, or a C++ object around one.
template <class T>
ServiceObject* ObjectOf(T* pointer) {
  if (pointer == nullptr) return nullptr;
  if constexpr (counted_detail::SaysWhereItsTableIs<T>::value) {
    return pointer->object();
  } else {
    return reinterpret_cast<ServiceObject*>(pointer);
  }
}

inline uint32_t AddRefObject(ServiceObject* object) {
  return object != nullptr && object->header.AddRef != nullptr ? object->header.AddRef(object) : 0;
}
inline uint32_t ReleaseObject(ServiceObject* object) {
  return object != nullptr && object->header.Release != nullptr ? object->header.Release(object)
                                                                : 0;
}
inline uint32_t RefCountOf(ServiceObject* object) {
  return object != nullptr && object->header.GetRefCount != nullptr
             ? object->header.GetRefCount(object)
             : 0;
}

// Copying adds a reference, destroying or overwriting gives it back, moving hands it on.
template <class T>
class CountedPtr {
 public:
  CountedPtr() = default;
  CountedPtr(std::nullptr_t) {}  // NOLINT: a null reference converts implicitly
  // Takes over a reference the caller owns (an object handed out through an out pointer, or a
  // newly built object with its first reference).
  static CountedPtr Adopt(T* pointer) {
    CountedPtr ref;
    ref.pointer_ = pointer;
    return ref;
  }
  // Adds a reference of its own to a borrowed object.
  static CountedPtr Share(T* pointer) {
    CountedPtr ref = Adopt(pointer);
    AddRefObject(ObjectOf(pointer));
    return ref;
  }

  CountedPtr(const CountedPtr& other) : pointer_(other.pointer_) {
    AddRefObject(ObjectOf(pointer_));
  }
  CountedPtr(CountedPtr&& other) noexcept : pointer_(std::exchange(other.pointer_, nullptr)) {}
  template <class U, class = std::enable_if_t<std::is_convertible_v<U*, T*>>>
  CountedPtr(const CountedPtr<U>& other) : pointer_(other.get()) {  // NOLINT: derived to base
    AddRefObject(ObjectOf(pointer_));
  }
  template <class U, class = std::enable_if_t<std::is_convertible_v<U*, T*>>>
  CountedPtr(CountedPtr<U>&& other) noexcept : pointer_(other.detach()) {}  // NOLINT: as above
  CountedPtr& operator=(CountedPtr other) noexcept {
    std::swap(pointer_, other.pointer_);
    return *this;
  }
  ~CountedPtr() { reset(); }

  void reset() {
    if (T* pointer = std::exchange(pointer_, nullptr)) ReleaseObject(ObjectOf(pointer));
  }
  // Gives up the reference without releasing it; the caller owns it now.
  T* detach() { return std::exchange(pointer_, nullptr); }
  // Receives a reference through an out pointer: `service->GetDefaultFileSystem(s, ref.put())`.
  T** put() {
    reset();
    return &pointer_;
  }

  T* get() const { return pointer_; }
  T* operator->() const { return pointer_; }
  T& operator*() const { return *pointer_; }
  explicit operator bool() const { return pointer_ != nullptr; }
  ServiceObject* object() const { return ObjectOf(pointer_); }
  uint32_t RefCount() const { return RefCountOf(object()); }

  friend bool operator==(const CountedPtr& a, const CountedPtr& b) {
    return a.pointer_ == b.pointer_;
  }
  friend bool operator!=(const CountedPtr& a, const CountedPtr& b) {
    return a.pointer_ != b.pointer_;
  }

 private:
  T* pointer_ = nullptr;
};

}  // namespace sl::core

#endif  // SLSERVICES_CORE_COUNTED_PTR_HPP_
