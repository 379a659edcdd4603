// The Chromium behind the engine: its flags, its start on the DevTools pipe, its end,
// and the policy for starting it again after it ended on its own.
#pragma once
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "devtools.h"

namespace cefeng {

// Chromium's command line flags for a run with that user data folder and the
// engine's `locale` setting (the cache folder, the options' extra flags and the
// start page come on top); with `beginFrameControl`, pages are drawn only when asked.
std::vector<std::string> ChromiumArgs(const std::string& userDataDir,
                                      const std::string& locale = std::string(),
                                      bool beginFrameControl = false);
// Whether the executable is a headless shell, the build that offers begin-frame control.
bool IsHeadlessShell(const std::string& executable);
// The environment variables that keep Chromium's own configuration and cache
// folders inside the user data folder.
std::vector<std::string> FolderEnvironment(const std::string& userDataDir);
inline constexpr const char kHeadlessShell[] = "/usr/lib/chromium/chromium-headless-shell";
inline constexpr const char kChromium[] = "/usr/bin/chromium";
// The executable: `configured`, else $PV7_CHROMIUM, else the headless shell when it
// is installed, else /usr/bin/chromium.
std::string ChromiumExecutable(const std::string& configured);

struct RunningChromium {
  int pid = -1;
  std::shared_ptr<DevToolsPipe> pipe;
};

// Starts Chromium on its pipe, with `environment` ("NAME=value") on top of this
// process's, and waits for its first reply (at most timeoutMs); the pipe's events,
// end and failed replies go to the given functions. Chromium dies with the calling
// thread. False with `error` set when it does not answer.
bool LaunchChromium(const std::string& exe, const std::vector<std::string>& args,
                    const std::vector<std::string>& environment, int timeoutMs,
                    DevToolsPipe::EventFn onEvent, std::function<void()> onClosed,
                    DevToolsPipe::PostFn post, RunningChromium& out, std::string& error);
// Stops the pipe's reader and ends Chromium with its whole process group.
void StopChromium(RunningChromium& chromium);

// Chromium that ends on its own is started again, unless it is the third time within a
// minute.
class RestartPolicy {
 public:
  static constexpr uint64_t kWindowMs = 60000;
  static constexpr size_t kMaxCrashes = 3;
  using Clock = std::function<uint64_t()>;  // milliseconds, monotonic

  explicit RestartPolicy(Clock nowMs);
  // Notes a crash; false when Chromium is not to be started again.
  bool NoteCrash();
  size_t RecentCrashes() const { return crashTimesMs_.size(); }
  void Reset() { crashTimesMs_.clear(); }

 private:
  Clock nowMs_;
  std::deque<uint64_t> crashTimesMs_;
};

}  // namespace cefeng
