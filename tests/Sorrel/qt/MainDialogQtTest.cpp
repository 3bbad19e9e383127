// The main dialog and the entry editor in real windows (offscreen platform), on the
// simulated card: every control where the layout puts it with its caption, and a run
// started by a click that the list follows.

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <set>
#include <thread>

#include "ImageListEditDlg.h"
#include "KiteBoard.h"
#include "QtProgramTest.h"
#include "SequenceFile.h"
#include "SorrelResources.h"
#include "WrenBoard.h"
#include "files/Paths.h"
#include "ui/DialogTemplate.h"

namespace qt = QtHostTesting;
using namespace progtest;

namespace {

struct Placed {
  int id;
  int x, y, cx, cy;  // dialog units
  const char* caption;  // nullptr: not a caption to check
};

// Where the layout puts each control of the main dialog, and the text it shows once the
// program has started on a phase board with compensation shown.
const Placed MAIN_LAYOUT[] = {
    {1056, 10, 11, 108, 12, "demo.sif "},
    {1046, 118, 11, 40, 12, "Browse..."},
    {1195, 247, 10, 36, 14, "Enabled"},
    {1154, 11, 28, 128, 12, " Pattern File"},
    {1155, 128, 28, 151, 12, "LUT File"},
    {1020, 10, 40, 269, 99, nullptr},
    {1029, 9, 139, 61, 13, "Edit Image List..."},
    {1025, 190, 139, 27, 13, "Insert"},
    {1028, 217, 139, 27, 13, "Delete"},
    {1030, 244, 139, 35, 13, "Save..."},
    {1197, 295, 10, 65, 15, "Kite_SLM"},
    {1037, 295, 28, 65, 14, "Board Setup..."},
    {1132, 310, 63, 31, 12, "OFF"},
    {1034, 295, 76, 30, 12, "ON"},
    {1035, 331, 76, 30, 12, "OFF"},
    {1019, 295, 91, 65, 38, "START"},
    {1026, 295, 129, 65, 8, nullptr},
    {1196, 295, 138, 32, 10, "Loop"},
    {1199, 295, 149, 65, 17, "Enable Phase Optimization"},
    {1150, 9, 172, 40, 11, "Pattern File:"},
    {1129, 50, 172, 66, 12, "ramp.bmp"},
    {1151, 9, 184, 28, 8, "LUTFile:"},
    {1130, 38, 184, 65, 12, "linear.lut"},
    {1183, 28, 196, 88, 84, nullptr},
    {1152, 9, 282, 43, 8, "Pattern Data:"},
    {1091, 55, 282, 53, 12, "512 x 512 x 256"},
    {1211, 146, 166, 106, 10, "SLM Phase Optimization"},
    {1200, 146, 177, 65, 14, ""},
    {1201, 211, 177, 39, 14, "Browse..."},
    {1218, 253, 166, 105, 10, "System Phase Optimization"},
    {1214, 252, 177, 77, 14, ""},
    {1215, 330, 177, 39, 14, "Browse..."},
    {1145, 147, 208, 39, 9, "Frame Rate"},
    {1070, 153, 218, 26, 12, nullptr},
    {1067, 151, 231, 30, 12, "1000"},
    {1059, 158, 240, 20, 55, nullptr},
    {1066, 150, 298, 32, 10, "1"},
    {1069, 188, 297, 44, 12, "1015.64 Hz"},
    {1208, 240, 207, 40, 12, "Laser Duty"},
    {1119, 247, 222, 26, 12, "50.0"},
    {1205, 249, 237, 23, 14, "100%"},
    {1058, 251, 246, 19, 52, nullptr},
    {1202, 249, 299, 23, 12, "0%"},
    {1209, 283, 203, 40, 18, "Laser A Gain"},
    {1071, 290, 222, 26, 12, "78.4"},
    {1206, 291, 237, 23, 14, "100"},
    {1061, 294, 246, 19, 52, nullptr},
    {1203, 291, 299, 23, 12, "0"},
    {1210, 326, 203, 40, 18, "Laser B Gain"},
    {1072, 333, 222, 26, 12, "78.4"},
    {1207, 334, 237, 23, 14, "100"},
    {1062, 337, 246, 19, 52, nullptr},
    {1204, 334, 299, 23, 12, "0"},
    {1308, 7, 315, 56, 10, "Board Service"},
    {1309, 66, 314, 302, 12, "Board service off"},
};

const Placed EDITOR_LAYOUT[] = {
    {1185, 7, 11, 58, 10, nullptr},      {1138, 7, 24, 58, 14, "Browse Pattern"},
    {1187, 70, 11, 52, 10, nullptr},     {1186, 71, 24, 50, 14, "Browse LUT"},
    {1183, 7, 39, 113, 97, nullptr},     {1116, 129, 95, 50, 23, "OK"},
    {1182, 129, 122, 50, 14, "Cancel"},
};

CRect Pixels(const Placed& p) {
  return CRect{p.x * 6 / 4, p.y * 13 / 8, (p.x + p.cx) * 6 / 4, (p.y + p.cy) * 13 / 8};
}

using MainDialogQtTest = QtProgramTest;

TEST_F(MainDialogQtTest, EveryControlSitsWhereTheLayoutSaysWithItsCaption) {
  StandardWork();
  ASSERT_EQ(Start(), std::nullopt);
  EXPECT_EQ(qt::WindowTitle(Dlg()), "Sorrel Version 8.0 [simulated board]") << "the board is simulated";
  EXPECT_EQ(qt::ClientGeometry(Dlg()).Width(), 564);
  EXPECT_EQ(qt::ClientGeometry(Dlg()).Height(), 533);
  for (const Placed& p : MAIN_LAYOUT) {
    SCOPED_TRACE(p.id);
    EXPECT_EQ(qt::ControlGeometry(Dlg(), p.id), Pixels(p));
    EXPECT_TRUE(qt::ControlVisible(Dlg(), p.id));
    if (p.caption) {
      EXPECT_EQ(qt::ControlText(Dlg(), p.id), p.caption);
    }
  }
  EXPECT_EQ(qt::ListLines(Dlg(), IDC_IMAGE_LIST).size(), 3u);
  // The power is off: the power-off picture, one byte one pixel, at its fixed place.
  const qt::ClientImage image = qt::GrabClient(Dlg());
  for (int y : {0, 63, 127}) {
    for (int x : {0, 77, 127}) EXPECT_EQ(image.At(44 + x, 323 + y), RGB(Dim(y, x), Dim(y, x), Dim(y, x))) << x << "," << y;
  }
}

TEST_F(MainDialogQtTest, AClickOnStartRunsTheBoardAndTheSelectionFollowsIt) {
  StandardWork({{"FrameRate", "10"}});
  ASSERT_EQ(Start(), std::nullopt);
  qt::ClickControl(Dlg(), IDC_START_STOP);
  EXPECT_EQ(qt::ControlText(Dlg(), IDC_START_STOP), "STOP");
  EXPECT_FALSE(qt::ControlEnabled(Dlg(), IDC_BROWSE_SEQUENCE));
  std::set<int> rows;
  RunFor(std::chrono::milliseconds(1500), [&] { rows.insert(qt::ListCurrentRow(Dlg(), IDC_IMAGE_LIST)); });
  EXPECT_EQ(rows, (std::set<int>{0, 1, 2}));
  EXPECT_GT(qt::ControlValue(Dlg(), IDC_RUN_PROGRESS), 0);
  EXPECT_EQ(qt::ControlText(Dlg(), IDC_POWER_STATE), "ON");
  qt::ClickControl(Dlg(), IDC_START_STOP);
  RunFor(std::chrono::milliseconds(300));
  EXPECT_EQ(qt::ControlText(Dlg(), IDC_START_STOP), "START");
  EXPECT_TRUE(qt::ControlEnabled(Dlg(), IDC_BROWSE_SEQUENCE));
}

TEST_F(MainDialogQtTest, EveryWayOfMovingAGainSliderReachesTheReadoutTheBoardAndTheSave) {
  StandardWork({{"LC_Type", "0"}, {"LaserAGain", "128"}});
  ASSERT_EQ(Start(), std::nullopt);
  EXPECT_EQ(qt::ControlText(Dlg(), IDC_GAIN_A), "50.2");
  auto boardGain = [&] { return BoardRegister(simtest::REG_TIMING_A) & 0xFF; };

  qt::WheelTrackBar(Dlg(), IDC_GAIN_A_SLIDER, 5);  // three lines a notch, towards the top
  EXPECT_EQ(qt::ControlValue(Dlg(), IDC_GAIN_A_SLIDER), 112);
  EXPECT_EQ(qt::ControlText(Dlg(), IDC_GAIN_A), "56.1");
  EXPECT_EQ(boardGain(), 143u);

  qt::ClickTrackBarChannel(Dlg(), IDC_GAIN_A_SLIDER, false);  // a page, a fifth of the range
  EXPECT_EQ(qt::ControlValue(Dlg(), IDC_GAIN_A_SLIDER), 163);
  EXPECT_EQ(qt::ControlText(Dlg(), IDC_GAIN_A), "36.1");
  EXPECT_EQ(boardGain(), 92u);

  const std::vector<int> reached = qt::DragTrackBar(Dlg(), IDC_GAIN_A_SLIDER, {60});
  ASSERT_EQ(reached.size(), 1u);
  EXPECT_EQ(boardGain(), static_cast<uint32_t>(255 - reached.back()));

  qt::FocusControl(Dlg(), IDC_GAIN_A_SLIDER);
  qt::PressKey(Dlg(), qt::Key::End);
  EXPECT_EQ(qt::ControlText(Dlg(), IDC_GAIN_A), "0.0");
  EXPECT_EQ(boardGain(), 0u);
  qt::PressKey(Dlg(), qt::Key::Up);
  EXPECT_EQ(boardGain(), 1u);

  qt::CloseWindow(Dlg());
  EXPECT_EQ(StoredValue("LaserAGain"), "1") << "the close saves what the board holds";
}

TEST_F(MainDialogQtTest, TheCountdownIsPaintedAsItGoesWhileInputWaitsForTheDownload) {
  StandardWork();
  ASSERT_EQ(Start(), std::nullopt);
  qt::ProcessEvents();
  qt::StartEventLog(Dlg(), {IDC_START_STOP, IDC_LOOP});
  qt::PostClick(Dlg(), IDC_LOOP);                  // waits in the queue
  qt::ClickControl(Dlg(), IDC_APPLY_CORRECTION);  // downloads the three entries again
  EXPECT_EQ(qt::EventLog(), (std::vector<std::string>{"paint 1019 LOADING   3", "paint 1019 LOADING   2",
                                                      "paint 1019 LOADING   1"}));
  const int loop = Dlg().IsDlgButtonChecked(IDC_LOOP);
  qt::ProcessEvents();
  const std::vector<std::string> log = qt::EventLog();
  EXPECT_EQ(std::count(log.begin(), log.end(), "input 1196"), 1) << "the queued click, after the download";
  EXPECT_NE(std::find(log.begin(), log.end(), "paint 1019 START"), log.end());
  EXPECT_NE(Dlg().IsDlgButtonChecked(IDC_LOOP), loop);
}

TEST_F(MainDialogQtTest, TheEntryEditorShowsItsControlsAndThePreview) {
  StandardWork();
  ASSERT_EQ(Start(), std::nullopt);
  std::string title;
  std::vector<std::pair<int, CRect>> placed;
  std::vector<std::pair<int, std::string>> captions;
  std::vector<std::string> names;
  COLORREF preview = 0;
  bool ran = false;
  qt::Post([&] {
    CDialog* editor = qt::ActiveModalDialog();
    if (editor == nullptr || editor->TemplateId() != IDD_IMAGE_LIST_EDIT) return;
    ran = true;
    title = qt::WindowTitle(*editor);
    for (const Placed& p : EDITOR_LAYOUT) {
      placed.emplace_back(p.id, qt::ControlGeometry(*editor, p.id));
      if (p.caption) captions.emplace_back(p.id, qt::ControlText(*editor, p.id));
    }
    names = {qt::ListLines(*editor, 1185).at(0), qt::ListLines(*editor, 1187).at(0)};
    preview = qt::GrabClient(*editor).At(19 + 9, 75 + 5);
    qt::ClickControl(*editor, IDC_EDIT_CANCEL);
  });
  qt::DoubleClickListLine(Dlg(), IDC_IMAGE_LIST, 1);
  ASSERT_TRUE(ran);
  EXPECT_EQ(title, "Edit Sequence Record");
  for (size_t i = 0; i < placed.size(); ++i) EXPECT_EQ(placed[i].second, Pixels(EDITOR_LAYOUT[i])) << placed[i].first;
  for (const auto& [id, text] : captions) {
    for (const Placed& p : EDITOR_LAYOUT) {
      if (p.id == id) {
        EXPECT_EQ(text, p.caption) << id;
      }
    }
  }
  EXPECT_EQ(names, (std::vector<std::string>{"rings.bmp", "invert.lut"}));
  const uint8_t v = static_cast<uint8_t>(Inverse(Rings(4 * 5, 4 * 9)));
  EXPECT_EQ(preview, RGB(v, v, v)) << "the entry's screen image at the preview's place";
}

// The longest text the program puts into a control at run time.
struct Readout {
  int dialog;
  int id;
  std::string text;
};

template <class Model>
std::vector<Readout> SetupReadouts() {
  constexpr const SetupDlgIds& d = Model::Dlg;
  return {{d.Template, d.ToggleRate, "1015.6409"}, {d.Template, d.DriverVersion, "8.0"},
          {d.Template, d.ControlVersion, " 3.55"},   {d.Template, d.MemoryVersion, " 3.55"},
          {d.Template, d.SerialNumber, "PCI9050-0"}, {d.Template, d.Presence, "Board Not Present"},
          {d.Template, d.Bus, "255"},                {d.Template, d.DeviceId, "0x9050"},
          {d.Template, d.TrueFrames, "32767"},       {d.Template, d.DetA, "Disabled"}};
}

std::vector<Readout> Readouts() {
  std::vector<Readout> r = {
      {IDD_SORREL_DIALOG, IDC_SEQUENCE_NAME, "Kite_demo.sif*"},
      {IDD_SORREL_DIALOG, IDC_BOARD_TYPE, "Wren_SLM"},
      {IDD_SORREL_DIALOG, IDC_START_STOP, "SETTING DISPLAY"},
      {IDD_SORREL_DIALOG, IDC_SCREEN_REFRESH, "Disabled"},
      {IDD_SORREL_DIALOG, IDC_ENTRY_PATTERN, "No pattern"},
      {IDD_SORREL_DIALOG, IDC_ENTRY_LUT, "invert.lut"},
      {IDD_SORREL_DIALOG, IDC_PATTERN_DATA, "512 x 512 x 256"},
      {IDD_SORREL_DIALOG, IDC_FRAME_RATE, "1000.00"},
      {IDD_SORREL_DIALOG, IDC_RATE_MAX, "1000"},
      {IDD_SORREL_DIALOG, IDC_TOGGLE_RATE, "1015.64 Hz"},
      {IDD_SORREL_DIALOG, IDC_DUTY_CAPTION, "Laser Duty"},
      {IDD_SORREL_DIALOG, IDC_DUTY, "100.0"},
      {IDD_SORREL_DIALOG, IDC_DUTY_TOP, "100%"},
      {IDD_SORREL_DIALOG, IDC_GAIN_A_CAPTION, "Laser A Gain"},
      {IDD_SORREL_DIALOG, IDC_GAIN_A, "100.0"},
      {IDD_SORREL_DIALOG, IDC_GAIN_B_CAPTION, "Laser B Gain"},
      {IDD_SORREL_DIALOG, IDC_GAIN_B_TOP, "100"},
      {IDD_YES_NO, IDC_QUESTION, "Save changes to Wren_demo.sif?"},
      {IDD_LIVE_VIEW, IDC_LIVE_BOARD, "SIMULATED Kite board: no hardware is driven (SORREL_SIM)"},
      {IDD_LIVE_VIEW, IDC_LIVE_FRAME, "Frame 4095, sequence position 4096 of 4096"},
      {IDD_LIVE_VIEW, IDC_LIVE_RUN, "Running (once through) at 1000.0 frames/s measured"},
      {IDD_LIVE_VIEW, IDC_LIVE_POWER, "SLM power OFF: the SLM is dark"},
      {IDD_LIVE_VIEW, IDC_LIVE_LASERS, "Laser A gain 255, laser B gain 255, duty 100 %"},
  };
  for (const auto& more : {SetupReadouts<KiteModel>(), SetupReadouts<WrenModel>()}) r.insert(r.end(), more.begin(), more.end());
  return r;
}

// Every name the sample folder's demos put in the entry and compensation boxes.
std::vector<Readout> SampleNames() {
  std::vector<Readout> r;
  for (const char* demo : {"Kite_demo.sif", "Wren_demo.sif"}) {
    ImageList list;
    int state = 0;
    EXPECT_TRUE(ReadSequenceEntries(std::string(SORREL_SAMPLES_DIR) + "/Sequence_Files/" + demo, list, state)) << demo;
    for (const auto& entry : list) {
      r.push_back({IDD_SORREL_DIALOG, IDC_ENTRY_PATTERN, NameAndExtension(entry->PatternFile)});
      r.push_back({IDD_SORREL_DIALOG, IDC_ENTRY_LUT, NameAndExtension(entry->LUTFile)});
    }
    ClearImageList(list);
  }
  for (const auto& file : std::filesystem::directory_iterator(std::string(SORREL_SAMPLES_DIR) + "/Image_Files")) {
    const std::string name = file.path().filename().string();
    if (name.starts_with("slm_")) r.push_back({IDD_SORREL_DIALOG, IDC_SLM_COMP_NAME, name});
  }
  return r;
}

// Every dialog the program and the board libraries register, in a real window with the
// font the host chose for it: each caption, and each readout holding the longest text the
// program puts there, shows whole.
TEST(EveryDialogQt, EveryCaptionAndReadoutShowsWhole) {
  RegisterSorrelResources();
  const std::vector<Readout> readouts = Readouts();
  std::set<int> shown;
  for (int id = 0; id <= 0xFFFF; ++id) {
    if (FindDialogTemplate(id) == nullptr) continue;
    shown.insert(id);
    CDialog dlg(id);
    qt::Open(dlg);
    EXPECT_EQ(qt::TextsCutOff(dlg), std::vector<std::string>{}) << "captions of dialog " << id;
    for (const Readout& r : readouts) {
      if (r.dialog == id) dlg.SetDlgItemText(r.id, r.text);
    }
    if (id == IDD_SORREL_DIALOG) {
      // A list's fields keep their columns whatever the names' lengths.
      dlg.ListAddString(IDC_IMAGE_LIST, " \tramp.bmp\t\tgamma.txt\t");
      dlg.ListAddString(IDC_IMAGE_LIST, "!\tcoma.zrn\t\tlinear.lut\t");
    }
    qt::ProcessEvents();
    EXPECT_EQ(qt::TextsCutOff(dlg), std::vector<std::string>{}) << "readouts of dialog " << id;
    for (const Readout& name : id == IDD_SORREL_DIALOG ? SampleNames() : std::vector<Readout>{}) {
      dlg.SetDlgItemText(name.id, name.text);
      qt::ProcessEvents();
      EXPECT_EQ(qt::TextsCutOff(dlg), std::vector<std::string>{}) << "a sample's name";
    }
    qt::Close(dlg);
  }
  for (const Readout& r : readouts) EXPECT_TRUE(shown.contains(r.dialog)) << "dialog " << r.dialog << " is registered";
  EXPECT_TRUE(shown.contains(IDD_IMAGE_LIST_EDIT));
  EXPECT_TRUE(shown.contains(IDD_ABOUTBOX));
}

}  // namespace
