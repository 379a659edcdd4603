// The main thread's message loop (a GLib main loop on the default context).
#pragma once

#include <functional>

namespace platform {

// Runs the loop on the calling (main) thread until QuitMainLoop is requested.
// A quit requested before the loop runs makes the next RunMainLoop return at once.
void RunMainLoop();

// Thread-safe: asks the main loop to end (the quit message).
void QuitMainLoop();

// Thread-safe: runs `fn` once on the main loop's thread.
void InvokeOnMainLoop(std::function<void()> fn);

// A repeating timer on the main loop; `fn` runs every intervalMs on the main
// thread while it returns true. Returns an id for RemoveTimer (0 never).
unsigned AddTimer(unsigned intervalMs, std::function<bool()> fn);
void RemoveTimer(unsigned id);

// Dispatches every pending event of the main context once, without blocking.
void ProcessPendingEvents();

}  // namespace platform
