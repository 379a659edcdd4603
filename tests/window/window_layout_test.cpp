// The window toolkit's components on an X server of the test's own: designed
// bounds, top and client alignment and anchors as the window is resized, the paint
// box's resize event and back buffer, and ANSI text in the edit boxes.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "platform/gtkprobe.h"
#include "platform/gtkui.h"
#include "platform/mainloop.h"
#include "tests/window/xserver.h"

// The toolkit, its fonts and its type system keep caches until the process ends.
extern "C" const char* __lsan_default_suppressions() {
  return "leak:libgtk-3.so\nleak:libgdk-3.so\nleak:libfontconfig.so\nleak:libpango-1.0.so\n"
         "leak:libpangoft2-1.0.so\nleak:libcairo.so\nleak:libgobject-2.0.so\n"
         "leak:libgio-2.0.so\nleak:libglib-2.0.so\nleak:libharfbuzz.so\nleak:libX11.so\n"
         "leak:libdbus-1.so\nleak:libatk-bridge-2.0.so\nleak:libatspi.so\n";
}

namespace platform::gui {
bool operator==(const TBounds& a, const TBounds& b) {
  return a.Left == b.Left && a.Top == b.Top && a.Width == b.Width && a.Height == b.Height;
}
void PrintTo(const TBounds& b, std::ostream* os) {
  *os << "{" << b.Left << ", " << b.Top << ", " << b.Width << ", " << b.Height << "}";
}
}  // namespace platform::gui

using namespace platform::gui;

namespace {

TXServer* gX = nullptr;
bool gFonts = false;  // the engine library's font configuration is in use
bool gDisplay = false;

// The test window's layout, built from the components alone.
struct TLayoutForm {
  TLayoutForm() {
    form = std::make_unique<TForm>("Layout test", TBounds{247, 177, 816, 620}, 808, 592);
    head = std::make_unique<TPanel>(*form);
    head->SetBounds({0, 0, 808, 37});
    head->SetAlign(TAlign::alTop);
    navi = std::make_unique<TPanel>(static_cast<TContainer&>(*head));
    navi->SetBounds({0, 0, 808, 35});
    navi->SetAlign(TAlign::alTop);
    navi->SetLoweredBevel(true);
    url = std::make_unique<TEdit>(static_cast<TContainer&>(*navi));
    url->SetBounds({4, 4, 565, 27});
    url->SetAnchors(akLeft | akTop | akRight);
    code = std::make_unique<TEdit>(static_cast<TContainer&>(*navi));
    code->SetBounds({572, 4, 117, 27});
    code->SetAnchors(akTop | akRight);
    for (TEdit* e : {url.get(), code.get()}) {
      e->SetBorder(false);
      e->SetFont("Tahoma", 21);  // the window's fonts: the designed sizes must hold them
    }
    main = std::make_unique<TPanel>(*form);
    main->SetBounds({0, 37, 808, 555});
    main->SetAlign(TAlign::alClient);
    box = std::make_unique<TPaintBox>(static_cast<TContainer&>(*main));
    box->SetBounds({0, 0, 808, 555});
    box->SetAlign(TAlign::alClient);
    button = std::make_unique<TButton>(*form, "Button1");
    button->SetBounds({40, 496, 75, 25});
    button->SetFont("Tahoma", 16);
    box->OnResize = [this] { sizes.push_back({0, 0, box->Width(), box->Height()}); };
  }
  // Runs the main loop until the paint box has the size.
  bool Settle(int w, int h) {
    return WaitUntil([&] {
      platform::ProcessPendingEvents();
      return box->Width() == w && box->Height() == h && !sizes.empty() &&
             sizes.back().Width == w && sizes.back().Height == h;
    }, 10000);
  }

  std::unique_ptr<TForm> form;
  std::unique_ptr<TPanel> head, navi, main;
  std::unique_ptr<TEdit> url, code;
  std::unique_ptr<TPaintBox> box;
  std::unique_ptr<TButton> button;
  std::vector<TBounds> sizes;  // what the resize handler saw
};

class TLayoutTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (FindProgram("Xvfb").empty()) return;
    gX = new TXServer;
    if (!gX->Start()) return;
    SetEnvironment("DISPLAY", gX->Display());
    std::string error;
    gDisplay = OpenDisplay(&error);
    // The window's fonts, as the test window takes them: Tahoma among them.
    if (gDisplay) gFonts = UseFontConfiguration(std::string(PV7_BIN_DIR) + "/fonts.conf");
  }
  static void TearDownTestSuite() {
    // The toolkit keeps its display open; the server goes when the process ends.
  }
  void SetUp() override {
    if (FindProgram("Xvfb").empty()) GTEST_SKIP() << "Xvfb is not installed";
    ASSERT_TRUE(gDisplay) << "no X server could be started or opened";
  }
};

}  // namespace

TEST_F(TLayoutTest, DesignedBoundsThenAnchorsAndAlignmentFollowTheWindow) {
  TLayoutForm f;
  f.form->Show();
  ASSERT_TRUE(f.Settle(808, 555));
  EXPECT_EQ(f.head->Bounds(), (TBounds{0, 0, 808, 37}));
  EXPECT_EQ(f.navi->Bounds(), (TBounds{0, 0, 808, 35}));
  EXPECT_EQ(f.url->Bounds(), (TBounds{4, 4, 565, 27}));
  EXPECT_EQ(f.code->Bounds(), (TBounds{572, 4, 117, 27}));
  EXPECT_EQ(f.main->Bounds(), (TBounds{0, 37, 808, 555}));
  EXPECT_EQ(f.box->Bounds(), (TBounds{0, 0, 808, 555}));
  EXPECT_EQ(f.button->Bounds(), (TBounds{40, 496, 75, 25}));

  // Wider and taller: the URL box stretches, the barcode box keeps its size and
  // distance to the right edge, the client panel and the paint box fill the rest.
  f.form->SetClientSize(1000, 700);
  ASSERT_TRUE(f.Settle(1000, 663));
  EXPECT_EQ(f.head->Bounds(), (TBounds{0, 0, 1000, 37}));
  EXPECT_EQ(f.url->Bounds(), (TBounds{4, 4, 757, 27}));
  EXPECT_EQ(f.code->Bounds(), (TBounds{764, 4, 117, 27}));
  EXPECT_EQ(f.main->Bounds(), (TBounds{0, 37, 1000, 663}));
  EXPECT_EQ(f.button->Bounds(), (TBounds{40, 496, 75, 25}));

  // Smaller than designed: the window may shrink below its design.
  f.form->SetClientSize(400, 300);
  ASSERT_TRUE(f.Settle(400, 263));
  EXPECT_EQ(f.url->Bounds(), (TBounds{4, 4, 157, 27}));
  EXPECT_EQ(f.code->Bounds(), (TBounds{164, 4, 117, 27}));
  EXPECT_EQ(f.box->Bounds(), (TBounds{0, 0, 400, 263}));

  // The resize handler saw every size, after the layout had given it.
  ASSERT_GE(f.sizes.size(), 3u);
  EXPECT_EQ(f.sizes.front(), (TBounds{0, 0, 808, 555}));
}

TEST_F(TLayoutTest, PaintBoxTakesPicturesOfAnySizeAndEditBoxesKeepAnsiText) {
  TLayoutForm f;
  f.form->Show();
  ASSERT_TRUE(f.Settle(808, 555));
  // Pictures larger or smaller than the back buffer are clipped, never overrun.
  std::vector<uint8_t> big(size_t(2000) * 1000 * 4, 0x7F), small(4 * 4 * 4, 0x20);
  f.box->ResizeBuffer(808, 555);
  f.box->DrawImage(big.data(), 2000, 1000);
  f.box->DrawImage(small.data(), 4, 4);
  f.box->DrawImage(nullptr, 10, 10);
  f.box->ResizeBuffer(0, 0);
  f.box->DrawImage(small.data(), 4, 4);
  f.box->ResizeBuffer(100, 50);
  f.box->SetCursor("pointer");
  f.box->SetCursor("no-such-cursor-name");
  platform::ProcessPendingEvents();

  f.url->SetText("Caf\xE9 \x80");  // Windows-1252: e acute, euro sign
  EXPECT_EQ(f.url->Text(), "Caf\xE9 \x80");
  EXPECT_EQ(f.form->Caption(), "Layout test");
  f.form->SetCaption("Plenvo \xE9");
  EXPECT_EQ(f.form->Caption(), "Plenvo \xE9");
}

// With the engine library's font configuration the window's Tahoma is Wine's Tahoma
// (fonts-wine), which the system's configuration does not list.
TEST_F(TLayoutTest, TahomaIsTheFaceOfTheWindowsFontWhereItIsInstalled) {
  if (!std::filesystem::exists("/usr/share/wine/fonts/tahoma.ttf"))
    GTEST_SKIP() << "fonts-wine is not installed";
  ASSERT_TRUE(gFonts);
  TForm form("fonts", TBounds{0, 0, 200, 100}, 200, 100);
  TEdit edit(form);
  edit.SetFont("Tahoma", 21);
  EXPECT_EQ(edit.FontFace(), "Tahoma");
  edit.SetFont("No Such Face", 21);
  EXPECT_NE(edit.FontFace(), "Tahoma");
}
