#include "host/testwindow.h"

#include <thread>

#include "engine/cefload.h"
#include "host/channel.h"
#include "host/commands.h"
#include "host/streamut.h"
#include "platform/codepage.h"
#include "platform/mainloop.h"
#include "platform/process.h"
#include "xml/exception.h"
#include "xml/xmlSimple.h"

using namespace platform::gui;

namespace {

constexpr const char* kFontName = "Tahoma";

}  // namespace

uint32_t ShiftStateToEventFlags(TShiftState shift) {
  uint32_t flags = 0;
  if (shift & ssShift) flags |= EVENTFLAG_SHIFT_DOWN;
  if (shift & ssCtrl) flags |= EVENTFLAG_CONTROL_DOWN;
  if (shift & ssAlt) flags |= EVENTFLAG_ALT_DOWN;
  if (shift & ssLeft) flags |= EVENTFLAG_LEFT_MOUSE_BUTTON;
  if (shift & ssMiddle) flags |= EVENTFLAG_MIDDLE_MOUSE_BUTTON;
  if (shift & ssRight) flags |= EVENTFLAG_RIGHT_MOUSE_BUTTON;
  return flags;  // a double click adds nothing
}

cef_mouse_button_type_t MouseButtonToEngine(TMouseButton button) {
  switch (button) {
    case TMouseButton::mbRight: return MBT_RIGHT;
    case TMouseButton::mbMiddle: return MBT_MIDDLE;
    default: return MBT_LEFT;
  }
}

std::optional<cef_key_event_t> KeyEventFromMessage(const TKeyMessage& message, uint32_t modifiers) {
  cef_key_event_t e{};
  e.windows_key_code = int(message.WParam);
  e.native_key_code = int(message.LParam);
  switch (message.Message) {
    case WM_KEYDOWN: e.type = KEYEVENT_KEYDOWN; e.is_system_key = 0; break;
    case WM_KEYUP: e.type = KEYEVENT_KEYUP; e.is_system_key = 0; break;
    case WM_CHAR: {
      e.type = KEYEVENT_CHAR;
      e.is_system_key = 0;
      // The character is a byte of the ANSI code page: its UTF-16 code is the key code.
      const char byte = char(message.WParam & 0xFF);
      char16_t wide = 0;
      platform::MultiByteToWide(platform::kAnsiCodePage, &byte, 1, &wide, 1);
      e.windows_key_code = wide;
      e.native_key_code = 0;
      break;
    }
    case WM_SYSKEYDOWN: e.type = KEYEVENT_KEYDOWN; e.is_system_key = 1; break;
    case WM_SYSKEYUP: e.type = KEYEVENT_KEYUP; e.is_system_key = 1; break;
    case WM_SYSCHAR: e.type = KEYEVENT_CHAR; e.is_system_key = 1; break;
    default: return std::nullopt;
  }
  e.modifiers = modifiers & 0xFFFF;
  return e;
}

std::string LoadUrlDocumentText(const std::string& url) {
  return "<?xml version=\"1.0\" encoding=\"utf-8\"?><LoadWEBURL><WEBURL>" + url +
         "</WEBURL></LoadWEBURL>";
}

std::string BarcodeScript(const std::string& barcode) {
  return "PV7MCRCallback(\"" + barcode + "\")";
}

std::string DefaultStartUrl() {
  static const char kHex[] = "0123456789ABCDEF";
  std::string url = "file://";
  for (unsigned char c : platform::ExecutableFolder() + "/demo/demo.html") {
    const bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                       c == '/' || c == '.' || c == '_' || c == '-' || c == '~';
    if (plain) {
      url.push_back(char(c));
    } else {
      url.push_back('%');
      url.push_back(kHex[c >> 4]);
      url.push_back(kHex[c & 15]);
    }
  }
  return url;
}

// The form description: components, their layout at 96 pixels per inch, and the
// handlers they are bound to.
TTestWindow::TTestWindow(TMainform& form) : FMainform(form) {
  // The fonts the pages get (fonts.conf beside the engine library): Tahoma among them.
  UseFontConfiguration(platform::ExecutableFolder() + "/fonts.conf");
  FForm = std::make_unique<TForm>(FMainform.Caption(), TBounds{247, 177, 816, 620}, 808, 592);
  FForm->SetFont(kFontName, 16);

  FpnlHead = std::make_unique<TPanel>(*FForm);
  FpnlHead->SetBounds({0, 0, 808, 37});
  FpnlHead->SetAlign(TAlign::alTop);

  FpnlNAVI = std::make_unique<TPanel>(static_cast<TContainer&>(*FpnlHead));
  FpnlNAVI->SetBounds({0, 0, 808, 35});
  FpnlNAVI->SetAlign(TAlign::alTop);
  FpnlNAVI->SetLoweredBevel(true);

  FedtURL = std::make_unique<TEdit>(static_cast<TContainer&>(*FpnlNAVI));
  FedtURL->SetBounds({4, 4, 565, 27});
  FedtURL->SetAnchors(akLeft | akTop | akRight);
  FedtBarcode = std::make_unique<TEdit>(static_cast<TContainer&>(*FpnlNAVI));
  FedtBarcode->SetBounds({572, 4, 117, 27});
  FedtBarcode->SetAnchors(akTop | akRight);
  FedtBCTYPE = std::make_unique<TEdit>(static_cast<TContainer&>(*FpnlNAVI));
  FedtBCTYPE->SetBounds({692, 4, 109, 27});
  FedtBCTYPE->SetAnchors(akTop | akRight);
  for (TEdit* e : {FedtURL.get(), FedtBarcode.get(), FedtBCTYPE.get()}) {
    e->SetBorder(false);
    e->SetFont(kFontName, 21);
  }
  FedtURL->SetText(DefaultStartUrl());
  FedtBarcode->SetText("BARCODE");
  FedtBCTYPE->SetText("BCTYPE");

  FpnlMain = std::make_unique<TPanel>(*FForm);
  FpnlMain->SetBounds({0, 37, 808, 555});
  FpnlMain->SetAlign(TAlign::alClient);

  FpbChromium = std::make_unique<TPaintBox>(static_cast<TContainer&>(*FpnlMain));
  FpbChromium->SetBounds({0, 0, 808, 555});
  FpbChromium->SetAlign(TAlign::alClient);
  FpbChromium->SetWantArrows(true);

  // Made last so that it lies above the page and can be clicked.
  FButton1 = std::make_unique<TButton>(*FForm, "Button1");
  FButton1->SetBounds({40, 496, 75, 25});
  FButton1->SetFont(kFontName, 16);

  FForm->SetActiveControl(FpbChromium.get());

  FForm->OnShow = [this] { FormShow(); };
  FForm->OnClose = [this] { FormClose(); };
  FForm->OnMessage = [this](const TKeyMessage& m) { AppEventsMessage(m); };
  FButton1->OnClick = [this] { Button1Click(); };
  FedtURL->OnChange = [this] { edtURLChange(); };
  FedtURL->OnKeyPress = [this](char& key) { edtURLKeyPress(key); };
  FedtBarcode->OnChange = [this] { edtBarcodeChange(); };
  FedtBarcode->OnKeyPress = [this](char& key) { edtBarcodeKeyPress(key); };
  FedtBCTYPE->OnChange = [this] { edtBarcodeChange(); };
  FedtBCTYPE->OnKeyPress = [this](char& key) { edtBarcodeKeyPress(key); };
  FpbChromium->OnMouseDown = [this](TMouseButton b, TShiftState s, int x, int y) {
    pbChromiumMouseDown(b, s, x, y);
  };
  FpbChromium->OnMouseUp = [this](TMouseButton b, TShiftState s, int x, int y) {
    pbChromiumMouseUp(b, s, x, y);
  };
  FpbChromium->OnMouseMove = [this](TShiftState s, int x, int y) { pbChromiumMouseMove(s, x, y); };
  FpbChromium->OnMouseWheel = [this](TShiftState s, int d, int x, int y) {
    pbChromiumMouseWheel(s, d, x, y);
  };
  FpbChromium->OnResize = [this] { pbChromiumResize(); };
  SetExceptionHandler([this] { AppEventsException(); });
}

TTestWindow::~TTestWindow() { SetExceptionHandler(nullptr); }

TCefRef<cef_browser_host_t> TTestWindow::BrowserHost() { return FMainform.wbChromium().BrowserHost(); }

void TTestWindow::Show() { FForm->Show(); }

void TTestWindow::DrawView(const TFrameBitmap& view) {
  std::lock_guard<std::recursive_mutex> guard(view.Lock());
  FpbChromium->DrawImage(view.Pixels(), view.Width(), view.Height());
}

void TTestWindow::SetCursor(TCursor cursor) { FpbChromium->SetCursor(CursorName(cursor)); }

void TTestWindow::FormShow() { FMainform.Navigate(FedtURL->Text()); }

// Closing the window ends the host like the Destroy command.
void TTestWindow::FormClose() { FMainform.PostQuit(); }

void TTestWindow::edtURLChange() { std::this_thread::yield(); }

void TTestWindow::edtBarcodeChange() { std::this_thread::yield(); }

void TTestWindow::edtURLKeyPress(char& key) {
  if (key != 13) return;
  key = 0;
  btn1Click();
}

// The URL box's text as a LoadWEBURL command, run on the main thread.
void TTestWindow::btn1Click() {
  IXmlDocument doc = LoadXmlDocumentFromString(LoadUrlDocumentText(FedtURL->Text()));
  streamut::TMemoryStream stream;
  doc->SaveToStream(stream);
  stream.SetPosition(0);
  DispatchCommand(FMainform, stream, nullptr);
}

// A new DRAW connection and a new command connection to the parent's port.
void TTestWindow::Button1Click() {
  TTcpClient& draw = FMainform.DrawClient();
  if (draw.HasSocket() && draw.Connected()) throw Exception("Already connected.");
  draw.SetHost(kLoopbackHost);
  draw.Connect();
  WriteTag(draw.Socket(), "DRAW");
  FMainform.OpenCommandChannel(kLoopbackHost, draw.Port());
}

void TTestWindow::edtBarcodeKeyPress(char& key) {
  if (key != 13) return;
  key = 0;
  TCefRef<cef_browser_t> browser = FMainform.EngineBrowser();
  if (!browser) return;
  auto frame = TCefRef<cef_frame_t>::Adopt(browser->get_main_frame(browser.get()));
  if (!frame) return;
  const std::u16string code = platform::AnsiToWide(BarcodeScript(FedtBarcode->Text()));
  const std::u16string url = u"about:blank";
  cef_string_t c = CefStringView(code), u = CefStringView(url);
  frame->execute_java_script(frame.get(), &c, &u, 0);
}

// Keys reach the page only while the paint box has the focus; the message then goes
// on to its component as usual.
void TTestWindow::AppEventsMessage(const TKeyMessage& message) {
  if (!FpbChromium->Focused()) return;
  std::optional<cef_key_event_t> event =
      KeyEventFromMessage(message, ShiftStateToEventFlags(message.Shift));
  if (!event) return;
  if (auto host = BrowserHost()) host->send_key_event(host.get(), &*event);
}

// Exceptions of the window's handlers are dropped: nothing is shown, the window runs on.
void TTestWindow::AppEventsException() {}

void TTestWindow::pbChromiumMouseDown(TMouseButton button, TShiftState shift, int x, int y) {
  cef_mouse_event_t event{x, y, ShiftStateToEventFlags(shift)};
  if (auto host = BrowserHost())
    host->send_mouse_click_event(host.get(), &event, MouseButtonToEngine(button), 0, 1);
}

void TTestWindow::pbChromiumMouseUp(TMouseButton button, TShiftState shift, int x, int y) {
  cef_mouse_event_t event{x, y, ShiftStateToEventFlags(shift)};
  if (auto host = BrowserHost())
    host->send_mouse_click_event(host.get(), &event, MouseButtonToEngine(button), 1, 1);
}

void TTestWindow::pbChromiumMouseMove(TShiftState shift, int x, int y) {
  const bool inside = x >= 0 && y >= 0 && x < FpbChromium->Width() && y < FpbChromium->Height();
  cef_mouse_event_t event{x, y, ShiftStateToEventFlags(shift)};
  if (auto host = BrowserHost()) host->send_mouse_move_event(host.get(), &event, inside ? 0 : 1);
}

// The position comes in screen coordinates, as the wheel message delivers it.
void TTestWindow::pbChromiumMouseWheel(TShiftState shift, int wheelDelta, int screenX, int screenY) {
  cef_mouse_event_t event{screenX, screenY, ShiftStateToEventFlags(shift)};
  if (auto host = BrowserHost()) host->send_mouse_wheel_event(host.get(), &event, 0, wheelDelta);
}

// The view follows the paint box: a WindowSize command holds only until the next resize.
void TTestWindow::pbChromiumResize() {
  const int w = FpbChromium->Width(), h = FpbChromium->Height();
  FpbChromium->ResizeBuffer(w, h);
  FMainform.ViewBitmap().SetSize(w, h);
  if (auto host = BrowserHost()) {
    host->was_resized(host.get());
    host->send_focus_event(host.get(), 1);
  }
  platform::ProcessPendingEvents();
}
