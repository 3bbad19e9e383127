#include "BitmapConversion.h"
#include "PatternFixture.h"

namespace {

class BitmapConversionTest : public PatternTest {
 protected:
  // Opens the bytes as a bitmap file; the header's figures land in the members.
  bool Open(const std::vector<uint8_t>& bytes) {
    WriteBytes(File("in.bmp"), bytes);
    return m_Converter.Open(File("in.bmp"), m_Width, m_Height, m_BitCount);
  }
  std::vector<uint8_t> Convert(int side, bool expected = true) {
    std::vector<uint8_t> image(static_cast<size_t>(side) * static_cast<size_t>(side) + 8, 0xEE);
    EXPECT_EQ(m_Converter.Convert(image.data(), side), expected) << side;
    EXPECT_EQ(std::vector<uint8_t>(image.end() - 8, image.end()), std::vector<uint8_t>(8, 0xEE)) << "wrote past the end";
    image.resize(image.size() - 8);
    return image;
  }

  CBitmapConverter m_Converter;
  int m_Width = -1, m_Height = -1, m_BitCount = -1;
};

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

// The entry editor's preview takes a bitmap at its own side, whatever that is, and shrinks
// it itself; the same open bitmap also gives the board's and the screen's sides.
TEST_F(BitmapConversionTest, AnySquareSideIsCopiedAsItIs) {
  for (int side : {1, 3, 100, 192, 1000})
    for (uint16_t depth : {4, 8, 16, 24}) {
      const std::vector<uint8_t> file = BmpFile(StandardLayout(side, side, depth), PixelBlock(side, depth, Noise));
      ASSERT_TRUE(Open(file)) << side << " x " << depth;
      EXPECT_EQ(std::make_tuple(m_Width, m_Height, m_BitCount), std::make_tuple(side, side, int{depth}));
      EXPECT_EQ(Convert(side), ConvertedTheLongWay(file, side)) << side << " x " << depth;
    }
  const std::vector<uint8_t> file = BmpFile(StandardLayout(256, 256, 8), PixelBlock(256, 8, Noise));
  ASSERT_TRUE(Open(file));
  for (int side : {256, 128, 512, 64}) EXPECT_EQ(Convert(side), ConvertedTheLongWay(file, side)) << side;
  EXPECT_TRUE(Messages().empty());
}

TEST_F(BitmapConversionTest, TheHeaderIsReportedAlsoForBitmapsThatAreNotConverted) {
  ASSERT_TRUE(Open(BmpFile(StandardLayout(64, 32, 8), PixelBlock(64, 8, Noise))));
  EXPECT_EQ(std::make_tuple(m_Width, m_Height, m_BitCount), std::make_tuple(64, 32, 8));
  for (int side : {64, 32, 128}) Convert(side, false);

  BmpLayout oneBit = StandardLayout(64, 64, 1);
  oneBit.colorTableEntries = 2;
  ASSERT_TRUE(Open(BmpFile(oneBit, std::vector<uint8_t>(8 * 64))));
  EXPECT_EQ(std::make_tuple(m_Width, m_Height, m_BitCount), std::make_tuple(64, 64, 1));
  Convert(64, false);

  ASSERT_TRUE(Open(BmpFile(StandardLayout(192, 192, 8), PixelBlock(192, 8, Noise))));
  Convert(128, false);  // neither a multiple nor a divisor
  Convert(0, false);
  EXPECT_TRUE(Messages().empty());
}

TEST_F(BitmapConversionTest, FilesThatAreNoBitmapLeaveTheFiguresAlone) {
  for (const std::string& path : {File("missing.bmp"), m_Folder.Path()}) {
    EXPECT_FALSE(m_Converter.Open(path, m_Width, m_Height, m_BitCount)) << path;
    Convert(4, false);
  }
  std::vector<uint8_t> cut = BmpFile(StandardLayout(4, 4, 8), std::vector<uint8_t>(16));
  cut.resize(40);
  EXPECT_FALSE(Open(cut));
  EXPECT_FALSE(Open(BmpFile(StandardLayout(4, -4, 8), std::vector<uint8_t>(16))));
  EXPECT_EQ(std::make_tuple(m_Width, m_Height, m_BitCount), std::make_tuple(-1, -1, -1));
  Convert(4, false);
  // A good bitmap opened before does not linger behind a failed open.
  ASSERT_TRUE(Open(BmpFile(StandardLayout(4, 4, 8), std::vector<uint8_t>(16, 3))));
  EXPECT_FALSE(m_Converter.Open(File("missing.bmp"), m_Width, m_Height, m_BitCount));
  Convert(4, false);
}

}  // namespace
