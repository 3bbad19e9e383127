#include "FrameComposition.h"
#include "PatternFixture.h"
#include "Zernike.h"

namespace {

std::vector<uint8_t> Mapped(std::vector<uint8_t> image, const std::vector<int>& table) {
  for (uint8_t& b : image) b = static_cast<uint8_t>(table[b]);
  return image;
}

constexpr PatternGeometry KITE{512, 512, 300.0};
constexpr PatternGeometry WREN{256, 256, 150.0};

class FrameTest : public PatternTest {
 protected:
  // The side x side image of a bitmap; m_BitCount follows the reader.
  std::vector<uint8_t> Read(const std::string& path, int side, bool expected = true) {
    const size_t bytes = static_cast<size_t>(side) * static_cast<size_t>(side);
    std::vector<uint8_t> image(bytes + 8, 0xEE);
    EXPECT_EQ(ReadBitmapPattern(image.data(), path, side, m_BitCount), expected) << path;
    EXPECT_EQ(std::vector<uint8_t>(image.end() - 8, image.end()), std::vector<uint8_t>(8, 0xEE)) << "wrote past the end";
    image.resize(bytes);
    return image;
  }
  std::string Bitmap(const std::string& name, int side, uint16_t depth, uint32_t (*value)(int, int) = Noise) {
    WriteSquareBitmap(File(name), side, depth, value);
    return File(name);
  }
  void AddEntry(const std::string& pattern, const std::string& lut) {
    m_List.push_back(std::make_unique<Image_Entry>(Image_Entry{pattern, lut, 1}));
  }
  std::vector<uint8_t> Slot(size_t i) const {
    const uint8_t* base = GetScreenImages() + i * SCREEN_IMAGE_BYTES;
    return std::vector<uint8_t>(base, base + SCREEN_IMAGE_BYTES);
  }

  int m_BitCount = 0;
  ImageList m_List;
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

TEST_F(FrameTest, RowsAreReversedIntoATopDownPicture) {
  const std::string path = Bitmap("p.bmp", 512, 8);
  for (auto [side, k] : {std::pair{512, 1}, {256, 2}, {128, 4}}) {
    std::vector<uint8_t> image = Read(path, side);
    for (int y = 0; y < side; ++y)
      for (int x = 0; x < side; ++x)
        ASSERT_EQ(image[static_cast<size_t>(y * side + x)], static_cast<uint8_t>(Noise(y * k, x * k))) << side;
  }
  EXPECT_EQ(m_BitCount, 8);
}

TEST_F(FrameTest, SmallPatternsAreEnlargedIntoBlocks) {
  std::vector<uint8_t> image = Read(Bitmap("p.bmp", 128, 8), 512);
  for (int y = 0; y < 512; ++y)
    for (int x = 0; x < 512; ++x) ASSERT_EQ(image[static_cast<size_t>(y * 512 + x)], static_cast<uint8_t>(Noise(y / 4, x / 4)));
}

TEST_F(FrameTest, EachDepthGivesItsByte) {
  std::vector<uint8_t> image = Read(Bitmap("p4.bmp", 128, 4), SCREEN_SIDE);
  for (int y = 0; y < 128; ++y)
    for (int x = 0; x < 128; ++x)  // the whole byte of the pixel pair
      ASSERT_EQ(image[static_cast<size_t>(y * 128 + x)], ((Noise(y, x & ~1) & 15) << 4) | (Noise(y, x | 1) & 15));
  EXPECT_EQ(m_BitCount, 4);
  image = Read(Bitmap("p16.bmp", 128, 16), SCREEN_SIDE);
  for (int y = 0; y < 128; ++y)
    for (int x = 0; x < 128; ++x) ASSERT_EQ(image[static_cast<size_t>(y * 128 + x)], Noise(y, x) & 0xFF);
  EXPECT_EQ(m_BitCount, 16);
  image = Read(Bitmap("p24.bmp", 128, 24), SCREEN_SIDE);
  for (int y = 0; y < 128; ++y)
    for (int x = 0; x < 128; ++x) ASSERT_EQ(image[static_cast<size_t>(y * 128 + x)], Noise(y, x) & 0xFF);
  EXPECT_EQ(m_BitCount, 24);
  // Pure red: only the blue byte counts.
  image = Read(Bitmap("red.bmp", 128, 24, [](int, int) { return 0xFF0000u; }), SCREEN_SIDE);
  EXPECT_EQ(image, std::vector<uint8_t>(SCREEN_IMAGE_BYTES, 0));
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
    for (int side : {128, 256, 512})
      EXPECT_EQ(Read(path, side), ConvertedTheLongWay(file, side)) << shape.side << " x " << shape.depth << " onto " << side;
  }
}

TEST_F(FrameTest, RefusedBitmapsGiveFortyEightAndKeepTheLastDepth) {
  Read(Bitmap("good.bmp", 64, 8), 512);
  ASSERT_EQ(m_BitCount, 8);

  auto write = [&](const std::string& name, const BmpLayout& layout, const std::vector<uint8_t>& pixels) {
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
      write("declared-short.bmp", [&] { BmpLayout l = square(64, 8); l.sizeImage = 4000; return l; }(), whole),
      write("offset-low.bmp", [&] { BmpLayout l = square(64, 8); l.offBits = 40; return l; }(), whole),
      write("offset-past.bmp", [&] { BmpLayout l = square(64, 8); l.offBits = 0x7FFFFFF0; return l; }(), whole),
      write("table-cut.bmp", [&] { BmpLayout l = square(64, 8); l.colorTableEntries = 10; return l; }(), {}),
  };
  std::vector<uint8_t> headerCut = BmpFile(square(64, 8), whole);
  headerCut.resize(50);
  WriteBytes(File("header-cut.bmp"), headerCut);
  refused.push_back(File("header-cut.bmp"));
  for (const std::string& path : refused) {
    EXPECT_EQ(Read(path, 512, false), std::vector<uint8_t>(512 * 512, 48)) << path;
    EXPECT_EQ(Read(path, SCREEN_SIDE, false), std::vector<uint8_t>(SCREEN_IMAGE_BYTES, 48)) << path;
  }
  EXPECT_EQ(m_BitCount, 8);
  EXPECT_TRUE(Messages().empty());
  // Just inside the limits: the last byte the conversion reads is the last in the file.
  EXPECT_EQ(Read(write("exact24.bmp", square(64, 24), std::vector<uint8_t>(64 * 64 * 3 - 2, 9)), 512),
            std::vector<uint8_t>(512 * 512, 9));
  EXPECT_EQ(m_BitCount, 24);
}

// A frame is square; a bitmap onto any other geometry reads like a missing file.
TEST_F(FrameTest, BitmapsFillOnlySquareImages) {
  const std::string path = Bitmap("p.bmp", 64, 8);
  std::vector<uint8_t> image(256 * 128 + 8, 5);
  EXPECT_FALSE(ReadPattern(EPatternKind::Bitmap, image.data(), path, PatternGeometry{256, 128, 150.0}, m_BitCount));
  EXPECT_EQ(std::vector<uint8_t>(image.begin(), image.begin() + 256 * 128), std::vector<uint8_t>(256 * 128, 48));
  EXPECT_EQ(std::vector<uint8_t>(image.begin() + 256 * 128, image.end()), std::vector<uint8_t>(8, 5));
  EXPECT_EQ(m_BitCount, 0);
  EXPECT_TRUE(ReadPattern(EPatternKind::Bitmap, image.data(), path, SCREEN_GEOMETRY, m_BitCount));
  EXPECT_EQ(std::vector<uint8_t>(image.begin(), image.begin() + SCREEN_IMAGE_BYTES), Read(path, SCREEN_SIDE));
}

TEST_F(FrameTest, ComposeAddsCompensationBeforeTheLookup) {
  const std::vector<int> table = ScrambledValues(3);
  WriteLut(File("t.lut"), table);
  Image_Entry entry{Bitmap("flat.bmp", 512, 8, [](int, int) { return 200u; }), File("t.lut"), 0};
  std::vector<uint8_t> slm(512 * 512, 100), sys(512 * 512, 0), frame(512 * 512);
  ComposeFrameImage(entry, frame.data(), KITE, 1, slm.data(), sys.data(), m_BitCount);
  EXPECT_EQ(entry.Valid, 1);
  EXPECT_EQ(frame, std::vector<uint8_t>(512 * 512, static_cast<uint8_t>(table[44])));
  ComposeFrameImage(entry, frame.data(), KITE, 0, slm.data(), sys.data(), m_BitCount);
  EXPECT_EQ(frame, std::vector<uint8_t>(512 * 512, static_cast<uint8_t>(table[200])));

  entry.PatternFile = Bitmap("noise.bmp", 512, 8);
  for (size_t i = 0; i < slm.size(); ++i) {
    slm[i] = static_cast<uint8_t>(Noise(static_cast<int>(i), 1));
    sys[i] = static_cast<uint8_t>(Noise(2, static_cast<int>(i)));
  }
  ComposeFrameImage(entry, frame.data(), KITE, 1, slm.data(), sys.data(), m_BitCount);
  for (int y = 0; y < 512; ++y)
    for (int x = 0; x < 512; ++x) {
      size_t i = static_cast<size_t>(y * 512 + x);
      ASSERT_EQ(frame[i], table[static_cast<uint8_t>(Noise(y, x) + slm[i] + sys[i])]);
    }
  EXPECT_EQ(m_BitCount, 8);
}

TEST_F(FrameTest, ComposeMarksWhatCouldNotBeRead) {
  const std::vector<int> table = ScrambledValues(11);
  WriteLut(File("t.lut"), table);
  std::vector<uint8_t> frame(256 * 256), none(256 * 256, 0);
  const std::string pattern = Bitmap("p.bmp", 256, 8);

  Image_Entry entry{pattern, File("missing.lut"), 1};
  ComposeFrameImage(entry, frame.data(), WREN, 0, none.data(), none.data(), m_BitCount);
  EXPECT_EQ(entry.Valid, 0);
  EXPECT_EQ(frame, Read(pattern, 256));  // the identity table

  for (const std::string& missing : {File("missing.bmp"), File("pattern.tif"), File("p.bmp.d/x.zrn")}) {
    entry = Image_Entry{missing, File("t.lut"), 1};
    ComposeFrameImage(entry, frame.data(), WREN, 0, none.data(), none.data(), m_BitCount);
    EXPECT_EQ(entry.Valid, 0) << missing;
    EXPECT_EQ(frame, std::vector<uint8_t>(256 * 256, static_cast<uint8_t>(table[48]))) << missing;
  }

  WriteText(File("z.zrn"), "Power=0.7\nXTilt=-1.3\n");
  entry = Image_Entry{File("z.zrn"), File("t.lut"), 0};
  ComposeFrameImage(entry, frame.data(), WREN, 0, none.data(), none.data(), m_BitCount);
  EXPECT_EQ(entry.Valid, 1);
  std::vector<uint8_t> phase(256 * 256);
  ASSERT_TRUE(ReadZernikePattern(phase.data(), File("z.zrn"), 256, 256, 150.0));
  EXPECT_EQ(frame, Mapped(phase, table));
  EXPECT_TRUE(Messages().empty());
}

TEST_F(FrameTest, ScreenImagesOnePerEntry) {
  BuildScreenImagesFor(m_List, m_BitCount);
  EXPECT_EQ(GetScreenImages(), nullptr);

  const std::vector<int> scrambled = ScrambledValues(5);
  WriteLut(File("s.lut"), scrambled);
  WriteText(File("z.zrn"), "Piston=0.25\n");
  const std::string bitmap = Bitmap("p.bmp", 512, 8);
  AddEntry(bitmap, File("s.lut"));
  AddEntry(File("z.zrn"), File("missing.lut"));
  AddEntry(File("missing.bmp"), File("s.lut"));
  AddEntry(File("p.tif"), File("s.lut"));
  AddEntry(Bitmap("p24.bmp", 256, 24), File("s.lut"));
  BuildScreenImagesFor(m_List, m_BitCount);
  ASSERT_NE(GetScreenImages(), nullptr);
  EXPECT_EQ(Slot(0), Mapped(ConvertedTheLongWay(BmpFile(StandardLayout(512, 512, 8), PixelBlock(512, 8, Noise)), 128), scrambled));
  EXPECT_EQ(Slot(1), std::vector<uint8_t>(SCREEN_IMAGE_BYTES, 31));
  EXPECT_EQ(Slot(2), std::vector<uint8_t>(SCREEN_IMAGE_BYTES, static_cast<uint8_t>(scrambled[48])));
  EXPECT_EQ(Slot(3), std::vector<uint8_t>(SCREEN_IMAGE_BYTES, static_cast<uint8_t>(scrambled[48])));
  EXPECT_EQ(Slot(4), Mapped(ConvertedTheLongWay(BmpFile(StandardLayout(256, 256, 24), PixelBlock(256, 24, Noise)), 128), scrambled));
  EXPECT_EQ(m_BitCount, 24);

  // A LUT rewritten between two builds is read again, even at the same size.
  const std::vector<int> other = ScrambledValues(6);
  ASSERT_EQ(LutText(other).size(), LutText(scrambled).size());
  WriteLut(File("s.lut"), other);
  BuildScreenImagesFor(m_List, m_BitCount);
  EXPECT_EQ(Slot(2), std::vector<uint8_t>(SCREEN_IMAGE_BYTES, static_cast<uint8_t>(other[48])));
  EXPECT_EQ(Slot(0), Mapped(Read(bitmap, SCREEN_SIDE), other));

  ReleaseScreenImages();
  EXPECT_EQ(GetScreenImages(), nullptr);
}

}  // namespace
