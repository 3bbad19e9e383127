// The live view in a real window (offscreen platform) on the simulated card: opened from the
// system menu, it shows the frame the card's panel shows pixel for pixel once its scaling is
// undone, follows a selection and a run; and the operator's guide opens from the help item,
// F1 and the help of each control.

#include <algorithm>
#include <cstring>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <thread>

#include "LiveViewDlg.h"
#include "QtProgramTest.h"
#include "SorrelResources.h"
#include "ui/Host.h"
#include "ui/QtHostTesting.h"

namespace qt = QtHostTesting;
using namespace progtest;

namespace {

class LiveViewQtTest : public QtProgramTest {
 protected:
  void TearDown() override {
    SetHelpFile("");
    QtProgramTest::TearDown();
  }
  void ChooseFromSystemMenu(const std::string& item) {
    qt::Post([item] { EXPECT_TRUE(qt::ChooseActiveMenuItem(item)); });
    qt::OpenContextMenu(Dlg());
    RunFor(std::chrono::milliseconds(100));
  }
  // The picture control as the screen shows it, scaled back to the frame by the control's
  // own factor: empty unless every block of screen pixels shows one grey.
  std::vector<uint8_t> ShownScaledBack(const CDialog& view, int side, int factor) {
    const qt::ClientImage image = qt::GrabClient(view);
    const CRect control = qt::ControlGeometry(view, IDC_LIVE_PICTURE);
    const int left = control.left + (control.Width() - side * factor) / 2;
    const int top = control.top + (control.Height() - side * factor) / 2;
    std::vector<uint8_t> frame(static_cast<size_t>(side) * static_cast<size_t>(side));
    for (int y = 0; y < side * factor; ++y) {
      for (int x = 0; x < side * factor; ++x) {
        const COLORREF c = image.At(left + x, top + y);
        const uint8_t v = GetRValue(c);
        if (GetGValue(c) != v || GetBValue(c) != v) return {};
        uint8_t& pixel = frame[static_cast<size_t>(y / factor) * static_cast<size_t>(side) + static_cast<size_t>(x / factor)];
        if (x % factor == 0 && y % factor == 0) {
          pixel = v;
        } else if (pixel != v) {
          return {};
        }
      }
    }
    return frame;
  }
};

TEST_F(LiveViewQtTest, ShowsTheKitePanelPixelForPixelAndFollowsSelectionAndRun) {
  StandardWork({{"FrameRate", "10"}});
  ASSERT_EQ(Start(), std::nullopt);
  ChooseFromSystemMenu("&Live View of the SLM...");
  ASSERT_NE(Dlg().LiveView(), nullptr);
  const CLiveViewDlg& view = *Dlg().LiveView();
  EXPECT_EQ(qt::WindowTitle(view), "SLM Live View");
  EXPECT_EQ(qt::ControlGeometry(view, IDC_LIVE_PICTURE).Width(), 512);
  EXPECT_EQ(qt::ControlGeometry(view, IDC_LIVE_PICTURE).Height(), 512);
  EXPECT_EQ(qt::ControlText(view, IDC_LIVE_BOARD), "SIMULATED Kite board: no hardware is driven (SORREL_SIM)");

  qt::ClickControl(Dlg(), IDC_POWER_ON);
  qt::ClickListLine(Dlg(), IDC_IMAGE_LIST, 1);
  RunFor(std::chrono::milliseconds(100));
  EXPECT_TRUE(ShownScaledBack(view, 512, 1) == ShownFrame(1)) << "the frame the card shows";
  EXPECT_TRUE(ShownScaledBack(view, 512, 1) == ExpectedFrame(512, Rings, Inverse));
  EXPECT_EQ(qt::ControlText(view, IDC_LIVE_FRAME), "Frame 1, sequence position 2 of 3");

  qt::ClickControl(Dlg(), IDC_START_STOP);
  std::vector<std::vector<uint8_t>> seen;  // each picture once
  std::string run;
  RunFor(std::chrono::milliseconds(1200), [&] {
    const std::vector<uint8_t> shown = ShownScaledBack(view, 512, 1);
    if (std::find(seen.begin(), seen.end(), shown) == seen.end()) seen.push_back(shown);
    run = qt::ControlText(view, IDC_LIVE_RUN);
  });
  EXPECT_NE(std::find(seen.begin(), seen.end(), ExpectedFrame(512, Ramp, Identity)), seen.end());
  EXPECT_NE(std::find(seen.begin(), seen.end(), ExpectedFrame(512, Rings, Inverse)), seen.end());
  EXPECT_NE(std::find(seen.begin(), seen.end(), ExpectedFrame(512, Ramp, Inverse)), seen.end());
  EXPECT_EQ(std::find(seen.begin(), seen.end(), std::vector<uint8_t>{}), seen.end()) << "never a blended picture";
  EXPECT_EQ(run.rfind("Running (looping) at ", 0), 0u) << run;
  qt::ClickControl(Dlg(), IDC_START_STOP);
}

TEST_F(LiveViewQtTest, ScalesTheWrenPanelTwiceAndShowsItOneToOneOnRequest) {
  Bus("wren");
  StandardWork({{"BoardType", "Wren_SLM"}});
  WritePattern("Image_Files/ramp.bmp", 256, Ramp);
  // The program starts with the live view open, as the command line asks.
  m_App = std::make_unique<CSorrelApp>();
  m_App->m_bLiveViewAtStart = true;
  m_Dlg = std::make_unique<CSorrelDlg>();
  m_App->m_pMainWnd = m_Dlg.get();
  qt::Open(*m_Dlg);
  ASSERT_NE(Dlg().LiveView(), nullptr);
  const CLiveViewDlg& view = *Dlg().LiveView();
  qt::ClickControl(Dlg(), IDC_POWER_ON);
  RunFor(std::chrono::milliseconds(100));
  const std::vector<uint8_t> frame = ShownFrame(0);
  ASSERT_EQ(frame.size(), 256u * 256u);
  EXPECT_TRUE(frame == ExpectedFrame(256, Ramp, Identity));
  EXPECT_TRUE(ShownScaledBack(view, 256, 2) == frame) << "every SLM pixel a 2 x 2 block";

  qt::ClickControl(*Dlg().LiveView(), IDC_LIVE_ONE_TO_ONE);
  RunFor(std::chrono::milliseconds(50));
  EXPECT_TRUE(ShownScaledBack(view, 256, 1) == frame) << "one screen pixel per SLM pixel, centred";
  const qt::ClientImage image = qt::GrabClient(view);
  const CRect control = qt::ControlGeometry(view, IDC_LIVE_PICTURE);
  EXPECT_EQ(image.At(control.left + 3, control.top + 3), RGB(0, 0, 0)) << "around it, nothing";
}

// The guide as the build installs it beside the program.
std::string Guide() { return SORREL_HELP_FILE; }

TEST_F(LiveViewQtTest, TheHelpItemF1AndControlHelpOpenTheGuide) {
  StandardWork();
  SetHelpFile(Guide());
  ASSERT_EQ(Start(), std::nullopt);
  ChooseFromSystemMenu("&Help");
  ASSERT_TRUE(qt::HelpWindowShown());
  EXPECT_EQ(qt::HelpWindowLocation(), "file://" + Guide());

  qt::FocusControl(Dlg(), IDC_START_STOP);
  qt::PressKey(Dlg(), qt::Key::F1);
  EXPECT_EQ(qt::HelpWindowLocation(), "file://" + Guide() + "#help-1019") << "the part about the run controls";
}

TEST(OperatorsGuide, EveryControlAnOperatorCanAskAboutHasItsPart) {
  std::ifstream in(SORREL_HELP_FILE);
  std::stringstream text;
  text << in.rdbuf();
  RegisterSorrelResources();
  for (int dialog : {IDD_SORREL_DIALOG, IDD_IMAGE_LIST_EDIT, IDD_LIVE_VIEW}) {
    for (const ControlTemplate& c : FindDialogTemplate(dialog)->controls) {
      if (c.id == IDC_STATIC || c.kind == ControlKind::GroupBox) continue;
      EXPECT_NE(text.str().find("name=\"" + HelpAnchor(static_cast<unsigned>(c.id)) + "\""), std::string::npos)
          << "dialog " << dialog << " control " << c.id;
    }
  }
}

std::string TextOf(const std::filesystem::path& file) {
  std::ifstream in(file);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// Every double-quoted text of the program's and its libraries' sources, accelerator marks
// dropped, one per line.
std::string ProgramTexts() {
  std::string texts;
  const std::regex literal(R"re("((?:[^"\\\n]|\\.)*)")re");
  for (const char* folder : {"Sorrel", "scripting", "OrvBoard", "KiteBoard", "WrenBoard", "modelboard", "pcibridge", "platform",
                             "sim", "vfio"}) {
    for (const auto& f : std::filesystem::recursive_directory_iterator(std::filesystem::path(SORREL_SOURCE_DIR) / folder)) {
      const std::string ext = f.path().extension().string();
      if (ext != ".cpp" && ext != ".h") continue;
      const std::string code = TextOf(f.path());
      for (std::sregex_iterator m(code.begin(), code.end(), literal), end; m != end; ++m) {
        // Line breaks and tabs read as the blanks they are on screen.
        std::string text = std::regex_replace((*m)[1].str(), std::regex(R"((\\[nt]| )+)"), " ");
        std::erase(text, '&');
        texts += text + "\n";
      }
    }
  }
  return texts;
}

std::string Unescaped(std::string html) {
  for (const auto& [entity, text] : {std::pair{"&nbsp;", " "}, {"&times;", "\u00d7"}, {"&amp;", "&"}}) {
    for (size_t at; (at = html.find(entity)) != std::string::npos;) html.replace(at, std::strlen(entity), text);
  }
  return html;
}

// What the guide quotes of the program is the program's own: every caption it sets in bold,
// every message of its table (with "..." for what the program fills in), every variable and
// option it names.
TEST(OperatorsGuide, EveryTextItQuotesIsTheProgramsOwn) {
  const std::string guide = TextOf(SORREL_HELP_FILE);
  const std::string texts = ProgramTexts();
  const auto quoted = [&](const std::string& pattern, size_t from = 0) {
    std::vector<std::string> found;
    const std::regex re(pattern);
    for (std::sregex_iterator m(guide.begin() + static_cast<std::ptrdiff_t>(from), guide.end(), re), end; m != end; ++m) {
      found.push_back(Unescaped(std::regex_replace((*m)[1].str(), std::regex(R"(\s+)"), " ")));
    }
    return found;
  };
  for (const std::string& caption : quoted(R"(<b>([^<]+)</b>)")) EXPECT_NE(texts.find(caption), std::string::npos) << caption;
  for (const std::string& name : quoted(R"(<code>((?:SORREL_[A-Z_]+)|(?:--[a-z-]+))</code>)")) {
    EXPECT_NE(texts.find("\n" + name + "\n"), std::string::npos) << name;
  }
  const std::vector<std::string> messages = quoted(R"(<tr><td>([^<]+)</td>\s*<td>)", guide.find("name=\"messages\""));
  EXPECT_GE(messages.size(), 20u);
  for (const std::string& message : messages) {
    // Each part around "..." is a text of the program.
    bool found = true;
    for (size_t from = 0; found && from <= message.size(); from = std::min(message.find("...", from), message.size()) + 3) {
      const std::string part = message.substr(from, std::min(message.find("...", from), message.size()) - from);
      found = texts.find(part) != std::string::npos;
    }
    EXPECT_TRUE(found) << message;
  }
}

}  // namespace
