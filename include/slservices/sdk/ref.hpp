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

#include "slservices/core/counted_ptr.hpp"
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
// Host-made objects (sdk/object.hpp) say where their table is.
template <class T>
using IsHostObject = core::counted_detail::SaysWhereItsTableIs<T>;
}  // namespace ref_detail

// The object as seen through its header, and the reference entries called by the null rule.
using core::AddRefObject;
using core::ObjectOf;
using core::RefCountOf;
using core::ReleaseObject;

// One counted reference (slservices/core/counted_ptr.hpp: copying adds one, destroying or
// overwriting gives it back), with checked casts between interfaces.
template <class T>
class Ref : public core::CountedPtr<T> {
  using Counted = core::CountedPtr<T>;

 public:
  using Counted::Counted;
  Ref() = default;
  Ref(Counted counted) noexcept : Counted(std::move(counted)) {}  // NOLINT: the same reference
  // Takes over a reference the caller owns (an object handed out through an out pointer).
  static Ref Adopt(T* pointer) { return Ref(Counted::Adopt(pointer)); }
  // Adds a reference of its own to a borrowed object.
  static Ref Share(T* pointer) { return Ref(Counted::Share(pointer)); }

  // The same object seen as interface U, with a reference of its own; null when the object's
  // header names another interface.
  template <class U>
  Ref<U> As() const {
    ServiceObject* object = this->object();
    if (object == nullptr) return nullptr;
    constexpr uint32_t id = InterfaceTraits<U>::kId;
    if (id != 0 && object->header.interfaceId != id) return nullptr;
    return Ref<U>::Share(reinterpret_cast<U*>(object));
  }
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
