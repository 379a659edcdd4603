// Translation between the engine's input records, cursor types and error codes and
// their DevTools counterparts. Pure functions, no state.
#pragma once
#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>

namespace cefeng {

using json = nlohmann::json;

// Engine event flag bits.
enum : uint32_t {
  kFlagCapsLock = 1u << 0,
  kFlagShift = 1u << 1,
  kFlagControl = 1u << 2,
  kFlagAlt = 1u << 3,
  kFlagLeftButton = 1u << 4,
  kFlagMiddleButton = 1u << 5,
  kFlagRightButton = 1u << 6,
  kFlagCommand = 1u << 7,
  kFlagNumLock = 1u << 8,
  kFlagKeyPad = 1u << 9,
  kFlagIsLeft = 1u << 10,
  kFlagIsRight = 1u << 11,
};

enum MouseButton { kButtonLeft = 0, kButtonMiddle = 1, kButtonRight = 2 };
enum KeyType { kKeyRawDown = 0, kKeyDown = 1, kKeyUp = 2, kKeyChar = 3 };

struct MouseInput {
  int x = 0, y = 0;
  uint32_t modifiers = 0;
};

struct KeyInput {
  int type = kKeyRawDown;
  uint32_t modifiers = 0;
  int windowsKeyCode = 0;
  int nativeKeyCode = 0;
  bool isSystemKey = false;
  char16_t character = 0;
  char16_t unmodifiedCharacter = 0;
};

// DevTools modifier bits: Alt 1, Ctrl 2, Meta 4, Shift 8.
int DevToolsModifiers(uint32_t flags);
// DevTools "buttons" bit field of the buttons held: left 1, right 2, middle 4.
int DevToolsButtons(uint32_t flags);

json MouseClickParams(const MouseInput& e, int button, bool mouseUp, int clickCount);
json MouseMoveParams(const MouseInput& e, bool mouseLeave);
// Engine wheel deltas: positive deltaY scrolls up (DevTools: positive scrolls down).
json MouseWheelParams(const MouseInput& e, int deltaX, int deltaY);
// Returns false when the event cannot be expressed (unknown type).
bool KeyEventParams(const KeyInput& e, json& params);

// DOM key and code names of a Windows virtual-key code ("" when not well known).
struct KeyNames {
  std::string key;
  std::string code;
};
KeyNames NamesForVirtualKey(int vk, bool shift);

// Engine cursor type for a computed CSS cursor value. `autoHint` describes what lies
// under the pointer when the value is "auto": "link", "text" or "".
int CursorTypeForCss(const std::string& css, const std::string& autoHint = std::string());

// Chromium's numeric net error code for an error text such as
// "net::ERR_CONNECTION_REFUSED"; -2 (ERR_FAILED) for names not known here.
int NetErrorCode(const std::string& errorText);

std::string Utf16ToUtf8(const char16_t* s, size_t n);
std::u16string Utf8ToUtf16(const std::string& s);

}  // namespace cefeng
