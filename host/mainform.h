// TMainform: the host's main window object. It owns the off-screen browser, the
// frame bitmaps, the DRAW client, the command reader and the parent watchdog,
// and carries out the fixed policy for the browser's events.
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "host/channel.h"
#include "host/commands.h"
#include "host/commandthread.h"
#include "host/consolesender.h"
#include "host/eventpolicy.h"
#include "host/framebitmap.h"
#include "host/streamut.h"
#include "host/watchdog/suicideOrphan.h"
#include "osr/ChromiumOSR.h"

inline constexpr const char* kApplicationTitle = "Plenvo 7: Chromium embedded framework test";

// The application object's state that start-up sets before the form exists:
// its title and whether the main form is shown. Main thread only.
struct TApplication {
  std::string Title;
  bool ShowMainForm = true;
};
extern TApplication Application;

class TMainform;

// The shown form's window: the test window draws the view, shows the page's cursor
// and appears when the form is shown. The hidden host has none.
class IFormView {
 public:
  virtual ~IFormView() = default;
  // Shows the window (its show handler runs first).
  virtual void Show() = 0;
  // Draws the view bitmap onto the paint box at (0, 0).
  virtual void DrawView(const TFrameBitmap& view) = 0;
  virtual void SetCursor(TCursor cursor) = 0;
};

// Makes the window of a form that is shown; set by the program before the form is
// created. Without it a shown form has no window.
using TFormViewFactory = std::function<std::unique_ptr<IFormView>(TMainform& form)>;
extern TFormViewFactory FormViewFactory;

class TMainform : public ICommandTarget {
 public:
  // Builds the form in its fixed order; raises when a channel cannot be opened.
  TMainform();
  ~TMainform() override;
  TMainform(const TMainform&) = delete;
  TMainform& operator=(const TMainform&) = delete;

  // ICommandTarget (used by the command thread and the test window).
  TCefRef<cef_browser_t> EngineBrowser() override;
  TFrameBitmap& ViewBitmap() override { return FViewBitmap; }
  void SetHeaders(std::string headers) override;
  void Navigate(const std::string& url) override;
  void PostQuit() override;

  // Shows the window of a shown form (nothing for a hidden one).
  void Show();
  IFormView* View() const { return FView.get(); }
  // The DRAW client (its port is the parent's port once the channels are open).
  TTcpClient& DrawClient() { return *FDrawClient; }

  // Opens a command connection to host:port and starts a reader on it.
  void OpenCommandChannel(const std::string& host, int port);
  void SendConsoleMessage(const std::string& text);

  TChromiumOSR& wbChromium() { return *FChromium; }
  // The window caption: the application title at construction.
  const std::string& Caption() const { return FCaption; }
  TCursor Cursor() const { return FCursor; }
  bool PopupVisible() const { return FPopupVisible; }
  std::string Headers() const;

 private:
  void CreateComponents();
  void RequireBrowser();
  void OpenParentChannels();
  void StartParentWatchdog();

  void wbChromiumPaint(TObject* Sender, const TBrowserRef& browser, cef_paint_element_type_t kind,
                       uint32_t dirtyRectsCount, const cef_rect_t* dirtyRects, const void* buffer,
                       int width, int height);
  void StoreDirtyRects(cef_paint_element_type_t kind, uint32_t count, const cef_rect_t* rects,
                       const void* buffer, int width, int height);
  void ComposeView();
  void PublishFrame();
  void wbChromiumGetRootScreenRect(TObject* Sender, const TBrowserRef& browser, cef_rect_t* rect,
                                   bool& Result);
  void wbChromiumPopupShow(TObject* Sender, const TBrowserRef& browser, bool show);
  void wbChromiumPopupSize(TObject* Sender, const TBrowserRef& browser, const cef_rect_t* rect);
  void wbChromiumBeforePopup(const std::u16string& targetUrl, bool& Result);
  void wbChromiumCursorChange(cef_cursor_type_t cursorType);
  void wbChromiumLoadError(const TFrameRef& frame, int errorCode, const std::u16string& errorText,
                           const std::u16string& failedUrl);
  void wbChromiumBeforeResourceLoad(const TRequestRef& request);
  void wbChromiumConsoleMessage(const std::u16string& message);

  // Members in their declaration order.
  TFrameBitmap FViewBitmap;
  TFrameBitmap FPopupBitmap;
  cef_rect_t FPopupRect{};        // main thread only
  bool FPopupVisible = false;     // main thread only
  ISuicideOrphanRef FOrphanWatch;
  std::unique_ptr<TTcpClient> FDrawClient;  // main thread only
  std::shared_ptr<TTcpClient> FCommandClient;  // shared with the command thread
  std::shared_ptr<TThreadDone> FCommandThread;
  // Readers of earlier command connections (Button1 opens new ones); main thread only.
  std::vector<std::pair<std::shared_ptr<TTcpClient>, std::shared_ptr<TThreadDone>>> FOldReaders;
  mutable std::mutex FHeadersLock;
  std::shared_ptr<const std::string> FHeaders;  // guarded by FHeadersLock; replaced whole

  std::string FCaption;  // main thread only
  std::unique_ptr<TChromiumOSR> FChromium;
  TCursor FCursor = TCursor::crArrow;  // main thread only
  TBmpFrameEncoder FFrameEncoder;  // main thread only: the view's BMP, kept between frames
  std::unique_ptr<IFormView> FView;  // main thread only; the test window when shown
  std::unique_ptr<TConsoleSender> FConsoleSender;  // main thread only; made by the first text
};

// The process-wide main-form reference: set when construction begins, cleared
// when the form is destroyed.
extern TMainform* Mainform;
