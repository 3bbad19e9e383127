#include <fcntl.h>

#include "PatternFixture.h"
#include "cdib.h"

namespace {

class CDibTest : public PatternTest {
 protected:
  // Reads the bytes as a file through a fresh CDib.
  bool ReadBytes(const std::vector<uint8_t>& bytes) {
    WriteBytes(File("in.bmp"), bytes);
    CFile file;
    EXPECT_TRUE(file.Open(File("in.bmp")));
    return m_Dib.Read(file);
  }
  void ExpectEmpty() const {
    EXPECT_EQ(m_Dib.GetSize(), std::make_pair(0, 0));
    EXPECT_EQ(m_Dib.m_pInfo, nullptr);
    EXPECT_EQ(m_Dib.m_pPixels, nullptr);
    EXPECT_EQ(m_Dib.m_PixelBytes, 0u);
  }

  CDib m_Dib;
};

TEST_F(CDibTest, KeepsHeaderAndPixelBlockAsStored) {
  ExpectEmpty();
  std::vector<uint8_t> pixels = PixelBlock(4, 8, [](int y, int x) { return y * 16 + x; });
  ASSERT_TRUE(ReadBytes(BmpFile(StandardLayout(4, 4, 8), pixels)));
  EXPECT_EQ(m_Dib.GetSize(), std::make_pair(4, 4));
  EXPECT_EQ(m_Dib.m_pInfo->biBitCount, 8);
  EXPECT_EQ(m_Dib.m_PixelBytes, 16u);
  EXPECT_EQ(std::vector<uint8_t>(m_Dib.m_pPixels, m_Dib.m_pPixels + 16), pixels);
  // The colour table sits right behind the information header and is kept as read.
  EXPECT_EQ(m_Dib.m_pColorTable, reinterpret_cast<const uint8_t*>(m_Dib.m_pInfo) + 40);
  EXPECT_EQ(m_Dib.m_pColorTable[4 * 3], 255 - 3);
  EXPECT_TRUE(Messages().empty());
}

TEST_F(CDibTest, PaletteIsAGreyRampWhateverTheFileStores) {
  ASSERT_TRUE(ReadBytes(BmpFile(StandardLayout(4, 4, 8), std::vector<uint8_t>(16, 0))));
  EXPECT_EQ(m_Dib.m_ColorEntries, 256);
  EXPECT_EQ(m_Dib.m_Palette.palVersion, 0x300);
  EXPECT_EQ(m_Dib.m_Palette.palNumEntries, 256);
  for (int i = 0; i < 256; ++i) {
    const PALETTEENTRY& e = m_Dib.m_Palette.palPalEntry[i];
    ASSERT_TRUE(e.peRed == i && e.peGreen == i && e.peBlue == i && e.peFlags == PC_RESERVED) << i;
  }

  BmpLayout used = StandardLayout(4, 4, 8);
  used.colorsUsed = 5;
  used.colorTableEntries = 5;
  ASSERT_TRUE(ReadBytes(BmpFile(used, std::vector<uint8_t>(16, 0))));
  EXPECT_EQ(m_Dib.m_ColorEntries, 5);
  EXPECT_EQ(m_Dib.m_Palette.palNumEntries, 5);

  ASSERT_TRUE(ReadBytes(BmpFile(StandardLayout(4, 4, 4), std::vector<uint8_t>(16, 0))));
  EXPECT_EQ(m_Dib.m_ColorEntries, 16);
  ASSERT_TRUE(ReadBytes(BmpFile(StandardLayout(4, 4, 24), std::vector<uint8_t>(48, 0))));
  EXPECT_EQ(m_Dib.m_ColorEntries, 0);
  EXPECT_EQ(m_Dib.m_Palette.palNumEntries, 0);
}

TEST_F(CDibTest, PixelBlockSizeComesFromTheHeader) {
  // 24 bits, 3 x 2, biSizeImage 0: 9 bytes of data padded to 12 per row.
  ASSERT_TRUE(ReadBytes(BmpFile(StandardLayout(3, 2, 24), std::vector<uint8_t>(24, 7))));
  EXPECT_EQ(m_Dib.m_PixelBytes, 24u);

  BmpLayout declared = StandardLayout(4, 4, 8);
  declared.sizeImage = 10;
  ASSERT_TRUE(ReadBytes(BmpFile(declared, std::vector<uint8_t>(16, 7))));
  EXPECT_EQ(m_Dib.m_PixelBytes, 10u);

  // A pixel block the file cuts short holds what the file has.
  ASSERT_TRUE(ReadBytes(BmpFile(StandardLayout(4, 4, 8), std::vector<uint8_t>(9, 7))));
  EXPECT_EQ(m_Dib.m_PixelBytes, 9u);
}

TEST_F(CDibTest, FileTypeIsNotLookedAt) {
  std::vector<uint8_t> bytes = BmpFile(StandardLayout(4, 4, 8), std::vector<uint8_t>(16, 1));
  bytes[0] = 'X';
  bytes[1] = 'Y';
  EXPECT_TRUE(ReadBytes(bytes));
  EXPECT_EQ(m_Dib.GetSize(), std::make_pair(4, 4));
}

TEST_F(CDibTest, OtherHeaderSizesAreTracedAndReadWithTheWindowsLayout) {
  BmpLayout v5 = StandardLayout(4, 4, 8);
  v5.headerSize = 124;
  testing::internal::CaptureStderr();
  bool ok = ReadBytes(BmpFile(v5, std::vector<uint8_t>(16, 3)));
  std::string trace = testing::internal::GetCapturedStderr();
  ASSERT_TRUE(ok);
  EXPECT_EQ(trace, "Not a valid Windows bitmap -- probably an OS/2 bitmap\n");
  EXPECT_EQ(m_Dib.GetSize(), std::make_pair(4, 4));
  EXPECT_EQ(m_Dib.m_pPixels[15], 3);
  EXPECT_TRUE(Messages().empty());
}

TEST_F(CDibTest, ReadErrorShowsItsMessageAndLeavesNothing) {
  ASSERT_TRUE(ReadBytes(BmpFile(StandardLayout(4, 4, 8), std::vector<uint8_t>(16, 1))));
  // A folder opened as a file: every read of it fails.
  CFile folder(::open(m_Folder.Path().c_str(), O_RDONLY | O_DIRECTORY));
  ASSERT_TRUE(folder.IsOpen());
  EXPECT_FALSE(m_Dib.Read(folder));
  ExpectEmpty();
  ASSERT_EQ(Messages().size(), 1u);
  EXPECT_EQ(Messages()[0].text, "Read error");
  EXPECT_EQ(Messages()[0].caption, ApplicationTitle());
  EXPECT_EQ(Messages()[0].icon, MessageIcon::None);
}

// Files this object cannot describe safely are refused without a message.
TEST_F(CDibTest, RefusesFilesItCannotHold) {
  const std::vector<uint8_t> pixels(64, 1);
  auto variant = [&](auto change) {
    BmpLayout layout = StandardLayout(4, 4, 8);
    change(layout);
    return BmpFile(layout, pixels);
  };
  std::vector<std::pair<std::string, std::vector<uint8_t>>> cases = {
      {"empty file", {}},
      {"file header cut short", std::vector<uint8_t>{'B', 'M', 0, 0, 0, 0, 0, 0, 0, 0, 54}},
      {"information header cut short", [] {
         std::vector<uint8_t> bytes = BmpFile(StandardLayout(4, 4, 24), {});
         bytes.resize(40);
         return bytes;
       }()},
      {"offset inside the file header", variant([](BmpLayout& l) { l.offBits = 20; })},
      {"offset inside the information header", variant([](BmpLayout& l) { l.offBits = 53; })},
      {"offset past the end", variant([](BmpLayout& l) { l.offBits = 0x7FFFFFFF; })},
      {"colour table cut short", variant([](BmpLayout& l) { l.colorTableEntries = 100; })},
      {"more than 256 colours", variant([](BmpLayout& l) {
         l.colorsUsed = 257;
         l.colorTableEntries = 257;
       })},
      {"zero width", variant([](BmpLayout& l) { l.width = 0; })},
      {"zero height", variant([](BmpLayout& l) { l.height = 0; })},
      {"negative width", variant([](BmpLayout& l) { l.width = -4; })},
      {"top-down rows", variant([](BmpLayout& l) { l.height = -4; })},
      {"unknown depth", variant([](BmpLayout& l) { l.bitCount = 7; })},
      {"pixel block beyond 32 bits", variant([](BmpLayout& l) {
         l.bitCount = 32;
         l.width = 0x10000;
         l.height = 0x10000;
         l.colorTableEntries = 0;
       })},
  };
  for (const auto& [name, bytes] : cases) {
    EXPECT_FALSE(ReadBytes(bytes)) << name;
    ExpectEmpty();
  }
  EXPECT_TRUE(Messages().empty());
}

}  // namespace
