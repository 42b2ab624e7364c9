// Counted and weak references to service objects.
//
//   sl::sdk::Ref<SLFileSystem> fs;
//   service->GetDefaultFileSystem(service, fs.put());   // fs now owns the reference handed out
//   sl::sdk::Ref<SLFileSystem> copy = fs;               // AddRef
//   sl::sdk::WeakRef<SLFileSystem> weak = sl::sdk::MakeWeak(fs);
//   if (auto again = weak.Lock()) { ... }               // a new reference while the object lives
//
// Every base entry is called only when its pointer is non-null, so objects whose tables leave
// AddRef or Release empty are held without any bookkeeping.
#ifndef SLSERVICES_SDK_REF_HPP_
#define SLSERVICES_SDK_REF_HPP_

#include <cstddef>
#include <cstdint>
#include <type_traits>
#include <utility>

#include "slservices/slservices.h"

namespace sl::sdk {

// The identity of each interface, for checked casts.
template <class T>
struct InterfaceTraits;
template <>
struct InterfaceTraits<ServiceObject> {
  static constexpr uint32_t kId = 0;  // any interface
  static constexpr const char* kName = "ServiceObject";
};
template <>
struct InterfaceTraits<SLFileSystem> {
  static constexpr uint32_t kId = SL_FILESYSTEM_ID;
  static constexpr const char* kName = "SLFileSystem";
};
template <>
struct InterfaceTraits<SLFileSystemService> {
  static constexpr uint32_t kId = SL_FILESYSTEM_SERVICE_ID;
  static constexpr const char* kName = "SLFileSystemService";
};
template <>
struct InterfaceTraits<SLFileSystemSearchResult> {
  static constexpr uint32_t kId = SL_FILESYSTEM_SEARCH_RESULT_ID;
  static constexpr const char* kName = "SLFileSystemSearchResult";
};
template <>
struct InterfaceTraits<SLStreamService> {
  static constexpr uint32_t kId = SL_STREAM_SERVICE_ID;
  static constexpr const char* kName = "SLStreamService";
};

namespace ref_detail {

template <class T, class = void>
struct IsHostObject : std::false_type {};
// Host-made objects (sdk/object.hpp) say where their table is.
template <class T>
struct IsHostObject<T, std::void_t<decltype(std::declval<T&>().object())>> : std::true_type {};

}  // namespace ref_detail

// The object as seen through its header: an interface table or a host-made object.
template <class T>
ServiceObject* ObjectOf(T* pointer) {
  if (pointer == nullptr) return nullptr;
  if constexpr (ref_detail::IsHostObject<T>::value) {
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

// One counted reference: copying adds one, destroying or overwriting gives it back.
template <class T>
class Ref {
 public:
  Ref() = default;
  Ref(std::nullptr_t) {}  // NOLINT: a null reference converts implicitly
  // Takes over a reference the caller owns (an object handed out through an out pointer).
  static Ref Adopt(T* pointer) {
    Ref ref;
    ref.pointer_ = pointer;
    return ref;
  }
  // Adds a reference of its own to a borrowed object.
  static Ref Share(T* pointer) {
    Ref ref = Adopt(pointer);
    AddRefObject(ObjectOf(pointer));
    return ref;
  }

  Ref(const Ref& other) : pointer_(other.pointer_) { AddRefObject(ObjectOf(pointer_)); }
  Ref(Ref&& other) noexcept : pointer_(std::exchange(other.pointer_, nullptr)) {}
  template <class U, class = std::enable_if_t<std::is_convertible_v<U*, T*>>>
  Ref(const Ref<U>& other) : pointer_(other.get()) {  // NOLINT: derived to base
    AddRefObject(ObjectOf(pointer_));
  }
  template <class U, class = std::enable_if_t<std::is_convertible_v<U*, T*>>>
  Ref(Ref<U>&& other) noexcept : pointer_(other.detach()) {}  // NOLINT: derived to base
  Ref& operator=(Ref other) noexcept {
    std::swap(pointer_, other.pointer_);
    return *this;
  }
  ~Ref() { reset(); }

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

  // The same object seen as interface U, with a reference of its own; null when the object's
  // header names another interface.
  template <class U>
  Ref<U> As() const {
    ServiceObject* object = ObjectOf(pointer_);
    if (object == nullptr) return nullptr;
    constexpr uint32_t id = InterfaceTraits<U>::kId;
    if (id != 0 && object->header.interfaceId != id) return nullptr;
    return Ref<U>::Share(reinterpret_cast<U*>(object));
  }

  friend bool operator==(const Ref& a, const Ref& b) { return a.pointer_ == b.pointer_; }
  friend bool operator!=(const Ref& a, const Ref& b) { return a.pointer_ != b.pointer_; }

 private:
  T* pointer_ = nullptr;
};

template <class T, class... Args>
Ref<T> MakeRef(Args&&... args) {
  // A new object carries its first reference; the Ref takes it over.
  return Ref<T>::Adopt(new T(std::forward<Args>(args)...));
}

// One weak reference: the object's ServiceObjectWeakRef block, counted like a strong one.
template <class T = ServiceObject>
class WeakRef {
  static_assert(!ref_detail::IsHostObject<T>::value,
                "hold host objects weakly through their interface: WeakRef<SLFileSystem>");

 public:
  WeakRef() = default;
  // Takes over a weak reference the caller owns (from GetWeakRef).
  static WeakRef Adopt(ServiceObjectWeakRef* block) {
    WeakRef weak;
    weak.block_ = block;
    return weak;
  }
  WeakRef(const WeakRef& other) : block_(other.block_) {
    if (block_ != nullptr && block_->AddRef != nullptr) block_->AddRef(block_);
  }
  WeakRef(WeakRef&& other) noexcept : block_(std::exchange(other.block_, nullptr)) {}
  WeakRef& operator=(WeakRef other) noexcept {
    std::swap(block_, other.block_);
    return *this;
  }
  ~WeakRef() { reset(); }

  void reset() {
    ServiceObjectWeakRef* block = std::exchange(block_, nullptr);
    if (block != nullptr && block->Release != nullptr) block->Release(block);
  }
  ServiceObjectWeakRef* get() const { return block_; }
  explicit operator bool() const { return block_ != nullptr; }

  bool IsAlive() const {
    return block_ != nullptr && block_->IsAlive != nullptr && block_->IsAlive(block_) != 0;
  }
  // A new strong reference while the object lives; null once it is gone.
  Ref<T> Lock() const {
    if (block_ == nullptr || block_->Lock == nullptr) return nullptr;
    return Ref<T>::Adopt(reinterpret_cast<T*>(block_->Lock(block_)));
  }
  uint32_t WeakCount() const {
    return block_ != nullptr && block_->GetRefCount != nullptr ? block_->GetRefCount(block_) : 0;
  }

 private:
  ServiceObjectWeakRef* block_ = nullptr;
};

// Asks the object for a weak reference. Empty when the reference is null, the table has no
// GetWeakRef, or the entry fails; `result` receives the entry's code (11 when not called).
template <class T>
WeakRef<T> MakeWeak(const Ref<T>& strong, SLResult* result = nullptr) {
  ServiceObject* object = strong.object();
  ServiceObjectWeakRef* block = nullptr;
  SLResult code = SL_NOT_FOUND;
  if (object != nullptr && object->header.GetWeakRef != nullptr) {
    code = object->header.GetWeakRef(object, &block);
  }
  if (result != nullptr) *result = code;
  return code == SL_OK ? WeakRef<T>::Adopt(block) : WeakRef<T>();
}

}  // namespace sl::sdk

#endif  // SLSERVICES_SDK_REF_HPP_
