#include "main_loop.h"

#include <cstdint>
#include <mutex>

#include <glib.h>

#include "core.h"
#include "os_process.h"

namespace cefeng::capi {

// Like the engine on this platform, the library puts a source on the main loop's
// default context when a paint or a notification waits.
namespace {

std::mutex gWakeMutex;
guint gWakeSource = 0;     // guarded by gWakeMutex
uint64_t gWakeDueUs = 0;   // when the pending source runs; guarded by gWakeMutex

gboolean RunWake(gpointer) {
  {
    // A later request may have replaced this source by an earlier one.
    std::lock_guard<std::mutex> lock(gWakeMutex);
    if (gWakeSource == g_source_get_id(g_main_current_source())) gWakeSource = 0;
  }
  Engine::Get().DoWork();
  return G_SOURCE_REMOVE;
}

}  // namespace

void WakeMainLoop(int delayMs) {
  if (delayMs < 0) delayMs = 0;
  const uint64_t due = MonotonicUs() + uint64_t(delayMs) * 1000;
  std::lock_guard<std::mutex> lock(gWakeMutex);
  if (gWakeSource != 0) {
    if (gWakeDueUs <= due) return;
    g_source_remove(gWakeSource);
  }
  gWakeDueUs = due;
  gWakeSource = delayMs == 0 ? g_idle_add_full(G_PRIORITY_DEFAULT, RunWake, nullptr, nullptr)
                             : g_timeout_add_full(G_PRIORITY_DEFAULT, guint(delayMs), RunWake,
                                                  nullptr, nullptr);
}

void CancelMainLoopWake() {
  std::lock_guard<std::mutex> lock(gWakeMutex);
  if (gWakeSource != 0) g_source_remove(gWakeSource);
  gWakeSource = 0;
}

}  // namespace cefeng::capi
