// The engine client, its handler objects and the engine work timer.
#pragma once

#include <atomic>
#include <memory>
#include <string>

#include "engine/cefbase.h"
#include "osr/browsereventsink.h"

// The handlers' way to the component: cleared when the component goes, so a
// handler object the engine still holds answers the defaults instead.
class TEventSinkLink {
 public:
  explicit TEventSinkLink(IBrowserEventSink* sink) : FSink(sink) {}
  IBrowserEventSink* Get() const { return FSink.load(std::memory_order_acquire); }
  void Detach() { FSink.store(nullptr, std::memory_order_release); }

 private:
  std::atomic<IBrowserEventSink*> FSink;
};
using TEventSinkRef = std::shared_ptr<TEventSinkLink>;

// Base of every handler object: the engine structure plus the event sink.
class TCefHandlerOwn : public TCefBaseOwn {
 public:
  TCefHandlerOwn(size_t structSize, TEventSinkRef sink) : TCefBaseOwn(structSize), FEvents(std::move(sink)) {}
  IBrowserEventSink* Events() const { return FEvents ? FEvents->Get() : nullptr; }

 private:
  TEventSinkRef FEvents;
};

class TCustomLoadHandler : public TCefHandlerOwn { public: explicit TCustomLoadHandler(TEventSinkRef s); };
class TCustomFocusHandler : public TCefHandlerOwn { public: explicit TCustomFocusHandler(TEventSinkRef s); };
class TCustomContextMenuHandler : public TCefHandlerOwn { public: explicit TCustomContextMenuHandler(TEventSinkRef s); };
class TCustomDialogHandler : public TCefHandlerOwn { public: explicit TCustomDialogHandler(TEventSinkRef s); };
class TCustomKeyboardHandler : public TCefHandlerOwn { public: explicit TCustomKeyboardHandler(TEventSinkRef s); };
class TCustomDisplayHandler : public TCefHandlerOwn { public: explicit TCustomDisplayHandler(TEventSinkRef s); };
class TCustomDownloadHandler : public TCefHandlerOwn { public: explicit TCustomDownloadHandler(TEventSinkRef s); };
class TCustomGeolocationHandler : public TCefHandlerOwn { public: explicit TCustomGeolocationHandler(TEventSinkRef s); };
class TCustomJsDialogHandler : public TCefHandlerOwn { public: explicit TCustomJsDialogHandler(TEventSinkRef s); };
class TCustomLifeSpanHandler : public TCefHandlerOwn { public: explicit TCustomLifeSpanHandler(TEventSinkRef s); };
class TCustomRenderHandler : public TCefHandlerOwn { public: explicit TCustomRenderHandler(TEventSinkRef s); };
class TCustomRequestHandler : public TCefHandlerOwn { public: explicit TCustomRequestHandler(TEventSinkRef s); };
class TCustomDragHandler : public TCefHandlerOwn { public: explicit TCustomDragHandler(TEventSinkRef s); };
class TCustomFindHandler : public TCefHandlerOwn { public: explicit TCustomFindHandler(TEventSinkRef s); };

// The client handed to the engine at browser creation.
class TCustomClientHandler : public TCefBaseOwn {
 public:
  TCustomClientHandler(TEventSinkRef events, bool renderHandling);
  // Drops the event sink, then every handler; afterwards every getter answers
  // null and process messages are not handled.
  void ReleaseHandlers();
  IBrowserEventSink* Events() const { return FEvents ? FEvents->Get() : nullptr; }

  TEventSinkRef FEvents;
  TOwnRef<TCefBaseOwn> FLoadHandler, FFocusHandler, FContextMenuHandler, FDialogHandler,
      FKeyboardHandler, FDisplayHandler, FDownloadHandler, FGeolocationHandler,
      FJsDialogHandler, FLifeSpanHandler, FRenderHandler, FRequestHandler, FDragHandler,
      FFindHandler;
};

// The client of the off-screen component; its instances share the engine work timer.
class TVCLClientHandler : public TCustomClientHandler {
 public:
  TVCLClientHandler(TEventSinkRef events, bool renderHandling);
  ~TVCLClientHandler() override;

  static int LiveCount();
  static bool TimerRunning();
  static bool Busy();
  // One tick of the engine work timer (what the timer runs every 10 ms).
  static void TimerProc();
};
