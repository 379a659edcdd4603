// The library's place on the program's main loop (the GLib default context): when a
// paint or a notification waits, a source runs the engine's main-thread work at once
// or at its time, so it need not wait for the program's next work tick.
#pragma once

namespace cefeng::capi {

// Any thread. At most one source is pending (the earliest asked for).
void WakeMainLoop(int delayMs);
// Removes the pending source, before the library can be unloaded.
void CancelMainLoopWake();

}  // namespace cefeng::capi
