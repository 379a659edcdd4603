// Arbitrary command messages handed to DispatchCommand, as the command reader
// does, over a component whose browser lives in the scripted engine library.
// A message may fail with an Exception (which ends the reader); anything else
// escaping, a crash or a leak is a fault. The view size must stay what the
// bitmap can hold.
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>

#include "engine/cefintrk.h"
#include "engine/cefload.h"
#include "host/commands.h"
#include "osr/ChromiumOSR.h"
#include "platform/codepage.h"
#include "platform/dynlib.h"
#include "xml/exception.h"
#include "xml/stream.h"

namespace {

class TFuzzTarget : public ICommandTarget {
 public:
  TFuzzTarget() { FChromium.Loaded(); }
  TCefRef<cef_browser_t> EngineBrowser() override { return FChromium.EngineBrowser(); }
  TFrameBitmap& ViewBitmap() override { return FView; }
  void SetHeaders(std::string headers) override { FHeaders = std::move(headers); }
  void Navigate(const std::string& url) override { FChromium.Navigate(platform::AnsiToWide(url)); }
  void PostQuit() override { ++FQuits; }

  TChromiumOSR FChromium;
  TFrameBitmap FView;
  std::string FHeaders;
  int FQuits = 0;
};

void (*ClearCalls)() = nullptr;

TFuzzTarget& Target() {
  static TFuzzTarget* target = [] {
    EngineLibraryName() = SCRIPTED_ENGINE_LIBRARY;
    ConfigureEngine();
    char arg0[] = "pv7host";
    char* argv[] = {arg0, nullptr};
    if (!StartEngine(1, argv)) std::abort();
    ClearCalls = reinterpret_cast<void (*)()>(
        platform::ResolveDynLibSymbol(CefLibraryHandle(), "scripted_clear_calls"));
    if (!ClearCalls) std::abort();
    return new TFuzzTarget;  // lives for the whole run, like the main form
  }();
  return *target;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  TFuzzTarget& target = Target();
  TMemoryStream message;
  message.WriteBuffer(data, int64_t(size));
  message.SetPosition(0);
  try {
    DispatchCommand(target, message, nullptr);
  } catch (const Exception&) {
    // Parse, conversion and engine errors: the reader would end here.
  }
  // The bitmap's size and its pixels agree, and stay within the view limit.
  {
    std::lock_guard<std::recursive_mutex> guard(target.FView.Lock());
    if (target.FView.Width() < 0 || target.FView.Height() < 0 ||
        target.FView.Width() > kMaxViewSide || target.FView.Height() > kMaxViewSide)
      std::abort();
  }
  target.FView.SetSize(0, 0);
  ClearCalls();  // the scripted engine keeps its call log in memory
  return 0;
}
