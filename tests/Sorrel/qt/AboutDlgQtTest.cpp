// The About box in a real window: its layout, its icon and text, and OK ending it.
#include <gtest/gtest.h>

#include "AboutDlg.h"
#include "ui/QtHostTesting.h"

namespace qt = QtHostTesting;

namespace {

TEST(AboutDlgQt, ShowsIconAndVersionAndOkEndsIt) {
  CAboutDlg about;
  int darkIconPixels = -1, versionInk = -1;
  std::string caption, okText;
  CRect ok, client;
  qt::Post([&] {
    EXPECT_EQ(qt::ActiveModalDialog(), &about);
    caption = about.GetWindowText();
    client = qt::ClientGeometry(about);
    ok = qt::ControlGeometry(about, IDOK);
    okText = qt::ControlText(about, IDOK);
    // The icon sits at 11,15 dialog units: 16,24 pixels, 32 pixels square.
    const qt::ClientImage image = qt::GrabClient(about);
    darkIconPixels = 0;
    for (int y = 24; y < 24 + 32; ++y) {
      for (int x = 16; x < 16 + 32; ++x) darkIconPixels += GetRValue(image.At(x, y)) < 100 ? 1 : 0;
    }
    // "Sorrel Version 8.0" at 43,15 du, 119 x 8 du.
    versionInk = 0;
    for (int y = 24; y < 37; ++y) {
      for (int x = 64; x < 243; ++x) versionInk += GetRValue(image.At(x, y)) < 100 ? 1 : 0;
    }
    qt::ClickControl(about, IDOK);
  });
  EXPECT_EQ(about.DoModal(), IDOK);
  EXPECT_EQ(caption, "About Sorrel");
  EXPECT_EQ(client.Width(), 331);   // 221 du
  EXPECT_EQ(client.Height(), 100);  // 62 du
  EXPECT_EQ(ok, (CRect{247, 66, 322, 89}));  // 165,41,50,14 du
  EXPECT_EQ(okText, "OK");
  EXPECT_GT(darkIconPixels, 50);
  EXPECT_GT(versionInk, 50);
}

TEST(AboutDlgQt, EscapeEndsItToo) {
  CAboutDlg about;
  qt::Post([&] { qt::PressKey(about, qt::Key::Escape); });
  EXPECT_EQ(about.DoModal(), IDCANCEL);
}

}  // namespace
