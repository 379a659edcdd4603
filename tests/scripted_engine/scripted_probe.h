// Reaching the scripted engine library's inspection functions from a test that
// loaded it through the engine loader (the functions are looked up by name).
#pragma once

#include <string>
#include <vector>

#include "engine/cefload.h"
#include "platform/dynlib.h"
#include "xml/exception.h"

namespace scripted {

template <class F>
F Fn(const char* name) {
  F f = reinterpret_cast<F>(platform::ResolveDynLibSymbol(CefLibraryHandle(), name));
  if (!f) throw Exception(std::string("scripted engine lacks ") + name);
  return f;
}

// The recorded calls of the program on the engine, in order.
inline std::vector<std::string> Calls() {
  std::vector<std::string> out;
  const int n = Fn<int (*)()>("scripted_call_count")();
  for (int i = 0; i < n; ++i) out.emplace_back(Fn<const char* (*)(int)>("scripted_call")(i));
  return out;
}
inline void ClearCalls() { Fn<void (*)()>("scripted_clear_calls")(); }
inline int Outstanding() { return Fn<int (*)()>("scripted_outstanding_refs")(); }
inline int WorkCount() { return Fn<int (*)()>("scripted_work_count")(); }

inline bool HasCall(const std::vector<std::string>& calls, const std::string& call) {
  for (const std::string& c : calls)
    if (c == call) return true;
  return false;
}
inline bool HasCallStartingWith(const std::vector<std::string>& calls, const std::string& prefix) {
  for (const std::string& c : calls)
    if (c.rfind(prefix, 0) == 0) return true;
  return false;
}

}  // namespace scripted
