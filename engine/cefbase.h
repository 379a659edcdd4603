// Engine-callable objects and references to engine objects.
#pragma once

#include <atomic>
#include <cstddef>
#include <utility>

#include "cefapi/cef_capi.h"
#include "cefapi/cef_ref.h"  // TCefRef: references to engine objects

// A reference-counted program object that carries one engine structure. The
// object and the engine structure live in one memory block: a back-reference to
// the program object, immediately followed by the structure (size field set,
// reference-count slots set, every callback slot zero until a derived
// constructor fills it). The engine sees only the structure's address.
class TCefBaseOwn {
 public:
  explicit TCefBaseOwn(size_t structSize);
  virtual ~TCefBaseOwn();
  TCefBaseOwn(const TCefBaseOwn&) = delete;
  TCefBaseOwn& operator=(const TCefBaseOwn&) = delete;

  void AddRef() { FRefCount.fetch_add(1, std::memory_order_relaxed); }
  // Drops one reference; the object destroys itself at zero. True when destroyed.
  bool Release();
  bool HasOneRef() const { return FRefCount.load(std::memory_order_acquire) == 1; }
  int RefCount() const { return FRefCount.load(std::memory_order_acquire); }

  // The engine structure, without a new reference.
  template <class T>
  T* Data() {
    return reinterpret_cast<T*>(FData);
  }
  // The engine structure with a new reference: what the engine is handed.
  template <class T>
  T* Share() {
    AddRef();
    return Data<T>();
  }
  // The program object behind an engine structure that came from this class.
  static TCefBaseOwn* FromData(const void* data);
  template <class T>
  static T* Owner(const void* data) {
    return static_cast<T*>(FromData(data));
  }

 private:
  static int CEF_CALLBACK cb_add_ref(cef_base_t* self);
  static int CEF_CALLBACK cb_release(cef_base_t* self);
  static int CEF_CALLBACK cb_has_one_ref(cef_base_t* self);

  std::atomic<int> FRefCount{0};
  void* FBlock = nullptr;
  cef_base_t* FData = nullptr;
};

// A program reference to a TCefBaseOwn-derived object (adds on copy, releases on drop).
template <class T>
class TOwnRef {
 public:
  TOwnRef() = default;
  TOwnRef(T* p) : FPtr(p) {  // NOLINT: implicit from a new object
    if (FPtr) FPtr->AddRef();
  }
  TOwnRef(const TOwnRef& o) : TOwnRef(o.FPtr) {}
  TOwnRef(TOwnRef&& o) noexcept : FPtr(std::exchange(o.FPtr, nullptr)) {}
  TOwnRef& operator=(TOwnRef o) noexcept {
    std::swap(FPtr, o.FPtr);
    return *this;
  }
  ~TOwnRef() { reset(); }
  void reset() {
    if (T* p = std::exchange(FPtr, nullptr)) p->Release();
  }
  T* get() const { return FPtr; }
  T* operator->() const { return FPtr; }
  explicit operator bool() const { return FPtr != nullptr; }

 private:
  T* FPtr = nullptr;
};
