// Start-up of the whole program under the scripted host on the simulated card: the captions
// it passes through, where the screen image goes, the working folders, and the ways
// start-up can end or warn.

#include <sys/stat.h>

#include "ProgramFixture.h"

using namespace progtest;

namespace {

using StartupTest = ProgramTest;

TEST_F(StartupTest, TheStartButtonShowsEachPhaseOfStartUp) {
  StandardWork();
  ASSERT_EQ(Start(), std::nullopt);
  EXPECT_EQ(m_Host->TextHistory(IDD_SORREL_DIALOG, IDC_START_STOP),
            (std::vector<std::string>{"Initializing", "READ SEQ", "LOADING   3", "LOADING   2", "LOADING   1", "START",
                                      "SETTING DISPLAY", "START"}));
  EXPECT_TRUE(m_Host->Messages().empty()) << MessageTexts().front();
  EXPECT_EQ(Dlg().GetDlgItemText(IDC_BOARD_TYPE), "Kite_SLM");
  EXPECT_EQ(Dlg().GetDlgItemText(IDC_SEQUENCE_NAME), "demo.sif ");
  EXPECT_EQ(Dlg().GetDlgItemText(IDC_SCREEN_REFRESH), "Enabled");
  EXPECT_EQ(Dlg().ListGetCount(IDC_IMAGE_LIST), 3);
  EXPECT_EQ(Dlg().ListGetCurSel(IDC_IMAGE_LIST), 0);
  EXPECT_EQ(Dlg().ListGetText(IDC_IMAGE_LIST, 1), "  \trings.bmp\t\tinvert.lut\t");
}

TEST_F(StartupTest, AnEmptySequenceSaysSoWhileItLoads) {
  StandardWork();
  WriteText(Work("Sequence_Files/demo.sif"), "// nothing yet\n");
  ASSERT_EQ(Start(), std::nullopt);
  EXPECT_EQ(m_Host->TextHistory(IDD_SORREL_DIALOG, IDC_START_STOP),
            (std::vector<std::string>{"Initializing", "READ SEQ", "EMPTY", "SETTING DISPLAY", "START"}));
  EXPECT_EQ(MessageTexts(), std::vector<std::string>{"Empty SIF"});
  EXPECT_EQ(Dlg().ListGetCount(IDC_IMAGE_LIST), 0);
}

TEST_F(StartupTest, ANarrowWindowPutsTheScreenImageAtItsFixedPlace) {
  StandardWork({{"PhaseCompFileName", ""}});
  m_Host->SetWindowOrigin(IDD_SORREL_DIALOG, 100, 50);
  m_Host->SetWindowSize(IDD_SORREL_DIALOG, 596, 400);
  ASSERT_EQ(Start(), std::nullopt);
  EXPECT_EQ(App().m_WindowWidth, 596);
  // The power is off after start-up: the power-off picture shows, its top left at (44, 323).
  EXPECT_EQ(m_Host->Pixel(Dlg(), 44, 323), RGB(Dim(0, 0), Dim(0, 0), Dim(0, 0)));
  EXPECT_EQ(m_Host->Pixel(Dlg(), 44 + 127, 323 + 100), RGB(Dim(100, 127), Dim(100, 127), Dim(100, 127)));
  EXPECT_EQ(m_Host->Pixel(Dlg(), 43, 323), COLOR_DIALOG_BACKGROUND);
}

TEST_F(StartupTest, AWiderWindowPlacesTheScreenImageByItsRectangle) {
  StandardWork();
  m_Host->SetWindowOrigin(IDD_SORREL_DIALOG, 100, 50);
  m_Host->SetWindowSize(IDD_SORREL_DIALOG, 597, 400);
  ASSERT_EQ(Start(), std::nullopt);
  const int x = 100 + 597 / 10, y = 50 + (400 * 63) / 100;
  EXPECT_EQ(App().m_ScreenX, x);
  EXPECT_EQ(App().m_ScreenY, y);
  EXPECT_EQ(m_Host->Pixel(Dlg(), x + 5, y + 9), RGB(Dim(9, 5), Dim(9, 5), Dim(9, 5)));
  EXPECT_EQ(m_Host->Pixel(Dlg(), 44, 323), COLOR_DIALOG_BACKGROUND);
}

TEST_F(StartupTest, FileDialogsOpenInTheWorkingFoldersOrTheWorkingFolderItself) {
  StandardWork();
  ASSERT_EQ(Start(), std::nullopt);
  m_Host->Click(Dlg(), IDC_BROWSE_SEQUENCE);
  m_Host->Click(Dlg(), IDC_BROWSE_SLM_COMP);
  ASSERT_EQ(m_Host->FileRequests().size(), 2u);
  EXPECT_EQ(m_Host->FileRequests()[0].initialFolder, Work("Sequence_Files"));
  EXPECT_EQ(m_Host->FileRequests()[1].initialFolder, Work("Image_Files"));
  Close();

  ASSERT_EQ(rename(Work("Sequence_Files").c_str(), Work("sequences").c_str()), 0);
  ASSERT_EQ(rename(Work("Image_Files").c_str(), Work("images").c_str()), 0);
  ASSERT_EQ(Start(), std::nullopt);
  m_Host->Click(Dlg(), IDC_BROWSE_SEQUENCE);
  m_Host->Click(Dlg(), IDC_BROWSE_SLM_COMP);
  ASSERT_EQ(m_Host->FileRequests().size(), 4u);
  EXPECT_EQ(m_Host->FileRequests()[2].initialFolder, Work("") );
  EXPECT_EQ(m_Host->FileRequests()[3].initialFolder, Work(""));
  struct stat st {};
  EXPECT_NE(stat(Work("Image_Files").c_str(), &st), 0) << "the folders are only looked for, never made";
}

TEST_F(StartupTest, HardwareOfNeitherSizeEndsTheProgramAfterItsMessage) {
  StandardWork({{"FrameRate", "0"}});
  Bus("other");
  EXPECT_EQ(Start(), 0);
  ASSERT_EQ(MessageTexts(), std::vector<std::string>{"The hardware found was not 256 or 512 hardware"});
  EXPECT_EQ(m_Host->Messages()[0].caption, "ERROR");
  EXPECT_EQ(m_Host->Messages()[0].icon, MessageIcon::None);
  EXPECT_EQ(StoredValue("FrameRate"), "0") << "nothing is saved (a save would write the 1 it loaded as)";
}

TEST_F(StartupTest, ALowSupplyEndsTheProgramWithStatusZero) {
  StandardWork();
  Bus("kite:3v3-low");
  EXPECT_EQ(Start(), 0);
  ASSERT_FALSE(MessageTexts().empty());
  EXPECT_EQ(MessageTexts().front(), "3.3 Volt Status Low");
}

TEST_F(StartupTest, AMissingPowerOffPictureIsAWarningAndStartUpGoesOn) {
  StandardWork();
  ASSERT_EQ(unlink(Work("PowerOff.bmp").c_str()), 0);
  ASSERT_EQ(Start(), std::nullopt);
  ASSERT_EQ(MessageTexts(), std::vector<std::string>{"Could not find PowerOff.bmp in Sorrel"});
  EXPECT_EQ(m_Host->Messages()[0].caption, "WARNING");
  EXPECT_EQ(Dlg().GetDlgItemText(IDC_START_STOP), "START");
}

TEST_F(StartupTest, AnUnreadableSequenceIsReportedAndTheListStaysEmpty) {
  StandardWork({{"SequenceFile", "/nowhere/missing.sif"}});
  ASSERT_EQ(Start(), std::nullopt);
  ASSERT_EQ(MessageTexts(), std::vector<std::string>{"Could not read SIF"});
  EXPECT_EQ(m_Host->Messages()[0].caption, ApplicationTitle());
  EXPECT_EQ(Dlg().GetDlgItemText(IDC_SEQUENCE_NAME), "No File");
  EXPECT_EQ(Dlg().ListGetCount(IDC_IMAGE_LIST), 0);
  EXPECT_EQ(Dlg().GetDlgItemText(IDC_START_STOP), "START");
}

TEST_F(StartupTest, TheSystemMenuCarriesAboutHelpAndTheLiveView) {
  StandardWork();
  ASSERT_EQ(Start(), std::nullopt);
  const auto& menu = Dlg().SystemMenu();
  ASSERT_GE(menu.size(), 4u);
  EXPECT_EQ(menu[menu.size() - 4].command, 0u);
  EXPECT_EQ(menu[menu.size() - 3].command, IDM_ABOUTBOX);
  EXPECT_EQ(menu[menu.size() - 3].text, "&About SORREL...");
  EXPECT_EQ(menu[menu.size() - 2].command, IDM_HELP);
  EXPECT_EQ(menu[menu.size() - 2].text, "&Help");
  EXPECT_EQ(menu.back().command, IDM_LIVE_VIEW);
  m_Host->SystemCommand(Dlg(), IDM_ABOUTBOX);
  EXPECT_EQ(m_Host->ModalRuns(), std::vector<int>{IDD_ABOUTBOX}) << "the About item opens its box";
  m_Host->SystemCommand(Dlg(), IDM_HELP);
  ASSERT_FALSE(m_Host->HelpCalls().empty());
  EXPECT_EQ(m_Host->HelpCalls().back().command, HELP_FINDER);
  m_Host->RequestHelp(Dlg(), IDC_START_STOP);
  EXPECT_EQ(m_Host->HelpCalls().back().command, HELP_CONTEXTPOPUP);
  EXPECT_EQ(m_Host->HelpCalls().back().data, static_cast<unsigned>(IDC_START_STOP));
}

TEST_F(StartupTest, EnterDoesNothingAndEscapeClosesThroughTheShutdown) {
  StandardWork();
  ASSERT_EQ(Start(), std::nullopt);
  m_Host->PressEnter(Dlg());
  EXPECT_EQ(Dlg().ModalResult(), std::nullopt);
  EXPECT_NE(App().m_pBoard, nullptr);
  m_Host->PressEscape(Dlg());
  EXPECT_EQ(App().m_pBoard, nullptr) << "the board is closed as the close box closes it";
  EXPECT_EQ(StoredValue("FrameRate"), "100");
}

}  // namespace
