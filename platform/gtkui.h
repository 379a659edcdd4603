// The desktop window toolkit (GTK 3) behind a small component interface: a form,
// panels, edit boxes, a push button and a double-buffered paint box, laid out by
// designed bounds with top/client alignment and anchors, and Windows-style key
// messages. No GTK type appears here; only the host's test window uses it, and
// nothing here touches the display before OpenDisplay succeeded.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace platform::gui {

// Opens the default display ($DISPLAY) for the toolkit. False when there is none,
// with the reason in *error. Call once, on the main thread, before any component.
bool OpenDisplay(std::string* error);

// Makes the fontconfig file at `path` this process's font configuration for the
// components made after it (the system's configuration is not changed). False when
// the file cannot be loaded; the configuration in use then stays.
bool UseFontConfiguration(const std::string& path);

// Called (on the main thread) when a component's event handler raised an exception;
// the exception is dropped and the window keeps running. May be empty.
void SetExceptionHandler(std::function<void()> handler);

// Keyboard and mouse state of an input event.
enum : unsigned {
  ssShift = 1u << 0,
  ssAlt = 1u << 1,
  ssCtrl = 1u << 2,
  ssLeft = 1u << 3,
  ssRight = 1u << 4,
  ssMiddle = 1u << 5,
  ssDouble = 1u << 6,
};
using TShiftState = unsigned;

enum class TMouseButton { mbLeft, mbRight, mbMiddle };

enum class TAlign { alNone, alTop, alClient };
enum : unsigned { akLeft = 1, akTop = 2, akRight = 4, akBottom = 8 };

struct TBounds {
  int Left = 0;
  int Top = 0;
  int Width = 0;
  int Height = 0;
};

// A window message of the keyboard family, as the main loop takes it from its queue.
inline constexpr unsigned WM_KEYDOWN = 256, WM_KEYUP = 257, WM_CHAR = 258, WM_DEADCHAR = 259,
                          WM_SYSKEYDOWN = 260, WM_SYSKEYUP = 261, WM_SYSCHAR = 262,
                          WM_SYSDEADCHAR = 263;
struct TKeyMessage {
  unsigned Message = 0;
  uint32_t WParam = 0;  // virtual-key code; for the character messages the ANSI character
  uint32_t LParam = 0;  // the hardware key code (the native key code)
  unsigned Shift = 0;   // TShiftState: keyboard and mouse buttons at the event
};

// The Windows virtual-key code of a toolkit key value (X keysym); 0 when it has none.
unsigned VirtualKeyFromKeyval(unsigned keyval);

// The messages Windows would queue for one key event: a press gives key down (system
// key down while Alt is held) followed by a character message when the key types one,
// a release gives key up (system key up with Alt). `baseKeyval` is the key's value
// without modifiers (it picks the virtual key), `keyval` the value with them (it picks
// the character), `hardwareCode` the key's hardware code.
std::vector<TKeyMessage> KeyMessagesFor(bool press, unsigned baseKeyval, unsigned keyval,
                                        unsigned hardwareCode, TShiftState state);

class TContainer;

// The common part of every component: placement, font, focus.
class TControl {
 public:
  virtual ~TControl();
  TControl(const TControl&) = delete;
  TControl& operator=(const TControl&) = delete;

  // Designed position and size within the parent, at the parent's designed size.
  void SetBounds(TBounds bounds);
  void SetAlign(TAlign align);
  void SetAnchors(unsigned anchors);
  // Font family (falling back to the desktop's sans-serif) and height in pixels.
  void SetFont(const std::string& family, int pixelHeight);
  // The family of the face the toolkit draws the control's text with.
  std::string FontFace() const;
  // The current placement within the parent (after layout).
  TBounds Bounds() const;
  int Width() const { return Bounds().Width; }
  int Height() const { return Bounds().Height; }
  bool Focused() const;
  void SetFocus();

  void* Handle() const { return FWidget; }

 protected:
  TControl(void* widget, TContainer* parent);
  void* FWidget;  // the toolkit widget, one reference held
};

// A component that holds others (the form's client area, a panel).
class TContainer : public TControl {
 public:
  // Where children go (the container's inner widget).
  void* ChildArea() const { return FArea; }

 protected:
  TContainer(void* widget, void* area, TContainer* parent);
  void* FArea;
};

class TPanel : public TContainer {
 public:
  explicit TPanel(TContainer& parent);
  // Lowered outer bevel: a one-pixel sunken frame.
  void SetLoweredBevel(bool lowered);
};

class TEdit : public TControl {
 public:
  explicit TEdit(TContainer& parent);
  std::string Text() const;  // ANSI text
  void SetText(const std::string& ansi);
  void SetBorder(bool border);

  std::function<void()> OnChange;
  // A key that types a character (Enter 13, Backspace 8, Tab 9, Escape 27, printable
  // characters in the ANSI code page). Setting `key` to 0 swallows it.
  std::function<void(char& key)> OnKeyPress;
};

class TButton : public TControl {
 public:
  TButton(TContainer& parent, const std::string& caption);
  std::function<void()> OnClick;
};

// A paint box with a back buffer the size of the box. Images drawn onto it stay in
// the back buffer, which repaints the box whenever the window system asks.
class TPaintBox : public TControl {
 public:
  explicit TPaintBox(TContainer& parent);
  ~TPaintBox() override;

  // Copies a BGRA picture (stride width * 4) to (0, 0), clipped to the box, and shows it.
  void DrawImage(const uint8_t* pixels, int width, int height);
  // Resizes the back buffer, keeping what fits.
  void ResizeBuffer(int width, int height);
  // A named desktop cursor ("default", "pointer", "text", "none", ...).
  void SetCursor(const std::string& name);
  // Whether the box takes the arrow keys instead of moving the focus.
  void SetWantArrows(bool want);

  std::function<void(TMouseButton, TShiftState, int x, int y)> OnMouseDown;
  std::function<void(TMouseButton, TShiftState, int x, int y)> OnMouseUp;
  std::function<void(TShiftState, int x, int y)> OnMouseMove;
  // Wheel delta in Windows units (120 a notch, positive away from the user) and the
  // pointer position in screen coordinates.
  std::function<void(TShiftState, int delta, int screenX, int screenY)> OnMouseWheel;
  // The box changed size (also its first layout); runs from the main loop after layout.
  std::function<void()> OnResize;

  struct TState;

 private:
  std::unique_ptr<TState> FState;
};

// The top-level window. Its designed client size is the size children are laid out for.
class TForm : public TContainer {
 public:
  TForm(const std::string& caption, TBounds outer, int clientWidth, int clientHeight);
  ~TForm() override;

  void SetCaption(const std::string& caption);
  std::string Caption() const;
  // OnShow runs, then the window appears at its designed place.
  void Show();
  // Resizes the window's client area (as a user dragging its border would).
  void SetClientSize(int width, int height);
  // The component that gets the focus when the window is shown.
  void SetActiveControl(TControl* control);
  // Writes the window as it is drawn now into a PNG file; raises Exception on failure.
  void SaveToPng(const std::string& path);

  std::function<void()> OnShow;
  // The user asked to close the window; it stays until the form is destroyed.
  std::function<void()> OnClose;
  // Every key message before the focused component gets it (not a way to swallow it).
  std::function<void(const TKeyMessage&)> OnMessage;

 private:
  TControl* FActive = nullptr;
  TBounds FOuter;
};

}  // namespace platform::gui
