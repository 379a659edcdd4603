// The test window's translations: key values to virtual keys, key events to the
// window messages, messages to engine key events, input state to event flags, and
// the documents and scripts the boxes make. No display is needed.
#include <gtest/gtest.h>

#include "host/commands.h"
#include "host/streamut.h"
#include "host/testwindow.h"
#include "xml/exception.h"
#include "xml/xmlSimple.h"

using namespace platform::gui;

namespace {

// X key values (keysyms), as the toolkit delivers them.
constexpr unsigned GDK_KEY_a = 0x61, GDK_KEY_A = 0x41, GDK_KEY_Z = 0x5a, GDK_KEY_7 = 0x37,
                   GDK_KEY_x = 0x78, GDK_KEY_q = 0x71, GDK_KEY_at = 0x40, GDK_KEY_space = 0x20,
                   GDK_KEY_minus = 0x2d, GDK_KEY_apostrophe = 0x27, GDK_KEY_eacute = 0xe9,
                   GDK_KEY_Return = 0xff0d, GDK_KEY_KP_Enter = 0xff8d, GDK_KEY_BackSpace = 0xff08,
                   GDK_KEY_Tab = 0xff09, GDK_KEY_ISO_Left_Tab = 0xfe20, GDK_KEY_Escape = 0xff1b,
                   GDK_KEY_Left = 0xff51, GDK_KEY_Up = 0xff52, GDK_KEY_Right = 0xff53,
                   GDK_KEY_Down = 0xff54, GDK_KEY_Delete = 0xffff, GDK_KEY_F1 = 0xffbe,
                   GDK_KEY_F12 = 0xffc9, GDK_KEY_KP_5 = 0xffb5, GDK_KEY_Shift_L = 0xffe1,
                   GDK_KEY_Control_R = 0xffe4, GDK_KEY_Alt_L = 0xffe9, GDK_KEY_EuroSign = 0x20ac,
                   GDK_KEY_Cyrillic_a = 0x6c1;

}  // namespace

TEST(WindowKeys, KeyValuesMapToWindowsVirtualKeys) {
  EXPECT_EQ(VirtualKeyFromKeyval(GDK_KEY_a), 0x41u);
  EXPECT_EQ(VirtualKeyFromKeyval(GDK_KEY_Z), 0x5Au);
  EXPECT_EQ(VirtualKeyFromKeyval(GDK_KEY_7), 0x37u);
  EXPECT_EQ(VirtualKeyFromKeyval(GDK_KEY_Return), 0x0Du);
  EXPECT_EQ(VirtualKeyFromKeyval(GDK_KEY_KP_Enter), 0x0Du);
  EXPECT_EQ(VirtualKeyFromKeyval(GDK_KEY_BackSpace), 0x08u);
  EXPECT_EQ(VirtualKeyFromKeyval(GDK_KEY_Tab), 0x09u);
  EXPECT_EQ(VirtualKeyFromKeyval(GDK_KEY_ISO_Left_Tab), 0x09u);
  EXPECT_EQ(VirtualKeyFromKeyval(GDK_KEY_Escape), 0x1Bu);
  EXPECT_EQ(VirtualKeyFromKeyval(GDK_KEY_space), 0x20u);
  EXPECT_EQ(VirtualKeyFromKeyval(GDK_KEY_Left), 0x25u);
  EXPECT_EQ(VirtualKeyFromKeyval(GDK_KEY_Up), 0x26u);
  EXPECT_EQ(VirtualKeyFromKeyval(GDK_KEY_Right), 0x27u);
  EXPECT_EQ(VirtualKeyFromKeyval(GDK_KEY_Down), 0x28u);
  EXPECT_EQ(VirtualKeyFromKeyval(GDK_KEY_Delete), 0x2Eu);
  EXPECT_EQ(VirtualKeyFromKeyval(GDK_KEY_F1), 0x70u);
  EXPECT_EQ(VirtualKeyFromKeyval(GDK_KEY_F12), 0x7Bu);
  EXPECT_EQ(VirtualKeyFromKeyval(GDK_KEY_KP_5), 0x65u);
  EXPECT_EQ(VirtualKeyFromKeyval(GDK_KEY_Shift_L), 0x10u);
  EXPECT_EQ(VirtualKeyFromKeyval(GDK_KEY_Control_R), 0x11u);
  EXPECT_EQ(VirtualKeyFromKeyval(GDK_KEY_Alt_L), 0x12u);
  EXPECT_EQ(VirtualKeyFromKeyval(GDK_KEY_minus), 0xBDu);
  EXPECT_EQ(VirtualKeyFromKeyval(GDK_KEY_apostrophe), 0xDEu);
  EXPECT_EQ(VirtualKeyFromKeyval(GDK_KEY_eacute), 0u);  // no virtual key of its own
}

TEST(WindowKeys, PressGivesKeyDownAndCharacterReleaseGivesKeyUp) {
  auto press = KeyMessagesFor(true, GDK_KEY_a, GDK_KEY_A, 38, ssShift);
  ASSERT_EQ(press.size(), 2u);
  EXPECT_EQ(press[0].Message, WM_KEYDOWN);
  EXPECT_EQ(press[0].WParam, 0x41u);
  EXPECT_EQ(press[0].LParam, 38u);
  EXPECT_EQ(press[0].Shift, ssShift);
  EXPECT_EQ(press[1].Message, WM_CHAR);
  EXPECT_EQ(press[1].WParam, uint32_t('A'));
  auto release = KeyMessagesFor(false, GDK_KEY_a, GDK_KEY_A, 38, ssShift);
  ASSERT_EQ(release.size(), 1u);
  EXPECT_EQ(release[0].Message, WM_KEYUP);
  EXPECT_EQ(release[0].WParam, 0x41u);

  // Keys that type nothing give no character message; Enter types 13.
  EXPECT_EQ(KeyMessagesFor(true, GDK_KEY_Left, GDK_KEY_Left, 113, 0).size(), 1u);
  EXPECT_EQ(KeyMessagesFor(true, GDK_KEY_Shift_L, GDK_KEY_Shift_L, 50, 0).size(), 1u);
  auto enter = KeyMessagesFor(true, GDK_KEY_Return, GDK_KEY_Return, 36, 0);
  ASSERT_EQ(enter.size(), 2u);
  EXPECT_EQ(enter[1].WParam, 13u);
  // Ctrl with a letter types its control code.
  auto ctrlA = KeyMessagesFor(true, GDK_KEY_a, GDK_KEY_a, 38, ssCtrl);
  ASSERT_EQ(ctrlA.size(), 2u);
  EXPECT_EQ(ctrlA[1].WParam, 1u);
}

TEST(WindowKeys, AltMakesTheSystemVariantsButAltGrDoesNot) {
  auto altX = KeyMessagesFor(true, GDK_KEY_x, GDK_KEY_x, 53, ssAlt);
  ASSERT_EQ(altX.size(), 2u);
  EXPECT_EQ(altX[0].Message, WM_SYSKEYDOWN);
  EXPECT_EQ(altX[1].Message, WM_SYSCHAR);
  EXPECT_EQ(altX[1].WParam, uint32_t('x'));
  EXPECT_EQ(KeyMessagesFor(false, GDK_KEY_x, GDK_KEY_x, 53, ssAlt)[0].Message, WM_SYSKEYUP);
  // The Alt key itself is a system key on its way down.
  EXPECT_EQ(KeyMessagesFor(true, GDK_KEY_Alt_L, GDK_KEY_Alt_L, 64, 0)[0].Message, WM_SYSKEYDOWN);
  // Ctrl+Alt (AltGr) types an ordinary character.
  auto altGr = KeyMessagesFor(true, GDK_KEY_q, GDK_KEY_at, 24, ssCtrl | ssAlt);
  ASSERT_EQ(altGr.size(), 2u);
  EXPECT_EQ(altGr[0].Message, WM_KEYDOWN);
  EXPECT_EQ(altGr[1].Message, WM_CHAR);
  EXPECT_EQ(altGr[1].WParam, uint32_t('@'));
}

TEST(WindowKeys, CharactersTravelThroughTheAnsiCodePage) {
  auto e = KeyMessagesFor(true, GDK_KEY_eacute, GDK_KEY_eacute, 60, 0);
  ASSERT_EQ(e.size(), 2u);
  EXPECT_EQ(e[1].WParam, 0xE9u);
  auto ev = KeyEventFromMessage(e[1], 0);
  ASSERT_TRUE(ev);
  EXPECT_EQ(ev->windows_key_code, 0xE9);

  // The euro sign is byte 0x80 of Windows-1252 and comes back as U+20AC.
  auto euro = KeyMessagesFor(true, GDK_KEY_EuroSign, GDK_KEY_EuroSign, 26, 0);
  ASSERT_EQ(euro.size(), 2u);
  EXPECT_EQ(euro[1].WParam, 0x80u);
  ev = KeyEventFromMessage(euro[1], 0);
  ASSERT_TRUE(ev);
  EXPECT_EQ(ev->windows_key_code, 0x20AC);
  EXPECT_EQ(ev->native_key_code, 0);

  // A character the code page lacks becomes '?'.
  auto cyr = KeyMessagesFor(true, GDK_KEY_Cyrillic_a, GDK_KEY_Cyrillic_a, 38, 0);
  ASSERT_EQ(cyr.size(), 2u);
  EXPECT_EQ(cyr[1].WParam, uint32_t('?'));
}

TEST(WindowKeys, MessagesBecomeEngineKeyEventsByTheTable) {
  struct Row {
    unsigned message;
    int type, system;
  } rows[] = {{WM_KEYDOWN, KEYEVENT_KEYDOWN, 0}, {WM_KEYUP, KEYEVENT_KEYUP, 0},
              {WM_SYSKEYDOWN, KEYEVENT_KEYDOWN, 1}, {WM_SYSKEYUP, KEYEVENT_KEYUP, 1}};
  for (const Row& r : rows) {
    auto ev = KeyEventFromMessage({r.message, 0x41, 38, 0}, 0x10002);
    ASSERT_TRUE(ev) << r.message;
    EXPECT_EQ(int(ev->type), r.type) << r.message;
    EXPECT_EQ(ev->is_system_key, r.system) << r.message;
    EXPECT_EQ(ev->windows_key_code, 0x41);
    EXPECT_EQ(ev->native_key_code, 38);
    EXPECT_EQ(ev->modifiers, 2u);  // low 16 bits only
    EXPECT_EQ(ev->character, 0);
    EXPECT_EQ(ev->unmodified_character, 0);
    EXPECT_EQ(ev->focus_on_editable_field, 0);
  }
  auto ch = KeyEventFromMessage({WM_CHAR, 'a', 38, 0}, 0);
  ASSERT_TRUE(ch);
  EXPECT_EQ(int(ch->type), int(KEYEVENT_CHAR));
  EXPECT_EQ(ch->is_system_key, 0);
  EXPECT_EQ(ch->windows_key_code, 'a');
  EXPECT_EQ(ch->native_key_code, 0);
  // The system character keeps its parameters unconverted.
  auto sys = KeyEventFromMessage({WM_SYSCHAR, 0xE9, 60, 0}, 8);
  ASSERT_TRUE(sys);
  EXPECT_EQ(int(sys->type), int(KEYEVENT_CHAR));
  EXPECT_EQ(sys->is_system_key, 1);
  EXPECT_EQ(sys->windows_key_code, 0xE9);
  EXPECT_EQ(sys->native_key_code, 60);
  EXPECT_EQ(sys->modifiers, 8u);
  // Dead characters and other messages are not forwarded.
  EXPECT_FALSE(KeyEventFromMessage({WM_DEADCHAR, 'a', 38, 0}, 0));
  EXPECT_FALSE(KeyEventFromMessage({WM_SYSDEADCHAR, 'a', 38, 0}, 0));
  EXPECT_FALSE(KeyEventFromMessage({512, 0, 0, 0}, 0));
}

TEST(WindowInput, ShiftStateAndButtonsMapToEngineValues) {
  EXPECT_EQ(ShiftStateToEventFlags(0), 0u);
  EXPECT_EQ(ShiftStateToEventFlags(ssShift), 2u);
  EXPECT_EQ(ShiftStateToEventFlags(ssCtrl), 4u);
  EXPECT_EQ(ShiftStateToEventFlags(ssAlt), 8u);
  EXPECT_EQ(ShiftStateToEventFlags(ssLeft), 16u);
  EXPECT_EQ(ShiftStateToEventFlags(ssMiddle), 32u);
  EXPECT_EQ(ShiftStateToEventFlags(ssRight), 64u);
  EXPECT_EQ(ShiftStateToEventFlags(ssDouble), 0u);
  EXPECT_EQ(ShiftStateToEventFlags(ssShift | ssCtrl | ssAlt | ssLeft | ssMiddle | ssRight | ssDouble),
            126u);
  EXPECT_EQ(MouseButtonToEngine(TMouseButton::mbLeft), MBT_LEFT);
  EXPECT_EQ(MouseButtonToEngine(TMouseButton::mbRight), MBT_RIGHT);
  EXPECT_EQ(MouseButtonToEngine(TMouseButton::mbMiddle), MBT_MIDDLE);
}

TEST(WindowBoxes, UrlDocumentCarriesTheTextUnescaped) {
  const std::string doc = LoadUrlDocumentText("http://host/a?b=1");
  EXPECT_EQ(doc,
            "<?xml version=\"1.0\" encoding=\"utf-8\"?><LoadWEBURL><WEBURL>http://host/a?b=1"
            "</WEBURL></LoadWEBURL>");
  // Parsed and saved as the URL box does, it is a LoadWEBURL command with that address.
  IXmlDocument xml = LoadXmlDocumentFromString(doc);
  streamut::TMemoryStream stream;
  xml->SaveToStream(stream);
  stream.SetPosition(0);
  IXmlDocument again = LoadXmlDocumentFromStream(stream);
  ASSERT_TRUE(again->DocumentElement());
  EXPECT_EQ(again->DocumentElement()->GetNodeName(), "LoadWEBURL");
  EXPECT_EQ(again->DocumentElement()->FindOrAppendChild("WEBURL")->GetText(), "http://host/a?b=1");
  // A bare '&' makes the document invalid: nothing can be loaded from it.
  EXPECT_THROW(LoadXmlDocumentFromString(LoadUrlDocumentText("http://host/?a=1&b=2")), Exception);
  // An escaped one is the address with a plain '&'.
  IXmlDocument amp = LoadXmlDocumentFromString(LoadUrlDocumentText("http://host/?a=1&amp;b=2"));
  EXPECT_EQ(amp->DocumentElement()->FindOrAppendChild("WEBURL")->GetText(), "http://host/?a=1&b=2");
}

TEST(WindowBoxes, BarcodeScriptAndStartAddress) {
  EXPECT_EQ(BarcodeScript("4711"), "PV7MCRCallback(\"4711\")");
  EXPECT_EQ(BarcodeScript("a\"b"), "PV7MCRCallback(\"a\"b\")");  // put in unescaped
  const std::string url = DefaultStartUrl();
  EXPECT_EQ(url.rfind("file:///", 0), 0u) << url;
  EXPECT_NE(url.find("/demo/demo.html"), std::string::npos) << url;
  EXPECT_EQ(url.find(' '), std::string::npos) << url;
}
