#include "chromium.h"

#include <algorithm>

#include "identity.h"
#include "os_process.h"

namespace cefeng {

namespace {
constexpr int kIdentityTimeoutMs = 5000;  // the client-hints probe at most

// The page target Chromium opens at its start (its start page), or empty.
std::string InitialPage(DevToolsPipe& pipe, int timeoutMs) {
  json r;
  if (!pipe.Call("Target.getTargets", json::object(), "", &r, timeoutMs)) return {};
  const json* infos = ArrayField(r, "targetInfos");
  if (!infos) return {};
  for (const json& info : *infos)
    if (info.is_object() && StringField(info, "type") == "page" && StringField(info, "openerId").empty())
      return StringField(info, "targetId");
  return {};
}

}  // namespace

std::vector<std::string> ChromiumArgs(const std::string& userDataDir, const std::string& locale,
                                      bool beginFrameControl) {
  std::vector<std::string> args = {"--headless",
                                   "--disable-gpu",
                                   "--no-first-run",
                                   "--no-default-browser-check",
                                   "--disable-background-networking",
                                   "--disable-component-update",
                                   "--disable-sync",
                                   "--disable-popup-blocking",
                                   "--disable-background-timer-throttling",
                                   "--disable-renderer-backgrounding",
                                   "--disable-backgrounding-occluded-windows",
                                   // One process per page: cross-site frames stay in the
                                   // page's target, so its scripts, request hook and
                                   // console reach them too.
                                   "--disable-site-isolation-trials",
                                   "--remote-debugging-pipe",
                                   "--user-data-dir=" + userDataDir};
  if (RunningAsRoot()) args.push_back("--no-sandbox");
  // Pages are drawn when the library asks, at the browser's frame rate.
  if (beginFrameControl) {
    args.push_back("--enable-begin-frame-control");
    args.push_back("--run-all-compositor-stages-before-draw");
  }
  for (std::string& flag : IdentityFlags(locale, ProcessEnv)) args.push_back(std::move(flag));
  return args;
}

// Chromium keeps some files outside its user data folder (its crash reports, the
// desktop's caches, the certificate store) in the user's configuration, cache and
// data folders: they are moved into the user data folder, so nothing of the user's
// own is touched.
std::vector<std::string> FolderEnvironment(const std::string& userDataDir) {
  return {"XDG_CONFIG_HOME=" + userDataDir + "/xdg-config", "XDG_CACHE_HOME=" + userDataDir + "/xdg-cache",
          "XDG_DATA_HOME=" + userDataDir + "/xdg-data"};
}

bool IsHeadlessShell(const std::string& executable) {
  const std::string name = executable.substr(executable.find_last_of('/') + 1);
  return name.find("headless-shell") != std::string::npos || name.find("headless_shell") != std::string::npos;
}

// The headless shell is the same Chromium built for programs: it starts faster and
// needs about half the memory (no browser window with pages and services of its own).
std::string ChromiumExecutable(const std::string& configured) {
  std::string exe = configured;
  if (exe.empty()) exe = GetEnv("PV7_CHROMIUM");
  if (exe.empty()) exe = FileExecutable(kHeadlessShell) ? kHeadlessShell : kChromium;
  return exe;
}

bool LaunchChromium(const std::string& exe, const std::vector<std::string>& args,
                    const std::vector<std::string>& environment, int timeoutMs,
                    DevToolsPipe::EventFn onEvent, std::function<void()> onClosed,
                    DevToolsPipe::PostFn post, RunningChromium& out, std::string& error) {
  ChildProcess child;
  // PV7_CHROMIUM_LOG=1 keeps Chromium's own output.
  bool quiet = GetEnv("PV7_CHROMIUM_LOG").empty();
  if (!LaunchWithPipe(exe, args, quiet, child, error, environment)) return false;
  auto pipe = std::make_shared<DevToolsPipe>(child.toChild, child.fromChild, std::move(onEvent),
                                             std::move(onClosed), std::move(post));
  std::string why;
  json version;
  if (!pipe->Call("Browser.getVersion", json::object(), "", &version, timeoutMs, &why)) {
    error = "Chromium (" + exe + ") did not answer: " + why;
    pipe->Stop();
    KillProcessTree(child.pid);
    return false;
  }
  // The page Chromium opened at its start asks the identity question and goes, so
  // that no page (and no renderer) is left over.
  LearnIdentity(*pipe, version, args, std::min(timeoutMs, kIdentityTimeoutMs), InitialPage(*pipe, timeoutMs));
  pipe->Send("Target.setDiscoverTargets", {{"discover", true}});
  out.pid = child.pid;
  out.pipe = std::move(pipe);
  return true;
}

void StopChromium(RunningChromium& chromium) {
  if (chromium.pipe) chromium.pipe->Stop();
  if (chromium.pid > 0) KillProcessTree(chromium.pid);
  chromium.pid = -1;
}

RestartPolicy::RestartPolicy(Clock nowMs) : nowMs_(std::move(nowMs)) {}

bool RestartPolicy::NoteCrash() {
  uint64_t now = nowMs_();
  crashTimesMs_.push_back(now);
  while (!crashTimesMs_.empty() && now - crashTimesMs_.front() >= kWindowMs) crashTimesMs_.pop_front();
  return crashTimesMs_.size() < kMaxCrashes;
}

}  // namespace cefeng
