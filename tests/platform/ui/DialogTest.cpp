// The dialog object on its own: control state from the template, operations by id,
// routing with its defaults, and data exchange.
#include <gtest/gtest.h>

#include <climits>
#include <optional>
#include <utility>

#include "TestDialogs.h"
#include "ui/ScriptedHost.h"

using namespace uitest;

namespace {

// Records what a host would be told.
class CRecordingView : public IDialogView {
 public:
  void ControlChanged(int id) override { changed.push_back(id); }
  void ListLineAdded(int id, int index) override { lines.push_back({id, index, true}); }
  void ListLineReplaced(int id, int index) override { lines.push_back({id, index, false}); }
  void CaptionChanged() override { ++captions; }
  void IconChanged() override { ++icons; }
  void DefIdChanged() override { ++defIds; }
  void SystemMenuChanged() override { ++menus; }
  void Invalidate(const CRect&, bool) override {}
  void SetPixel(int, int, COLORREF) override {}
  COLORREF GetPixel(int, int) const override { return 0; }
  CRect WindowRect() const override { return {}; }
  void SetTimer(int, unsigned) override {}
  void KillTimer(int) override {}
  void EndModal(int result) override { ended.push_back(result); }
  void ShowMinimized(bool minimized) override { this->minimized.push_back(minimized); }

  struct Line {
    int id, index;
    bool added;
    bool operator==(const Line&) const = default;
  };
  std::vector<int> changed;
  std::vector<Line> lines;  // one line changed alone
  std::vector<int> ended;
  std::vector<bool> minimized;
  int captions = 0;
  int icons = 0;
  int defIds = 0;
  int menus = 0;
};

using Named = std::optional<std::pair<EventKind, int>>;

// The kind and id of an event Enter would send, if any.
Named KindAndId(const std::optional<Event>& e) { return e ? Named({e->kind, e->id}) : std::nullopt; }

class DialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    RegisterTestTemplates();
    host = &CScriptedHost::Install();
  }
  CScriptedHost* host = nullptr;
};

TEST_F(DialogTest, ControlsStartFromTheTemplate) {
  CTestDlg dlg;
  EXPECT_EQ(dlg.GetWindowText(), "Framework Test");
  EXPECT_EQ(dlg.Controls().size(), 13u);  // the unnamed label is kept
  EXPECT_EQ(dlg.GetDlgItemText(IDOK), "OK");
  EXPECT_EQ(dlg.GetDlgItemText(READ_ONLY_EDIT), "fixed");
  EXPECT_FALSE(dlg.IsDlgItemEnabled(DISABLED_BUTTON));
  EXPECT_TRUE(dlg.IsDlgItemVisible(DISABLED_BUTTON));
  EXPECT_FALSE(dlg.IsDlgItemVisible(HIDDEN_EDIT));
  EXPECT_TRUE(dlg.IsDlgItemEnabled(HIDDEN_EDIT));
  EXPECT_EQ(dlg.Control(SLIDER).kind, ControlKind::TrackBar);
  EXPECT_EQ(dlg.Control(LIST).rectDu, (CRect{5, 35, 125, 75}));
  EXPECT_EQ(dlg.ListGetCurSel(LIST), -1);

  // The label has no id of its own and cannot be reached through IDC_STATIC.
  EXPECT_FALSE(dlg.HasControl(IDC_STATIC));
  dlg.SetDlgItemText(IDC_STATIC, "changed");
  EXPECT_EQ(dlg.Controls()[2].text, "Label");

  // Client size by the fixed dialog-unit rule.
  EXPECT_EQ(dlg.GetClientRect(), (CRect{0, 0, 300, 195}));
}

TEST_F(DialogTest, MissingTemplateGivesAnEmptyDialog) {
  CTestDlg dlg(424242);
  EXPECT_EQ(dlg.Template().id, 424242);
  EXPECT_TRUE(dlg.Controls().empty());
  EXPECT_EQ(FindDialogTemplate(424242), nullptr);  // not registered behind the caller's back
  dlg.SetDlgItemText(EDIT, "x");
  EXPECT_EQ(dlg.GetDlgItemText(EDIT), "");
  EXPECT_EQ(dlg.DoModal(), IDCANCEL);
}

TEST_F(DialogTest, UnknownControlIdsAreHarmless) {
  CTestDlg dlg;
  CRecordingView view;
  dlg.AttachView(&view);
  const int nowhere = 777;
  dlg.SetDlgItemText(nowhere, "x");
  dlg.EnableDlgItem(nowhere, true);
  dlg.ShowDlgItem(nowhere, true);
  dlg.CheckDlgButton(nowhere, 1);
  dlg.SetButtonState(nowhere, true);
  EXPECT_EQ(dlg.ListAddString(nowhere, "line"), -1);
  dlg.ListSetCurSel(nowhere, 0);
  dlg.ListDeleteString(nowhere, 0);
  dlg.TrackSetRange(nowhere, 0, 10);
  dlg.TrackSetPos(nowhere, 5);
  dlg.ProgressSetPos(nowhere, 5);
  EXPECT_EQ(dlg.GetDlgItemText(nowhere), "");
  EXPECT_FALSE(dlg.IsDlgItemEnabled(nowhere));
  EXPECT_FALSE(dlg.IsDlgItemVisible(nowhere));
  EXPECT_EQ(dlg.IsDlgButtonChecked(nowhere), 0);
  EXPECT_FALSE(dlg.GetButtonState(nowhere));
  EXPECT_EQ(dlg.ListGetCount(nowhere), 0);
  EXPECT_EQ(dlg.ListGetText(nowhere, 0), "");
  EXPECT_EQ(dlg.ListGetCurSel(nowhere), -1);
  EXPECT_EQ(dlg.TrackGetPos(nowhere), 0);
  EXPECT_EQ(dlg.ProgressGetPos(nowhere), 0);

  // Writes through the scratch state reach no control.
  dlg.MutableControl(nowhere).text = "scratch";
  EXPECT_EQ(dlg.MutableControl(nowhere).text, "");
  EXPECT_TRUE(view.changed.empty());
  dlg.AttachView(nullptr);
}

TEST_F(DialogTest, EveryStateChangeReachesTheView) {
  CTestDlg dlg;
  CRecordingView view;
  dlg.AttachView(&view);
  dlg.SetDlgItemText(EDIT, "a");
  dlg.EnableDlgItem(IDOK, false);
  dlg.ShowDlgItem(HIDDEN_EDIT, true);
  dlg.CheckDlgButton(CHECK, 1);
  dlg.SetButtonState(IDOK, true);
  dlg.ListAddString(LIST, "x");
  dlg.ListSetCurSel(LIST, 0);
  dlg.ListSetTabStops(LIST, {40});
  dlg.TrackSetPos(SLIDER, 3);
  dlg.ProgressSetPos(PROGRESS, 3);
  dlg.ListAddString(LIST, "y");
  dlg.ListReplaceString(LIST, 0, "z");
  EXPECT_EQ(view.changed, (std::vector<int>{EDIT, IDOK, HIDDEN_EDIT, CHECK, IDOK, LIST, LIST, SLIDER, PROGRESS}));
  // A line added or replaced is that line's change alone, so a host need not redo the list.
  EXPECT_EQ(view.lines, (std::vector<CRecordingView::Line>{{LIST, 0, true}, {LIST, 1, true}, {LIST, 0, false}}));

  view.changed.clear();
  dlg.TrackSetRange(SLIDER, 0, 50, false);  // no redraw asked
  EXPECT_TRUE(view.changed.empty());
  dlg.MutableControl(EDIT).text = "direct";
  dlg.Changed(EDIT);
  EXPECT_EQ(view.changed, std::vector<int>{EDIT});

  dlg.SetWindowText("New caption");
  EXPECT_EQ(view.captions, 1);
  EXPECT_EQ(dlg.GetWindowText(), "New caption");
  dlg.AppendSystemMenuItem(104, "&About");
  EXPECT_EQ(view.menus, 1);

  dlg.EndDialog(42);
  EXPECT_EQ(view.ended, std::vector<int>{42});
  EXPECT_EQ(dlg.ModalResult(), 42);
  dlg.AttachView(nullptr);
}

TEST_F(DialogTest, ListLinesTabsAndSelection) {
  CTestDlg dlg;
  EXPECT_EQ(dlg.ListAddString(LIST, "1\tpattern.bmp\tlinear.lut"), 0);
  EXPECT_EQ(dlg.ListAddString(LIST, "2\tphase.zrn\tgamma.lut"), 1);
  EXPECT_EQ(dlg.ListAddString(LIST, "3\tlast.bmp\tlinear.lut"), 2);
  dlg.ListSetTabStops(LIST, {20, 120});
  EXPECT_EQ(dlg.Control(LIST).tabStops, (std::vector<int>{20, 120}));
  EXPECT_EQ(dlg.ListGetText(LIST, 1), "2\tphase.zrn\tgamma.lut");
  EXPECT_EQ(dlg.ListGetText(LIST, 3), "");

  dlg.ListSetCurSel(LIST, 2);
  EXPECT_EQ(dlg.ListGetCurSel(LIST), 2);
  dlg.ListSetCurSel(LIST, 3);  // past the end
  EXPECT_EQ(dlg.ListGetCurSel(LIST), -1);
  dlg.ListSetCurSel(LIST, 2);
  dlg.ListSetCurSel(LIST, -5);
  EXPECT_EQ(dlg.ListGetCurSel(LIST), -1);

  // The selection follows its line when an earlier line goes, and goes with its own line.
  dlg.ListSetCurSel(LIST, 2);
  dlg.ListDeleteString(LIST, 0);
  EXPECT_EQ(dlg.ListGetCurSel(LIST), 1);
  EXPECT_EQ(dlg.ListGetText(LIST, 1), "3\tlast.bmp\tlinear.lut");
  dlg.ListDeleteString(LIST, 5);  // out of range: nothing happens
  EXPECT_EQ(dlg.ListGetCount(LIST), 2);
  dlg.ListReplaceString(LIST, 1, "3\tnew.bmp\tlinear.lut");  // the selection stays on it
  dlg.ListReplaceString(LIST, 2, "past the end");
  EXPECT_EQ(dlg.ListGetText(LIST, 1), "3\tnew.bmp\tlinear.lut");
  EXPECT_EQ(dlg.ListGetCount(LIST), 2);
  EXPECT_EQ(dlg.ListGetCurSel(LIST), 1);
  dlg.ListDeleteString(LIST, 1);
  EXPECT_EQ(dlg.ListGetCurSel(LIST), -1);

  dlg.ListSetCurSel(LIST, 0);
  dlg.ListResetContent(LIST);
  EXPECT_EQ(dlg.ListGetCount(LIST), 0);
  EXPECT_EQ(dlg.ListGetCurSel(LIST), -1);
}

TEST_F(DialogTest, TrackBarAndProgressPositionsStayInRange) {
  CTestDlg dlg;
  EXPECT_EQ(dlg.TrackGetRangeMin(SLIDER), 0);
  EXPECT_EQ(dlg.TrackGetRangeMax(SLIDER), 100);

  dlg.TrackSetPos(SLIDER, 80);
  dlg.TrackSetRange(SLIDER, 0, 50);
  EXPECT_EQ(dlg.TrackGetPos(SLIDER), 50);
  dlg.TrackSetPos(SLIDER, -3);
  EXPECT_EQ(dlg.TrackGetPos(SLIDER), 0);
  dlg.TrackSetRange(SLIDER, 10, 20);
  EXPECT_EQ(dlg.TrackGetPos(SLIDER), 10);
  dlg.TrackSetPos(SLIDER, 1000);
  EXPECT_EQ(dlg.TrackGetPos(SLIDER), 20);

  // A range given upside down is taken the right way up.
  dlg.TrackSetRange(SLIDER, 255, 0);
  EXPECT_EQ(dlg.TrackGetRangeMin(SLIDER), 0);
  EXPECT_EQ(dlg.TrackGetRangeMax(SLIDER), 255);
  EXPECT_EQ(dlg.TrackGetPos(SLIDER), 20);

  dlg.ProgressSetRange(PROGRESS, 0, 9);
  dlg.ProgressSetPos(PROGRESS, 4);
  EXPECT_EQ(dlg.ProgressGetPos(PROGRESS), 4);
  dlg.ProgressSetPos(PROGRESS, 12);
  EXPECT_EQ(dlg.ProgressGetPos(PROGRESS), 9);
  dlg.ProgressSetPos(PROGRESS, -1);
  EXPECT_EQ(dlg.ProgressGetPos(PROGRESS), 0);
}

TEST_F(DialogTest, RoutesByIdAndAnyId) {
  CTestDlg dlg;
  std::vector<std::pair<std::string, int>> log;
  dlg.Route(EventKind::Click, EDIT, [&](const Event& e) { log.emplace_back("edit", e.id); });
  dlg.Route(EventKind::VScroll, 0, [&](const Event& e) { log.emplace_back("any-scroll", e.id); });
  dlg.Route(EventKind::VScroll, SLIDER, [&](const Event& e) { log.emplace_back("slider", e.code); });
  dlg.Route(EventKind::Timer, 0, [&](const Event& e) { log.emplace_back("timer", e.id); });
  dlg.Route(EventKind::SysCommand, 0, [&](const Event& e) { log.emplace_back("sys", e.id); });

  dlg.Dispatch(Event::Click(EDIT));
  dlg.Dispatch(Event::Click(CHECK));  // unrouted: ignored
  dlg.Dispatch(Event::VScroll(SLIDER, SB_ENDSCROLL, 0));
  dlg.Dispatch(Event::VScroll(99, SB_THUMBTRACK, 0));
  dlg.Dispatch(Event::Timer(1));
  dlg.Dispatch(Event::Timer(7));
  dlg.Dispatch(Event::SysCommand(104));
  dlg.Dispatch(Event::Paint());  // unrouted: ignored
  EXPECT_EQ(log, (std::vector<std::pair<std::string, int>>{{"edit", EDIT},
                                                           {"slider", SB_ENDSCROLL},
                                                           {"any-scroll", 99},
                                                           {"timer", 1},
                                                           {"timer", 7},
                                                           {"sys", 104}}));
  EXPECT_FALSE(dlg.ModalResult().has_value());
}

TEST_F(DialogTest, MemberHandlersThroughRoute) {
  struct CMemberDlg : CTestDlg {
    CMemberDlg() {
      Route(EventKind::Click, OPEN_CHILD, &CMemberDlg::OnChild);
      Route(EventKind::VScroll, 0, &CMemberDlg::OnVScroll);
    }
    void OnChild() { ++clicks; }
    void OnVScroll(const Event& e) { lastCode = e.code; }
    int clicks = 0;
    int lastCode = -1;
  } dlg;
  dlg.Dispatch(Event::Click(OPEN_CHILD));
  dlg.Dispatch(Event::VScroll(SLIDER, SB_ENDSCROLL, 4));
  EXPECT_EQ(dlg.clicks, 1);
  EXPECT_EQ(dlg.lastCode, SB_ENDSCROLL);
}

TEST_F(DialogTest, OkCancelAndCloseDefaults) {
  {
    CTestDlg dlg;
    dlg.SetDlgItemText(EDIT, "typed");
    dlg.Dispatch(Event::Ok());
    EXPECT_EQ(dlg.ModalResult(), IDOK);
    EXPECT_EQ(dlg.m_Text, "typed");  // OK saves the controls first
  }
  {
    CTestDlg dlg;
    dlg.SetDlgItemText(EDIT, "typed");
    dlg.Dispatch(Event::Click(IDCANCEL));
    EXPECT_EQ(dlg.ModalResult(), IDCANCEL);
    EXPECT_EQ(dlg.m_Text, "initial");  // Cancel leaves the members alone
  }
  {
    CTestDlg dlg;
    dlg.Dispatch(Event::Close());
    EXPECT_EQ(dlg.ModalResult(), IDCANCEL);
  }
  {
    CTestDlg dlg;
    dlg.Dispatch(Event::Click(IDOK));
    EXPECT_EQ(dlg.ModalResult(), IDOK);
  }
}

TEST_F(DialogTest, RoutesOverrideTheDefaults) {
  CTestDlg dlg;
  int enter = 0, okButton = 0, close = 0;
  // Enter does nothing; the OK button and the close box have handlers of their own.
  dlg.Route(EventKind::Ok, IDOK, [&](const Event&) { ++enter; });
  dlg.Dispatch(Event::Ok());
  dlg.Dispatch(Event::Click(IDOK));  // becomes Ok, which is routed
  EXPECT_EQ(enter, 2);
  dlg.Route(EventKind::Click, IDOK, [&](const Event&) { ++okButton; });
  dlg.Dispatch(Event::Click(IDOK));
  EXPECT_EQ(okButton, 1);
  EXPECT_EQ(enter, 2);
  dlg.Route(EventKind::Close, 0, [&](const Event&) { ++close; });
  dlg.Dispatch(Event::Close());
  EXPECT_EQ(close, 1);
  EXPECT_FALSE(dlg.ModalResult().has_value());

  // An any-id click route does not swallow the OK and Cancel buttons.
  int anyClick = 0;
  dlg.Route(EventKind::Click, 0, [&](const Event&) { ++anyClick; });
  dlg.Dispatch(Event::Click(IDCANCEL));
  EXPECT_EQ(anyClick, 0);
  EXPECT_EQ(dlg.ModalResult(), IDCANCEL);
}

TEST_F(DialogTest, IconsAndTheDragIcon) {
  const HICON app = LoadIcon(APPLICATION_ICON);
  ASSERT_NE(app, nullptr);
  EXPECT_EQ(app->id, APPLICATION_ICON);
  EXPECT_EQ(LoadIcon(APPLICATION_ICON), app);  // one icon per resource, for the whole process
  EXPECT_EQ(LoadIcon(APPLICATION_ICON + 1), nullptr);

  CTestDlg dlg;
  CRecordingView view;
  dlg.AttachView(&view);
  EXPECT_EQ(dlg.GetIcon(true), nullptr);
  EXPECT_EQ(dlg.OnQueryDragIcon(), nullptr);
  EXPECT_EQ(dlg.SetIcon(app, false), nullptr);
  EXPECT_EQ(dlg.GetIcon(false), app);
  EXPECT_EQ(dlg.GetIcon(true), nullptr);
  EXPECT_EQ(dlg.OnQueryDragIcon(), nullptr);  // the drag icon is the large one
  EXPECT_EQ(dlg.SetIcon(app, true), nullptr);
  EXPECT_EQ(dlg.OnQueryDragIcon(), app);
  EXPECT_EQ(dlg.SetIcon(nullptr, true), app);
  EXPECT_EQ(dlg.GetIcon(true), nullptr);
  EXPECT_EQ(dlg.GetIcon(false), app);
  EXPECT_EQ(view.icons, 3);
  dlg.AttachView(nullptr);
}

TEST_F(DialogTest, EnterGivesTheDefaultCommand) {
  CTestDlg dlg;
  CRecordingView view;
  dlg.AttachView(&view);
  EXPECT_EQ(dlg.GetDefID(), IDOK);  // the button with STYLE_DEFAULT
  EXPECT_EQ(KindAndId(dlg.EnterEvent()), Named({EventKind::Ok, IDOK}));
  dlg.SetDefID(OPEN_CHILD);
  EXPECT_EQ(dlg.GetDefID(), OPEN_CHILD);
  EXPECT_EQ(view.defIds, 1);
  EXPECT_EQ(KindAndId(dlg.EnterEvent()), Named({EventKind::Click, OPEN_CHILD}));
  dlg.EnableDlgItem(OPEN_CHILD, false);  // a disabled default button takes no Enter
  EXPECT_FALSE(dlg.EnterEvent().has_value());
  dlg.SetDefID(IDCANCEL);
  EXPECT_EQ(KindAndId(dlg.EnterEvent()), Named({EventKind::Cancel, IDCANCEL}));
  dlg.SetDefID(777);  // no such control: the command is given all the same
  EXPECT_EQ(KindAndId(dlg.EnterEvent()), Named({EventKind::Click, 777}));
  dlg.AttachView(nullptr);

  EXPECT_EQ(CTestDlg(APPLY_TEMPLATE).GetDefID(), APPLY);
  // Without a default button, OK is the default even where there is no OK button.
  EXPECT_EQ(CTestDlg(PLAIN_TEMPLATE).GetDefID(), IDOK);
  CTestDlg child(CHILD_TEMPLATE);
  EXPECT_EQ(child.GetDefID(), IDOK);
  EXPECT_EQ(KindAndId(child.EnterEvent()), Named({EventKind::Ok, IDOK}));
}

TEST_F(DialogTest, SystemCommandsLeftToTheFramework) {
  CTestDlg dlg;
  CRecordingView view;
  dlg.AttachView(&view);
  // The low four bits belong to the system and do not change the command.
  dlg.DefaultSysCommand(SC_MINIMIZE | 0x2);
  dlg.DefaultSysCommand(SC_RESTORE);
  dlg.DefaultSysCommand(0xF030);  // maximise: not for a dialog
  dlg.DefaultSysCommand(104);
  EXPECT_EQ(view.minimized, (std::vector<bool>{true, false}));
  EXPECT_FALSE(dlg.ModalResult().has_value());

  // SC_CLOSE is the close box: the Close route, else the default cancel.
  int closes = 0;
  dlg.Route(EventKind::Close, 0, [&](const Event&) { ++closes; });
  dlg.DefaultSysCommand(SC_CLOSE | 0x3);
  EXPECT_EQ(closes, 1);
  EXPECT_TRUE(view.ended.empty());
  dlg.AttachView(nullptr);

  // An unrouted system command gets the default handling.
  CTestDlg plain;
  plain.Dispatch(Event::SysCommand(SC_CLOSE));
  EXPECT_EQ(plain.ModalResult(), IDCANCEL);
  plain.DefaultSysCommand(SC_MINIMIZE);  // nothing shown: nothing to minimise
}

TEST_F(DialogTest, TextExchangeBothWays) {
  CTestDlg dlg;
  dlg.m_Text = "hello";
  dlg.m_Check = 1;
  dlg.m_Ratio = 0.25f;
  ASSERT_TRUE(dlg.UpdateData(false));
  EXPECT_EQ(dlg.GetDlgItemText(EDIT), "hello");
  EXPECT_EQ(dlg.IsDlgButtonChecked(CHECK), 1);
  EXPECT_EQ(dlg.GetDlgItemText(FLOAT_EDIT), "0.25");

  dlg.SetDlgItemText(EDIT, "world");
  dlg.CheckDlgButton(CHECK, 0);
  dlg.SetDlgItemText(FLOAT_EDIT, " 1.5e2 volts");
  ASSERT_TRUE(dlg.UpdateData(true));
  EXPECT_EQ(dlg.m_Text, "world");
  EXPECT_EQ(dlg.m_Check, 0);
  EXPECT_FLOAT_EQ(dlg.m_Ratio, 150.0f);
  EXPECT_EQ(dlg.m_Exchanges, 2);
}

TEST_F(DialogTest, IntegerExchangeReadsLeadingDigits) {
  CTestDlg dlg;
  CDataExchange save(dlg, true);
  CDataExchange load(dlg, false);
  const std::pair<const char*, int> cases[] = {
      {"42", 42},       {"  17", 17},   {"-8", -8},    {"+5", 5},     {"12abc", 12},
      {"abc", 0},       {"", 0},        {"-", 0},      {"3.9", 3},    {"0x10", 0},
      {"99999999999", INT_MAX},         {"-99999999999", INT_MIN},
  };
  for (const auto& [text, expected] : cases) {
    dlg.SetDlgItemText(EDIT, text);
    int value = -1234;
    DDX_Text(save, EDIT, value);
    EXPECT_EQ(value, expected) << "text \"" << text << "\"";
  }
  int value = -305;
  DDX_Text(load, EDIT, value);
  EXPECT_EQ(dlg.GetDlgItemText(EDIT), "-305");
  value = INT_MIN;
  DDX_Text(load, EDIT, value);
  EXPECT_EQ(dlg.GetDlgItemText(EDIT), "-2147483648");
}

TEST_F(DialogTest, SystemMenuOnlyWhereTheTemplateHasOne) {
  CTestDlg withMenu;
  ASSERT_TRUE(withMenu.HasSystemMenu());
  withMenu.AppendSystemMenuSeparator();
  withMenu.AppendSystemMenuItem(104, "&About SORREL...");
  withMenu.AppendSystemMenuItem(105, "&Help");
  ASSERT_EQ(withMenu.SystemMenu().size(), 3u);
  EXPECT_EQ(withMenu.SystemMenu()[0].command, 0u);
  EXPECT_EQ(withMenu.SystemMenu()[1].command, 104u);
  EXPECT_EQ(withMenu.SystemMenu()[1].text, "&About SORREL...");
  EXPECT_EQ(withMenu.SystemMenu()[2].command, 105u);

  CTestDlg plain(PLAIN_TEMPLATE);
  EXPECT_FALSE(plain.HasSystemMenu());
  plain.AppendSystemMenuItem(104, "&About");
  EXPECT_TRUE(plain.SystemMenu().empty());
}

TEST_F(DialogTest, WindowServicesWithoutAView) {
  CTestDlg dlg;
  EXPECT_EQ(dlg.GetWindowRect(), CRect{});
  EXPECT_FALSE(dlg.GetDC().IsValid());
  EXPECT_EQ(dlg.GetDC().GetPixel(0, 0), CLR_INVALID);
  dlg.SetTimer(1, 100);  // nothing shown: nothing to time
  EXPECT_FALSE(host->TimerActive(dlg, 1));
  dlg.Invalidate();
}

TEST_F(DialogTest, ATemplateRegisteredAgainIsKeptAndAClashEndsTheProcessNamingBoth) {
  DialogTemplate t;
  t.id = 9100;
  t.caption = "First";
  t.controls = {{5, ControlKind::Edit, "e", 0, 0, 10, 10, STYLE_NONE}};
  RegisterDialogTemplate(t);
  RegisterDialogTemplate(t);
  const DialogTemplate* found = FindDialogTemplate(9100);
  ASSERT_NE(found, nullptr);
  ASSERT_NE(found->Find(5), nullptr);
  EXPECT_EQ(found->Find(IDC_STATIC), nullptr);
  CDialog dlg(9100);
  EXPECT_EQ(dlg.GetDlgItemText(5), "e");

  DialogTemplate other = t;
  other.caption = "Second";
  EXPECT_DEATH(RegisterDialogTemplate(other), "template 9100 registered twice: \"First\" and \"Second\"");
  other = t;
  other.controls[0].cx = 11;
  EXPECT_DEATH(RegisterDialogTemplate(other), "template 9100 registered twice");
}

}  // namespace
