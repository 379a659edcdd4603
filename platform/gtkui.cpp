#include "platform/gtkui.h"

#include <fontconfig/fontconfig.h>
#include <gdk/gdkkeysyms.h>
#include <gtk/gtk.h>
#include <pango/pangocairo.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "base/exception.h"
#include "platform/codepage.h"

namespace platform::gui {
namespace {

std::function<void()> gExceptionHandler;

// Runs an event handler; an exception it raises goes to the exception handler and
// never back into the toolkit's C code.
template <class F>
void Guarded(F&& fn) {
  try {
    fn();
  } catch (...) {
    if (gExceptionHandler) {
      try {
        gExceptionHandler();
      } catch (...) {
      }
    }
  }
}

// Layout data of a component: designed bounds (for a container also its designed
// client size), alignment and anchors.
struct TLayout {
  TBounds Design;
  TAlign Align = TAlign::alNone;
  unsigned Anchors = akLeft | akTop;
  bool LoweredBevel = false;
};

GQuark LayoutQuark() {
  static GQuark q = g_quark_from_static_string("pv7-layout");
  return q;
}

TLayout& LayoutOf(GtkWidget* w) {
  auto* l = static_cast<TLayout*>(g_object_get_qdata(G_OBJECT(w), LayoutQuark()));
  if (!l) {
    l = new TLayout;
    g_object_set_qdata_full(G_OBJECT(w), LayoutQuark(), l,
                            [](gpointer p) { delete static_cast<TLayout*>(p); });
  }
  return *l;
}

// The anchor box: a GtkFixed whose children are placed by their TLayout each time
// the box gets its size, so the layout follows the window when it is resized. Its
// own minimum size is 0, so the window can be made smaller than designed.
GtkWidgetClass* gFixedClass = nullptr;

void AnchorPreferredWidth(GtkWidget* w, gint* min, gint* natural) {
  *min = 0;
  *natural = std::max(0, LayoutOf(w).Design.Width);
}

void AnchorPreferredHeight(GtkWidget* w, gint* min, gint* natural) {
  *min = 0;
  *natural = std::max(0, LayoutOf(w).Design.Height);
}

void Allocate(GtkWidget* child, int x, int y, int width, int height) {
  GtkRequisition min;
  gtk_widget_get_preferred_size(child, &min, nullptr);
  // Never below what the component needs to draw itself (only in a tiny window).
  GtkAllocation a{x, y, std::max({1, width, min.width}), std::max({1, height, min.height})};
  gtk_widget_size_allocate(child, &a);
}

void AnchorSizeAllocate(GtkWidget* widget, GtkAllocation* alloc) {
  gtk_widget_set_allocation(widget, alloc);
  const TLayout& self = LayoutOf(widget);
  const int W = alloc->width, H = alloc->height;
  const int dw = self.Design.Width, dh = self.Design.Height;
  const int inset = self.LoweredBevel ? 1 : 0;
  int restX = inset, restY = inset, restW = W - 2 * inset, restH = H - 2 * inset;
  std::vector<GtkWidget*> clients;
  GList* children = gtk_container_get_children(GTK_CONTAINER(widget));
  for (GList* it = children; it; it = it->next) {
    GtkWidget* c = GTK_WIDGET(it->data);
    if (!gtk_widget_get_visible(c)) continue;
    const TLayout& l = LayoutOf(c);
    const TBounds& b = l.Design;
    if (l.Align == TAlign::alTop) {
      const int h = std::min(b.Height, std::max(0, restH));
      Allocate(c, alloc->x + restX, alloc->y + restY, restW, h);
      restY += h;
      restH -= h;
    } else if (l.Align == TAlign::alClient) {
      clients.push_back(c);
    } else {
      int x = b.Left, w = b.Width, y = b.Top, h = b.Height;
      if (l.Anchors & akRight) {
        const int rightGap = dw - (b.Left + b.Width);
        if (l.Anchors & akLeft) w = W - b.Left - rightGap;
        else x = W - rightGap - b.Width;
      }
      if (l.Anchors & akBottom) {
        const int bottomGap = dh - (b.Top + b.Height);
        if (l.Anchors & akTop) h = H - b.Top - bottomGap;
        else y = H - bottomGap - b.Height;
      }
      Allocate(c, alloc->x + x, alloc->y + y, w, h);
    }
  }
  g_list_free(children);
  for (GtkWidget* c : clients) Allocate(c, alloc->x + restX, alloc->y + restY, restW, restH);
}

gboolean AnchorDraw(GtkWidget* widget, cairo_t* cr) {
  if (LayoutOf(widget).LoweredBevel) {
    const int w = gtk_widget_get_allocated_width(widget), h = gtk_widget_get_allocated_height(widget);
    cairo_set_line_width(cr, 1);
    cairo_set_source_rgb(cr, 0.63, 0.63, 0.63);  // shadow: top and left
    cairo_move_to(cr, 0.5, h - 0.5);
    cairo_line_to(cr, 0.5, 0.5);
    cairo_line_to(cr, w - 0.5, 0.5);
    cairo_stroke(cr);
    cairo_set_source_rgb(cr, 1, 1, 1);  // highlight: bottom and right
    cairo_move_to(cr, w - 0.5, 0.5);
    cairo_line_to(cr, w - 0.5, h - 0.5);
    cairo_line_to(cr, 0.5, h - 0.5);
    cairo_stroke(cr);
  }
  return gFixedClass->draw(widget, cr);
}

void AnchorClassInit(gpointer klass, gpointer) {
  gFixedClass = GTK_WIDGET_CLASS(g_type_class_peek_parent(klass));
  GtkWidgetClass* wc = GTK_WIDGET_CLASS(klass);
  wc->get_preferred_width = AnchorPreferredWidth;
  wc->get_preferred_height = AnchorPreferredHeight;
  wc->size_allocate = AnchorSizeAllocate;
  wc->draw = AnchorDraw;
}

GType AnchorBoxType() {
  static GType type = 0;
  if (!type) {
    GTypeQuery q;
    g_type_query(GTK_TYPE_FIXED, &q);
    type = g_type_register_static_simple(GTK_TYPE_FIXED, "Pv7AnchorBox", q.class_size,
                                         AnchorClassInit, q.instance_size, nullptr, GTypeFlags(0));
  }
  return type;
}

GtkWidget* NewAnchorBox() { return GTK_WIDGET(g_object_new(AnchorBoxType(), nullptr)); }

void ApplyCss(GtkWidget* w, const std::string& css) {
  GtkCssProvider* p = gtk_css_provider_new();
  gtk_css_provider_load_from_data(p, css.c_str(), -1, nullptr);
  gtk_style_context_add_provider(gtk_widget_get_style_context(w), GTK_STYLE_PROVIDER(p),
                                 GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
  g_object_unref(p);
}

TShiftState ShiftFromGdk(guint state) {
  TShiftState s = 0;
  if (state & GDK_SHIFT_MASK) s |= ssShift;
  if (state & GDK_CONTROL_MASK) s |= ssCtrl;
  if (state & GDK_MOD1_MASK) s |= ssAlt;
  if (state & GDK_BUTTON1_MASK) s |= ssLeft;
  if (state & GDK_BUTTON2_MASK) s |= ssMiddle;
  if (state & GDK_BUTTON3_MASK) s |= ssRight;
  return s;
}

bool ButtonOf(guint button, TMouseButton& out, TShiftState& flag) {
  switch (button) {
    case 1: out = TMouseButton::mbLeft; flag = ssLeft; return true;
    case 2: out = TMouseButton::mbMiddle; flag = ssMiddle; return true;
    case 3: out = TMouseButton::mbRight; flag = ssRight; return true;
    default: return false;
  }
}

// The key's value without modifiers, from its hardware code.
unsigned BaseKeyval(const GdkEventKey* e) {
  guint base = 0;
  GdkKeymap* keymap = gdk_keymap_get_for_display(gdk_window_get_display(e->window));
  if (!gdk_keymap_translate_keyboard_state(keymap, e->hardware_keycode, GdkModifierType(0),
                                           e->group, &base, nullptr, nullptr, nullptr))
    return e->keyval;
  return base;
}

// The ANSI character a key types, 0 when none; Ctrl with a letter gives its control code.
unsigned CharacterOf(unsigned keyval, TShiftState state) {
  switch (keyval) {
    case GDK_KEY_Return: case GDK_KEY_KP_Enter: case GDK_KEY_ISO_Enter: return 13;
    case GDK_KEY_BackSpace: return 8;
    case GDK_KEY_Tab: case GDK_KEY_ISO_Left_Tab: case GDK_KEY_KP_Tab: return 9;
    case GDK_KEY_Escape: return 27;
    default: break;
  }
  const uint32_t uni = gdk_keyval_to_unicode(keyval);
  if (uni == 0 || uni < 32 || uni == 127) return 0;
  const bool ctrl = (state & ssCtrl) && !(state & ssAlt);  // Ctrl+Alt is AltGr
  if (ctrl) {
    if ((uni >= 'a' && uni <= 'z') || (uni >= 'A' && uni <= 'Z')) return uni & 0x1F;
    return 0;
  }
  if (uni > 0xFFFF) return '?';
  const char16_t wide = char16_t(uni);
  char ansi = '?';
  WideToMultiByte(kAnsiCodePage, &wide, 1, &ansi, 1);
  return static_cast<unsigned char>(ansi);
}

}  // namespace

bool OpenDisplay(std::string* error) {
  gdk_set_allowed_backends("x11");
  if (gtk_init_check(nullptr, nullptr)) return true;
  if (error) {
    const char* name = g_getenv("DISPLAY");
    *error = std::string("cannot open display: ") + (name && *name ? name : "(none)");
  }
  return false;
}

bool UseFontConfiguration(const std::string& path) {
  FcConfig* config = FcConfigCreate();
  if (!config) return false;
  const bool loaded = FcConfigParseAndLoad(config, reinterpret_cast<const FcChar8*>(path.c_str()), FcTrue) &&
                      FcConfigBuildFonts(config) && FcConfigSetCurrent(config);
  FcConfigDestroy(config);  // the current configuration holds its own reference
  // The next font map is made with the new configuration.
  if (loaded) pango_cairo_font_map_set_default(nullptr);
  return loaded;
}

void SetExceptionHandler(std::function<void()> handler) { gExceptionHandler = std::move(handler); }

unsigned VirtualKeyFromKeyval(unsigned k) {
  if (k >= GDK_KEY_a && k <= GDK_KEY_z) return k - GDK_KEY_a + 'A';
  if (k >= GDK_KEY_A && k <= GDK_KEY_Z) return k;
  if (k >= GDK_KEY_0 && k <= GDK_KEY_9) return k;
  if (k >= GDK_KEY_F1 && k <= GDK_KEY_F24) return 0x70 + (k - GDK_KEY_F1);
  if (k >= GDK_KEY_KP_0 && k <= GDK_KEY_KP_9) return 0x60 + (k - GDK_KEY_KP_0);
  switch (k) {
    case GDK_KEY_BackSpace: return 0x08;
    case GDK_KEY_Tab: case GDK_KEY_ISO_Left_Tab: case GDK_KEY_KP_Tab: return 0x09;
    case GDK_KEY_Clear: case GDK_KEY_KP_Begin: return 0x0C;
    case GDK_KEY_Return: case GDK_KEY_KP_Enter: case GDK_KEY_ISO_Enter: return 0x0D;
    case GDK_KEY_Shift_L: case GDK_KEY_Shift_R: return 0x10;
    case GDK_KEY_Control_L: case GDK_KEY_Control_R: return 0x11;
    case GDK_KEY_Alt_L: case GDK_KEY_Alt_R: case GDK_KEY_Meta_L: case GDK_KEY_Meta_R:
    case GDK_KEY_ISO_Level3_Shift: return 0x12;
    case GDK_KEY_Pause: return 0x13;
    case GDK_KEY_Caps_Lock: return 0x14;
    case GDK_KEY_Escape: return 0x1B;
    case GDK_KEY_space: case GDK_KEY_KP_Space: return 0x20;
    case GDK_KEY_Page_Up: case GDK_KEY_KP_Page_Up: return 0x21;
    case GDK_KEY_Page_Down: case GDK_KEY_KP_Page_Down: return 0x22;
    case GDK_KEY_End: case GDK_KEY_KP_End: return 0x23;
    case GDK_KEY_Home: case GDK_KEY_KP_Home: return 0x24;
    case GDK_KEY_Left: case GDK_KEY_KP_Left: return 0x25;
    case GDK_KEY_Up: case GDK_KEY_KP_Up: return 0x26;
    case GDK_KEY_Right: case GDK_KEY_KP_Right: return 0x27;
    case GDK_KEY_Down: case GDK_KEY_KP_Down: return 0x28;
    case GDK_KEY_Select: return 0x29;
    case GDK_KEY_Print: return 0x2C;
    case GDK_KEY_Insert: case GDK_KEY_KP_Insert: return 0x2D;
    case GDK_KEY_Delete: case GDK_KEY_KP_Delete: return 0x2E;
    case GDK_KEY_Help: return 0x2F;
    case GDK_KEY_Super_L: return 0x5B;
    case GDK_KEY_Super_R: return 0x5C;
    case GDK_KEY_Menu: return 0x5D;
    case GDK_KEY_KP_Multiply: return 0x6A;
    case GDK_KEY_KP_Add: return 0x6B;
    case GDK_KEY_KP_Separator: return 0x6C;
    case GDK_KEY_KP_Subtract: return 0x6D;
    case GDK_KEY_KP_Decimal: return 0x6E;
    case GDK_KEY_KP_Divide: return 0x6F;
    case GDK_KEY_Num_Lock: return 0x90;
    case GDK_KEY_Scroll_Lock: return 0x91;
    case GDK_KEY_semicolon: case GDK_KEY_colon: return 0xBA;
    case GDK_KEY_equal: case GDK_KEY_plus: return 0xBB;
    case GDK_KEY_comma: case GDK_KEY_less: return 0xBC;
    case GDK_KEY_minus: case GDK_KEY_underscore: return 0xBD;
    case GDK_KEY_period: case GDK_KEY_greater: return 0xBE;
    case GDK_KEY_slash: case GDK_KEY_question: return 0xBF;
    case GDK_KEY_grave: case GDK_KEY_asciitilde: return 0xC0;
    case GDK_KEY_bracketleft: case GDK_KEY_braceleft: return 0xDB;
    case GDK_KEY_backslash: case GDK_KEY_bar: return 0xDC;
    case GDK_KEY_bracketright: case GDK_KEY_braceright: return 0xDD;
    case GDK_KEY_apostrophe: case GDK_KEY_quotedbl: return 0xDE;
    default: return 0;
  }
}

std::vector<TKeyMessage> KeyMessagesFor(bool press, unsigned baseKeyval, unsigned keyval,
                                        unsigned hardwareCode, TShiftState state) {
  unsigned vk = VirtualKeyFromKeyval(baseKeyval);
  if (vk == 0) vk = VirtualKeyFromKeyval(keyval);
  const bool altKey = vk == 0x12 && keyval != GDK_KEY_ISO_Level3_Shift;
  // Alt makes the system variants; Ctrl+Alt (AltGr) types ordinary characters.
  const bool system = ((state & ssAlt) && !(state & ssCtrl)) || (altKey && !(state & ssCtrl));
  std::vector<TKeyMessage> out;
  if (!press) {
    out.push_back({system ? WM_SYSKEYUP : WM_KEYUP, vk, hardwareCode, state});
    return out;
  }
  out.push_back({system ? WM_SYSKEYDOWN : WM_KEYDOWN, vk, hardwareCode, state});
  if (const unsigned ch = CharacterOf(keyval, state))
    out.push_back({system ? WM_SYSCHAR : WM_CHAR, ch, hardwareCode, state});
  return out;
}

// ---- TControl ----

TControl::TControl(void* widget, TContainer* parent) : FWidget(widget) {
  g_object_ref_sink(G_OBJECT(widget));
  if (parent) gtk_container_add(GTK_CONTAINER(parent->ChildArea()), GTK_WIDGET(widget));
}

TControl::~TControl() {
  g_signal_handlers_disconnect_by_data(G_OBJECT(FWidget), this);
  g_object_unref(G_OBJECT(FWidget));
}

void TControl::SetBounds(TBounds bounds) {
  LayoutOf(GTK_WIDGET(FWidget)).Design = bounds;
  gtk_widget_queue_resize(GTK_WIDGET(FWidget));
}

void TControl::SetAlign(TAlign align) {
  LayoutOf(GTK_WIDGET(FWidget)).Align = align;
  gtk_widget_queue_resize(GTK_WIDGET(FWidget));
}

void TControl::SetAnchors(unsigned anchors) {
  LayoutOf(GTK_WIDGET(FWidget)).Anchors = anchors;
  gtk_widget_queue_resize(GTK_WIDGET(FWidget));
}

void TControl::SetFont(const std::string& family, int pixelHeight) {
  // Pango takes the first family of the list that the desktop has.
  ApplyCss(GTK_WIDGET(FWidget), "* { font-family: \"" + family + "\", sans-serif; font-size: " +
                                    std::to_string(pixelHeight) + "px; }");
}

std::string TControl::FontFace() const {
  GtkWidget* w = GTK_WIDGET(FWidget);
  GtkStyleContext* style = gtk_widget_get_style_context(w);
  PangoFontDescription* asked = nullptr;
  gtk_style_context_get(style, gtk_style_context_get_state(style), "font", &asked, nullptr);
  if (!asked) return {};
  std::string family;
  if (PangoFont* font = pango_context_load_font(gtk_widget_get_pango_context(w), asked)) {
    PangoFontDescription* got = pango_font_describe(font);
    if (const char* f = pango_font_description_get_family(got)) family = f;
    pango_font_description_free(got);
    g_object_unref(font);
  }
  pango_font_description_free(asked);
  return family;
}

TBounds TControl::Bounds() const {
  GtkAllocation a;
  gtk_widget_get_allocation(GTK_WIDGET(FWidget), &a);
  GtkWidget* parent = gtk_widget_get_parent(GTK_WIDGET(FWidget));
  if (parent && !gtk_widget_get_has_window(parent)) {
    GtkAllocation p;
    gtk_widget_get_allocation(parent, &p);
    a.x -= p.x;
    a.y -= p.y;
  }
  return {a.x, a.y, a.width, a.height};
}

bool TControl::Focused() const { return gtk_widget_is_focus(GTK_WIDGET(FWidget)); }

void TControl::SetFocus() { gtk_widget_grab_focus(GTK_WIDGET(FWidget)); }

TContainer::TContainer(void* widget, void* area, TContainer* parent)
    : TControl(widget, parent), FArea(area) {}

// ---- TPanel ----

TPanel::TPanel(TContainer& parent) : TContainer(NewAnchorBox(), nullptr, &parent) {
  FArea = FWidget;
}

void TPanel::SetLoweredBevel(bool lowered) {
  LayoutOf(GTK_WIDGET(FWidget)).LoweredBevel = lowered;
  gtk_widget_queue_resize(GTK_WIDGET(FWidget));
}

// ---- TEdit ----

TEdit::TEdit(TContainer& parent) : TControl(gtk_entry_new(), &parent) {
  GtkEntry* e = GTK_ENTRY(FWidget);
  gtk_entry_set_width_chars(e, 1);
  ApplyCss(GTK_WIDGET(e), "entry { min-height: 0; padding: 0 2px; }");
  g_signal_connect(e, "changed", G_CALLBACK(+[](GtkEditable*, gpointer self) {
                     auto* edit = static_cast<TEdit*>(self);
                     if (edit->OnChange) Guarded([&] { edit->OnChange(); });
                   }), this);
  g_signal_connect(e, "key-press-event", G_CALLBACK(+[](GtkWidget*, GdkEventKey* ev, gpointer self) -> gboolean {
                     auto* edit = static_cast<TEdit*>(self);
                     const unsigned ch = CharacterOf(ev->keyval, ShiftFromGdk(ev->state));
                     // Tab moves the focus as in any dialog; it types nothing here.
                     if (!ch || ch == 9 || !edit->OnKeyPress) return FALSE;
                     char key = char(ch);
                     Guarded([&] { edit->OnKeyPress(key); });
                     return key == 0;
                   }), this);
}

std::string TEdit::Text() const { return Utf8ToAnsi(gtk_entry_get_text(GTK_ENTRY(FWidget))); }

void TEdit::SetText(const std::string& ansi) {
  gtk_entry_set_text(GTK_ENTRY(FWidget), AnsiToUtf8(ansi).c_str());
}

void TEdit::SetBorder(bool border) { gtk_entry_set_has_frame(GTK_ENTRY(FWidget), border); }

// ---- TButton ----

TButton::TButton(TContainer& parent, const std::string& caption)
    : TControl(gtk_button_new_with_label(AnsiToUtf8(caption).c_str()), &parent) {
  // The theme's roomy padding would make the button larger than designed.
  ApplyCss(GTK_WIDGET(FWidget), "button { padding: 0 4px; min-height: 0; min-width: 0; }");
  g_signal_connect(FWidget, "clicked", G_CALLBACK(+[](GtkButton*, gpointer self) {
                     auto* b = static_cast<TButton*>(self);
                     if (b->OnClick) Guarded([&] { b->OnClick(); });
                   }), this);
}

// ---- TPaintBox ----

struct TPaintBox::TState {
  cairo_surface_t* Buffer = nullptr;  // RGB24: the same bytes as BGRA, alpha unused
  std::string Cursor = "default";
  bool WantArrows = false;
  int LastWidth = -1, LastHeight = -1;
  guint ResizeIdle = 0;
};

TPaintBox::TPaintBox(TContainer& parent)
    : TControl(gtk_drawing_area_new(), &parent), FState(std::make_unique<TState>()) {
  GtkWidget* w = GTK_WIDGET(FWidget);
  gtk_widget_set_can_focus(w, TRUE);
  gtk_widget_add_events(w, GDK_BUTTON_PRESS_MASK | GDK_BUTTON_RELEASE_MASK |
                               GDK_POINTER_MOTION_MASK | GDK_SCROLL_MASK | GDK_KEY_PRESS_MASK |
                               GDK_KEY_RELEASE_MASK | GDK_FOCUS_CHANGE_MASK);
  g_signal_connect(w, "draw", G_CALLBACK(+[](GtkWidget* wd, cairo_t* cr, gpointer self) -> gboolean {
                     auto* box = static_cast<TPaintBox*>(self);
                     cairo_set_source_rgb(cr, 1, 1, 1);
                     cairo_paint(cr);
                     if (box->FState->Buffer) {
                       cairo_set_source_surface(cr, box->FState->Buffer, 0, 0);
                       cairo_paint(cr);
                     }
                     (void)wd;
                     return TRUE;
                   }), this);
  g_signal_connect(w, "button-press-event", G_CALLBACK(+[](GtkWidget* wd, GdkEventButton* e, gpointer self) -> gboolean {
                     auto* box = static_cast<TPaintBox*>(self);
                     // The second press of a double click comes as a plain press too.
                     if (e->type != GDK_BUTTON_PRESS) return TRUE;
                     TMouseButton b;
                     TShiftState flag;
                     if (!ButtonOf(e->button, b, flag)) return FALSE;
                     gtk_widget_grab_focus(wd);  // takes the focus when clicked
                     if (box->OnMouseDown)
                       Guarded([&] { box->OnMouseDown(b, ShiftFromGdk(e->state) | flag, int(e->x), int(e->y)); });
                     return TRUE;
                   }), this);
  g_signal_connect(w, "button-release-event", G_CALLBACK(+[](GtkWidget*, GdkEventButton* e, gpointer self) -> gboolean {
                     auto* box = static_cast<TPaintBox*>(self);
                     TMouseButton b;
                     TShiftState flag;
                     if (!ButtonOf(e->button, b, flag)) return FALSE;
                     if (box->OnMouseUp)
                       Guarded([&] { box->OnMouseUp(b, ShiftFromGdk(e->state) & ~flag, int(e->x), int(e->y)); });
                     return TRUE;
                   }), this);
  g_signal_connect(w, "motion-notify-event", G_CALLBACK(+[](GtkWidget*, GdkEventMotion* e, gpointer self) -> gboolean {
                     auto* box = static_cast<TPaintBox*>(self);
                     if (box->OnMouseMove)
                       Guarded([&] { box->OnMouseMove(ShiftFromGdk(e->state), int(e->x), int(e->y)); });
                     return TRUE;
                   }), this);
  g_signal_connect(w, "scroll-event", G_CALLBACK(+[](GtkWidget*, GdkEventScroll* e, gpointer self) -> gboolean {
                     auto* box = static_cast<TPaintBox*>(self);
                     int delta = 0;
                     if (e->direction == GDK_SCROLL_UP) delta = 120;
                     else if (e->direction == GDK_SCROLL_DOWN) delta = -120;
                     else if (e->direction == GDK_SCROLL_SMOOTH) delta = int(-e->delta_y * 120);
                     if (delta == 0 || !box->OnMouseWheel) return FALSE;
                     Guarded([&] { box->OnMouseWheel(ShiftFromGdk(e->state), delta, int(e->x_root), int(e->y_root)); });
                     return FALSE;  // not marked handled
                   }), this);
  g_signal_connect(w, "key-press-event", G_CALLBACK(+[](GtkWidget*, GdkEventKey* e, gpointer self) -> gboolean {
                     auto* box = static_cast<TPaintBox*>(self);
                     switch (e->keyval) {
                       case GDK_KEY_Left: case GDK_KEY_Right: case GDK_KEY_Up: case GDK_KEY_Down:
                       case GDK_KEY_KP_Left: case GDK_KEY_KP_Right: case GDK_KEY_KP_Up: case GDK_KEY_KP_Down:
                         return box->FState->WantArrows;
                       default:
                         return FALSE;
                     }
                   }), this);
  g_signal_connect(w, "realize", G_CALLBACK(+[](GtkWidget*, gpointer self) {
                     auto* box = static_cast<TPaintBox*>(self);
                     box->SetCursor(box->FState->Cursor);
                   }), this);
  g_signal_connect(w, "size-allocate", G_CALLBACK(+[](GtkWidget*, GdkRectangle* a, gpointer self) {
                     auto* box = static_cast<TPaintBox*>(self);
                     TState& s = *box->FState;
                     if (a->width == s.LastWidth && a->height == s.LastHeight) return;
                     s.LastWidth = a->width;
                     s.LastHeight = a->height;
                     // The handler may run the main loop: let the layout pass end first.
                     if (s.ResizeIdle) return;
                     s.ResizeIdle = g_idle_add(+[](gpointer p) -> gboolean {
                       auto* b = static_cast<TPaintBox*>(p);
                       b->FState->ResizeIdle = 0;
                       if (b->OnResize) Guarded([&] { b->OnResize(); });
                       return G_SOURCE_REMOVE;
                     }, box);
                   }), this);
}

TPaintBox::~TPaintBox() {
  if (FState->ResizeIdle) g_source_remove(FState->ResizeIdle);
  if (FState->Buffer) cairo_surface_destroy(FState->Buffer);
}

void TPaintBox::ResizeBuffer(int width, int height) {
  width = std::max(0, width);
  height = std::max(0, height);
  cairo_surface_t* old = FState->Buffer;
  if (old && cairo_image_surface_get_width(old) == width &&
      cairo_image_surface_get_height(old) == height)
    return;
  cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_RGB24, width, height);
  cairo_t* cr = cairo_create(s);
  cairo_set_source_rgb(cr, 1, 1, 1);
  cairo_paint(cr);
  if (old) {
    cairo_set_source_surface(cr, old, 0, 0);
    cairo_paint(cr);
    cairo_surface_destroy(old);
  }
  cairo_destroy(cr);
  FState->Buffer = s;
  gtk_widget_queue_draw(GTK_WIDGET(FWidget));
}

void TPaintBox::DrawImage(const uint8_t* pixels, int width, int height) {
  cairo_surface_t* s = FState->Buffer;
  if (!s || !pixels || width <= 0 || height <= 0) return;
  cairo_surface_flush(s);
  const int w = std::min(width, cairo_image_surface_get_width(s));
  const int h = std::min(height, cairo_image_surface_get_height(s));
  if (w <= 0 || h <= 0) return;
  uint8_t* dst = cairo_image_surface_get_data(s);
  const int stride = cairo_image_surface_get_stride(s);
  for (int y = 0; y < h; ++y)
    std::memcpy(dst + size_t(y) * size_t(stride), pixels + size_t(y) * size_t(width) * 4,
                size_t(w) * 4);
  cairo_surface_mark_dirty_rectangle(s, 0, 0, w, h);
  gtk_widget_queue_draw_area(GTK_WIDGET(FWidget), 0, 0, w, h);
}

void TPaintBox::SetCursor(const std::string& name) {
  FState->Cursor = name;
  GtkWidget* w = GTK_WIDGET(FWidget);
  GdkWindow* win = gtk_widget_get_window(w);
  if (!gtk_widget_get_realized(w) || !win) return;
  GdkCursor* c = gdk_cursor_new_from_name(gdk_window_get_display(win), name.c_str());
  if (!c) c = gdk_cursor_new_from_name(gdk_window_get_display(win), "default");
  gdk_window_set_cursor(win, c);
  if (c) g_object_unref(c);
}

void TPaintBox::SetWantArrows(bool want) { FState->WantArrows = want; }

// ---- TForm ----

TForm::TForm(const std::string& caption, TBounds outer, int clientWidth, int clientHeight)
    : TContainer(gtk_window_new(GTK_WINDOW_TOPLEVEL), nullptr, nullptr), FOuter(outer) {
  GtkWindow* win = GTK_WINDOW(FWidget);
  GtkWidget* area = NewAnchorBox();
  LayoutOf(area).Design = {0, 0, clientWidth, clientHeight};
  gtk_container_add(GTK_CONTAINER(win), area);
  FArea = area;
  SetCaption(caption);
  gtk_window_set_default_size(win, clientWidth, clientHeight);
  gtk_window_move(win, outer.Left, outer.Top);
  g_signal_connect(win, "delete-event", G_CALLBACK(+[](GtkWidget*, GdkEvent*, gpointer self) -> gboolean {
                     auto* f = static_cast<TForm*>(self);
                     if (f->OnClose) Guarded([&] { f->OnClose(); });
                     return TRUE;  // the form owns the window; it goes when the form does
                   }), this);
  auto keyHook = +[](GtkWidget*, GdkEventKey* e, gpointer self) -> gboolean {
    auto* f = static_cast<TForm*>(self);
    if (!f->OnMessage) return FALSE;
    for (const TKeyMessage& m : KeyMessagesFor(e->type == GDK_KEY_PRESS, BaseKeyval(e), e->keyval,
                                               e->hardware_keycode, ShiftFromGdk(e->state)))
      Guarded([&] { f->OnMessage(m); });
    return FALSE;  // dispatched as usual
  };
  g_signal_connect(win, "key-press-event", G_CALLBACK(keyHook), this);
  g_signal_connect(win, "key-release-event", G_CALLBACK(keyHook), this);
}

TForm::~TForm() {
  g_signal_handlers_disconnect_by_data(G_OBJECT(FWidget), this);
  gtk_widget_destroy(GTK_WIDGET(FWidget));
}

void TForm::SetCaption(const std::string& caption) {
  gtk_window_set_title(GTK_WINDOW(FWidget), AnsiToUtf8(caption).c_str());
}

std::string TForm::Caption() const {
  const char* t = gtk_window_get_title(GTK_WINDOW(FWidget));
  return t ? Utf8ToAnsi(t) : std::string();
}

void TForm::SetClientSize(int width, int height) {
  gtk_window_resize(GTK_WINDOW(FWidget), std::max(1, width), std::max(1, height));
}

void TForm::SetActiveControl(TControl* control) { FActive = control; }

void TForm::Show() {
  if (OnShow) Guarded([&] { OnShow(); });
  gtk_widget_show_all(GTK_WIDGET(FWidget));
  gtk_window_move(GTK_WINDOW(FWidget), FOuter.Left, FOuter.Top);
  if (FActive) gtk_widget_grab_focus(GTK_WIDGET(FActive->Handle()));
}

void TForm::SaveToPng(const std::string& path) {
  GtkWidget* w = GTK_WIDGET(FWidget);
  const int width = gtk_widget_get_allocated_width(w), height = gtk_widget_get_allocated_height(w);
  if (width <= 0 || height <= 0) throw Exception("The window has no size yet");
  cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_RGB24, width, height);
  cairo_t* cr = cairo_create(s);
  gtk_widget_draw(w, cr);
  cairo_destroy(cr);
  const cairo_status_t st = cairo_surface_write_to_png(s, path.c_str());
  cairo_surface_destroy(s);
  if (st != CAIRO_STATUS_SUCCESS) throw Exception("Cannot write " + path);
}

}  // namespace platform::gui
