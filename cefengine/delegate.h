// What a browser's owner hears, and the options a browser is created with.
#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "dialog_reply.h"
#include "image.h"

namespace cefeng {

class RenderHelper;

struct HeaderList {
  std::vector<std::pair<std::string, std::string>> items;
};

// A paused request as the request handler sees it.
struct RequestInfo {
  std::string url;
  std::string method;
  HeaderList headers;
  std::string resourceType;
  int64_t frameId = 0;
};

enum ResourceAnswer { kAnswerCancel = 0, kAnswerContinue = 1, kAnswerAsync = 2 };

// The engine's termination status of a page whose process crashed (or whose Chromium
// is gone for good).
inline constexpr int kTerminationCrashed = 2;

// Unless noted, calls come on the main thread, inside Engine::DoWork.
class BrowserDelegate {
 public:
  virtual ~BrowserDelegate() = default;
  // Fills the view rectangle; false when not provided.
  virtual bool GetViewRect(Rect&) { return false; }
  virtual bool GetRootScreenRect(Rect&) { return false; }
  virtual void OnAfterCreated() {}
  virtual void OnPaint(const std::vector<Rect>&, const uint8_t*, int, int) {}
  virtual void OnCursorChange(int) {}
  virtual void OnLoadingStateChange(bool, bool, bool) {}
  virtual void OnLoadStart(int64_t) {}
  virtual void OnLoadEnd(int64_t, int) {}
  virtual void OnLoadError(int64_t, int, const std::string&, const std::string&) {}
  virtual void OnAddressChange(int64_t, const std::string&) {}
  virtual void OnTitleChange(const std::string&) {}
  virtual bool OnConsoleMessage(const std::string&, const std::string&, int) { return false; }
  virtual void OnRenderProcessTerminated(int) {}
  virtual void OnBeforeClose() {}
  // A JavaScript dialog or the question before the page is left: true when the
  // delegate keeps the reply and answers it later; false leaves it to the library.
  virtual bool OnJsDialog(const DialogInfo&, DialogAnswer) { return false; }
  virtual void OnDialogClosed() {}
  // Engine I/O thread. `complete` is for kAnswerAsync: call it once, from any thread,
  // with true to continue (with the headers as they are then) or false to cancel.
  virtual int OnBeforeResourceLoad(std::shared_ptr<RequestInfo>, std::function<void(bool)>) {
    return kAnswerContinue;
  }
  virtual bool WantsRequests() { return false; }
  // Engine I/O thread; true cancels the new window.
  virtual bool OnBeforePopup(int64_t, const std::string&, const std::string&, bool) {
    return false;
  }
};

struct BrowserOptions {
  int frameRate = 30;
  bool javascript = true;
  bool images = true;
  uint32_t backgroundColor = 0;  // ARGB; 0 keeps the page's own
  bool hasBackground = false;
  // The browser's render helper: its extensions run in every document, and their
  // native functions are answered by it.
  std::shared_ptr<RenderHelper> helper;
  int helperWaitMs = 5000;  // for the helper's extension list
};

}  // namespace cefeng
