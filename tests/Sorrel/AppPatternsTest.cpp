#include "AppPatterns.h"
#include "File.h"
#include "PatternFixture.h"
#include "ReadFailure.h"
#include "Sorrel.h"

namespace {

// A board that reports its geometry and does nothing else.
class CTestBoard : public COrvBoard {
 public:
  CTestBoard(uint16_t width, uint16_t height) {
    m_BoardSpec.Width = width;
    m_BoardSpec.Height = height;
  }
};

class AppPatternsTest : public PatternTest {
 protected:
  void UseBoard(uint16_t width, uint16_t height) {
    m_Board = std::make_unique<CTestBoard>(width, height);
    m_App.m_pBoard = m_Board.get();
  }
  std::string Bitmap(const std::string& name, int side, uint16_t depth) {
    WriteSquareBitmap(File(name), side, depth, Noise);
    return File(name);
  }
  // The side x side image the geometry-taking reader gives.
  std::vector<uint8_t> Expected(const std::string& path, int side) {
    std::vector<uint8_t> image(static_cast<size_t>(side) * static_cast<size_t>(side));
    int bitCount = 0;
    ReadBitmapPattern(image.data(), path, side, bitCount);
    return image;
  }
  std::vector<uint8_t> Zernike(const std::string& path, int side, double radius) {
    std::vector<uint8_t> image(static_cast<size_t>(side) * static_cast<size_t>(side));
    EXPECT_TRUE(ReadZernikePattern(image.data(), path, side, side, radius));
    return image;
  }

  CSorrelApp m_App;
  std::unique_ptr<CTestBoard> m_Board;
};

TEST(BoardGeometry, FramesOfBothBoards) {
  SBoard_Spec kite{}, wren{};
  kite.Width = kite.Height = 512;
  wren.Width = wren.Height = 256;
  const PatternGeometry k = BoardGeometry(kite), w = BoardGeometry(wren);
  EXPECT_EQ(std::make_tuple(k.width, k.height, k.unitRadius), std::make_tuple(512, 512, 300.0));
  EXPECT_EQ(std::make_tuple(w.width, w.height, w.unitRadius), std::make_tuple(256, 256, 150.0));
}

// The board's side or the screen's; the depth of each bitmap taken, at either size, is the
// application's to show.
TEST_F(AppPatternsTest, BitmapsTakeTheBoardsSideAndLeaveTheirDepth) {
  const std::string p8 = Bitmap("p8.bmp", 512, 8), p16 = Bitmap("p16.bmp", 128, 16), p24 = Bitmap("p24.bmp", 256, 24);
  std::vector<uint8_t> frame(512 * 512);
  for (uint16_t side : {512, 256}) {
    UseBoard(side, side);
    ASSERT_TRUE(ReadandInvertBitmap(frame.data(), p8, true));
    EXPECT_EQ(std::vector<uint8_t>(frame.begin(), frame.begin() + side * side), Expected(p8, side)) << side;
    EXPECT_EQ(m_App.m_PatternBitCount, 8);
    ASSERT_TRUE(ReadandInvertBitmap(frame.data(), p16, true));
    EXPECT_EQ(m_App.m_PatternBitCount, 16);
  }
  ASSERT_TRUE(ReadandInvertBitmap(frame.data(), p24, false));
  EXPECT_EQ(std::vector<uint8_t>(frame.begin(), frame.begin() + SCREEN_IMAGE_BYTES), Expected(p24, SCREEN_SIDE));
  EXPECT_EQ(m_App.m_PatternBitCount, 24);
  std::vector<uint8_t> screen(SCREEN_IMAGE_BYTES);
  ASSERT_TRUE(ReadScreenBitmap(screen.data(), p8));
  EXPECT_EQ(screen, Expected(p8, SCREEN_SIDE));
  EXPECT_EQ(m_App.m_PatternBitCount, 8);
  // A bitmap read but not converted leaves its depth; one that cannot be read keeps the last.
  EXPECT_FALSE(ReadandInvertBitmap(frame.data(), Bitmap("p1.bmp", 256, 1), true));
  EXPECT_EQ(m_App.m_PatternBitCount, 1);
  ASSERT_TRUE(ReadScreenBitmap(screen.data(), p8));
  EXPECT_FALSE(ReadandInvertBitmap(frame.data(), File("missing.bmp"), true));
  EXPECT_EQ(std::vector<uint8_t>(frame.begin(), frame.begin() + 256 * 256), std::vector<uint8_t>(256 * 256, 48));
  EXPECT_EQ(m_App.m_PatternBitCount, 8);
}

TEST_F(AppPatternsTest, BoardGeometryNeedsASquareBoard) {
  const std::string path = Bitmap("p.bmp", 64, 8);
  std::vector<uint8_t> untouched(16, 5);
  EXPECT_FALSE(ReadandInvertBitmap(untouched.data(), path, true));  // no board: nothing written
  EXPECT_FALSE(ReadPickedCompensation(untouched.data(), File("missing.zrn")));
  EXPECT_EQ(untouched, std::vector<uint8_t>(16, 5));
  EXPECT_EQ(m_App.m_PatternBitCount, 0);
  UseBoard(256, 128);
  std::vector<uint8_t> frame(256 * 128, 5);
  EXPECT_FALSE(ReadandInvertBitmap(frame.data(), path, true));
  EXPECT_EQ(frame, std::vector<uint8_t>(256 * 128, 48));
  EXPECT_EQ(m_App.m_PatternBitCount, 0);
}

// A picked Zernike file: Kite R 300, Wren R 150.
TEST_F(AppPatternsTest, ZernikeFilesTakeTheBoardsGeometry) {
  WriteText(File("z.zrn"), "XTilt = 1.7\nPower = 0.9\nComaY = 0.1\nTrefoilX = 0.2\n");
  std::vector<uint8_t> frame(512 * 512);
  UseBoard(512, 512);
  ASSERT_TRUE(ReadPickedCompensation(frame.data(), File("z.zrn")));
  EXPECT_EQ(frame, Zernike(File("z.zrn"), 512, 300.0));
  UseBoard(256, 256);
  ASSERT_TRUE(ReadPickedCompensation(frame.data(), File("z.zrn")));
  EXPECT_EQ(std::vector<uint8_t>(frame.begin(), frame.begin() + 256 * 256), Zernike(File("z.zrn"), 256, 150.0));

  std::fill(frame.begin(), frame.end(), uint8_t{7});
  EXPECT_FALSE(ReadPickedCompensation(frame.data(), File("missing.zrn")));
  EXPECT_EQ(std::vector<uint8_t>(frame.begin(), frame.begin() + 65536), std::vector<uint8_t>(65536, 48));
  EXPECT_EQ(std::vector<uint8_t>(frame.begin() + 65536, frame.end()), std::vector<uint8_t>(512 * 512 - 65536, 7));
  EXPECT_EQ(m_App.m_PatternBitCount, 0);
  EXPECT_TRUE(Messages().empty());
}

TEST_F(AppPatternsTest, ComposeTakesTheBoardsFrame) {
  WriteLut(File("t.lut"), ScrambledValues(9));
  Image_Entry entry{Bitmap("p.bmp", 128, 24), File("t.lut"), 1};
  std::vector<uint8_t> frame(256 * 256, 3), none(256 * 256, 0);
  ComposeFrame(entry, frame.data(), 0, none.data(), none.data());  // no board
  EXPECT_EQ(entry.Valid, 0);
  EXPECT_EQ(frame, std::vector<uint8_t>(256 * 256, 3));

  UseBoard(256, 256);
  ComposeFrame(entry, frame.data(), 0, none.data(), none.data());
  EXPECT_EQ(entry.Valid, 1);
  Image_Entry same = entry;
  std::vector<uint8_t> expected(256 * 256);
  int bitCount = 0;
  ComposeFrameImage(same, expected.data(), PatternGeometry{256, 256, 150.0}, 0, none.data(), none.data(), bitCount);
  EXPECT_EQ(frame, expected);
  EXPECT_EQ(m_App.m_PatternBitCount, 24);
}

TEST_F(AppPatternsTest, ScreenImagesOfTheApplicationsList) {
  EXPECT_TRUE(BuildScreenImages());
  EXPECT_EQ(GetScreenImages(), nullptr);
  const std::string p16 = Bitmap("p16.bmp", 256, 16);
  for (const std::string& pattern : {Bitmap("p24.bmp", 64, 24), p16, File("missing.bmp")})
    m_App.m_ImageList.push_back(std::make_unique<Image_Entry>(Image_Entry{pattern, File("identity.lut"), 1}));
  EXPECT_TRUE(BuildScreenImages());
  ASSERT_NE(GetScreenImages(), nullptr);
  const uint8_t* slot1 = GetScreenImages() + SCREEN_IMAGE_BYTES;
  EXPECT_EQ(std::vector<uint8_t>(slot1, slot1 + SCREEN_IMAGE_BYTES), Expected(p16, SCREEN_SIDE));
  // The last bitmap taken, not the last one tried.
  EXPECT_EQ(m_App.m_PatternBitCount, 16);
  ReleaseScreenImages();
}

TEST_F(AppPatternsTest, AReadSequenceIsUnmodified) {
  WriteText(File("seq.sif"), "/a/p.bmp, /a/l.lut\n");
  int state = 0;
  m_App.m_bSequenceModified = 1;
  ASSERT_TRUE(ReadSequenceFile(File("seq.sif"), m_App.m_ImageList, state));
  EXPECT_EQ(state, 3);
  EXPECT_EQ(m_App.m_bSequenceModified, 0);
  ASSERT_EQ(m_App.m_ImageList.size(), 1u);

  // Failed reads leave the flag and the list alone, also one that fails half way.
  std::string text;
  for (int i = 0; text.size() <= 2 * CTextReader::BUFFER_BYTES; ++i) text += "/b/p" + std::to_string(i) + ".bmp, /b/l.lut\n";
  WriteText(File("long.sif"), text);
  m_App.m_bSequenceModified = 1;
  EXPECT_FALSE(ReadSequenceFile(File("seq.Sif"), m_App.m_ImageList, state));
  EXPECT_FALSE(ReadSequenceFile(File("missing.sif"), m_App.m_ImageList, state));
  {
    CFailingReads failing(File("long.sif"), 2);
    EXPECT_FALSE(ReadSequenceFile(File("long.sif"), m_App.m_ImageList, state));
    EXPECT_EQ(failing.Reads(), 2);
  }
  EXPECT_EQ(state, 2);
  EXPECT_EQ(m_App.m_bSequenceModified, 1);
  ASSERT_EQ(m_App.m_ImageList.size(), 1u);
  EXPECT_EQ(m_App.m_ImageList[0]->PatternFile, "/a/p.bmp");
}

}  // namespace
