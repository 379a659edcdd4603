#include "host/commands.h"

#include <algorithm>
#include <cctype>
#include <optional>

#include "engine/cefload.h"
#include "host/commandthread.h"
#include "platform/codepage.h"
#include "xml/xmlSimple.h"

namespace {

bool SameText(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (std::toupper(static_cast<unsigned char>(a[i])) != std::toupper(static_cast<unsigned char>(b[i])))
      return false;
  return true;
}

// The position of `text` in the list, ignoring case; -1 when absent.
int IndexOfText(std::string_view text, std::initializer_list<std::string_view> list) {
  int i = 0;
  for (std::string_view item : list) {
    if (SameText(text, item)) return i;
    ++i;
  }
  return -1;
}

// A child element's text; a missing child is appended empty (and its "" then
// fails any integer conversion).
std::string FieldText(TXmlElement& root, std::string_view name) {
  return root.FindOrAppendChild(name)->GetText();
}

// A conversion error names the field that failed.
template <class F>
auto InField(std::string_view name, F read) {
  try {
    return read();
  } catch (const EConvertError& e) {
    throw EConvertError(std::string(name) + ": " + e.Message());
  }
}

int FieldInt(TXmlElement& root, std::string_view name) {
  return InField(name, [&] { return StrToInt(FieldText(root, name)); });
}

int AttrInt(TXmlElement& root, std::string_view name) {
  return InField(name, [&] { return root.ReadIntegerAttr(name, 0); });
}

TCefRef<cef_browser_host_t> HostOf(ICommandTarget& target) {
  TCefRef<cef_browser_t> browser = target.EngineBrowser();
  if (!browser) return {};
  return TCefRef<cef_browser_host_t>::Adopt(browser->get_host(browser.get()));
}

void DoMouseClick(ICommandTarget& target, TXmlElement& root) {
  const int x = FieldInt(root, "MouseX"), y = FieldInt(root, "MouseY");
  cef_mouse_event_t event{x, y, EVENTFLAG_LEFT_MOUSE_BUTTON};
  if (auto host = HostOf(target)) host->send_mouse_click_event(host.get(), &event, MBT_LEFT, 0, 1);
  event.modifiers = 0;
  if (auto host = HostOf(target)) host->send_mouse_click_event(host.get(), &event, MBT_LEFT, 1, 1);
}

void DoWindowSize(ICommandTarget& target, TXmlElement& root) {
  const int w = FieldInt(root, "WndSzX"), h = FieldInt(root, "WndSzY");
  target.ViewBitmap().SetSize(std::min(w, kMaxViewSide), std::min(h, kMaxViewSide));
  if (auto host = HostOf(target)) host->was_resized(host.get());
}

void DoLoadWEBURL(ICommandTarget& target, TXmlElement& root) {
  const std::string url = FieldText(root, "WEBURL");
  target.SetHeaders(FieldText(root, "HEADERS"));
  target.Navigate(url);
}

void DoKeyPress(ICommandTarget& target, TXmlElement& root) {
  cef_key_event_t event{};
  const int type = KeyTypeToEngine(root.ReadStringAttr("keyType", ""));
  if (type < 0) return;  // no engine event type for it: the command is ignored
  event.type = cef_key_event_type_t(type);
  event.is_system_key = IndexOfText(root.ReadStringAttr("sysChar", ""), {"FALSE", "TRUE"});
  event.windows_key_code = AttrInt(root, "key");
  event.modifiers = uint32_t(AttrInt(root, "modifiers")) & 0xFFFF;
  if (auto host = HostOf(target)) host->send_key_event(host.get(), &event);
}

void DoJavaScript(ICommandTarget& target, TXmlElement& root) {
  const std::u16string code = platform::AnsiToWide(root.GetText());
  TCefRef<cef_browser_t> browser = target.EngineBrowser();
  if (!browser) return;
  auto frame = TCefRef<cef_frame_t>::Adopt(browser->get_main_frame(browser.get()));
  if (!frame) return;
  const std::u16string url = u"about:blank";
  cef_string_t c = CefStringView(code), u = CefStringView(url);
  frame->execute_java_script(frame.get(), &c, &u, 0);
}

void DoDestroy(ICommandTarget& target, TGoGoThread* thread) {
  if (thread) thread->Terminate();
  target.PostQuit();
}

void DoMouseWheel(ICommandTarget& target, TXmlElement& root) {
  const int x = FieldInt(root, "MouseX"), y = FieldInt(root, "MouseY");
  const int dx = FieldInt(root, "MouseDeltaX"), dy = FieldInt(root, "MouseDeltaY");
  cef_mouse_event_t event{x, y, 0};
  if (auto host = HostOf(target)) host->send_mouse_wheel_event(host.get(), &event, dx, dy);
}

}  // namespace

int StrToInt(std::string_view text) { return XmlStrToInt(text); }

int KeyTypeToEngine(std::string_view keyType) {
  static const int kEngineTypes[] = {KEYEVENT_KEYUP, KEYEVENT_RAWKEYDOWN, KEYEVENT_CHAR};
  const int i = IndexOfText(keyType, {"KT_KEYUP", "KT_KEYDOWN", "KT_CHAR"});
  return i < 0 ? -1 : kEngineTypes[i];
}

void DispatchCommand(ICommandTarget& target, TStream& message, TGoGoThread* thread) {
  IXmlDocument doc = LoadXmlDocumentFromStream(message);
  IXmlElement root = doc->DocumentElement();
  if (!root) return;
  const std::string name = root->GetNodeName();
  switch (IndexOfText(name, {"MouseClick", "WindowSize", "LoadWEBURL", "KeyPress", "JavaScript",
                             "Destroy", "MouseWheel"})) {
    case 0: DoMouseClick(target, *root); break;
    case 1: DoWindowSize(target, *root); break;
    case 2: DoLoadWEBURL(target, *root); break;
    case 3: DoKeyPress(target, *root); break;
    case 4: DoJavaScript(target, *root); break;
    case 5: DoDestroy(target, thread); break;
    case 6: DoMouseWheel(target, *root); break;
    default: break;  // not a command: read and ignored
  }
}
