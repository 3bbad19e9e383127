// What reaches the board's frame memory: every entry composed from its pattern, the
// compensation images and its LUT, compared with frames computed here; the marks of
// entries whose files failed; downloads that fail; sequences longer than the board.

#include <cmath>
#include <filesystem>
#include <thread>

#include "ProgramFixture.h"

using namespace progtest;

namespace {

using DownloadTest = ProgramTest;

TEST_F(DownloadTest, StartUpDownloadsEveryEntryAsComposedHere) {
  StandardWork();
  ASSERT_EQ(Start(), std::nullopt);
  EXPECT_EQ(ShownFrame(0), ExpectedFrame(512, Ramp, Identity));
  EXPECT_EQ(ShownFrame(1), ExpectedFrame(512, Rings, Inverse));
  EXPECT_EQ(ShownFrame(2), ExpectedFrame(512, Ramp, Inverse));
  EXPECT_TRUE(ShownFrame(3).empty()) << "nothing beyond the sequence is written";
}

TEST_F(DownloadTest, CompensationImagesAreAddedBeforeTheTableWhenSwitchedOn) {
  WritePattern("Image_Files/slm.bmp", 512, Dim);
  WritePattern("Image_Files/system.bmp", 512, Rings);
  StandardWork({{"ApplyCorrection", "1"},
                {"PhaseCompFileName", Work("Image_Files/slm.bmp")},
                {"SysPhaseCompFileName", Work("Image_Files/system.bmp")}});
  ASSERT_EQ(Start(), std::nullopt);
  const Picture slm = Dim, sys = Rings;
  EXPECT_EQ(ShownFrame(0), ExpectedFrame(512, Ramp, Identity, &slm, &sys));
  EXPECT_EQ(ShownFrame(1), ExpectedFrame(512, Rings, Inverse, &slm, &sys));

  // Switched off, every frame is composed again without them.
  m_Host->Click(Dlg(), IDC_APPLY_CORRECTION);
  EXPECT_EQ(ShownFrame(0), ExpectedFrame(512, Ramp, Identity));
  EXPECT_EQ(ShownFrame(2), ExpectedFrame(512, Ramp, Inverse));
}

TEST_F(DownloadTest, AZernikeEntryIsGeneratedAtTheBoardsSize) {
  StandardWork();
  // Piston alone: the same phase everywhere.
  WriteText(Work("Image_Files/flat.zrn"), "Piston 0.25\n");
  WriteSequence("Sequence_Files/demo.sif", {{"Image_Files/flat.zrn", "Image_Files/invert.lut"}});
  ASSERT_EQ(Start(), std::nullopt);
  const std::vector<uint8_t> frame = ShownFrame(0);
  ASSERT_EQ(frame.size(), 512u * 512u);
  EXPECT_EQ(frame, std::vector<uint8_t>(512 * 512, static_cast<uint8_t>(Inverse(31))));
  EXPECT_EQ(Dlg().ListGetText(IDC_IMAGE_LIST, 0), "  \tflat.zrn\t\tinvert.lut\t");
}

TEST_F(DownloadTest, EntriesWhoseFilesFailAreMarkedAndStillWritten) {
  StandardWork();
  WriteSequence("Sequence_Files/demo.sif", {{"Image_Files/ramp.bmp", "Image_Files/missing.lut"},
                                            {"Image_Files/ramp.Bmp", "Image_Files/invert.lut"},
                                            {"Image_Files/gone.bmp", "Image_Files/linear.lut"}});
  ASSERT_EQ(Start(), std::nullopt);
  EXPECT_EQ(Dlg().ListGetText(IDC_IMAGE_LIST, 0), " !\tramp.bmp\t\tmissing.lut\t");
  EXPECT_EQ(Dlg().ListGetText(IDC_IMAGE_LIST, 1), " !\tramp.Bmp\t\tinvert.lut\t");
  EXPECT_EQ(Dlg().ListGetText(IDC_IMAGE_LIST, 2), " !\tgone.bmp\t\tlinear.lut\t");
  // An unreadable table maps nothing; a name no reader takes and a missing file both give
  // a pattern of 48, composed as usual.
  EXPECT_EQ(ShownFrame(0), ExpectedFrame(512, Ramp, Identity));
  EXPECT_EQ(ShownFrame(1), std::vector<uint8_t>(512 * 512, static_cast<uint8_t>(Inverse(48))));
  EXPECT_EQ(ShownFrame(2), std::vector<uint8_t>(512 * 512, 48));
}

// The next entry is composed while the one before is written, and the screen images are
// built in two halves at once: a box a reader asks for still comes on the user-interface
// thread, under its own entry's countdown, in the order of the list.
TEST_F(DownloadTest, ABoxOfAReaderComesUnderItsOwnEntrysCountdown) {
  StandardWork();
  std::filesystem::create_symlink("/proc/self/mem", Work("Image_Files/fails.bmp"));  // every read fails
  constexpr int ENTRIES = 70;  // enough for the screen images' second thread
  std::vector<std::pair<std::string, std::string>> entries(ENTRIES, {"Image_Files/ramp.bmp", "Image_Files/linear.lut"});
  entries[1].first = entries[60].first = "Image_Files/fails.bmp";
  WriteSequence("Sequence_Files/demo.sif", entries);
  const std::thread::id userInterface = std::this_thread::get_id();
  std::vector<std::string> shownUnder;
  m_Host->SetMessageBoxHandler([&](const CScriptedHost::MessageRecord& box) {
    EXPECT_EQ(std::this_thread::get_id(), userInterface);
    shownUnder.push_back(box.text + " / " + Dlg().GetDlgItemText(IDC_START_STOP));
    return IDOK;
  });
  ASSERT_EQ(Start(), std::nullopt);
  EXPECT_EQ(shownUnder, (std::vector<std::string>{"Read error / LOADING   69", "Read error / LOADING   10",
                                                  "Read error / SETTING DISPLAY", "Read error / SETTING DISPLAY"}));
  EXPECT_EQ(Dlg().ListGetText(IDC_IMAGE_LIST, 60), " !\tfails.bmp\t\tlinear.lut\t");
  EXPECT_EQ(ShownFrame(61), ExpectedFrame(512, Ramp, Identity));
}

// However many entries fail, the list costs the host a few lines an entry, and shows each
// failure with every mark the download has found so far.
TEST_F(DownloadTest, UnreadableEntriesCostTheListAFewLinesEachAndShowTheirMarks) {
  StandardWork();
  constexpr int ENTRIES = 300;
  std::vector<std::pair<std::string, std::string>> entries;
  for (int i = 0; i < ENTRIES; ++i) {
    entries.emplace_back(i % 3 == 1 ? "Image_Files/late.bmp" : "Image_Files/gone.bmp", "Image_Files/linear.lut");
  }
  WriteSequence("Sequence_Files/demo.sif", entries);
  const uint64_t atStart = m_Host->ListLineWrites();
  ASSERT_EQ(Start(), std::nullopt);
  EXPECT_LE(m_Host->ListLineWrites() - atStart, 4u * ENTRIES);
  std::vector<std::string> lines = ListLines();
  ASSERT_EQ(lines.size(), size_t{ENTRIES});
  for (const std::string& line : lines) EXPECT_EQ(line.substr(0, 2), " !");

  // The pattern appears; the next download finds a third of the entries readable, and the
  // list, which nothing refreshes after it, shows them so up to the last failure.
  WritePattern("Image_Files/late.bmp", 512, Ramp);
  const uint64_t beforeClick = m_Host->ListLineWrites();
  m_Host->Click(Dlg(), IDC_APPLY_CORRECTION);
  EXPECT_LE(m_Host->ListLineWrites() - beforeClick, 3u * ENTRIES);
  lines = ListLines();
  for (int i = 0; i < ENTRIES; ++i) EXPECT_EQ(lines[static_cast<size_t>(i)].substr(0, 2), i % 3 == 1 ? "  " : " !") << i;
}

TEST_F(DownloadTest, ABoardThatNeverGetsReadyIsReportedOnceAfterTheWholeDownload) {
  StandardWork();
  Bus("kite:busy-stuck");
  ASSERT_EQ(Start(), std::nullopt);
  ASSERT_EQ(MessageTexts(), std::vector<std::string>{"At least one WriteFrameBuffer call failed"});
  EXPECT_EQ(m_Host->Messages()[0].caption, "WARNING");
  EXPECT_EQ(m_Host->Messages()[0].icon, MessageIcon::None);
  EXPECT_EQ(Dlg().GetDlgItemText(IDC_START_STOP), "START");
  // No entry's frame may be taken for another's: selecting one selects nothing on the board.
  const uint32_t before = BoardRegister(simtest::REG_FRAME_SELECT) & 0x3FF;
  m_Host->SelectListLine(Dlg(), IDC_IMAGE_LIST, 2);
  EXPECT_EQ(BoardRegister(simtest::REG_FRAME_SELECT) & 0x3FF, before);
}

TEST_F(DownloadTest, ASequenceLongerThanTheBoardKeepsItsEntriesButRunsOnlyWhatTheBoardHolds) {
  StandardWork();
  std::vector<std::pair<std::string, std::string>> entries(1025, {"Image_Files/ramp.bmp", "Image_Files/linear.lut"});
  entries.back() = {"Image_Files/rings.bmp", "Image_Files/linear.lut"};
  WriteSequence("Sequence_Files/demo.sif", entries);
  ASSERT_EQ(Start(), std::nullopt);
  EXPECT_EQ(MessageTexts(), std::vector<std::string>{"At least one WriteFrameBuffer call failed"});
  EXPECT_EQ(Dlg().ListGetCount(IDC_IMAGE_LIST), 1025);
  EXPECT_EQ(ShownFrame(1023), ExpectedFrame(512, Ramp, Identity));
  m_Host->SelectListLine(Dlg(), IDC_IMAGE_LIST, 1024);
  EXPECT_EQ(Dlg().GetDlgItemText(IDC_ENTRY_PATTERN), "rings.bmp");
  EXPECT_EQ(BoardRegister(simtest::REG_FRAME_SELECT) & 0x3FF, 0u) << "frame 1024 does not exist";
  m_Host->Click(Dlg(), IDC_START_STOP);
  SRun_Status status{};
  ASSERT_EQ(App().m_pBoard->GetRunStatus(&status), 1);
  EXPECT_EQ(status.LastIndex, 1023);
  m_Host->Click(Dlg(), IDC_START_STOP);
}

}  // namespace
