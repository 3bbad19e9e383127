// sorrelctl compose against the program itself: the program downloads a sequence to the
// simulated card under the scripted host, then the tool composes the same sequence from the
// same settings store without a card, and every frame must match the card's byte for byte:
// the PGM as the modulator shows the frame, the raw file as the card stores it.

#include <sys/wait.h>

#include <cstdlib>

#include "ProgramFixture.h"

using namespace progtest;

namespace {

struct ToolResult {
  int status = -1;
  std::string out;
  std::string err;
};

class ComposeTest : public ProgramTest {
 protected:
  ToolResult Tool(const std::string& arguments) {
    const std::string out = Work("tool.out"), err = Work("tool.err");
    const int raw = std::system((std::string(SORRELCTL) + " " + arguments + " >" + out + " 2>" + err).c_str());
    return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, ReadText(out), ReadText(err)};
  }

  // A working folder whose sequence takes every path a frame can take: bitmaps through two
  // LUTs, a Zernike file, and both compensation images switched on.
  void MakeWork(const char* bus) {
    Bus(bus);
    WritePattern("Image_Files/slm.bmp", 512, Dim);
    WritePattern("Image_Files/system.bmp", 512, Rings);
    WriteText(Work("Image_Files/tilt.zrn"), "XTilt 3\nPower 0.5\n");
    StandardWork({{"ApplyCorrection", "1"},
                  {"PhaseCompFileName", Work("Image_Files/slm.bmp")},
                  {"SysPhaseCompFileName", Work("Image_Files/system.bmp")}});
    WriteSequence("Sequence_Files/demo.sif", {{"Image_Files/ramp.bmp", "Image_Files/linear.lut"},
                                              {"Image_Files/rings.bmp", "Image_Files/invert.lut"},
                                              {"Image_Files/tilt.zrn", "Image_Files/invert.lut"}});
  }

  // The program's download of the sequence: each frame as shown and as stored.
  void Download(std::vector<std::vector<uint8_t>>& shown, std::vector<std::vector<uint8_t>>& stored) {
    ASSERT_EQ(Start(), std::nullopt);
    for (uint32_t i = 0; i < 3; ++i) {
      shown.push_back(ShownFrame(i));
      stored.emplace_back();
      ASSERT_TRUE(sim::testing::StoredFrame(simtest::SLOT0, i, stored.back()));
      ASSERT_FALSE(shown.back().empty());
    }
    Close();  // stores the board type the program found
  }

  void ExpectSameFrames(const std::string& folder, int side, const std::vector<std::vector<uint8_t>>& shown,
                        const std::vector<std::vector<uint8_t>>& stored) {
    const std::string header = "P5\n" + std::to_string(side) + " " + std::to_string(side) + "\n255\n";
    for (size_t i = 0; i < shown.size(); ++i) {
      SCOPED_TRACE(i);
      char name[32];
      std::snprintf(name, sizeof name, "/frame-%04zu", i);
      const std::string pgm = ReadText(folder + name + ".pgm");
      ASSERT_EQ(pgm.size(), header.size() + shown[i].size());
      EXPECT_EQ(pgm.substr(0, header.size()), header);
      EXPECT_EQ(pgm.substr(header.size()), std::string(shown[i].begin(), shown[i].end()));
      const std::string raw = ReadText(folder + name + ".raw");
      EXPECT_EQ(raw, std::string(stored[i].begin(), stored[i].end()));
    }
  }
};

TEST_F(ComposeTest, KiteFramesAreTheProgramsDownloadByteForByte) {
  MakeWork("kite");
  std::vector<std::vector<uint8_t>> shown, stored;
  Download(shown, stored);
  ASSERT_NE(shown[0], stored[0]) << "a Kite board with id 0 stores its frames reordered";
  const ToolResult r = Tool("compose Sequence_Files/demo.sif --out " + Work("kite") + " --board kite --raw");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "3 frames of Kite_SLM (512 x 512) in " + Work("kite") + "\n");
  ExpectSameFrames(Work("kite"), 512, shown, stored);
}

TEST_F(ComposeTest, WrenFramesAreTheProgramsDownloadByteForByte) {
  MakeWork("wren");
  std::vector<std::vector<uint8_t>> shown, stored;
  Download(shown, stored);
  ASSERT_EQ(shown[0].size(), 256u * 256u);
  // No --board: the model is the one the program found and stored.
  const ToolResult r = Tool("compose Sequence_Files/demo.sif --out " + Work("wren") + " --raw");
  ASSERT_EQ(r.status, 0) << r.err;
  ExpectSameFrames(Work("wren"), 256, shown, stored);
}

TEST_F(ComposeTest, EntriesThatCannotBeReadAreWrittenAsTheProgramWritesThemAndFailTheCommand) {
  MakeWork("kite");
  WriteSequence("Sequence_Files/demo.sif", {{"Image_Files/ramp.bmp", "Image_Files/missing.lut"},
                                            {"Image_Files/gone.bmp", "Image_Files/linear.lut"}});
  std::vector<std::vector<uint8_t>> shown, stored;
  ASSERT_EQ(Start(), std::nullopt);
  shown = {ShownFrame(0), ShownFrame(1)};
  Close();
  const ToolResult r = Tool("compose Sequence_Files/demo.sif --out " + Work("out"));
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("2 entries could not be read whole (the pattern or the LUT), marked ! as Sorrel marks "
                       "them: 0, 1\n"),
            std::string::npos)
      << r.err;
  for (size_t i = 0; i < 2; ++i) {
    const std::string pgm = ReadText(Work("out") + "/frame-000" + std::to_string(i) + ".pgm");
    EXPECT_EQ(pgm.substr(pgm.size() - shown[i].size()), std::string(shown[i].begin(), shown[i].end())) << i;
  }
}

}  // namespace
