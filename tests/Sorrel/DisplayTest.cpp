// What the main window shows of the SLM: the selected entry's screen image pixel for pixel,
// the power-off picture while the power is off, nothing without a selection, and the boxes
// that describe the sequence and the selected entry.

#include "ProgramFixture.h"

using namespace progtest;

namespace {

using DisplayTest = ProgramTest;

// The screen image of a 512 x 512 picture: every fourth pixel of every fourth row, through
// the table.
COLORREF ScreenPixel(const Picture& picture, const std::function<int(int)>& table, int x, int y) {
  const uint8_t v = static_cast<uint8_t>(table(picture(4 * y, 4 * x)));
  return RGB(v, v, v);
}

TEST_F(DisplayTest, TheSelectedEntrysScreenImageIsDrawnOneBytePerPixel) {
  StandardWork();
  ASSERT_EQ(Start(), std::nullopt);
  m_Host->Click(Dlg(), IDC_POWER_ON);
  m_Host->SelectListLine(Dlg(), IDC_IMAGE_LIST, 1);
  const int x0 = App().m_ScreenX, y0 = App().m_ScreenY;
  int wrong = 0;
  for (int y = 0; y < 128; ++y) {
    for (int x = 0; x < 128; ++x) wrong += m_Host->Pixel(Dlg(), x0 + x, y0 + y) != ScreenPixel(Rings, Inverse, x, y);
  }
  EXPECT_EQ(wrong, 0);
  EXPECT_EQ(m_Host->Pixel(Dlg(), x0 + 128, y0), COLOR_DIALOG_BACKGROUND);
  EXPECT_EQ(m_Host->Pixel(Dlg(), x0, y0 + 128), COLOR_DIALOG_BACKGROUND);
  EXPECT_EQ(Dlg().GetDlgItemText(IDC_ENTRY_PATTERN), "rings.bmp");
  EXPECT_EQ(Dlg().GetDlgItemText(IDC_ENTRY_LUT), "invert.lut");
  EXPECT_EQ(Dlg().GetDlgItemText(IDC_PATTERN_DATA), "512 x 512 x 256");
}

TEST_F(DisplayTest, WhileThePowerIsOffEverySelectionShowsThePowerOffPicture) {
  StandardWork();
  ASSERT_EQ(Start(), std::nullopt);
  for (int line : {0, 2}) {
    m_Host->SelectListLine(Dlg(), IDC_IMAGE_LIST, line);
    EXPECT_EQ(m_Host->Pixel(Dlg(), App().m_ScreenX + 70, App().m_ScreenY + 9), RGB(Dim(9, 70), Dim(9, 70), Dim(9, 70)));
  }
  m_Host->Click(Dlg(), IDC_POWER_ON);
  EXPECT_EQ(m_Host->Pixel(Dlg(), App().m_ScreenX + 70, App().m_ScreenY + 9), ScreenPixel(Ramp, Inverse, 70, 9));
}

TEST_F(DisplayTest, WithoutASelectionNothingIsDrawn) {
  StandardWork();
  WriteText(Work("Sequence_Files/demo.sif"), "");
  ASSERT_EQ(Start(), std::nullopt);
  m_Host->Click(Dlg(), IDC_POWER_ON);
  for (int y = 0; y < 128; y += 16) {
    for (int x = 0; x < 128; x += 16) {
      EXPECT_EQ(m_Host->Pixel(Dlg(), App().m_ScreenX + x, App().m_ScreenY + y), COLOR_DIALOG_BACKGROUND);
    }
  }
}

TEST_F(DisplayTest, PatternDataShowsTheDepthOfTheLastBitmapRead) {
  StandardWork();
  WritePattern("Image_Files/four.bmp", 512, [](int y, int x) { return static_cast<uint8_t>((x + y) & 15); }, 4);
  WriteSequence("Sequence_Files/demo.sif", {{"Image_Files/ramp.bmp", "Image_Files/linear.lut"},
                                            {"Image_Files/four.bmp", "Image_Files/linear.lut"}});
  ASSERT_EQ(Start(), std::nullopt);
  // The screen images are built last, the 4-bit pattern last of all: every entry says 16.
  EXPECT_EQ(Dlg().GetDlgItemText(IDC_PATTERN_DATA), "512 x 512 x 16");
  m_Host->SelectListLine(Dlg(), IDC_IMAGE_LIST, 0);
  EXPECT_EQ(Dlg().GetDlgItemText(IDC_PATTERN_DATA), "512 x 512 x 16");

  // A 1-bit pattern is read though its pixels cannot be converted: its depth is the last.
  WritePattern("Image_Files/one.bmp", 512, [](int y, int x) { return static_cast<uint8_t>((x ^ y) & 1); }, 1);
  WriteSequence("Sequence_Files/two.sif", {{"Image_Files/ramp.bmp", "Image_Files/linear.lut"},
                                           {"Image_Files/one.bmp", "Image_Files/linear.lut"}});
  m_Host->QueueFileAnswer(Work("Sequence_Files/two.sif"));
  m_Host->Click(Dlg(), IDC_BROWSE_SEQUENCE);
  EXPECT_EQ(ListLines()[1].substr(0, 2), " !");
  EXPECT_EQ(Dlg().GetDlgItemText(IDC_PATTERN_DATA), "512 x 512 x  2");
}

TEST_F(DisplayTest, NoBitmapReadYetShowsOneLevel) {
  StandardWork();
  WriteText(Work("Image_Files/flat.zrn"), "Piston 0.25\n");
  ASSERT_EQ(unlink(Work("PowerOff.bmp").c_str()), 0);
  WriteSequence("Sequence_Files/demo.sif", {{"Image_Files/flat.zrn", "Image_Files/linear.lut"}});
  ASSERT_EQ(Start(), std::nullopt);
  EXPECT_EQ(Dlg().GetDlgItemText(IDC_PATTERN_DATA), "512 x 512 x  1");
}

}  // namespace
