// The Qt host on the offscreen platform: widgets where the dialog units put them, state
// shown as set, a person's input turned into state then events, modal runs, per-pixel
// drawing, message boxes, file dialogs, the system-menu items, timers, help, window
// icons and termination signals.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "ui/Dialog.h"
#include "ui/DialogTemplate.h"
#include "ui/Host.h"
#include "ui/QtHostTesting.h"
#include "ui/Signals.h"

namespace qt = QtHostTesting;

namespace {

constexpr int PROBE_TEMPLATE = 9101;
constexpr int PAINT_TEMPLATE = 9102;
constexpr int CHILD_TEMPLATE = 9103;
constexpr int MAIN_SIZE_TEMPLATE = 9104;
constexpr int NO_MENU_TEMPLATE = 9105;

constexpr int BUTTON = 30;
constexpr int MULTI_BUTTON = 31;
constexpr int CHECK = 32;
constexpr int EDIT = 33;
constexpr int READ_ONLY = 34;
constexpr int LABEL = 35;
constexpr int LIST = 36;
constexpr int SLIDER = 37;
constexpr int PROGRESS = 38;
constexpr int MULTI_EDIT = 39;
constexpr int FRAME = 40;
constexpr int LOCKED = 41;
constexpr int WRAP_CHECK = 42;

void RegisterTemplates() {
  DialogTemplate probe;
  probe.id = PROBE_TEMPLATE;
  probe.caption = "Qt Host Probe";
  probe.cx = 200;
  probe.cy = 140;
  probe.style = DS_SYSMENU | DS_MODALFRAME;
  probe.controls = {
      {IDOK, ControlKind::PushButton, "OK", 140, 5, 50, 14, STYLE_DEFAULT},
      {IDCANCEL, ControlKind::PushButton, "Cancel", 140, 22, 50, 14, STYLE_NONE},
      {BUTTON, ControlKind::PushButton, "Press", 140, 39, 50, 14, STYLE_NONE},
      {MULTI_BUTTON, ControlKind::PushButton, "Initializing", 140, 56, 50, 28, STYLE_MULTILINE},
      {CHECK, ControlKind::CheckBox, "Loop", 5, 5, 40, 10, STYLE_NONE},
      {EDIT, ControlKind::Edit, "", 50, 5, 60, 12, STYLE_NONE},
      {READ_ONLY, ControlKind::Edit, "fixed", 50, 20, 60, 12, STYLE_READONLY | STYLE_CENTRED},
      {LABEL, ControlKind::Static, "Label", 5, 20, 40, 8, STYLE_NONE},
      {LIST, ControlKind::ListBox, "", 5, 35, 125, 40, STYLE_TABSTOPS | STYLE_NOTIFY | STYLE_VSCROLL},
      {SLIDER, ControlKind::TrackBar, "", 140, 86, 20, 50, STYLE_NOTICKS},
      {PROGRESS, ControlKind::ProgressBar, "", 5, 80, 120, 8, STYLE_NONE},
      {MULTI_EDIT, ControlKind::Edit, "", 5, 92, 40, 18, STYLE_MULTILINE},
      {FRAME, ControlKind::GreyFrame, "", 60, 92, 30, 30, STYLE_NONE},
      {LOCKED, ControlKind::PushButton, "Locked", 95, 92, 40, 14, STYLE_DISABLED},
      {WRAP_CHECK, ControlKind::CheckBox, "Enable Phase Optimization", 95, 110, 42, 20, STYLE_MULTILINE},
  };
  RegisterDialogTemplate(probe);

  DialogTemplate paint;
  paint.id = PAINT_TEMPLATE;
  paint.caption = "Paint";
  paint.cx = 110;
  paint.cy = 100;
  RegisterDialogTemplate(paint);

  DialogTemplate child;
  child.id = CHILD_TEMPLATE;
  child.caption = "Child";
  child.cx = 80;
  child.cy = 40;
  child.controls = {{IDOK, ControlKind::PushButton, "OK", 5, 20, 40, 14, STYLE_DEFAULT}};
  RegisterDialogTemplate(child);

  DialogTemplate mainSize;
  mainSize.id = MAIN_SIZE_TEMPLATE;
  mainSize.caption = "Sorrel Version 8.0";
  mainSize.cx = 376;
  mainSize.cy = 314;
  mainSize.style = DS_SYSMENU | DS_MODALFRAME | DS_MINIMIZEBOX | DS_CONTEXTHELP;
  RegisterDialogTemplate(mainSize);

  DialogTemplate noMenu;
  noMenu.id = NO_MENU_TEMPLATE;
  noMenu.caption = "No Menu";
  noMenu.cx = 80;
  noMenu.cy = 40;
  noMenu.style = DS_MODALFRAME;
  RegisterDialogTemplate(noMenu);
}

// What a handler saw: the event and the control's state at that moment.
struct Seen {
  EventKind kind;
  int id;
  int code;
  int pos;
  int state;
};

class CProbeDlg : public CDialog {
 public:
  explicit CProbeDlg(int templateId = PROBE_TEMPLATE, CDialog* parent = nullptr) : CDialog(templateId, parent) {}
  using CDialog::Route;

  // Records kind/id events with the state `probe` reads when the handler runs.
  void Watch(EventKind kind, int id, std::function<int()> probe = [] { return 0; }) {
    Route(kind, id, [this, probe](const Event& e) { seen.push_back({e.kind, e.id, e.code, e.pos, probe()}); });
  }

  std::vector<Seen> seen;
};

class QtHostTest : public ::testing::Test {
 protected:
  QtHostTest() { RegisterTemplates(); }
};

CRect PixelsOf(int x, int y, int cx, int cy) {
  return CRect{DialogUnitsToPixelsX(x), DialogUnitsToPixelsY(y), DialogUnitsToPixelsX(x + cx),
               DialogUnitsToPixelsY(y + cy)};
}

// Lets the event loop run until done() or two seconds pass.
bool SpinUntil(const std::function<bool()>& done) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    qt::ProcessEvents();
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

int Grey(COLORREF c) { return GetRValue(c); }

// ---- Placement ----

TEST_F(QtHostTest, WidgetsSitWhereTheDialogUnitsPutThem) {
  CProbeDlg dlg;
  qt::Open(dlg);
  const CRect client = qt::ClientGeometry(dlg);
  EXPECT_EQ(client.Width(), 300);   // 200 du * 6 / 4
  EXPECT_EQ(client.Height(), 227);  // 140 du * 13 / 8
  for (const ControlTemplate& c : dlg.Template().controls) {
    EXPECT_EQ(qt::ControlGeometry(dlg, c.id), PixelsOf(c.x, c.y, c.cx, c.cy)) << "control " << c.id;
  }
  // Each edge maps on its own: 5,35 .. 130,75 du.
  EXPECT_EQ(qt::ControlGeometry(dlg, LIST), (CRect{7, 56, 195, 121}));
  qt::Close(dlg);
}

TEST_F(QtHostTest, MainDialogSizeGivesItsClientArea) {
  CProbeDlg dlg(MAIN_SIZE_TEMPLATE);
  qt::Open(dlg);
  const CRect client = qt::ClientGeometry(dlg);
  EXPECT_EQ(client.Width(), 564);
  EXPECT_EQ(client.Height(), 510);
  // The window rectangle the dialog measures holds its client area.
  const CRect window = dlg.GetWindowRect();
  EXPECT_GE(window.Width(), 564);
  EXPECT_GE(window.Height(), 510);
  EXPECT_LE(window.left, client.left);
  EXPECT_LE(window.top, client.top);
  qt::Close(dlg);
}

// ---- State shown, without echo ----

TEST_F(QtHostTest, StateSetByTheProgramShowsAndRaisesNoEvents) {
  CProbeDlg dlg;
  for (int id : {BUTTON, CHECK, LIST, SLIDER, EDIT}) {
    for (EventKind k : {EventKind::Click, EventKind::SelChange, EventKind::VScroll, EventKind::KillFocus}) {
      dlg.Watch(k, id);
    }
  }
  qt::Open(dlg);
  EXPECT_EQ(qt::ControlText(dlg, READ_ONLY), "fixed");
  EXPECT_EQ(qt::ControlText(dlg, MULTI_BUTTON), "Initializing");
  EXPECT_FALSE(qt::ControlEnabled(dlg, LOCKED));

  dlg.SetDlgItemText(EDIT, "12.5");
  dlg.SetDlgItemText(MULTI_BUTTON, "LOADING   3");
  dlg.SetDlgItemText(LABEL, "Pattern File:");
  dlg.SetDlgItemText(MULTI_EDIT, "Laser A Gain");
  dlg.CheckDlgButton(CHECK, 1);
  dlg.ListAddString(LIST, "one");
  dlg.ListAddString(LIST, "two");
  dlg.ListSetCurSel(LIST, 1);
  dlg.TrackSetRange(SLIDER, 0, 50);
  dlg.TrackSetPos(SLIDER, 20);
  dlg.ProgressSetRange(PROGRESS, 0, 100);
  dlg.ProgressSetPos(PROGRESS, 40);
  dlg.EnableDlgItem(BUTTON, false);
  dlg.ShowDlgItem(LABEL, false);
  qt::ProcessEvents();

  EXPECT_EQ(qt::ControlText(dlg, EDIT), "12.5");
  EXPECT_EQ(qt::ControlText(dlg, MULTI_BUTTON), "LOADING   3");
  EXPECT_EQ(qt::ControlText(dlg, LABEL), "Pattern File:");
  EXPECT_EQ(qt::ControlText(dlg, MULTI_EDIT), "Laser A Gain");
  EXPECT_TRUE(qt::ControlChecked(dlg, CHECK));
  EXPECT_EQ(qt::ListLines(dlg, LIST), (std::vector<std::string>{"one", "two"}));
  EXPECT_EQ(qt::ListCurrentRow(dlg, LIST), 1);
  EXPECT_EQ(qt::ControlValue(dlg, SLIDER), 20);
  EXPECT_EQ(qt::ControlValue(dlg, PROGRESS), 40);
  EXPECT_FALSE(qt::ControlEnabled(dlg, BUTTON));
  EXPECT_FALSE(qt::ControlVisible(dlg, LABEL));

  // Deleting the selected line takes the selection with it, on screen too.
  dlg.ListDeleteString(LIST, 1);
  EXPECT_EQ(qt::ListLines(dlg, LIST), std::vector<std::string>{"one"});
  EXPECT_EQ(qt::ListCurrentRow(dlg, LIST), -1);
  EXPECT_TRUE(dlg.seen.empty());
  qt::Close(dlg);
}

TEST_F(QtHostTest, CaptionFollowsTheDialog) {
  CProbeDlg dlg;
  qt::Open(dlg);
  EXPECT_EQ(qt::WindowTitle(dlg), "Qt Host Probe");
  dlg.SetWindowText("Renamed");
  EXPECT_EQ(qt::WindowTitle(dlg), "Renamed");
  qt::Close(dlg);
}

TEST_F(QtHostTest, WindowCarriesTheLargeIcon) {
  CProbeDlg dlg;
  qt::Open(dlg);
  EXPECT_TRUE(qt::WindowIcon(dlg, 32).pixels.empty());
  const HICON app = LoadIcon(APPLICATION_ICON);
  dlg.SetIcon(app, false);  // the window system shows the large one only
  EXPECT_TRUE(qt::WindowIcon(dlg, 32).pixels.empty());
  dlg.SetIcon(app, true);
  const qt::ClientImage icon = qt::WindowIcon(dlg, 32);
  ASSERT_EQ(icon.width, 32);
  ASSERT_EQ(icon.height, 32);
  // The drawn application icon: a grey ramp across the middle inside a blue edge.
  std::vector<int> greys;
  for (int x = 4; x < 28; ++x) {
    const COLORREF c = icon.At(x, 16);
    EXPECT_EQ(GetRValue(c), GetBValue(c)) << x;
    if (std::find(greys.begin(), greys.end(), GetRValue(c)) == greys.end()) greys.push_back(GetRValue(c));
  }
  EXPECT_GT(greys.size(), 10u);
  const COLORREF edge = icon.At(16, 1);
  EXPECT_GT(GetBValue(edge), GetRValue(edge) + 40);
  dlg.SetIcon(nullptr, true);
  EXPECT_TRUE(qt::WindowIcon(dlg, 32).pixels.empty());
  qt::Close(dlg);
}

// ---- Input becomes state, then events ----

TEST_F(QtHostTest, ButtonClickReachesItsHandlerAndADisabledOneStaysQuiet) {
  CProbeDlg dlg;
  dlg.Watch(EventKind::Click, BUTTON);
  dlg.Watch(EventKind::Click, LOCKED);
  qt::Open(dlg);
  qt::ClickControl(dlg, BUTTON);
  qt::ClickControl(dlg, LOCKED);
  ASSERT_EQ(dlg.seen.size(), 1u);
  EXPECT_EQ(dlg.seen[0].kind, EventKind::Click);
  EXPECT_EQ(dlg.seen[0].id, BUTTON);
  qt::Close(dlg);
}

TEST_F(QtHostTest, CheckBoxTogglesItsStateBeforeTheHandlerRuns) {
  CProbeDlg dlg;
  dlg.Watch(EventKind::Click, CHECK, [&] { return dlg.IsDlgButtonChecked(CHECK); });
  dlg.Watch(EventKind::Click, WRAP_CHECK, [&] { return dlg.IsDlgButtonChecked(WRAP_CHECK); });
  qt::Open(dlg);
  qt::ClickControl(dlg, CHECK);
  qt::ClickControl(dlg, CHECK);
  // The wrapping caption of a multi-line check box takes the click as well.
  qt::ClickControl(dlg, WRAP_CHECK);
  ASSERT_EQ(dlg.seen.size(), 3u);
  EXPECT_EQ(dlg.seen[0].state, 1);
  EXPECT_EQ(dlg.seen[1].state, 0);
  EXPECT_EQ(dlg.seen[2].id, WRAP_CHECK);
  EXPECT_EQ(dlg.seen[2].state, 1);
  EXPECT_EQ(qt::ControlText(dlg, WRAP_CHECK), "Enable Phase Optimization");
  qt::Close(dlg);
}

TEST_F(QtHostTest, TypingChangesTheTextAndLeavingTheBoxIsTheEvent) {
  CProbeDlg dlg;
  dlg.Watch(EventKind::KillFocus, EDIT, [&] { return std::atoi(dlg.GetDlgItemText(EDIT).c_str()); });
  qt::Open(dlg);
  qt::TypeText(dlg, EDIT, "250");
  EXPECT_EQ(dlg.GetDlgItemText(EDIT), "250");
  EXPECT_TRUE(dlg.seen.empty());
  qt::FocusControl(dlg, BUTTON);
  ASSERT_EQ(dlg.seen.size(), 1u);
  EXPECT_EQ(dlg.seen[0].kind, EventKind::KillFocus);
  EXPECT_EQ(dlg.seen[0].state, 250);
  qt::Close(dlg);
}

TEST_F(QtHostTest, ListSelectionMovesBeforeTheHandlerAndDoubleClickFollows) {
  CProbeDlg dlg;
  dlg.Watch(EventKind::SelChange, LIST, [&] { return dlg.ListGetCurSel(LIST); });
  dlg.Watch(EventKind::DoubleClick, LIST, [&] { return dlg.ListGetCurSel(LIST); });
  qt::Open(dlg);
  for (const char* line : {"a", "b", "c"}) dlg.ListAddString(LIST, line);
  qt::ClickListLine(dlg, LIST, 2);
  qt::DoubleClickListLine(dlg, LIST, 0);
  // Arrow keys move the selection as clicks do.
  qt::PressKey(dlg, qt::Key::Down, LIST);
  ASSERT_EQ(dlg.seen.size(), 4u);
  EXPECT_EQ(dlg.seen[0].kind, EventKind::SelChange);
  EXPECT_EQ(dlg.seen[0].state, 2);
  EXPECT_EQ(dlg.seen[1].kind, EventKind::SelChange);
  EXPECT_EQ(dlg.seen[1].state, 0);
  EXPECT_EQ(dlg.seen[2].kind, EventKind::DoubleClick);
  EXPECT_EQ(dlg.seen[2].state, 0);
  EXPECT_EQ(dlg.seen[3].kind, EventKind::SelChange);
  EXPECT_EQ(dlg.seen[3].state, 1);
  qt::Close(dlg);
}

TEST_F(QtHostTest, ALineAddedOrReplacedChangesThatLineOfTheListAlone) {
  CProbeDlg dlg;
  qt::Open(dlg);
  constexpr int LINES = 400;
  qt::ListRowsInserted(dlg, LIST);
  for (int i = 0; i < LINES; ++i) dlg.ListAddString(LIST, "line " + std::to_string(i));
  EXPECT_EQ(qt::ListRowsInserted(dlg, LIST), LINES) << "one row a line, however long the list";
  dlg.ListSetCurSel(LIST, 7);
  dlg.ListReplaceString(LIST, 7, " !\tgone.bmp");
  dlg.ListReplaceString(LIST, 8, "line eight");
  EXPECT_EQ(qt::ListRowsInserted(dlg, LIST), LINES);
  std::vector<std::string> expected;
  for (int i = 0; i < LINES; ++i) expected.push_back(dlg.ListGetText(LIST, i));
  EXPECT_EQ(qt::ListLines(dlg, LIST), expected);
  EXPECT_EQ(expected[7], " !\tgone.bmp");
  EXPECT_EQ(qt::ListCurrentRow(dlg, LIST), 7);
  qt::Close(dlg);
}

TEST_F(QtHostTest, TabbedListFieldsStartAtTheTabStops) {
  CProbeDlg dlg;
  qt::Open(dlg);
  dlg.ListSetTabStops(LIST, {7, 60});
  dlg.ListAddString(LIST, "1\tshort\tMMMM");
  // A first field past the first stop sends the next field to the stop after it; past
  // the last stop, stops go on every 32 dialog units.
  dlg.ListAddString(LIST, "a name\tX\tY");
  qt::ProcessEvents();

  const std::vector<CRect> first = qt::ListFieldRects(dlg, LIST, 0);
  ASSERT_EQ(first.size(), 3u);
  const int origin = first[0].left;
  EXPECT_EQ(first[1].left - origin, DialogUnitsToPixelsX(7));
  EXPECT_EQ(first[2].left - origin, DialogUnitsToPixelsX(60));
  const std::vector<CRect> second = qt::ListFieldRects(dlg, LIST, 1);
  ASSERT_EQ(second.size(), 3u);
  ASSERT_GT(second[0].right - origin, DialogUnitsToPixelsX(7));
  ASSERT_LT(second[0].right - origin, DialogUnitsToPixelsX(60));
  EXPECT_EQ(second[1].left - origin, DialogUnitsToPixelsX(60));
  // "X" ends past 64 du, so the next multiple of 32 du is 96 du.
  EXPECT_EQ(second[2].left - origin, DialogUnitsToPixelsX(96));

  // On screen: ink inside the third field, none between the second field and the stop.
  const qt::ClientImage image = qt::GrabClient(dlg);
  auto inkIn = [&](int x0, int x1, const CRect& row) {
    int ink = 0;
    for (int y = row.top; y < row.bottom; ++y) {
      for (int x = x0; x < x1; ++x) ink += Grey(image.At(x, y)) < 128 ? 1 : 0;
    }
    return ink;
  };
  EXPECT_GT(inkIn(first[2].left, first[2].right, first[2]), 0);
  EXPECT_EQ(inkIn(first[1].right + 1, first[2].left, first[2]), 0);
  EXPECT_EQ(inkIn(first[0].right + 1, first[1].left, first[1]), 0);
  qt::Close(dlg);
}

// Each scroll event as (code, position), with the dialog's position already that one.
void ExpectScrolls(const std::vector<Seen>& seen, const std::vector<std::pair<int, int>>& expected) {
  ASSERT_EQ(seen.size(), expected.size());
  for (size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(seen[i].code, expected[i].first) << i;
    EXPECT_EQ(seen[i].pos, expected[i].second) << i;
    EXPECT_EQ(seen[i].state, expected[i].second) << i;
  }
}

TEST_F(QtHostTest, SliderDragReportsEachPositionThenTheEnd) {
  CProbeDlg dlg;
  dlg.Watch(EventKind::VScroll, SLIDER, [&] { return dlg.TrackGetPos(SLIDER); });
  qt::Open(dlg);
  dlg.TrackSetRange(SLIDER, 0, 100);
  dlg.TrackSetPos(SLIDER, 10);
  const std::vector<int> reached = qt::DragTrackBar(dlg, SLIDER, {30, 60, 90});
  ASSERT_EQ(reached.size(), 3u);
  EXPECT_NEAR(reached.back(), 90, 3) << "the mouse took the thumb down the channel";
  std::vector<std::pair<int, int>> expected;
  for (int p : reached) expected.emplace_back(SB_THUMBTRACK, p);
  expected.emplace_back(SB_THUMBPOSITION, reached.back());
  expected.emplace_back(SB_ENDSCROLL, reached.back());
  ExpectScrolls(dlg.seen, expected);
  EXPECT_EQ(qt::ControlValue(dlg, SLIDER), reached.back());
  qt::Close(dlg);
}

TEST_F(QtHostTest, SliderWheelAndChannelClicksGiveLineAndPageCodesThenTheEnd) {
  CProbeDlg dlg;
  dlg.Watch(EventKind::VScroll, SLIDER, [&] { return dlg.TrackGetPos(SLIDER); });
  qt::Open(dlg);
  dlg.TrackSetRange(SLIDER, 0, 100);
  dlg.TrackSetPos(SLIDER, 50);
  qt::WheelTrackBar(dlg, SLIDER, 1);   // away from the person: the thumb goes up
  qt::WheelTrackBar(dlg, SLIDER, -2);
  qt::ClickTrackBarChannel(dlg, SLIDER, true);
  qt::ClickTrackBarChannel(dlg, SLIDER, false);
  dlg.TrackSetPos(SLIDER, 0);
  qt::WheelTrackBar(dlg, SLIDER, 1);  // at the top already: nothing moves, nothing is said
  ExpectScrolls(dlg.seen, {{SB_LINEUP, 47},
                           {SB_ENDSCROLL, 47},
                           {SB_LINEDOWN, 50},
                           {SB_ENDSCROLL, 50},
                           {SB_LINEDOWN, 53},
                           {SB_ENDSCROLL, 53},
                           {SB_PAGEUP, 33},
                           {SB_ENDSCROLL, 33},
                           {SB_PAGEDOWN, 53},
                           {SB_ENDSCROLL, 53}});
  EXPECT_EQ(qt::ControlValue(dlg, SLIDER), 0);
  qt::Close(dlg);
}

TEST_F(QtHostTest, SliderKeysGiveTheirCodesThenTheEndWithTheMinimumAtTheTop) {
  CProbeDlg dlg;
  dlg.Watch(EventKind::VScroll, SLIDER, [&] { return dlg.TrackGetPos(SLIDER); });
  qt::Open(dlg);
  dlg.TrackSetRange(SLIDER, 0, 100);
  dlg.TrackSetPos(SLIDER, 50);
  qt::PressKey(dlg, qt::Key::Down, SLIDER);      // towards the bottom: up in value
  qt::PressKey(dlg, qt::Key::Up, SLIDER);
  qt::PressKey(dlg, qt::Key::PageDown, SLIDER);  // a fifth of the range
  qt::PressKey(dlg, qt::Key::Home, SLIDER);
  qt::PressKey(dlg, qt::Key::End, SLIDER);
  const std::vector<std::pair<int, int>> expected = {
      {SB_LINEDOWN, 51}, {SB_ENDSCROLL, 51}, {SB_LINEUP, 50}, {SB_ENDSCROLL, 50}, {SB_PAGEDOWN, 70},
      {SB_ENDSCROLL, 70}, {SB_TOP, 0},       {SB_ENDSCROLL, 0}, {SB_BOTTOM, 100}, {SB_ENDSCROLL, 100}};
  ExpectScrolls(dlg.seen, expected);

  // The thumb is drawn at the top for the minimum and at the bottom for the maximum.
  dlg.TrackSetPos(SLIDER, 0);
  const CRect atMin = qt::TrackThumbGeometry(dlg, SLIDER);
  dlg.TrackSetPos(SLIDER, 100);
  const CRect atMax = qt::TrackThumbGeometry(dlg, SLIDER);
  const CRect slider = qt::ControlGeometry(dlg, SLIDER);
  EXPECT_LT(atMin.top - slider.top, slider.bottom - atMin.bottom);
  EXPECT_LT(slider.bottom - atMax.bottom, atMax.top - slider.top);
  qt::Close(dlg);
}

// ---- Modal runs ----

TEST_F(QtHostTest, ModalRunInitialisesShowsAndReturnsTheButtonsResult) {
  struct CInitDlg : CProbeDlg {
    bool OnInitDialog() override {
      SetDlgItemText(EDIT, "from init");
      return CProbeDlg::OnInitDialog();
    }
  } dlg;
  std::string shownText;
  qt::Post([&] {
    EXPECT_EQ(qt::ActiveModalDialog(), &dlg);
    shownText = qt::ControlText(dlg, EDIT);
    qt::ClickControl(dlg, IDOK);
  });
  EXPECT_EQ(dlg.DoModal(), IDOK);
  EXPECT_EQ(shownText, "from init");
  EXPECT_EQ(dlg.View(), nullptr);
}

TEST_F(QtHostTest, HandlersEndModalRunsAndNestedRunsReturnInOrder) {
  CProbeDlg dlg;
  std::vector<std::string> order;
  dlg.Route(EventKind::Click, BUTTON, [&](const Event&) {
    CProbeDlg child(CHILD_TEMPLATE, &dlg);
    qt::Post([&] {
      EXPECT_EQ(qt::ActiveModalDialog(), &child);
      qt::ClickControl(child, IDOK);
    });
    order.push_back("child " + std::to_string(child.DoModal()));
    dlg.EndDialog(42);
  });
  qt::Post([&] {
    EXPECT_EQ(qt::ActiveModalDialog(), &dlg);
    qt::ClickControl(dlg, BUTTON);
  });
  order.push_back("parent " + std::to_string(dlg.DoModal()));
  EXPECT_EQ(order, (std::vector<std::string>{"child 1", "parent 42"}));
}

TEST_F(QtHostTest, EnterEscapeAndTheCloseBoxGoThroughTheFramework) {
  {
    CProbeDlg dlg;
    qt::Post([&] {
      qt::FocusControl(dlg, EDIT);
      qt::PressKey(dlg, qt::Key::Enter);
    });
    EXPECT_EQ(dlg.DoModal(), IDOK);
  }
  {
    CProbeDlg dlg;
    qt::Post([&] { qt::PressKey(dlg, qt::Key::Escape, EDIT); });
    EXPECT_EQ(dlg.DoModal(), IDCANCEL);
  }
  {
    // A dialog that overrides Enter and the close box stays up until it ends itself.
    CProbeDlg dlg;
    int closes = 0;
    dlg.Route(EventKind::Ok, IDOK, [](const Event&) {});
    dlg.Route(EventKind::Close, 0, [&](const Event&) { ++closes; });
    qt::Post([&] {
      qt::FocusControl(dlg, EDIT);
      qt::PressKey(dlg, qt::Key::Enter);
      qt::CloseWindow(dlg);
      EXPECT_EQ(qt::ActiveModalDialog(), &dlg);
      dlg.EndDialog(7);
    });
    EXPECT_EQ(dlg.DoModal(), 7);
    EXPECT_EQ(closes, 1);
  }
}

TEST_F(QtHostTest, DialogEndedByItsInitialisationNeverShows) {
  struct CQuickDlg : CProbeDlg {
    bool OnInitDialog() override {
      EndDialog(5);
      return true;
    }
  } dlg;
  int destroys = 0;
  dlg.Route(EventKind::Destroy, 0, [&](const Event&) { ++destroys; });
  // Should the window show after all, it is closed, so the test fails rather than waits.
  qt::Post([&] {
    if (qt::ActiveModalDialog() == &dlg) qt::CloseWindow(dlg);
  });
  const int shownBefore = qt::DialogWindowsShown();
  EXPECT_EQ(dlg.DoModal(), 5);
  EXPECT_EQ(qt::DialogWindowsShown(), shownBefore);
  EXPECT_EQ(destroys, 1);
  qt::ProcessEvents();

  // A run that does show its window is counted.
  CProbeDlg shown;
  qt::Post([&] { qt::ClickControl(shown, IDOK); });
  EXPECT_EQ(shown.DoModal(), IDOK);
  EXPECT_EQ(qt::DialogWindowsShown(), shownBefore + 1);
}

TEST_F(QtHostTest, DestroyComesOnceAfterTheRunBeforeDoModalReturns) {
  CProbeDlg dlg;
  int destroys = 0;
  bool returned = false, windowVisible = true;
  std::optional<int> resultSeen;
  dlg.Route(EventKind::Destroy, 0, [&](const Event&) {
    ++destroys;
    EXPECT_FALSE(returned);
    resultSeen = dlg.ModalResult();
    windowVisible = qt::ActiveModalDialog() == &dlg;
  });
  qt::Post([&] { qt::ClickControl(dlg, IDOK); });
  EXPECT_EQ(dlg.DoModal(), IDOK);
  returned = true;
  EXPECT_EQ(destroys, 1);
  EXPECT_EQ(resultSeen, IDOK);
  EXPECT_FALSE(windowVisible);  // the window hides first

  // Shown and taken down without a modal run: one Destroy too.
  returned = false;
  qt::Open(dlg);
  EXPECT_EQ(destroys, 1);
  qt::Close(dlg);
  qt::Close(dlg);
  EXPECT_EQ(destroys, 2);
}

TEST_F(QtHostTest, EnterGivesTheDefaultCommand) {
  CProbeDlg dlg;
  dlg.Watch(EventKind::Click, BUTTON);
  qt::Open(dlg);
  EXPECT_TRUE(qt::ButtonIsDefault(dlg, IDOK));
  dlg.SetDefID(BUTTON);
  EXPECT_TRUE(qt::ButtonIsDefault(dlg, BUTTON));
  EXPECT_FALSE(qt::ButtonIsDefault(dlg, IDOK));
  qt::FocusControl(dlg, EDIT);
  qt::PressKey(dlg, qt::Key::Enter);
  ASSERT_EQ(dlg.seen.size(), 1u);
  EXPECT_EQ(dlg.seen[0].id, BUTTON);
  // A disabled default button takes no Enter, and the dialog does not end either.
  dlg.EnableDlgItem(BUTTON, false);
  qt::PressKey(dlg, qt::Key::Enter);
  EXPECT_EQ(dlg.seen.size(), 1u);
  EXPECT_FALSE(dlg.ModalResult().has_value());
  qt::Close(dlg);
}

TEST_F(QtHostTest, FrameworkSystemCommandsMinimiseRestoreAndClose) {
  CProbeDlg dlg;
  qt::Open(dlg);
  dlg.DefaultSysCommand(SC_MINIMIZE);
  EXPECT_TRUE(qt::WindowMinimized(dlg));
  dlg.DefaultSysCommand(SC_RESTORE);
  EXPECT_FALSE(qt::WindowMinimized(dlg));
  qt::Close(dlg);

  // SC_CLOSE is the close box, chosen here from the dialog's own menu item.
  CProbeDlg modal;
  int closes = 0;
  modal.Route(EventKind::Close, 0, [&](const Event&) {
    ++closes;
    modal.EndDialog(9);
  });
  qt::Post([&] {
    modal.AppendSystemMenuItem(SC_CLOSE, "&Close");
    qt::Post([] { qt::ChooseActiveMenuItem("&Close"); });
    qt::OpenContextMenu(modal);
  });
  EXPECT_EQ(modal.DoModal(), 9);
  EXPECT_EQ(closes, 1);
}

// ---- Drawing ----

// Draws a 128 x 128 grey ramp at a fixed origin in its paint handler.
class CRampDlg : public CDialog {
 public:
  static constexpr int X = 13, Y = 21;
  CRampDlg() : CDialog(PAINT_TEMPLATE) {
    Route(EventKind::Paint, 0, [this](const Event&) {
      ++paints;
      if (!draw) return;
      CDC dc = GetDC();
      for (int i = 0; i < 128 * 128; ++i) {
        const uint8_t v = Value(i % 128, i / 128);
        dc.SetPixel(X + i % 128, Y + i / 128, RGB(v, v, v));
      }
    });
  }
  static uint8_t Value(int x, int y) { return static_cast<uint8_t>(x * 2 + y); }
  bool draw = true;
  int paints = 0;
};

TEST_F(QtHostTest, PaintedPixelsShowOneToOne) {
  CRampDlg dlg;
  qt::Open(dlg);
  const qt::ClientImage image = qt::GrabClient(dlg);
  ASSERT_EQ(image.width, DialogUnitsToPixelsX(110));
  ASSERT_EQ(image.height, DialogUnitsToPixelsY(100));
  EXPECT_GT(dlg.paints, 0);
  int wrong = 0;
  for (int y = 0; y < 128; ++y) {
    for (int x = 0; x < 128; ++x) {
      const COLORREF c = image.At(CRampDlg::X + x, CRampDlg::Y + y);
      const uint8_t v = CRampDlg::Value(x, y);
      wrong += c == RGB(v, v, v) ? 0 : 1;
    }
  }
  EXPECT_EQ(wrong, 0);
  // Just outside the image the dialog's face shows.
  EXPECT_EQ(image.At(CRampDlg::X - 1, CRampDlg::Y), COLOR_DIALOG_BACKGROUND);
  EXPECT_EQ(image.At(CRampDlg::X + 128, CRampDlg::Y + 127), COLOR_DIALOG_BACKGROUND);
  EXPECT_EQ(image.At(CRampDlg::X, CRampDlg::Y + 128), COLOR_DIALOG_BACKGROUND);
  qt::Close(dlg);
}

TEST_F(QtHostTest, InvalidatingWithEraseClearsWhatIsNoLongerDrawn) {
  CRampDlg dlg;
  qt::Open(dlg);
  dlg.draw = false;
  dlg.InvalidateRect(CRect{CRampDlg::X, CRampDlg::Y, CRampDlg::X + 64, CRampDlg::Y + 128}, true);
  const int before = dlg.paints;
  ASSERT_TRUE(SpinUntil([&] { return dlg.paints > before; }));
  const qt::ClientImage image = qt::GrabClient(dlg);
  EXPECT_EQ(image.At(CRampDlg::X + 10, CRampDlg::Y + 10), COLOR_DIALOG_BACKGROUND);
  const uint8_t kept = CRampDlg::Value(100, 10);
  EXPECT_EQ(image.At(CRampDlg::X + 100, CRampDlg::Y + 10), RGB(kept, kept, kept));
  qt::Close(dlg);
}

TEST_F(QtHostTest, PixelsDrawnOutsideAPaintShowToo) {
  CRampDlg dlg;
  dlg.draw = false;
  qt::Open(dlg);
  CDC dc = dlg.GetDC();
  ASSERT_TRUE(dc.IsValid());
  dc.SetPixel(5, 6, RGB(10, 200, 30));
  EXPECT_EQ(dc.GetPixel(5, 6), RGB(10, 200, 30));
  EXPECT_EQ(dc.GetPixel(-1, 6), CLR_INVALID);
  qt::ProcessEvents();
  EXPECT_EQ(qt::GrabClient(dlg).At(5, 6), RGB(10, 200, 30));
  qt::Close(dlg);
}

// ---- Boxes the host opens itself ----

TEST_F(QtHostTest, MessageBoxShowsTheCaptionTextAndIconAskedFor) {
  std::vector<qt::MessageBoxInfo> shown;
  auto answer = [&] {
    qt::Post([&] {
      if (auto box = qt::ActiveMessageBox()) shown.push_back(*box);
      qt::DismissActiveMessageBox();
    });
  };
  answer();
  EXPECT_EQ(MessageBox(nullptr, "Could not find PowerOff.bmp in Sorrel", "WARNING"), IDOK);
  answer();
  EXPECT_EQ(MessageBox(nullptr, "Error allocating memory for FrameArray", "MEMORY ERROR", MessageIcon::Stop), IDOK);
  ASSERT_EQ(shown.size(), 2u);
  EXPECT_EQ(shown[0].caption, "WARNING");
  EXPECT_EQ(shown[0].text, "Could not find PowerOff.bmp in Sorrel");
  EXPECT_FALSE(shown[0].critical);
  ASSERT_EQ(shown[0].buttons.size(), 1u);
  EXPECT_EQ(shown[1].caption, "MEMORY ERROR");
  EXPECT_TRUE(shown[1].critical);
}

TEST_F(QtHostTest, FileDialogHonoursTheRequest) {
  namespace fs = std::filesystem;
  const fs::path folder = fs::temp_directory_path() / ("sorrel-qt-" + std::to_string(::getpid()));
  fs::create_directories(folder);
  const fs::path existing = folder / "run.sif";
  std::ofstream(existing) << "x";

  FileDialogRequest save;
  save.open = false;
  save.title = "Save an Image List";
  save.filters = {{"Sequence Instruction Files (*.SIF)", "*.sif"}};
  save.initialFolder = folder.string();
  save.initialFileName = "run.sif";
  save.defaultExtension = "sif";
  std::optional<qt::FileDialogInfo> seen;
  qt::Post([&] {
    seen = qt::ActiveFileDialog();
    qt::AcceptActiveFileDialog((folder / "new.sif").string());
  });
  EXPECT_EQ(FileDialog(nullptr, save), (folder / "new.sif").string());
  ASSERT_TRUE(seen);
  EXPECT_TRUE(seen->save);
  EXPECT_EQ(seen->title, "Save an Image List");
  EXPECT_EQ(seen->filters, std::vector<std::string>{"Sequence Instruction Files (*.SIF) (*.[sS][iI][fF])"});
  EXPECT_EQ(fs::path(seen->folder), folder);
  EXPECT_EQ(seen->fileName, "run.sif");
  EXPECT_EQ(seen->defaultSuffix, "sif");

  FileDialogRequest open;
  open.title = "Open a Sequence File";
  open.filters = {{"Pattern Files (*.BMP)", "*.bmp"}, {"(*.ZRN)", "*.zrn;"}};
  open.initialFolder = folder.string();
  qt::Post([&] {
    seen = qt::ActiveFileDialog();
    qt::AcceptActiveFileDialog(existing.string());
  });
  EXPECT_EQ(FileDialog(nullptr, open), existing.string());
  EXPECT_FALSE(seen->save);
  EXPECT_EQ(seen->filters, (std::vector<std::string>{"Pattern Files (*.BMP) (*.[bB][mM][pP])", "(*.ZRN) (*.[zZ][rR][nN])"}));

  // A cancel, and a path longer than any buffer, both come back as nothing; the long path
  // with a message over the dialog's owner.
  qt::Post([] { qt::CancelActiveFileDialog(); });
  EXPECT_EQ(FileDialog(nullptr, open), std::nullopt);
  std::string tooLong = folder.string();
  while (tooLong.size() < PATH_MAX) tooLong += "/" + std::string(200, 'd');
  tooLong.resize(PATH_MAX - 4);
  tooLong += ".sif";  // as the dialog would add it
  CProbeDlg owner;
  qt::Open(owner);
  std::optional<qt::MessageBoxInfo> message;
  qt::Post([&] {
    qt::AcceptActiveFileDialog(tooLong);
    qt::Post([&] {
      message = qt::ActiveMessageBox();
      qt::DismissActiveMessageBox();
    });
  });
  EXPECT_EQ(FileDialog(&owner, save), std::nullopt);
  ASSERT_TRUE(message);
  EXPECT_EQ(message->text, "Path too long: " + tooLong);
  EXPECT_EQ(message->caption, "FILE ERROR");
  EXPECT_FALSE(message->critical);
  qt::Close(owner);
  fs::remove_all(folder);
}

TEST_F(QtHostTest, SystemMenuItemsAreOfferedOnTheContextMenu) {
  CProbeDlg dlg;
  dlg.Watch(EventKind::SysCommand, 104);
  dlg.Watch(EventKind::SysCommand, 105);
  qt::Open(dlg);
  dlg.AppendSystemMenuSeparator();
  dlg.AppendSystemMenuItem(104, "&About SORREL...");
  dlg.AppendSystemMenuItem(105, "&Help");
  std::vector<std::string> items;
  qt::Post([&] {
    items = qt::ActiveMenuItems();
    EXPECT_TRUE(qt::ChooseActiveMenuItem("&Help"));
  });
  qt::OpenContextMenu(dlg);
  EXPECT_EQ(items, (std::vector<std::string>{"", "&About SORREL...", "&Help"}));
  ASSERT_EQ(dlg.seen.size(), 1u);
  EXPECT_EQ(dlg.seen[0].kind, EventKind::SysCommand);
  EXPECT_EQ(dlg.seen[0].id, 105);
  qt::Close(dlg);

  // Without a system menu there is nothing to offer.
  CProbeDlg plain(NO_MENU_TEMPLATE);
  qt::Open(plain);
  plain.AppendSystemMenuItem(104, "&About SORREL...");
  bool menuShown = true;
  qt::Post([&] { menuShown = !qt::ActiveMenuItems().empty(); });
  qt::OpenContextMenu(plain);
  qt::ProcessEvents();
  EXPECT_FALSE(menuShown);
  qt::Close(plain);
}

// ---- Timers and help ----

TEST_F(QtHostTest, TimersFireUntilKilledAndStopWhenTheDialogEnds) {
  CProbeDlg dlg;
  int ticks = 0;
  dlg.Route(EventKind::Timer, 1, [&](const Event&) { ++ticks; });
  qt::Open(dlg);
  dlg.SetTimer(1, 5);
  ASSERT_TRUE(SpinUntil([&] { return ticks >= 2; }));
  dlg.KillTimer(1);
  const int atKill = ticks;
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  qt::ProcessEvents();
  EXPECT_EQ(ticks, atKill);

  dlg.SetTimer(1, 5);
  dlg.EndDialog(IDOK);
  const int atEnd = ticks;
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  qt::ProcessEvents();
  EXPECT_EQ(ticks, atEnd);
  qt::Close(dlg);
}

// ---- Termination signals ----

class QtSignalTest : public QtHostTest {
 protected:
  void TearDown() override { StopWatchingTerminationSignals(); }
};

TEST_F(QtSignalTest, SignalReachesTheHandlerInsideAModalRun) {
  CProbeDlg dlg;
  // Should the signal never arrive, the dialog ends itself and the test fails.
  dlg.Route(EventKind::Timer, 9, [&](const Event&) { dlg.EndDialog(-1); });
  std::vector<int> handled;
  bool insideTheRun = false;
  WatchTerminationSignals([&](int signal) {
    handled.push_back(signal);
    insideTheRun = qt::ActiveModalDialog() == &dlg;
    dlg.EndDialog(77);
  });
  bool ranInSignalHandler = true;
  qt::Post([&] {
    dlg.SetTimer(9, 5000);
    std::raise(SIGTERM);
    ranInSignalHandler = !handled.empty();
  });
  EXPECT_EQ(dlg.DoModal(), 77);
  EXPECT_FALSE(ranInSignalHandler);
  EXPECT_EQ(handled, std::vector<int>{SIGTERM});
  EXPECT_TRUE(insideTheRun);
}

TEST_F(QtSignalTest, SignalReachesTheHandlerUnderAMessageBox) {
  CProbeDlg dlg;
  dlg.Route(EventKind::Timer, 9, [&](const Event&) {
    if (qt::ActiveMessageBox()) qt::DismissActiveMessageBox();
    dlg.EndDialog(-1);
  });
  dlg.Route(EventKind::Click, BUTTON, [&](const Event&) {
    qt::Post([] { std::raise(SIGINT); });
    MessageBox(&dlg, "Board power failure", "ERROR");
  });
  std::optional<qt::MessageBoxInfo> boxSeen;
  WatchTerminationSignals([&](int) {
    boxSeen = qt::ActiveMessageBox();
    qt::DismissActiveMessageBox();
    dlg.EndDialog(78);
  });
  qt::Post([&] {
    dlg.SetTimer(9, 5000);
    qt::ClickControl(dlg, BUTTON);
  });
  EXPECT_EQ(dlg.DoModal(), 78);
  ASSERT_TRUE(boxSeen);
  EXPECT_EQ(boxSeen->text, "Board power failure");
}

TEST_F(QtHostTest, HelpKeyAsksForTheFocusedControlsHelpAndTheHelpWindowComesAndGoes) {
  CProbeDlg dlg;
  dlg.Watch(EventKind::HelpInfo, EDIT);
  qt::Open(dlg);
  qt::FocusControl(dlg, EDIT);
  qt::PressKey(dlg, qt::Key::F1);
  ASSERT_EQ(dlg.seen.size(), 1u);
  EXPECT_EQ(dlg.seen[0].code, 1);

  dlg.WinHelp(HELP_FINDER);
  EXPECT_TRUE(qt::HelpWindowShown());
  dlg.WinHelp(HELP_QUIT);
  qt::ProcessEvents();
  EXPECT_FALSE(qt::HelpWindowShown());
  qt::Close(dlg);
}

}  // namespace
