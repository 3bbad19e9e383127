// The live view under the scripted host on the simulated card: what it shows is what the
// card's panel shows, and it follows the selection, the power switch and a run; the main
// window says the board is simulated.

#include <algorithm>
#include <chrono>
#include <thread>

#include "LiveViewDlg.h"
#include "ProgramFixture.h"

using namespace progtest;

namespace {

class LiveViewTest : public ProgramTest {
 protected:
  CLiveViewDlg& Open() {
    m_Host->SystemCommand(Dlg(), IDM_LIVE_VIEW);
    EXPECT_NE(Dlg().LiveView(), nullptr);
    return *Dlg().LiveView();
  }
  // One refresh of the view, as its timer gives it.
  void Refresh() { m_Host->AdvanceTime(CLiveViewDlg::REFRESH_MS); }
  std::vector<uint8_t> Shown(const CLiveViewDlg& view) const {
    const auto& picture = view.Control(IDC_LIVE_PICTURE).picture;
    return picture ? picture->pixels : std::vector<uint8_t>{};
  }
};

TEST_F(LiveViewTest, ShowsThePanelOfTheCardAndFollowsPowerAndSelection) {
  StandardWork();
  ASSERT_EQ(Start(), std::nullopt);
  EXPECT_EQ(Dlg().GetWindowText(), "Sorrel Version 8.0 [simulated board]");
  CLiveViewDlg& view = Open();
  ASSERT_NE(view.View(), nullptr) << "shown beside the main window";
  EXPECT_TRUE(m_Host->TimerActive(view, 1));
  EXPECT_EQ(view.GetDlgItemText(IDC_LIVE_BOARD), "SIMULATED Kite board: no hardware is driven (SORREL_SIM)");

  // Start-up leaves the SLM off: the panel is dark.
  EXPECT_EQ(view.GetDlgItemText(IDC_LIVE_POWER), "SLM power OFF: the SLM is dark");
  EXPECT_EQ(Shown(view), std::vector<uint8_t>(512 * 512, 0));

  m_Host->Click(Dlg(), IDC_POWER_ON);
  Refresh();
  EXPECT_EQ(view.GetDlgItemText(IDC_LIVE_POWER), "SLM power ON");
  EXPECT_EQ(view.GetDlgItemText(IDC_LIVE_FRAME), "Frame 0, sequence position 1 of 3");
  EXPECT_TRUE(Shown(view) == ShownFrame(0));
  EXPECT_TRUE(Shown(view) == ExpectedFrame(512, Ramp, Identity));

  m_Host->SelectListLine(Dlg(), IDC_IMAGE_LIST, 1);
  Refresh();
  EXPECT_EQ(view.GetDlgItemText(IDC_LIVE_FRAME), "Frame 1, sequence position 2 of 3");
  EXPECT_TRUE(Shown(view) == ExpectedFrame(512, Rings, Inverse));
  EXPECT_EQ(view.GetDlgItemText(IDC_LIVE_LASERS), "Laser A gain 200, laser B gain 100, duty 50 %");
  EXPECT_EQ(view.GetDlgItemText(IDC_LIVE_RUN), "Stopped");

  m_Host->Click(Dlg(), IDC_POWER_OFF);
  Refresh();
  EXPECT_EQ(Shown(view), std::vector<uint8_t>(512 * 512, 0));
}

TEST_F(LiveViewTest, FollowsARunWithItsMeasuredRate) {
  StandardWork({{"FrameRate", "50"}});
  ASSERT_EQ(Start(), std::nullopt);
  CLiveViewDlg& view = Open();
  m_Host->Click(Dlg(), IDC_START_STOP);
  std::vector<std::vector<uint8_t>> pictures;  // each one once
  std::string running;
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(1500);
  while (std::chrono::steady_clock::now() < end) {
    std::this_thread::sleep_for(std::chrono::milliseconds(16));
    Refresh();
    const std::vector<uint8_t> shown = Shown(view);
    if (std::find(pictures.begin(), pictures.end(), shown) == pictures.end()) pictures.push_back(shown);
    running = view.GetDlgItemText(IDC_LIVE_RUN);
  }
  EXPECT_EQ(pictures.size(), 3u) << "every entry of the loop went by";
  EXPECT_NE(std::find(pictures.begin(), pictures.end(), ExpectedFrame(512, Ramp, Inverse)), pictures.end());
  // Fifty a second on a phase board with three true frames: 122 board frames of 164.1 us,
  // made a whole even number of true-frame periods, 126.
  float rate = 0;
  ASSERT_EQ(std::sscanf(running.c_str(), "Running (looping) at %f frames/s measured", &rate), 1) << running;
  // Measured over the host's clock, so a busy host moves it; a wrong count or unit is far off.
  EXPECT_NEAR(rate, 1e7 / (126 * 1641.0), 12.0);

  m_Host->Click(Dlg(), IDC_START_STOP);
  Refresh();
  EXPECT_EQ(view.GetDlgItemText(IDC_LIVE_RUN), "Stopped");
}

TEST_F(LiveViewTest, ClosesAloneAndGoesFirstWhenTheProgramCloses) {
  StandardWork();
  ASSERT_EQ(Start(), std::nullopt);
  CLiveViewDlg* view = &Open();
  m_Host->PressEscape(*view);
  EXPECT_EQ(view->View(), nullptr) << "Escape takes the view down";
  EXPECT_FALSE(m_Host->ExitStatus().has_value());
  EXPECT_EQ(Dlg().GetDlgItemText(IDC_START_STOP), "START") << "the program goes on";

  view = &Open();
  ASSERT_NE(view->View(), nullptr) << "and opens again";
  m_Host->SystemCommand(Dlg(), IDM_LIVE_VIEW);
  EXPECT_EQ(Dlg().LiveView(), view) << "one view at a time";

  Close();
  EXPECT_EQ(Dlg().LiveView()->View(), nullptr) << "taken down with the board";
  EXPECT_TRUE(pci::RegisteredCards().empty());
}

}  // namespace
