// The sample working folder, made by its tool, read back through the system's own readers;
// and its demo sequences downloaded by the program on both boards.

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <set>

#include "DemoFolder.h"
#include "FrameComposition.h"
#include "LUTFile.h"
#include "ProgramFixture.h"
#include "Zernike.h"

using namespace progtest;
namespace fs = std::filesystem;

namespace {

// Runs the tool with arguments; its exit status.
int Tool(const std::string& arguments) {
  const std::string command = std::string(SORREL_SAMPLES_TOOL) + " " + arguments + " > /dev/null";
  return WEXITSTATUS(std::system(command.c_str()));
}

std::vector<fs::path> FilesEndingIn(const fs::path& folder, const std::string& ending) {
  std::vector<fs::path> files;
  for (const auto& f : fs::directory_iterator(folder)) {
    if (f.path().string().ends_with(ending)) files.push_back(f.path());
  }
  std::sort(files.begin(), files.end());
  return files;
}

// The pixel block of an 8-bit bitmap as a top-down image: bottom row first in the file.
std::vector<uint8_t> PixelsOfFile(const fs::path& path, int side) {
  const std::string bytes = ReadText(path);
  const size_t offBits = static_cast<uint8_t>(bytes[10]) | static_cast<uint8_t>(bytes[11]) << 8;
  std::vector<uint8_t> image(static_cast<size_t>(side) * static_cast<size_t>(side));
  for (int y = 0; y < side; ++y) {
    for (int x = 0; x < side; ++x) {
      image[static_cast<size_t>(y * side + x)] = static_cast<uint8_t>(bytes[offBits + static_cast<size_t>((side - 1 - y) * side + x)]);
    }
  }
  return image;
}

TEST(SampleFolder, EveryFileReadsBackThroughTheReaders) {
  CTempFolder work;
  ASSERT_EQ(Tool(work.Path()), 0);
  const fs::path images = work.Path("Image_Files");

  int bitmaps = 0;
  std::set<int> depths;
  std::set<int> sides;
  std::vector<fs::path> all = FilesEndingIn(images, ".bmp");
  all.push_back(work.Path("PowerOff.bmp"));
  for (const fs::path& file : all) {
    SCOPED_TRACE(file.string());
    const int side = file.filename() == "PowerOff.bmp" || file.filename().string().find("128") != std::string::npos ? 128
                     : file.filename().string().find("256") != std::string::npos                                  ? 256
                                                                                                             : 512;
    std::vector<uint8_t> image(static_cast<size_t>(side) * static_cast<size_t>(side));
    int bitCount = 0;
    EXPECT_TRUE(ReadBitmapPattern(image.data(), file.string(), side, bitCount));
    if (bitCount == 8) {
      EXPECT_TRUE(image == PixelsOfFile(file, side)) << "read as written";
    }
    EXPECT_GT(*std::max_element(image.begin(), image.end()), *std::min_element(image.begin(), image.end()));
    depths.insert(bitCount);
    sides.insert(side);
    ++bitmaps;
  }
  EXPECT_EQ(bitmaps, 20);
  EXPECT_EQ(depths, (std::set<int>{8, 24}));
  EXPECT_EQ(sides, (std::set<int>{128, 256, 512}));

  uint8_t table[256];
  ASSERT_TRUE(ReadLUTFile(images / "linear.lut", table));
  for (int i = 0; i < 256; ++i) EXPECT_EQ(table[i], i);
  ASSERT_TRUE(ReadLUTFile(images / "invert.lut", table));
  for (int i = 0; i < 256; ++i) EXPECT_EQ(table[i], 255 - i);
  ASSERT_TRUE(ReadLUTFile(images / "gamma.txt", table));
  EXPECT_EQ(table[0], 0);
  EXPECT_EQ(table[255], 255);
  EXPECT_GT(table[64], 64) << "a gamma curve lifts the dark levels";
  EXPECT_TRUE(std::is_sorted(table, table + 256));
  // One wave at each wavelength: the whole drive at 633 nm, 532/633 of it at 532 nm.
  const fs::path wavelengths = work.Path("LUT_Files");
  ASSERT_TRUE(ReadLUTFile(wavelengths / "633nm.lut", table));
  for (int i = 0; i < 256; ++i) EXPECT_EQ(table[i], i);
  ASSERT_TRUE(ReadLUTFile(wavelengths / "532nm.lut", table));
  EXPECT_EQ(table[128], 108);
  EXPECT_EQ(table[255], 214);
  EXPECT_TRUE(std::is_sorted(table, table + 256));

  const std::vector<fs::path> zernikes = FilesEndingIn(images, ".zrn");
  ASSERT_EQ(zernikes.size(), 5u);
  std::vector<std::vector<uint8_t>> phases;
  for (const fs::path& file : zernikes) {
    std::vector<uint8_t> phase(512 * 512);
    EXPECT_TRUE(ReadZernikePattern(phase.data(), file.string(), 512, 512, 300)) << file;
    EXPECT_EQ(std::find(phases.begin(), phases.end(), phase), phases.end()) << file << " gives a phase of its own";
    EXPECT_NE(phase, std::vector<uint8_t>(phase.size(), phase.front())) << file << " is not flat";
    phases.push_back(phase);
  }

  for (const char* sif : {"Kite_demo.sif", "Wren_demo.sif"}) {
    ImageList list;
    int state = 0;
    std::string previous = fs::current_path();
    fs::current_path(work.Path());
    EXPECT_TRUE(ReadSequenceEntries(std::string("Sequence_Files/") + sif, list, state));
    fs::current_path(previous);
    EXPECT_EQ(list.size(), 15u) << sif;
    for (const auto& entry : list) {
      EXPECT_TRUE(fs::exists(entry->PatternFile)) << entry->PatternFile;
      EXPECT_TRUE(fs::exists(entry->LUTFile)) << entry->LUTFile;
    }
  }
  EXPECT_EQ(ReadText(work.Path("Sequence_Files/Kite_demo.sif")).substr(0, 12), "Image_Files/")
      << "entries relative to the working folder";
}

class SampleDemo : public ProgramTest {
 protected:
  // The program started in the sample folder with the settings the tool seeds.
  void StartDemo(const char* board) {
    ASSERT_EQ(Tool(m_Work.Path()), 0);
    ASSERT_EQ(Tool("--seed-settings " + m_Work.Path() + " " + board), 0);
    ASSERT_EQ(Start(), std::nullopt);
  }
};

TEST_F(SampleDemo, TheKiteDemoDownloadsWholeAtStartUp) {
  StartDemo("kite");
  EXPECT_EQ(MessageTexts(), std::vector<std::string>{});
  EXPECT_EQ(Dlg().GetDlgItemText(IDC_START_STOP), "START");
  EXPECT_EQ(Dlg().GetDlgItemText(IDC_SEQUENCE_NAME), "Kite_demo.sif ");
  ASSERT_EQ(App().m_ImageList.size(), 15u);
  for (size_t i = 0; i < App().m_ImageList.size(); ++i) {
    EXPECT_EQ(App().m_ImageList[i]->Valid, 1) << App().m_ImageList[i]->PatternFile;
    EXPECT_EQ(ShownFrame(static_cast<uint32_t>(i)).size(), 512u * 512u) << "frame " << i << " is on the board";
  }
  EXPECT_TRUE(ShownFrame(0) == PixelsOfFile(Work("Image_Files/blaze512_16_0.bmp"), 512)) << "a linear table";
  std::vector<uint8_t> inverted = PixelsOfFile(Work("Image_Files/checker_512.bmp"), 512);
  for (uint8_t& v : inverted) v = static_cast<uint8_t>(255 - v);
  EXPECT_TRUE(ShownFrame(7) == inverted) << "the inverting table";
  EXPECT_EQ(App().FrameRate, 10);
  EXPECT_EQ(App().LC_Type, 1);
  EXPECT_EQ(Dlg().GetDlgItemText(IDC_SERVICE_STATE), "Board service: no clients") << "the demo serves its board";
}

TEST_F(SampleDemo, TheWrenDemoDownloadsWholeAtStartUp) {
  Bus("wren");
  StartDemo("wren");
  EXPECT_EQ(MessageTexts(), std::vector<std::string>{});
  EXPECT_EQ(App().m_BoardType, "Wren_SLM");
  ASSERT_EQ(App().m_ImageList.size(), 15u);
  for (size_t i = 0; i < App().m_ImageList.size(); ++i) {
    EXPECT_EQ(App().m_ImageList[i]->Valid, 1) << App().m_ImageList[i]->PatternFile;
    EXPECT_EQ(ShownFrame(static_cast<uint32_t>(i)).size(), 256u * 256u) << "frame " << i << " is on the board";
  }
  EXPECT_TRUE(ShownFrame(4) == PixelsOfFile(Work("Image_Files/vortex256_c1.bmp"), 256));
}

// The menu's start: the operator's copy is made once and then left as the operator keeps it;
// a copy that cannot be made says why.
TEST_F(SampleDemo, TheOperatorsCopyIsMadeOnceAndKept) {
  ASSERT_EQ(Tool(m_Work.Path("installed")), 0);
  const std::string own = m_Work.Path("home/.local/share/sorrel/samples");
  std::string reason;
  ASSERT_TRUE(MakeDemoFolder(m_Work.Path("installed"), own, reason)) << reason;
  EXPECT_EQ(ReadText(own + "/Sequence_Files/Kite_demo.sif"), ReadText(Work("installed/Sequence_Files/Kite_demo.sif")));
  WriteText(own + "/Sequence_Files/Kite_demo.sif", "Image_Files/checker_512.bmp, Image_Files/linear.lut\n");
  ASSERT_TRUE(MakeDemoFolder(m_Work.Path("installed"), own, reason));
  EXPECT_EQ(ReadText(own + "/Sequence_Files/Kite_demo.sif"), "Image_Files/checker_512.bmp, Image_Files/linear.lut\n")
      << "the operator's sequence is kept";

  const std::string elsewhere = m_Work.Path("other/samples");
  EXPECT_FALSE(MakeDemoFolder(m_Work.Path("not-installed"), elsewhere, reason));
  EXPECT_FALSE(reason.empty());
}

TEST_F(SampleDemo, SeedingLeavesStoredSettingsAlone) {
  StoreSettings({{"FrameRate", "77"}});
  ASSERT_EQ(Tool(m_Work.Path()), 0);
  ASSERT_EQ(Tool("--seed-settings " + m_Work.Path()), 0);
  EXPECT_EQ(StoredValue("FrameRate"), "77");
  EXPECT_EQ(StoredValue("SequenceFile"), std::nullopt) << "nothing was added";
  EXPECT_NE(Tool("--seed-settings " + m_Work.Path() + " hawk"), 0) << "an unknown board is refused";
}

}  // namespace
