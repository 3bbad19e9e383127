// The entry editor under the scripted host: what it shows of the entry, its two file
// dialogs, and the preview it draws into the entry's screen-image slot.

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "ImageListEditDlg.h"
#include "PatternFiles.h"
#include "Sorrel.h"
#include "ui/ScriptedHost.h"

namespace {

constexpr size_t SLOT = 128 * 128;

class ImageListEditDlgTest : public ::testing::Test {
 protected:
  ImageListEditDlgTest() : m_Host(CScriptedHost::Install()), m_Images(3 * SLOT, 7) {
    m_Entry.PatternFile = m_Folder.Path("start.bmp");
    m_Entry.LUTFile = m_Folder.Path("start.lut");
    m_App.m_WindowWidth = 564;
    WriteLut(m_Folder.Path("invert.lut"), Inverse());
  }
  static std::vector<int> Inverse() {
    std::vector<int> v(256);
    for (int i = 0; i < 256; ++i) v[static_cast<size_t>(i)] = 255 - i;
    return v;
  }
  // Runs the editor for entry 1 with a script; returns its result.
  int Run(const CScriptedHost::Script& script) {
    m_Host.SetScript(IDD_IMAGE_LIST_EDIT, script);
    CImageListEditDlg editor(m_Images.data(), 1, &m_Entry);
    const int result = editor.DoModal();
    m_Pattern = editor.m_PatternPath;
    m_Lut = editor.m_LUTPath;
    m_Width = editor.m_PreviewWidth;
    m_Height = editor.m_PreviewHeight;
    m_Depth = editor.m_PreviewBitCount;
    return result;
  }
  uint8_t Preview(int x, int y) const { return m_Images[SLOT + static_cast<size_t>(y) * 128 + static_cast<size_t>(x)]; }

  CScriptedHost& m_Host;
  CSorrelApp m_App;
  CTempFolder m_Folder;
  Image_Entry m_Entry;
  std::vector<uint8_t> m_Images;
  std::string m_Pattern, m_Lut;
  int m_Width = 0, m_Height = 0, m_Depth = 0;
};

TEST_F(ImageListEditDlgTest, ShowsTheEntrysFilesAndDrawsItsSlotAtThePreviewPlace) {
  for (int width : {596, 597}) {
    m_App.m_WindowWidth = width;
    std::vector<std::string> lines;
    COLORREF corner = 0, outside = 0;
    const int x0 = width > 596 ? 48 : 19, y0 = width > 596 ? 107 : 75;
    std::memset(m_Images.data() + SLOT, 90, SLOT);
    Run([&](CDialog& dlg, CScriptedHost& host) {
      lines = {dlg.ListGetText(IDC_EDIT_PATTERN_NAME, 0), dlg.ListGetText(IDC_EDIT_LUT_NAME, 0)};
      corner = host.Pixel(dlg, x0 + 100, y0 + 100);
      outside = host.Pixel(dlg, x0 - 1, y0);
      host.Click(dlg, IDC_EDIT_CANCEL);
    });
    EXPECT_EQ(lines, (std::vector<std::string>{"start.bmp", "start.lut"}));
    EXPECT_EQ(corner, RGB(90, 90, 90)) << width;
    EXPECT_NE(outside, RGB(90, 90, 90)) << width;
    EXPECT_EQ(m_App.m_EditPreviewX, x0);
    EXPECT_EQ(m_App.m_EditPreviewY, y0);
  }
}

TEST_F(ImageListEditDlgTest, BrowsingAPatternShowsItsNameAndPreviewsEverySecondPixelOfA256Bitmap) {
  const std::string path = m_Folder.Path("half.bmp");
  WriteSquareBitmap(path, 256, 8, [](int y, int x) { return static_cast<uint32_t>((x + 2 * y) & 255); });
  std::string line;
  const int result = Run([&](CDialog& dlg, CScriptedHost& host) {
    host.QueueFileAnswer(path);
    host.Click(dlg, IDC_BROWSE_PATTERN);
    line = dlg.ListGetText(IDC_EDIT_PATTERN_NAME, 0);
    host.Click(dlg, IDC_EDIT_OK);
  });
  EXPECT_EQ(result, IDOK);
  EXPECT_EQ(line, "half.bmp");
  EXPECT_EQ(m_Pattern, path);
  const FileDialogRequest& request = m_Host.FileRequests().back();
  EXPECT_EQ(request.title, "Open a pattern File");
  EXPECT_EQ(request.initialFolder, m_Folder.Path(""));
  ASSERT_EQ(request.filters.size(), 2u);
  EXPECT_EQ(request.filters[1], (std::pair<std::string, std::string>{"(*.ZRN)", "*.zrn;"}));
  EXPECT_EQ(request.bufferSize, 300u);
  // The LUT cannot be read: the identity.
  EXPECT_EQ(Preview(10, 3), static_cast<uint8_t>(2 * 10 + 2 * 2 * 3));
  EXPECT_EQ(Preview(127, 127), static_cast<uint8_t>((254 + 2 * 254) & 255));
  EXPECT_EQ(m_Width, 256);
  EXPECT_EQ(m_Depth, 8);
}

TEST_F(ImageListEditDlgTest, ACancelledBrowseRestoresTheEntrysPathButKeepsTheEarlierPreview) {
  const std::string path = m_Folder.Path("big.bmp");
  WriteSquareBitmap(path, 512, 8, [](int y, int x) { return static_cast<uint32_t>((x ^ y) & 255); });
  Run([&](CDialog& dlg, CScriptedHost& host) {
    host.QueueFileAnswer(path);
    host.Click(dlg, IDC_BROWSE_PATTERN);
    host.QueueFileAnswer(std::nullopt);
    host.Click(dlg, IDC_BROWSE_PATTERN);
    host.Click(dlg, IDC_EDIT_OK);
  });
  EXPECT_EQ(m_Pattern, m_Entry.PatternFile);
  EXPECT_EQ(Preview(5, 9), static_cast<uint8_t>((4 * 5) ^ (4 * 9))) << "every fourth pixel of a 512 bitmap";
}

TEST_F(ImageListEditDlgTest, BrowsingALutMapsThePreviewThroughIt) {
  const std::string pattern = m_Folder.Path("p.bmp");
  WriteSquareBitmap(pattern, 128, 8, [](int y, int x) { return static_cast<uint32_t>(x + y); });
  m_Entry.PatternFile = pattern;
  Run([&](CDialog& dlg, CScriptedHost& host) {
    host.QueueFileAnswer(m_Folder.Path("invert.lut"));
    host.Click(dlg, IDC_BROWSE_LUT);
    host.Click(dlg, IDC_EDIT_CANCEL);
  });
  const FileDialogRequest& request = m_Host.FileRequests().back();
  EXPECT_EQ(request.title, "Open a Lookup Table File");
  EXPECT_EQ(request.filters,
            (std::vector<std::pair<std::string, std::string>>{{"Lookup Table Files (*.LUT, *.TXT)", "*.lut;*.txt;"}}));
  EXPECT_EQ(m_Lut, m_Folder.Path("invert.lut"));
  EXPECT_EQ(Preview(3, 4), 255 - 7) << "the slot changes at once; a cancel does not restore it";
}

TEST_F(ImageListEditDlgTest, PatternsWithoutAPictureShowTheFillAndRecordWhatTheHeaderSaid) {
  // Not square: the header is recorded, the preview is the fill of an unreadable pattern.
  WriteBytes(m_Folder.Path("wide.bmp"), BmpFile(StandardLayout(256, 128, 8), std::vector<uint8_t>(256 * 128, 1)));
  Run([&](CDialog& dlg, CScriptedHost& host) {
    host.QueueFileAnswer(m_Folder.Path("wide.bmp"));
    host.Click(dlg, IDC_BROWSE_PATTERN);
  });
  EXPECT_EQ(m_Width, 256);
  EXPECT_EQ(m_Height, 128);
  EXPECT_EQ(Preview(64, 64), 48);

  // A name no reader takes.
  std::memset(m_Images.data() + SLOT, 0, SLOT);
  Run([&](CDialog& dlg, CScriptedHost& host) {
    host.QueueFileAnswer(m_Folder.Path("notes.txt"));
    host.Click(dlg, IDC_BROWSE_PATTERN);
  });
  EXPECT_EQ(Preview(0, 0), 48);

  // A small bitmap fills the preview.
  // Both pixels of a byte alike, so the byte a 4-bit pixel reads as is easy to write down.
  WriteSquareBitmap(m_Folder.Path("small.bmp"), 64, 4, [](int y, int) { return static_cast<uint32_t>(y & 15); });
  Run([&](CDialog& dlg, CScriptedHost& host) {
    host.QueueFileAnswer(m_Folder.Path("small.bmp"));
    host.Click(dlg, IDC_BROWSE_PATTERN);
  });
  EXPECT_EQ(m_Depth, 4);
  EXPECT_EQ(Preview(127, 127), 15 * 17);
  EXPECT_EQ(Preview(0, 9), 4 * 17);
}

TEST_F(ImageListEditDlgTest, AZernikePatternIsPreviewedAtTheScreenSize) {
  WriteText(m_Folder.Path("flat.zrn"), "Piston 0.25\n");
  Run([&](CDialog& dlg, CScriptedHost& host) {
    host.QueueFileAnswer(m_Folder.Path("flat.zrn"));
    host.Click(dlg, IDC_BROWSE_PATTERN);
  });
  EXPECT_EQ(Preview(0, 0), 31);
  EXPECT_EQ(Preview(100, 20), 31);
}

}  // namespace
