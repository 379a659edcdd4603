#include "input.h"

namespace cefeng {

void Input::Dispatch(const char* method, json params) {
  if (!handled_) return session_.Send(method, std::move(params));
  session_.Send(method, std::move(params), [this](const json&, const std::string&) { handled_(); });
}

void Input::MouseClick(const MouseInput& e, int button, bool up, int clickCount) {
  Dispatch("Input.dispatchMouseEvent", MouseClickParams(e, button, up, clickCount));
}

void Input::MouseMove(const MouseInput& e, bool leave) {
  Dispatch("Input.dispatchMouseEvent", MouseMoveParams(e, leave));
  if (!leave) ProbeCursor(e.x, e.y);
}

void Input::MouseWheel(const MouseInput& e, int dx, int dy) {
  Dispatch("Input.dispatchMouseEvent", MouseWheelParams(e, dx, dy));
}

void Input::Key(const KeyInput& e) {
  json p;
  if (KeyEventParams(e, p)) Dispatch("Input.dispatchKeyEvent", std::move(p));
}

void Input::Focus(bool focus) { session_.Send("Emulation.setFocusEmulationEnabled", {{"enabled", focus}}); }

void Input::ProbeCursor(int x, int y) {
  probeX_ = x;
  probeY_ = y;
  if (probing_) {
    probeWaits_ = true;
    return;
  }
  probing_ = true;
  std::string expr =
      "(()=>{const e=document.elementFromPoint(" + std::to_string(x) + "," + std::to_string(y) +
      ");if(!e)return 'auto|';const c=getComputedStyle(e).cursor;let h='';"
      "if(e.closest('a[href],area[href]'))h='link';"
      "else if(e.isContentEditable||e.tagName==='TEXTAREA'||(e.tagName==='INPUT'&&"
      "/^(text|search|email|url|tel|password|number|)$/.test(e.type)))h='text';"
      "return c+'|'+h;})()";
  session_.Send("Runtime.evaluate", {{"expression", expr}, {"returnByValue", true}, {"silent", true}},
                [this](const json& r, const std::string& err) { CursorProbed(r, err); });
}

void Input::CursorProbed(const json& r, const std::string& err) {
  int type = -1;
  const json* result = err.empty() ? ObjectField(r, "result") : nullptr;
  if (result) {
    std::string v = StringField(*result, "value");
    size_t bar = v.rfind('|');
    if (bar != std::string::npos) type = CursorTypeForCss(v.substr(0, bar), v.substr(bar + 1));
  }
  probing_ = false;
  if (type >= 0 && type != cursor_) {
    cursor_ = type;
    session_.Notify([type](BrowserDelegate& d) { d.OnCursorChange(type); });
  }
  if (probeWaits_) {
    probeWaits_ = false;
    ProbeCursor(probeX_, probeY_);
  }
}

}  // namespace cefeng
