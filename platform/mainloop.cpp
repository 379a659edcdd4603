#include "platform/mainloop.h"

#include <glib.h>

#include <atomic>
#include <memory>

namespace platform {
namespace {

// Quit requests not yet acted on; a stale idle callback finds none and does nothing.
std::atomic<int> gQuitPending{0};
GMainLoop* gLoop = nullptr;  // set and cleared by RunMainLoop on the main thread

struct Call {
  std::function<void()> fn;
};

gboolean RunCall(gpointer data) {
  std::unique_ptr<Call> call(static_cast<Call*>(data));
  call->fn();
  return G_SOURCE_REMOVE;
}

struct Timer {
  std::function<bool()> fn;
};

gboolean RunTimer(gpointer data) {
  return static_cast<Timer*>(data)->fn() ? G_SOURCE_CONTINUE : G_SOURCE_REMOVE;
}

void FreeTimer(gpointer data) { delete static_cast<Timer*>(data); }

}  // namespace

void RunMainLoop() {
  if (gQuitPending.exchange(0) > 0) return;
  GMainLoop* loop = g_main_loop_new(nullptr, FALSE);
  gLoop = loop;
  // A quit posted between the check above and now is picked up here.
  if (gQuitPending.exchange(0) > 0) {
    gLoop = nullptr;
    g_main_loop_unref(loop);
    return;
  }
  g_main_loop_run(loop);
  gLoop = nullptr;
  g_main_loop_unref(loop);
}

void QuitMainLoop() {
  ++gQuitPending;
  // An idle source always runs on the thread that runs the loop (invoking could
  // run it on the calling thread while nobody owns the context).
  g_idle_add([](gpointer) -> gboolean {
    if (gLoop && gQuitPending.exchange(0) > 0) g_main_loop_quit(gLoop);
    return G_SOURCE_REMOVE;
  }, nullptr);
}

void InvokeOnMainLoop(std::function<void()> fn) {
  g_idle_add(RunCall, new Call{std::move(fn)});
}

unsigned AddTimer(unsigned intervalMs, std::function<bool()> fn) {
  return g_timeout_add_full(G_PRIORITY_DEFAULT, intervalMs, RunTimer, new Timer{std::move(fn)},
                            FreeTimer);
}

void RemoveTimer(unsigned id) {
  if (id != 0) g_source_remove(id);
}

void ProcessPendingEvents() {
  while (g_main_context_iteration(nullptr, FALSE)) {
  }
}

}  // namespace platform
