// Pieces shared by the files of the engine's C interface: engine strings and the
// reference-counted object frame (references to engine objects: cefapi/cef_ref.h).
#pragma once
#include <atomic>
#include <cstring>
#include <string>

#include "cefapi/cef_capi.h"
#include "cefapi/cef_ref.h"
#include "mapping.h"

namespace cefeng::capi {


inline std::string ToUtf8(const cef_string_t* s) {
  if (!s || !s->str) return std::string();
  return Utf16ToUtf8(s->str, s->length);
}

// A borrowed engine string over a UTF-16 text held by the caller.
struct View {
  std::u16string text;
  cef_string_t s{};
  explicit View(const std::string& utf8) : text(Utf8ToUtf16(utf8)) {
    s.str = text.data();
    s.length = text.size();
    s.dtor = nullptr;
  }
  const cef_string_t* get() const { return &s; }
};

inline cef_string_userfree_t UserFree(const std::string& utf8) {
  cef_string_userfree_t out = cef_string_userfree_utf16_alloc();
  std::u16string w = Utf8ToUtf16(utf8);
  cef_string_utf16_set(w.data(), w.size(), out, 1);
  return out;
}

// Reference-counted engine object: the C structure first, so that the engine's
// structure pointer is the object pointer.
template <class C, class Self>
struct Counted {
  C c;
  std::atomic<int> refs{1};
  Counted() {
    memset(&c, 0, sizeof c);
    c.base.size = sizeof(C);
    c.base.add_ref = [](cef_base_t* b) {
      reinterpret_cast<Self*>(b)->refs.fetch_add(1);
      return 1;
    };
    c.base.release = [](cef_base_t* b) {
      Self* s = reinterpret_cast<Self*>(b);
      if (s->refs.fetch_sub(1) == 1) {
        delete s;
        return 1;
      }
      return 0;
    };
    c.base.has_one_ref = [](cef_base_t* b) { return reinterpret_cast<Self*>(b)->refs.load() == 1 ? 1 : 0; };
  }
  static Self* From(void* p) { return reinterpret_cast<Self*>(p); }
  C* Handle() { return &c; }
};

}  // namespace cefeng::capi
