#include "mapping.h"

#include <cstring>
#include <unordered_map>

namespace cefeng {

int DevToolsModifiers(uint32_t f) {
  int m = 0;
  if (f & kFlagAlt) m |= 1;
  if (f & kFlagControl) m |= 2;
  if (f & kFlagCommand) m |= 4;
  if (f & kFlagShift) m |= 8;
  return m;
}

int DevToolsButtons(uint32_t f) {
  int b = 0;
  if (f & kFlagLeftButton) b |= 1;
  if (f & kFlagRightButton) b |= 2;
  if (f & kFlagMiddleButton) b |= 4;
  return b;
}

namespace {

const char* ButtonName(int button) {
  switch (button) {
    case kButtonMiddle:
      return "middle";
    case kButtonRight:
      return "right";
    default:
      return "left";
  }
}

int ButtonBit(int button) {
  switch (button) {
    case kButtonMiddle:
      return 4;
    case kButtonRight:
      return 2;
    default:
      return 1;
  }
}

// The button a move reports: the first one held, "none" otherwise.
const char* HeldButton(uint32_t f) {
  if (f & kFlagLeftButton) return "left";
  if (f & kFlagMiddleButton) return "middle";
  if (f & kFlagRightButton) return "right";
  return "none";
}

}  // namespace

json MouseClickParams(const MouseInput& e, int button, bool mouseUp, int clickCount) {
  int buttons = DevToolsButtons(e.modifiers);
  // While pressed the button itself is held; after release it is not.
  if (mouseUp)
    buttons &= ~ButtonBit(button);
  else
    buttons |= ButtonBit(button);
  return json{{"type", mouseUp ? "mouseReleased" : "mousePressed"},
              {"x", e.x},
              {"y", e.y},
              {"button", ButtonName(button)},
              {"buttons", buttons},
              {"clickCount", clickCount < 1 ? 1 : clickCount},
              {"modifiers", DevToolsModifiers(e.modifiers)}};
}

json MouseMoveParams(const MouseInput& e, bool mouseLeave) {
  // Leaving the view is shown to the page as a move outside it.
  int x = mouseLeave ? -1 : e.x;
  int y = mouseLeave ? -1 : e.y;
  return json{{"type", "mouseMoved"},
              {"x", x},
              {"y", y},
              {"button", HeldButton(e.modifiers)},
              {"buttons", DevToolsButtons(e.modifiers)},
              {"modifiers", DevToolsModifiers(e.modifiers)}};
}

json MouseWheelParams(const MouseInput& e, int deltaX, int deltaY) {
  return json{{"type", "mouseWheel"},
              {"x", e.x},
              {"y", e.y},
              {"deltaX", -static_cast<double>(deltaX)},
              {"deltaY", -static_cast<double>(deltaY)},
              {"modifiers", DevToolsModifiers(e.modifiers)}};
}

KeyNames NamesForVirtualKey(int vk, bool shift) {
  if (vk >= 'A' && vk <= 'Z') {
    char c = static_cast<char>(shift ? vk : vk - 'A' + 'a');
    return {std::string(1, c), std::string("Key") + static_cast<char>(vk)};
  }
  if (vk >= '0' && vk <= '9') {
    static const char shifted[] = ")!@#$%^&*(";
    char c = shift ? shifted[vk - '0'] : static_cast<char>(vk);
    return {std::string(1, c), std::string("Digit") + static_cast<char>(vk)};
  }
  if (vk >= 0x70 && vk <= 0x7B) {
    // Appended rather than "F" + to_string(...): GCC 12 at -O3 misreads the
    // insert at the front of a temporary as an overlapping copy.
    std::string f(1, 'F');
    f += std::to_string(vk - 0x70 + 1);
    return {f, f};
  }
  if (vk >= 0x60 && vk <= 0x69) {
    std::string d(1, static_cast<char>('0' + vk - 0x60));
    return {d, "Numpad" + d};
  }
  switch (vk) {
    case 0x08: return {"Backspace", "Backspace"};
    case 0x09: return {"Tab", "Tab"};
    case 0x0D: return {"Enter", "Enter"};
    case 0x10: return {"Shift", "ShiftLeft"};
    case 0x11: return {"Control", "ControlLeft"};
    case 0x12: return {"Alt", "AltLeft"};
    case 0x1B: return {"Escape", "Escape"};
    case 0x20: return {" ", "Space"};
    case 0x21: return {"PageUp", "PageUp"};
    case 0x22: return {"PageDown", "PageDown"};
    case 0x23: return {"End", "End"};
    case 0x24: return {"Home", "Home"};
    case 0x25: return {"ArrowLeft", "ArrowLeft"};
    case 0x26: return {"ArrowUp", "ArrowUp"};
    case 0x27: return {"ArrowRight", "ArrowRight"};
    case 0x28: return {"ArrowDown", "ArrowDown"};
    case 0x2D: return {"Insert", "Insert"};
    case 0x2E: return {"Delete", "Delete"};
    default: return {};
  }
}

bool KeyEventParams(const KeyInput& e, json& p) {
  static const char* const types[] = {"rawKeyDown", "keyDown", "keyUp", "char"};
  if (e.type < 0 || e.type > 3) return false;
  bool shift = (e.modifiers & kFlagShift) != 0;
  p = json{{"type", types[e.type]},
           {"modifiers", DevToolsModifiers(e.modifiers)},
           {"windowsVirtualKeyCode", e.windowsKeyCode},
           {"nativeVirtualKeyCode", e.nativeKeyCode},
           {"isSystemKey", e.isSystemKey},
           {"isKeypad", (e.modifiers & kFlagKeyPad) != 0}};
  if (e.modifiers & kFlagKeyPad)
    p["location"] = 3;
  else if (e.modifiers & kFlagIsLeft)
    p["location"] = 1;
  else if (e.modifiers & kFlagIsRight)
    p["location"] = 2;
  if (e.type == kKeyChar) {
    // A char event without a character takes it from the virtual-key code.
    char16_t ch = e.character ? e.character : static_cast<char16_t>(e.windowsKeyCode);
    char16_t unmod = e.unmodifiedCharacter ? e.unmodifiedCharacter : ch;
    if (ch == 0) return false;
    std::string text = Utf16ToUtf8(&ch, 1);
    p["text"] = text;
    p["unmodifiedText"] = Utf16ToUtf8(&unmod, 1);
    p["key"] = text;
    return true;
  }
  KeyNames names = NamesForVirtualKey(e.windowsKeyCode, shift);
  if (!names.key.empty()) p["key"] = names.key;
  if (!names.code.empty()) p["code"] = names.code;
  // Enter and Tab must reach the page as the characters they type too; the engine's
  // caller sends a char event for them as for any other key, so nothing is added here.
  return true;
}

int CursorTypeForCss(const std::string& css, const std::string& autoHint) {
  static const std::unordered_map<std::string, int> table = {
      {"default", 0},       {"crosshair", 1},      {"pointer", 2},      {"text", 3},
      {"wait", 4},          {"help", 5},           {"e-resize", 6},     {"n-resize", 7},
      {"ne-resize", 8},     {"nw-resize", 9},      {"s-resize", 10},    {"se-resize", 11},
      {"sw-resize", 12},    {"w-resize", 13},      {"ns-resize", 14},   {"ew-resize", 15},
      {"nesw-resize", 16},  {"nwse-resize", 17},   {"col-resize", 18},  {"row-resize", 19},
      {"all-scroll", 20},   {"move", 29},          {"vertical-text", 30}, {"cell", 31},
      {"context-menu", 32}, {"alias", 33},         {"progress", 34},    {"no-drop", 35},
      {"copy", 36},         {"none", 37},          {"not-allowed", 38}, {"zoom-in", 39},
      {"zoom-out", 40},     {"grab", 41},          {"grabbing", 42},
  };
  // A list such as "url(x.png), pointer" ends with the fallback keyword.
  std::string value = css;
  size_t comma = value.rfind(',');
  if (comma != std::string::npos) value = value.substr(comma + 1);
  size_t b = value.find_first_not_of(" \t");
  size_t e = value.find_last_not_of(" \t");
  value = b == std::string::npos ? std::string() : value.substr(b, e - b + 1);
  if (value.empty() || value == "auto") {
    if (autoHint == "link") return 2;
    if (autoHint == "text") return 3;
    return 0;
  }
  auto it = table.find(value);
  return it == table.end() ? 0 : it->second;
}

int NetErrorCode(const std::string& errorText) {
  static const std::unordered_map<std::string, int> table = {
      {"IO_PENDING", -1},
      {"FAILED", -2},
      {"ABORTED", -3},
      {"INVALID_ARGUMENT", -4},
      {"INVALID_HANDLE", -5},
      {"FILE_NOT_FOUND", -6},
      {"TIMED_OUT", -7},
      {"FILE_TOO_BIG", -8},
      {"UNEXPECTED", -9},
      {"ACCESS_DENIED", -10},
      {"NOT_IMPLEMENTED", -11},
      {"INSUFFICIENT_RESOURCES", -12},
      {"OUT_OF_MEMORY", -13},
      {"UPLOAD_FILE_CHANGED", -14},
      {"SOCKET_NOT_CONNECTED", -15},
      {"FILE_EXISTS", -16},
      {"FILE_PATH_TOO_LONG", -17},
      {"FILE_NO_SPACE", -18},
      {"FILE_VIRUS_INFECTED", -19},
      {"BLOCKED_BY_CLIENT", -20},
      {"NETWORK_CHANGED", -21},
      {"BLOCKED_BY_ADMINISTRATOR", -22},
      {"SOCKET_IS_CONNECTED", -23},
      {"CONTEXT_SHUT_DOWN", -26},
      {"BLOCKED_BY_RESPONSE", -27},
      {"CLEARTEXT_NOT_PERMITTED", -29},
      {"BLOCKED_BY_CSP", -30},
      {"CONNECTION_CLOSED", -100},
      {"CONNECTION_RESET", -101},
      {"CONNECTION_REFUSED", -102},
      {"CONNECTION_ABORTED", -103},
      {"CONNECTION_FAILED", -104},
      {"NAME_NOT_RESOLVED", -105},
      {"INTERNET_DISCONNECTED", -106},
      {"SSL_PROTOCOL_ERROR", -107},
      {"ADDRESS_INVALID", -108},
      {"ADDRESS_UNREACHABLE", -109},
      {"SSL_CLIENT_AUTH_CERT_NEEDED", -110},
      {"TUNNEL_CONNECTION_FAILED", -111},
      {"NO_SSL_VERSIONS_ENABLED", -112},
      {"SSL_VERSION_OR_CIPHER_MISMATCH", -113},
      {"SSL_RENEGOTIATION_REQUESTED", -114},
      {"PROXY_AUTH_UNSUPPORTED", -115},
      {"BAD_SSL_CLIENT_AUTH_CERT", -117},
      {"CONNECTION_TIMED_OUT", -118},
      {"HOST_RESOLVER_QUEUE_TOO_LARGE", -119},
      {"SOCKS_CONNECTION_FAILED", -120},
      {"SOCKS_CONNECTION_HOST_UNREACHABLE", -121},
      {"PROXY_CONNECTION_FAILED", -130},
      {"NAME_RESOLUTION_FAILED", -137},
      {"NETWORK_ACCESS_DENIED", -138},
      {"ADDRESS_IN_USE", -147},
      {"CERT_COMMON_NAME_INVALID", -200},
      {"CERT_DATE_INVALID", -201},
      {"CERT_AUTHORITY_INVALID", -202},
      {"CERT_CONTAINS_ERRORS", -203},
      {"CERT_NO_REVOCATION_MECHANISM", -204},
      {"CERT_UNABLE_TO_CHECK_REVOCATION", -205},
      {"CERT_REVOKED", -206},
      {"CERT_INVALID", -207},
      {"CERT_WEAK_SIGNATURE_ALGORITHM", -208},
      {"INVALID_URL", -300},
      {"DISALLOWED_URL_SCHEME", -301},
      {"UNKNOWN_URL_SCHEME", -302},
      {"INVALID_REDIRECT", -303},
      {"TOO_MANY_REDIRECTS", -310},
      {"UNSAFE_REDIRECT", -311},
      {"UNSAFE_PORT", -312},
      {"INVALID_RESPONSE", -320},
      {"INVALID_CHUNKED_ENCODING", -321},
      {"METHOD_NOT_SUPPORTED", -322},
      {"EMPTY_RESPONSE", -324},
      {"RESPONSE_HEADERS_TOO_BIG", -325},
      {"CONTENT_DECODING_FAILED", -330},
  };
  std::string name = errorText;
  if (name.rfind("net::", 0) == 0) name = name.substr(5);
  if (name.rfind("ERR_", 0) == 0) name = name.substr(4);
  auto it = table.find(name);
  return it == table.end() ? -2 : it->second;
}

std::string Utf16ToUtf8(const char16_t* s, size_t n) {
  std::string out;
  out.reserve(n);
  for (size_t i = 0; i < n; ++i) {
    uint32_t c = s[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < n && s[i + 1] >= 0xDC00 && s[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (s[i + 1] - 0xDC00);
      ++i;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      c = 0xFFFD;  // a lone surrogate
    }
    if (c < 0x80) {
      out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (c >> 6)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | (c >> 12)));
      out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | (c >> 18)));
      out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
  }
  return out;
}

std::u16string Utf8ToUtf16(const std::string& s) {
  std::u16string out;
  out.reserve(s.size());
  size_t i = 0, n = s.size();
  auto cont = [&](size_t k) { return k < n && (static_cast<uint8_t>(s[k]) & 0xC0) == 0x80; };
  while (i < n) {
    uint8_t b = static_cast<uint8_t>(s[i]);
    uint32_t c;
    size_t len;
    if (b < 0x80) {
      c = b;
      len = 1;
    } else if ((b & 0xE0) == 0xC0 && cont(i + 1)) {
      c = ((b & 0x1Fu) << 6) | (s[i + 1] & 0x3F);
      len = 2;
      if (c < 0x80) c = 0xFFFD;
    } else if ((b & 0xF0) == 0xE0 && cont(i + 1) && cont(i + 2)) {
      c = ((b & 0x0Fu) << 12) | ((s[i + 1] & 0x3Fu) << 6) | (s[i + 2] & 0x3F);
      len = 3;
      if (c < 0x800 || (c >= 0xD800 && c <= 0xDFFF)) c = 0xFFFD;
    } else if ((b & 0xF8) == 0xF0 && cont(i + 1) && cont(i + 2) && cont(i + 3)) {
      c = ((b & 0x07u) << 18) | ((s[i + 1] & 0x3Fu) << 12) | ((s[i + 2] & 0x3Fu) << 6) |
          (s[i + 3] & 0x3F);
      len = 4;
      if (c < 0x10000 || c > 0x10FFFF) c = 0xFFFD;
    } else {
      c = 0xFFFD;
      len = 1;
    }
    i += len;
    if (c >= 0x10000) {
      c -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(c));
    }
  }
  return out;
}

}  // namespace cefeng
