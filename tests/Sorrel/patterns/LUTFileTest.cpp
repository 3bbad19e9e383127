#include <sys/stat.h>

#include "LUTFile.h"
#include "PatternFixture.h"

namespace {

class LUTFileTest : public PatternTest {
 protected:
  // Reads text as a LUT file into a table that starts out as junk.
  bool ReadLut(const std::string& text) {
    WriteText(File("t.lut"), text);
    std::fill(std::begin(m_Table), std::end(m_Table), uint8_t{0xA5});
    return ReadLUTFile(File("t.lut"), m_Table);
  }
  std::vector<int> Table() const { return std::vector<int>(std::begin(m_Table), std::end(m_Table)); }

  uint8_t m_Table[256];
};

std::vector<int> Inverting() {
  std::vector<int> values(256);
  for (int i = 0; i < 256; ++i) values[static_cast<size_t>(i)] = 255 - i;
  return values;
}

TEST_F(LUTFileTest, AcceptsAllPairsInOrder) {
  EXPECT_TRUE(ReadLut(LutText(IdentityValues())));
  EXPECT_EQ(Table(), IdentityValues());
  EXPECT_TRUE(ReadLut(LutText(Inverting())));
  EXPECT_EQ(Table(), Inverting());
}

TEST_F(LUTFileTest, AnyWhiteSpaceSeparatesTheNumbers) {
  const char* separators[] = {" ", "\t", "\n", "\r\n", "  \v\f", "\t \n"};
  std::string text = "+0";
  for (int i = 0; i < 256; ++i) {
    if (i > 0) text += separators[i % 6] + std::to_string(i);
    text += separators[(i + 3) % 6] + std::to_string(255 - i);
  }
  EXPECT_TRUE(ReadLut(text));
  EXPECT_EQ(Table(), Inverting());
}

TEST_F(LUTFileTest, WhateverFollowsTheLastPairIsIgnored) {
  EXPECT_TRUE(ReadLut(LutText(Inverting()) + "256 3\nnot a number"));
  EXPECT_EQ(Table(), Inverting());
  EXPECT_TRUE(ReadLut(LutText(Inverting()).substr(0, LutText(Inverting()).size() - 1) + "xyz"));
  EXPECT_EQ(Table(), Inverting());
}

// Every refusal leaves the identity, whatever had been read before it.
TEST_F(LUTFileTest, RefusedFilesGiveTheIdentity) {
  auto with = [](size_t index, const std::string& pair) {
    std::string text;
    for (size_t i = 0; i < 256; ++i) text += i == index ? pair + "\n" : std::to_string(i) + " " + std::to_string(255 - i) + "\n";
    return text;
  };
  std::string short255 = LutText(Inverting());
  short255.resize(short255.rfind("255 0"));
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"255 pairs", short255},
      {"value 300", with(7, "7 300")},
      {"value -1", with(7, "7 -1")},
      {"value beyond int", with(7, "7 99999999999999999999")},
      {"index out of order", with(0, "1 1")},
      {"index beyond int that wraps to its place", with(0, "4294967296 5")},
      {"one number", with(9, "9")},
      {"not a number", with(9, "9 x")},
      {"hexadecimal", with(9, "0x9 1")},
      {"empty file", ""},
  };
  for (const auto& [name, text] : cases) {
    EXPECT_FALSE(ReadLut(text)) << name;
    EXPECT_EQ(Table(), IdentityValues()) << name;
  }
  // Only regular files are read: a pipe nobody writes to must not hang the reader.
  ASSERT_EQ(::mkfifo(File("pipe.lut").c_str(), 0600), 0);
  for (const std::string& path : {File("missing.lut"), File("pipe.lut"), m_Folder.Path(), std::string("/dev/zero")}) {
    std::fill(std::begin(m_Table), std::end(m_Table), uint8_t{0xA5});
    EXPECT_FALSE(ReadLUTFile(path, m_Table)) << path;
    EXPECT_EQ(Table(), IdentityValues()) << path;
  }
  EXPECT_TRUE(Messages().empty());
}

}  // namespace
