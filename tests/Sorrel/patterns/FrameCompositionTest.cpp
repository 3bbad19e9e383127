#include <filesystem>

#include "FrameComposition.h"
#include "PatternFixture.h"
#include "Zernike.h"

namespace {

uint32_t Noise(int y, int x) {
  uint32_t h = static_cast<uint32_t>(y) * 2654435761u ^ static_cast<uint32_t>(x) * 40503u;
  h ^= h >> 13;
  return h * 0x5bd1e995u >> 8;
}

uint32_t Le(const std::vector<uint8_t>& bytes, size_t at, int n) {
  uint32_t v = 0;
  for (int i = n - 1; i >= 0; --i) v = v << 8 | bytes[at + static_cast<size_t>(i)];
  return v;
}

// The conversion done the long way: the file's rows reversed into an N x N image by the
// depth rules, then enlarged or decimated onto M x M.
std::vector<uint8_t> Straightforward(const std::vector<uint8_t>& file, int m) {
  const uint8_t* pixels = file.data() + Le(file, 10, 4);
  const int n = static_cast<int>(Le(file, 22, 4));
  const int depth = static_cast<int>(Le(file, 28, 2));
  std::vector<uint8_t> temp(static_cast<size_t>(n) * static_cast<size_t>(n));
  for (int r = 0; r < n; ++r) {
    for (int c = 0; c < n; ++c) {
      size_t at = depth == 4 ? static_cast<size_t>(r * (n / 2) + c / 2)
                  : depth == 8 ? static_cast<size_t>(r * n + c)
                  : depth == 16 ? static_cast<size_t>(r * n + c) * 2
                                : static_cast<size_t>(r * n + c) * 3;
      temp[static_cast<size_t>((n - 1 - r) * n + c)] = pixels[at];
    }
  }
  std::vector<uint8_t> out(static_cast<size_t>(m) * static_cast<size_t>(m));
  for (int i = 0; i < m; ++i) {
    for (int j = 0; j < m; ++j) {
      int si = n < m ? i / (m / n) : n > m ? i * (n / m) : i;
      int sj = n < m ? j / (m / n) : n > m ? j * (n / m) : j;
      out[static_cast<size_t>(i * m + j)] = temp[static_cast<size_t>(si * n + sj)];
    }
  }
  return out;
}

std::vector<uint8_t> Mapped(std::vector<uint8_t> image, const std::vector<int>& table) {
  for (uint8_t& b : image) b = static_cast<uint8_t>(table[b]);
  return image;
}

std::vector<int> Scrambled(int seed) {
  std::vector<int> values(256);
  for (int i = 0; i < 256; ++i) values[static_cast<size_t>(i)] = (i * 7 + seed) % 256;
  return values;
}

class FrameTest : public PatternTest {
 protected:
  std::vector<uint8_t> Read(const std::string& path, bool board, size_t bytes, bool expected = true) {
    std::vector<uint8_t> image(bytes + 8, 0xEE);
    EXPECT_EQ(ReadandInvertBitmap(image.data(), path, board), expected) << path;
    EXPECT_EQ(std::vector<uint8_t>(image.end() - 8, image.end()), std::vector<uint8_t>(8, 0xEE)) << "wrote past the end";
    image.resize(bytes);
    return image;
  }
  std::string Bitmap(const std::string& name, int side, uint16_t depth, uint32_t (*value)(int, int) = Noise) {
    WriteSquareBitmap(File(name), side, depth, value);
    return File(name);
  }
  void AddEntry(const std::string& pattern, const std::string& lut) {
    m_App.m_ImageList.push_back(std::make_unique<Image_Entry>(Image_Entry{pattern, lut, 1}));
  }
  std::vector<uint8_t> Slot(size_t i) const {
    const uint8_t* base = GetScreenImages() + i * ScreenImageBytes;
    return std::vector<uint8_t>(base, base + ScreenImageBytes);
  }
};

TEST(PatternKind, ByCaseSensitiveSubstring) {
  EXPECT_EQ(PatternKindOf("/p/a.bmp"), EPatternKind::Bitmap);
  EXPECT_EQ(PatternKindOf("/p/A.BMP"), EPatternKind::Bitmap);
  EXPECT_EQ(PatternKindOf("/p/a.zrn"), EPatternKind::Zernike);
  EXPECT_EQ(PatternKindOf("/p/A.ZRN"), EPatternKind::Zernike);
  EXPECT_EQ(PatternKindOf("/p.bmp/a.zrn"), EPatternKind::Bitmap);
  EXPECT_EQ(PatternKindOf("/p/a.Bmp"), EPatternKind::Neither);
  EXPECT_EQ(PatternKindOf("/p/a.Zrn"), EPatternKind::Neither);
  EXPECT_EQ(PatternKindOf("/p/a.tif"), EPatternKind::Neither);
}

TEST(ResampleSquare, EnlargesIntoBlocksAndDecimatesToTopLeftPixels) {
  const std::vector<uint8_t> two = {1, 2, 3, 4};
  auto big = ResampleSquare(two.data(), 2, 8);
  for (int i = 0; i < 8; ++i)
    for (int j = 0; j < 8; ++j) ASSERT_EQ(big[static_cast<size_t>(i * 8 + j)], two[static_cast<size_t>(i / 4 * 2 + j / 4)]);
  std::vector<uint8_t> nine(81);
  for (size_t i = 0; i < nine.size(); ++i) nine[i] = static_cast<uint8_t>(i);
  auto small = ResampleSquare(nine.data(), 9, 3);
  EXPECT_EQ(std::vector<uint8_t>(small.get(), small.get() + 9), (std::vector<uint8_t>{0, 3, 6, 27, 30, 33, 54, 57, 60}));
  auto same = ResampleSquare(nine.data(), 9, 9);
  EXPECT_EQ(std::vector<uint8_t>(same.get(), same.get() + 81), nine);
}

TEST_F(FrameTest, RowsAreReversedIntoATopDownPicture) {
  const std::string path = Bitmap("p.bmp", 512, 8);
  for (auto [board, k] : {std::pair<uint16_t, int>{512, 1}, {256, 2}, {0, 4}}) {
    const int side = board != 0 ? board : 128;
    if (board != 0) UseBoard(board);
    std::vector<uint8_t> image = Read(path, board != 0, static_cast<size_t>(side) * static_cast<size_t>(side));
    for (int y = 0; y < side; ++y)
      for (int x = 0; x < side; ++x)
        ASSERT_EQ(image[static_cast<size_t>(y * side + x)], static_cast<uint8_t>(Noise(y * k, x * k))) << side;
  }
  EXPECT_EQ(m_App.m_PatternBitCount, 8);
}

TEST_F(FrameTest, SmallPatternsAreEnlargedIntoBlocks) {
  UseBoard(512);
  std::vector<uint8_t> image = Read(Bitmap("p.bmp", 128, 8), true, 512 * 512);
  for (int y = 0; y < 512; ++y)
    for (int x = 0; x < 512; ++x) ASSERT_EQ(image[static_cast<size_t>(y * 512 + x)], static_cast<uint8_t>(Noise(y / 4, x / 4)));
}

TEST_F(FrameTest, EachDepthGivesItsByte) {
  std::vector<uint8_t> image = Read(Bitmap("p4.bmp", 128, 4), false, ScreenImageBytes);
  for (int y = 0; y < 128; ++y)
    for (int x = 0; x < 128; ++x)  // the whole byte of the pixel pair
      ASSERT_EQ(image[static_cast<size_t>(y * 128 + x)], ((Noise(y, x & ~1) & 15) << 4) | (Noise(y, x | 1) & 15));
  EXPECT_EQ(m_App.m_PatternBitCount, 4);
  image = Read(Bitmap("p16.bmp", 128, 16), false, ScreenImageBytes);
  for (int y = 0; y < 128; ++y)
    for (int x = 0; x < 128; ++x) ASSERT_EQ(image[static_cast<size_t>(y * 128 + x)], Noise(y, x) & 0xFF);
  EXPECT_EQ(m_App.m_PatternBitCount, 16);
  image = Read(Bitmap("p24.bmp", 128, 24), false, ScreenImageBytes);
  for (int y = 0; y < 128; ++y)
    for (int x = 0; x < 128; ++x) ASSERT_EQ(image[static_cast<size_t>(y * 128 + x)], Noise(y, x) & 0xFF);
  EXPECT_EQ(m_App.m_PatternBitCount, 24);
  // Pure red: only the blue byte counts.
  image = Read(Bitmap("red.bmp", 128, 24, [](int, int) { return 0xFF0000u; }), false, ScreenImageBytes);
  EXPECT_EQ(image, std::vector<uint8_t>(ScreenImageBytes, 0));
}

// Reading only the rows and columns needed gives what converting everything gives.
TEST_F(FrameTest, EqualsTheLongWayForEveryShape) {
  struct Shape {
    int side;
    uint16_t depth;
  };
  const std::vector<Shape> shapes = {{1, 8},    {2, 24},   {4, 4},    {8, 16},   {32, 8},   {64, 24},  {128, 4},
                                     {256, 16}, {512, 24}, {512, 4},  {1024, 8}, {1024, 24}, {2048, 8}};
  for (const Shape& shape : shapes) {
    const std::string path = File("s.bmp");
    WriteSquareBitmap(path, shape.side, shape.depth, Noise);
    const std::vector<uint8_t> file = BmpFile(StandardLayout(shape.side, shape.side, shape.depth),
                                              PixelBlock(shape.side, shape.depth, Noise));
    EXPECT_EQ(Read(path, false, ScreenImageBytes), Straightforward(file, 128)) << shape.side << " x " << shape.depth;
    for (uint16_t board : {256, 512}) {
      UseBoard(board);
      EXPECT_EQ(Read(path, true, size_t{board} * board), Straightforward(file, board))
          << shape.side << " x " << shape.depth << " on " << board;
    }
  }
}

TEST_F(FrameTest, RefusedBitmapsGiveFortyEightAndKeepTheLastDepth) {
  UseBoard(512);
  Read(Bitmap("good.bmp", 64, 8), true, 512 * 512);
  ASSERT_EQ(m_App.m_PatternBitCount, 8);

  auto write = [&](const std::string& name, const SBmpLayout& layout, const std::vector<uint8_t>& pixels) {
    WriteBytes(File(name), BmpFile(layout, pixels));
    return File(name);
  };
  auto square = [](int side, uint16_t depth) { return StandardLayout(side, side, depth); };
  std::vector<uint8_t> whole = PixelBlock(64, 8, Noise);
  std::vector<std::string> refused = {
      File("missing.bmp"),
      File(""),  // the folder itself
      write("wide.bmp", StandardLayout(64, 32, 8), whole),
      write("tall.bmp", StandardLayout(32, 64, 8), whole),
      write("three.bmp", square(3, 8), std::vector<uint8_t>(12 * 3)),
      write("odd.bmp", square(192, 8), std::vector<uint8_t>(192 * 192)),
      write("zero.bmp", square(0, 8), whole),
      write("topdown.bmp", StandardLayout(64, -64, 8), whole),
      write("one-bit.bmp", square(64, 1), std::vector<uint8_t>(8 * 64)),
      write("32-bit.bmp", square(64, 32), std::vector<uint8_t>(4 * 64 * 64)),
      write("7-bit.bmp", square(64, 7), whole),
      write("huge.bmp", square(16384, 8), whole),
      write("cut.bmp", square(64, 8), std::vector<uint8_t>(whole.begin(), whole.end() - 1)),
      write("cut24.bmp", square(64, 24), std::vector<uint8_t>(64 * 64 * 3 - 3)),
      write("cut4.bmp", square(64, 4), std::vector<uint8_t>(63 * 32 + 31)),
      write("declared-short.bmp", [&] { SBmpLayout l = square(64, 8); l.sizeImage = 4000; return l; }(), whole),
      write("offset-low.bmp", [&] { SBmpLayout l = square(64, 8); l.offBits = 40; return l; }(), whole),
      write("offset-past.bmp", [&] { SBmpLayout l = square(64, 8); l.offBits = 0x7FFFFFF0; return l; }(), whole),
      write("table-cut.bmp", [&] { SBmpLayout l = square(64, 8); l.colorTableEntries = 10; return l; }(), {}),
  };
  std::vector<uint8_t> headerCut = BmpFile(square(64, 8), whole);
  headerCut.resize(50);
  WriteBytes(File("header-cut.bmp"), headerCut);
  refused.push_back(File("header-cut.bmp"));
  for (const std::string& path : refused) {
    EXPECT_EQ(Read(path, true, 512 * 512, false), std::vector<uint8_t>(512 * 512, 48)) << path;
    EXPECT_EQ(Read(path, false, ScreenImageBytes, false), std::vector<uint8_t>(ScreenImageBytes, 48)) << path;
  }
  EXPECT_EQ(m_App.m_PatternBitCount, 8);
  EXPECT_TRUE(Messages().empty());
  // Just inside the limits: the last byte the conversion reads is the last in the file.
  EXPECT_EQ(Read(write("exact24.bmp", square(64, 24), std::vector<uint8_t>(64 * 64 * 3 - 2, 9)), true, 512 * 512),
            std::vector<uint8_t>(512 * 512, 9));
  EXPECT_EQ(m_App.m_PatternBitCount, 24);
}

TEST_F(FrameTest, BoardGeometryNeedsASquareBoard) {
  const std::string path = Bitmap("p.bmp", 64, 8);
  std::vector<uint8_t> untouched(16, 5);
  EXPECT_FALSE(ReadandInvertBitmap(untouched.data(), path, true));  // no board: nothing written
  EXPECT_EQ(untouched, std::vector<uint8_t>(16, 5));
  m_Board = std::make_unique<CTestBoard>(uint16_t{256}, uint16_t{128});
  m_App.m_pBoard = m_Board.get();
  EXPECT_EQ(Read(path, true, 256 * 128, false), std::vector<uint8_t>(256 * 128, 48));
  std::vector<uint8_t> screen(ScreenImageBytes);
  EXPECT_TRUE(ReadScreenBitmap(screen.data(), path));
  EXPECT_EQ(screen, Read(path, false, ScreenImageBytes));
}

TEST_F(FrameTest, ComposeAddsCompensationBeforeTheLookup) {
  UseBoard(512);
  const std::vector<int> table = Scrambled(3);
  WriteLut(File("t.lut"), table);
  Image_Entry entry{Bitmap("flat.bmp", 512, 8, [](int, int) { return 200u; }), File("t.lut"), 0};
  std::vector<uint8_t> slm(512 * 512, 100), sys(512 * 512, 0), frame(512 * 512);
  ComposeFrame(entry, frame.data(), 1, slm.data(), sys.data());
  EXPECT_EQ(entry.Valid, 1);
  EXPECT_EQ(frame, std::vector<uint8_t>(512 * 512, static_cast<uint8_t>(table[44])));
  ComposeFrame(entry, frame.data(), 0, slm.data(), sys.data());
  EXPECT_EQ(frame, std::vector<uint8_t>(512 * 512, static_cast<uint8_t>(table[200])));

  entry.PatternFile = Bitmap("noise.bmp", 512, 8);
  for (size_t i = 0; i < slm.size(); ++i) {
    slm[i] = static_cast<uint8_t>(Noise(static_cast<int>(i), 1));
    sys[i] = static_cast<uint8_t>(Noise(2, static_cast<int>(i)));
  }
  ComposeFrame(entry, frame.data(), 1, slm.data(), sys.data());
  for (int y = 0; y < 512; ++y)
    for (int x = 0; x < 512; ++x) {
      size_t i = static_cast<size_t>(y * 512 + x);
      ASSERT_EQ(frame[i], table[static_cast<uint8_t>(Noise(y, x) + slm[i] + sys[i])]);
    }
}

TEST_F(FrameTest, ComposeMarksWhatCouldNotBeRead) {
  UseBoard(256);
  const std::vector<int> table = Scrambled(11);
  WriteLut(File("t.lut"), table);
  std::vector<uint8_t> frame(256 * 256), none(256 * 256, 0);
  const std::string pattern = Bitmap("p.bmp", 256, 8);

  Image_Entry entry{pattern, File("missing.lut"), 1};
  ComposeFrame(entry, frame.data(), 0, none.data(), none.data());
  EXPECT_EQ(entry.Valid, 0);
  EXPECT_EQ(frame, Read(pattern, true, 256 * 256));  // the identity table

  for (const std::string& missing : {File("missing.bmp"), File("pattern.tif"), File("p.bmp.d/x.zrn")}) {
    entry = Image_Entry{missing, File("t.lut"), 1};
    ComposeFrame(entry, frame.data(), 0, none.data(), none.data());
    EXPECT_EQ(entry.Valid, 0) << missing;
    EXPECT_EQ(frame, std::vector<uint8_t>(256 * 256, static_cast<uint8_t>(table[48]))) << missing;
  }

  WriteText(File("z.zrn"), "Power=0.7\nXTilt=-1.3\n");
  entry = Image_Entry{File("z.zrn"), File("t.lut"), 0};
  ComposeFrame(entry, frame.data(), 0, none.data(), none.data());
  EXPECT_EQ(entry.Valid, 1);
  std::vector<uint8_t> phase(256 * 256);
  ASSERT_TRUE(ReadZernikeFile(phase.data(), File("z.zrn"), true));
  EXPECT_EQ(frame, Mapped(phase, table));
  EXPECT_TRUE(Messages().empty());
}

TEST_F(FrameTest, ScreenImagesOnePerEntry) {
  EXPECT_TRUE(BuildScreenImages());
  EXPECT_EQ(GetScreenImages(), nullptr);

  UseBoard(512);
  const std::vector<int> scrambled = Scrambled(5);
  WriteLut(File("s.lut"), scrambled);
  WriteText(File("z.zrn"), "Piston=0.25\n");
  const std::string bitmap = Bitmap("p.bmp", 512, 8);
  AddEntry(bitmap, File("s.lut"));
  AddEntry(File("z.zrn"), File("missing.lut"));
  AddEntry(File("missing.bmp"), File("s.lut"));
  AddEntry(File("p.tif"), File("s.lut"));
  AddEntry(Bitmap("p24.bmp", 256, 24), File("s.lut"));
  EXPECT_TRUE(BuildScreenImages());
  ASSERT_NE(GetScreenImages(), nullptr);
  EXPECT_EQ(Slot(0), Mapped(Straightforward(BmpFile(StandardLayout(512, 512, 8), PixelBlock(512, 8, Noise)), 128), scrambled));
  EXPECT_EQ(Slot(1), std::vector<uint8_t>(ScreenImageBytes, 31));
  EXPECT_EQ(Slot(2), std::vector<uint8_t>(ScreenImageBytes, static_cast<uint8_t>(scrambled[48])));
  EXPECT_EQ(Slot(3), std::vector<uint8_t>(ScreenImageBytes, static_cast<uint8_t>(scrambled[48])));
  EXPECT_EQ(Slot(4), Mapped(Straightforward(BmpFile(StandardLayout(256, 256, 24), PixelBlock(256, 24, Noise)), 128), scrambled));
  EXPECT_EQ(m_App.m_PatternBitCount, 24);

  // A LUT rewritten between two builds is read again, even at the same size.
  const std::vector<int> other = Scrambled(6);
  ASSERT_EQ(LutText(other).size(), LutText(scrambled).size());
  WriteLut(File("s.lut"), other);
  EXPECT_TRUE(BuildScreenImages());
  EXPECT_EQ(Slot(2), std::vector<uint8_t>(ScreenImageBytes, static_cast<uint8_t>(other[48])));
  EXPECT_EQ(Slot(0), Mapped(Read(bitmap, false, ScreenImageBytes), other));

  ReleaseScreenImages();
  EXPECT_EQ(GetScreenImages(), nullptr);
}

}  // namespace
