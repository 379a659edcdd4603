// References to engine objects (structures that begin with cef_base_t), counted
// through the object's own add_ref and release: the one helper the program and the
// engine library share for holding and handing on engine objects.
#pragma once

#include <utility>

#include "cefapi/cef_capi.h"

// Adds one reference to an engine object (null allowed); returns the object.
template <class T>
T* CefAddRef(T* p) {
  if (cef_base_t* b = reinterpret_cast<cef_base_t*>(p); b && b->add_ref) b->add_ref(b);
  return p;
}

// Drops one reference to an engine object (null allowed).
template <class T>
void CefRelease(T* p) {
  if (cef_base_t* b = reinterpret_cast<cef_base_t*>(p); b && b->release) b->release(b);
}

// A program reference to an engine object (adds on copy, releases on drop).
template <class T>
class TCefRef {
 public:
  TCefRef() = default;
  // Takes over a reference the engine handed out (argument or result).
  static TCefRef Adopt(T* p) {
    TCefRef r;
    r.FPtr = p;
    return r;
  }
  TCefRef(const TCefRef& o) : FPtr(CefAddRef(o.FPtr)) {}
  TCefRef(TCefRef&& o) noexcept : FPtr(std::exchange(o.FPtr, nullptr)) {}
  TCefRef& operator=(TCefRef o) noexcept {
    std::swap(FPtr, o.FPtr);
    return *this;
  }
  ~TCefRef() { reset(); }
  void reset() { CefRelease(std::exchange(FPtr, nullptr)); }
  T* get() const { return FPtr; }
  T* operator->() const { return FPtr; }
  explicit operator bool() const { return FPtr != nullptr; }
  // A new reference for handing on to the engine.
  T* Share() const { return CefAddRef(FPtr); }

 private:
  T* FPtr = nullptr;
};
