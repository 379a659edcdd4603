// Watches -parentID like the host and then waits: it ends with status 1 when the
// watched process ends, or with 0 after -runMs (default 10000) or when stdin closes
// with -quitOnEof.
#include <chrono>
#include <cstdio>
#include <thread>

#include "host/switches.h"
#include "host/watchdog/suicideOrphan.h"

int main(int argc, char** argv) {
  SetProcessArguments(argc, argv);
  ISuicideOrphanRef watch = NewSuicideOrphan(1)->Watch(GetSwitchInt("parentID", 0));
  std::printf("%s\n", watch->Watching() ? "watching" : "idle");
  std::fflush(stdout);
  std::this_thread::sleep_for(std::chrono::milliseconds(GetSwitchInt("runMs", 10000)));
  auto before = std::chrono::steady_clock::now();
  watch.reset();  // stops the watch thread
  auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                std::chrono::steady_clock::now() - before).count();
  return ms < 900 ? 0 : 3;
}
