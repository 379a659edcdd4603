// The local test window of the shown host: a URL box, two barcode boxes, Button1
// and a paint box that shows the page and forwards mouse, wheel and keys to it.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "cefapi/cef_capi.h"
#include "host/mainform.h"
#include "platform/gtkui.h"

// Keyboard and mouse state to the engine's event flag bits.
uint32_t ShiftStateToEventFlags(platform::gui::TShiftState shift);
cef_mouse_button_type_t MouseButtonToEngine(platform::gui::TMouseButton button);

// The engine key event for a key message of the main loop, with the modifiers given;
// nothing for a message that is not forwarded (dead characters, anything else).
std::optional<cef_key_event_t> KeyEventFromMessage(const platform::gui::TKeyMessage& message,
                                                   uint32_t modifiers);

// The LoadWEBURL document the URL box makes: its text put in unchanged and unescaped.
std::string LoadUrlDocumentText(const std::string& url);
// The script the barcode boxes run with the barcode text put in unescaped.
std::string BarcodeScript(const std::string& barcode);
// The start address of the URL box: the bundled demo page beside the program.
std::string DefaultStartUrl();

// The window of the shown form and its handlers. Made by the form (through
// FormViewFactory) while its components are created; lives on the main thread.
class TTestWindow : public IFormView {
 public:
  explicit TTestWindow(TMainform& form);
  ~TTestWindow() override;

  // IFormView
  void Show() override;
  void DrawView(const TFrameBitmap& view) override;
  void SetCursor(TCursor cursor) override;

  // The components, for the handlers and for tests in the same process.
  platform::gui::TForm& Form() { return *FForm; }
  platform::gui::TEdit& edtURL() { return *FedtURL; }
  platform::gui::TEdit& edtBarcode() { return *FedtBarcode; }
  platform::gui::TEdit& edtBCTYPE() { return *FedtBCTYPE; }
  platform::gui::TPaintBox& pbChromium() { return *FpbChromium; }

  // The handlers, named after their component and event.
  void FormShow();
  void FormClose();
  void edtURLChange();
  void edtBarcodeChange();
  void edtURLKeyPress(char& key);
  void btn1Click();
  void Button1Click();
  void edtBarcodeKeyPress(char& key);
  void AppEventsMessage(const platform::gui::TKeyMessage& message);
  void AppEventsException();
  void pbChromiumMouseDown(platform::gui::TMouseButton button, platform::gui::TShiftState shift,
                           int x, int y);
  void pbChromiumMouseUp(platform::gui::TMouseButton button, platform::gui::TShiftState shift,
                         int x, int y);
  void pbChromiumMouseMove(platform::gui::TShiftState shift, int x, int y);
  void pbChromiumMouseWheel(platform::gui::TShiftState shift, int wheelDelta, int screenX,
                            int screenY);
  void pbChromiumResize();

 private:
  TCefRef<cef_browser_host_t> BrowserHost();

  TMainform& FMainform;
  // The form first: the components' wrappers go before the window itself.
  std::unique_ptr<platform::gui::TForm> FForm;
  std::unique_ptr<platform::gui::TPanel> FpnlHead;
  std::unique_ptr<platform::gui::TPanel> FpnlNAVI;
  std::unique_ptr<platform::gui::TEdit> FedtURL;
  std::unique_ptr<platform::gui::TEdit> FedtBarcode;
  std::unique_ptr<platform::gui::TEdit> FedtBCTYPE;
  std::unique_ptr<platform::gui::TPanel> FpnlMain;
  std::unique_ptr<platform::gui::TPaintBox> FpbChromium;
  std::unique_ptr<platform::gui::TButton> FButton1;
};
