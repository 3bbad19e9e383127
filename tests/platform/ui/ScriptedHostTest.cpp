// The scripted host: modal runs driven by scripts, what a person does to controls,
// message boxes, file dialogs, the virtual clock, paints, termination signals and process
// exit.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <string>
#include <utility>

#include "TestDialogs.h"
#include "ui/Host.h"
#include "ui/Process.h"
#include "ui/ScriptedHost.h"
#include "ui/Signals.h"

using namespace uitest;

namespace {

class ScriptedHostTest : public ::testing::Test {
 protected:
  // In the constructor, so fixtures' dialog members find their templates.
  ScriptedHostTest() {
    RegisterTestTemplates();
    host = &CScriptedHost::Install();
  }
  void TearDown() override {
    SetApplicationTitle("Sorrel");
    StopWatchingTerminationSignals();
  }
  CScriptedHost* host = nullptr;
};

// ---- Modal runs ----

TEST_F(ScriptedHostTest, TextHistoryKeepsEveryCaptionAControlShowed) {
  CTestDlg dlg;
  host->Open(dlg);
  dlg.SetDlgItemText(EDIT, "first");
  dlg.SetDlgItemText(EDIT, "first");
  dlg.EnableDlgItem(EDIT, false);
  dlg.SetDlgItemText(EDIT, "second");
  host->Close(dlg);
  dlg.SetDlgItemText(EDIT, "unseen");  // no longer shown
  EXPECT_EQ(host->TextHistory(MAIN_TEMPLATE, EDIT), (std::vector<std::string>{"", "initial", "first", "second"}));
  EXPECT_TRUE(host->TextHistory(MAIN_TEMPLATE, 4242).empty());

  // Cleared, a history starts again at the next text shown.
  host->ClearTextHistory();
  EXPECT_TRUE(host->TextHistory(MAIN_TEMPLATE, EDIT).empty());
  host->Open(dlg);
  dlg.SetDlgItemText(EDIT, "third");
  EXPECT_EQ(host->TextHistory(MAIN_TEMPLATE, EDIT).back(), "third");
}

TEST_F(ScriptedHostTest, RunWithoutAScriptCancelsAndIsRecorded) {
  CTestDlg dlg;
  EXPECT_EQ(dlg.DoModal(), IDCANCEL);
  EXPECT_EQ(host->UnscriptedRuns(), std::vector<int>{MAIN_TEMPLATE});
  EXPECT_EQ(host->ModalRuns(), std::vector<int>{MAIN_TEMPLATE});
  EXPECT_EQ(dlg.ModalResult(), IDCANCEL);
  EXPECT_EQ(dlg.View(), nullptr);
}

TEST_F(ScriptedHostTest, EnterSavesTheControlsAndEndsWithOk) {
  CTestDlg dlg;
  dlg.m_Text = "start";
  dlg.m_Check = 1;
  host->SetScript(MAIN_TEMPLATE, [](CDialog& d, CScriptedHost& h) {
    // OnInitDialog has pushed the members out before the operator sees the dialog.
    EXPECT_EQ(d.GetDlgItemText(EDIT), "start");
    EXPECT_EQ(d.IsDlgButtonChecked(CHECK), 1);
    h.TypeText(d, EDIT, "edited");
    h.Click(d, CHECK);
    h.PressEnter(d);
  });
  EXPECT_EQ(dlg.DoModal(), IDOK);
  EXPECT_EQ(dlg.m_Text, "edited");
  EXPECT_EQ(dlg.m_Check, 0);
  EXPECT_TRUE(host->UnscriptedRuns().empty());
}

TEST_F(ScriptedHostTest, EscapeAndEndDialogResults) {
  CTestDlg dlg;
  host->SetScript(MAIN_TEMPLATE, [](CDialog& d, CScriptedHost& h) {
    h.TypeText(d, EDIT, "discarded");
    h.PressEscape(d);
  });
  EXPECT_EQ(dlg.DoModal(), IDCANCEL);
  EXPECT_EQ(dlg.m_Text, "initial");

  host->SetScript(MAIN_TEMPLATE, [](CDialog& d, CScriptedHost&) { d.EndDialog(7); });
  EXPECT_EQ(dlg.DoModal(), 7);
  EXPECT_EQ(dlg.ModalResult(), 7);

  // A script that leaves the dialog open: the run still ends, as a cancel.
  host->SetScript(MAIN_TEMPLATE, [](CDialog& d, CScriptedHost& h) { h.TypeText(d, EDIT, "left open"); });
  EXPECT_EQ(dlg.DoModal(), IDCANCEL);
  EXPECT_EQ(dlg.ModalResult(), IDCANCEL);
  EXPECT_EQ(dlg.m_Text, "initial");
  EXPECT_EQ(host->ModalRuns().size(), 3u);
}

TEST_F(ScriptedHostTest, ActionsAfterTheEndAreIgnored) {
  CTestDlg dlg;
  int clicks = 0;
  dlg.Route(EventKind::Click, OPEN_CHILD, [&](const Event&) { ++clicks; });
  host->SetScript(MAIN_TEMPLATE, [](CDialog& d, CScriptedHost& h) {
    h.PressEnter(d);
    h.Click(d, OPEN_CHILD);
    h.PressEscape(d);
  });
  EXPECT_EQ(dlg.DoModal(), IDOK);
  EXPECT_EQ(clicks, 0);
}

TEST_F(ScriptedHostTest, NestedModalRunFromAHandler) {
  CTestDlg parent;
  int childResult = 0;
  std::string childText;
  parent.Route(EventKind::Click, OPEN_CHILD, [&](const Event&) {
    CTestDlg child(CHILD_TEMPLATE, &parent);
    childResult = child.DoModal();
    childText = child.m_Text;
  });
  host->SetScript(CHILD_TEMPLATE, [](CDialog& d, CScriptedHost& h) {
    ASSERT_NE(d.GetParent(), nullptr);
    EXPECT_EQ(d.GetParent()->TemplateId(), MAIN_TEMPLATE);
    h.TypeText(d, EDIT, "from child");
    h.PressEnter(d);
  });
  host->SetScript(MAIN_TEMPLATE, [&](CDialog& d, CScriptedHost& h) {
    h.Click(d, OPEN_CHILD);
    // The parent is still running after its child ended.
    EXPECT_NE(d.View(), nullptr);
    d.EndDialog(5);
  });
  EXPECT_EQ(parent.DoModal(), 5);
  EXPECT_EQ(childResult, IDOK);
  EXPECT_EQ(childText, "from child");
  EXPECT_EQ(host->ModalRuns(), (std::vector<int>{MAIN_TEMPLATE, CHILD_TEMPLATE}));
}

TEST_F(ScriptedHostTest, DestroyComesOnceAfterTheRunBeforeDoModalReturns) {
  CTestDlg dlg;
  int destroys = 0, clicks = 0;
  bool returned = false;
  std::optional<int> resultSeen;
  dlg.Route(EventKind::Click, OPEN_CHILD, [&](const Event&) { ++clicks; });
  dlg.Route(EventKind::Destroy, 0, [&](const Event&) {
    ++destroys;
    EXPECT_FALSE(returned);
    resultSeen = dlg.ModalResult();
    // The window is still there, but it is going: nothing a person does reaches it.
    EXPECT_NE(dlg.View(), nullptr);
    host->Click(dlg, OPEN_CHILD);
  });
  host->SetScript(MAIN_TEMPLATE, [](CDialog& d, CScriptedHost&) { d.EndDialog(7); });
  EXPECT_EQ(dlg.DoModal(), 7);
  returned = true;
  EXPECT_EQ(destroys, 1);
  EXPECT_EQ(resultSeen, 7);
  EXPECT_EQ(clicks, 0);
  EXPECT_EQ(dlg.View(), nullptr);

  // Ended by its own initialisation, by a script that leaves it open, or without a script:
  // a window went away each time.
  struct CQuickDlg : CTestDlg {
    bool OnInitDialog() override {
      EndDialog(3);
      return true;
    }
  } quick;
  int quickDestroys = 0;
  quick.Route(EventKind::Destroy, 0, [&](const Event&) { ++quickDestroys; });
  EXPECT_EQ(quick.DoModal(), 3);
  returned = false;
  host->SetScript(MAIN_TEMPLATE, [](CDialog&, CScriptedHost&) {});
  EXPECT_EQ(dlg.DoModal(), IDCANCEL);
  host->ClearScript(MAIN_TEMPLATE);
  EXPECT_EQ(dlg.DoModal(), IDCANCEL);
  EXPECT_EQ(quickDestroys, 1);
  EXPECT_EQ(destroys, 3);
}

TEST_F(ScriptedHostTest, OpenAndCloseBringOneDestroy) {
  CTestDlg dlg;
  int destroys = 0;
  dlg.Route(EventKind::Destroy, 0, [&](const Event& e) {
    ++destroys;
    EXPECT_EQ(e.id, 0);
    // Closing again from the handler is no second window going away.
    host->Close(dlg);
  });
  host->Open(dlg);
  EXPECT_EQ(destroys, 0);
  host->Close(dlg);
  host->Close(dlg);
  EXPECT_EQ(destroys, 1);
  EXPECT_EQ(dlg.View(), nullptr);

  // A dialog destroyed while shown, or shown when the host is replaced, gets none.
  auto gone = std::make_unique<CTestDlg>();
  int goneDestroys = 0;
  gone->Route(EventKind::Destroy, 0, [&](const Event&) { ++goneDestroys; });
  host->Open(*gone);
  gone.reset();
  host->Open(dlg);
  host = &CScriptedHost::Install();
  EXPECT_EQ(goneDestroys, 0);
  EXPECT_EQ(destroys, 1);
}

TEST_F(ScriptedHostTest, ScriptMayReplaceItselfWhileRunning) {
  int firstRuns = 0, secondRuns = 0;
  host->SetScript(MAIN_TEMPLATE, [&](CDialog& d, CScriptedHost& h) {
    ++firstRuns;
    h.SetScript(MAIN_TEMPLATE, [&](CDialog& d2, CScriptedHost&) {
      ++secondRuns;
      d2.EndDialog(2);
    });
    d.EndDialog(1);
  });
  CTestDlg dlg;
  EXPECT_EQ(dlg.DoModal(), 1);
  EXPECT_EQ(dlg.DoModal(), 2);
  host->ClearScript(MAIN_TEMPLATE);
  EXPECT_EQ(dlg.DoModal(), IDCANCEL);
  EXPECT_EQ(firstRuns, 1);
  EXPECT_EQ(secondRuns, 1);
}

TEST_F(ScriptedHostTest, WindowRectangleWhileShown) {
  CTestDlg dlg;
  CRect seen;
  host->SetWindowOrigin(MAIN_TEMPLATE, 100, 50);
  host->SetScript(MAIN_TEMPLATE, [&](CDialog& d, CScriptedHost&) { seen = d.GetWindowRect(); });
  dlg.DoModal();
  // 300 x 195 client pixels, 3-pixel border, 23-pixel caption.
  EXPECT_EQ(seen, (CRect{100, 50, 406, 274}));
  EXPECT_EQ(dlg.GetWindowRect(), CRect{});

  host->SetWindowSize(MAIN_TEMPLATE, 640, 480);
  dlg.DoModal();
  EXPECT_EQ(seen, (CRect{100, 50, 740, 530}));
}

// ---- What a person does ----

TEST_F(ScriptedHostTest, ControlsReactAsOnScreen) {
  CTestDlg dlg;
  std::vector<std::string> log;
  dlg.Route(EventKind::Click, CHECK, [&](const Event&) {
    log.push_back("check=" + std::to_string(dlg.IsDlgButtonChecked(CHECK)));
  });
  dlg.Route(EventKind::SelChange, LIST, [&](const Event&) {
    log.push_back("sel=" + std::to_string(dlg.ListGetCurSel(LIST)));
  });
  dlg.Route(EventKind::DoubleClick, LIST, [&](const Event&) { log.push_back("dbl"); });
  dlg.Route(EventKind::KillFocus, EDIT, [&](const Event&) { log.push_back("left:" + dlg.GetDlgItemText(EDIT)); });
  dlg.Route(EventKind::Click, DISABLED_BUTTON, [&](const Event&) { log.push_back("locked"); });
  host->Open(dlg);
  dlg.ListAddString(LIST, "a");
  dlg.ListAddString(LIST, "b");

  host->Click(dlg, CHECK);
  host->Click(dlg, CHECK);
  host->SelectListLine(dlg, LIST, 1);
  host->SelectListLine(dlg, LIST, 2);  // no such line
  host->DoubleClick(dlg, LIST);
  host->TypeText(dlg, EDIT, "12.5");  // typing alone sends nothing
  host->LeaveControl(dlg, EDIT);
  host->Click(dlg, DISABLED_BUTTON);   // cannot be clicked
  host->TypeText(dlg, READ_ONLY_EDIT, "x");
  host->TypeText(dlg, HIDDEN_EDIT, "x");
  EXPECT_EQ(log, (std::vector<std::string>{"check=1", "check=0", "sel=1", "dbl", "left:12.5"}));
  EXPECT_EQ(dlg.GetDlgItemText(READ_ONLY_EDIT), "fixed");
  EXPECT_EQ(dlg.GetDlgItemText(HIDDEN_EDIT), "secret");

  dlg.EnableDlgItem(DISABLED_BUTTON, true);
  host->Click(dlg, DISABLED_BUTTON);
  EXPECT_EQ(log.back(), "locked");
  host->Close(dlg);
  EXPECT_EQ(dlg.View(), nullptr);
}

TEST_F(ScriptedHostTest, DraggingASliderEndsWithCode8) {
  CTestDlg dlg;
  std::vector<Event> events;
  std::vector<int> posSeen;
  dlg.Route(EventKind::VScroll, 0, [&](const Event& e) {
    events.push_back(e);
    posSeen.push_back(dlg.TrackGetPos(e.id));
  });
  host->Open(dlg);
  dlg.TrackSetRange(SLIDER, 0, 255);
  dlg.TrackSetPos(SLIDER, 10);

  host->DragTrackBar(dlg, SLIDER, 200);
  ASSERT_GE(events.size(), 3u);
  EXPECT_EQ(events.back().code, SB_ENDSCROLL);
  EXPECT_EQ(events[events.size() - 2].code, SB_THUMBPOSITION);
  int previous = 10;
  for (size_t i = 0; i + 2 < events.size(); ++i) {
    EXPECT_EQ(events[i].code, SB_THUMBTRACK);
    EXPECT_EQ(events[i].id, SLIDER);
    EXPECT_GT(events[i].pos, previous);  // the thumb moves steadily towards the target
    EXPECT_EQ(posSeen[i], events[i].pos);  // handlers read the position the event names
    previous = events[i].pos;
  }
  EXPECT_EQ(previous, 200);
  EXPECT_EQ(dlg.TrackGetPos(SLIDER), 200);

  // Past the end of the range the thumb stops at the end; code 8 comes once.
  events.clear();
  host->DragTrackBar(dlg, SLIDER, 900);
  EXPECT_EQ(dlg.TrackGetPos(SLIDER), 255);
  EXPECT_EQ(std::count_if(events.begin(), events.end(), [](const Event& e) { return e.code == SB_ENDSCROLL; }), 1);
  EXPECT_EQ(events.back().pos, 255);

  // A key step: one code and position, exactly as given.
  events.clear();
  host->ScrollTrackBar(dlg, SLIDER, SB_LINEUP, 254);
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].code, SB_LINEUP);
  EXPECT_EQ(events[0].pos, 254);
  host->Close(dlg);
}

TEST_F(ScriptedHostTest, EnterGivesTheDefaultCommand) {
  CTestDlg dlg(APPLY_TEMPLATE);
  int applies = 0;
  dlg.Route(EventKind::Click, APPLY, [&](const Event&) { ++applies; });
  host->Open(dlg);
  host->PressEnter(dlg);
  EXPECT_EQ(applies, 1);
  EXPECT_FALSE(dlg.ModalResult().has_value());
  dlg.EnableDlgItem(APPLY, false);
  host->PressEnter(dlg);
  EXPECT_EQ(applies, 1);
  EXPECT_FALSE(dlg.ModalResult().has_value());
  dlg.SetDefID(IDOK);
  host->PressEnter(dlg);
  EXPECT_EQ(dlg.ModalResult(), IDOK);
  host->Close(dlg);
}

TEST_F(ScriptedHostTest, SystemCommandsTheDialogLeavesToTheFramework) {
  CTestDlg dlg;
  std::vector<unsigned> own;
  // As the main dialog does: its own commands, the rest to the framework.
  dlg.Route(EventKind::SysCommand, 0, [&](const Event& e) {
    const unsigned command = static_cast<unsigned>(e.id);
    if ((command & 0xFFF0u) == 0x0100u) {
      own.push_back(command);
    } else {
      dlg.DefaultSysCommand(command);
    }
  });
  bool minimised = false, restored = true;
  host->SetScript(MAIN_TEMPLATE, [&](CDialog& d, CScriptedHost& h) {
    h.SystemCommand(d, 0x0104);
    h.SystemCommand(d, SC_MINIMIZE);
    minimised = h.Minimized(d);
    h.SystemCommand(d, SC_RESTORE | 0x1);
    restored = !h.Minimized(d);
    h.SystemCommand(d, SC_CLOSE);
    h.SystemCommand(d, 0x0105);  // after the end: ignored
  });
  EXPECT_EQ(dlg.DoModal(), IDCANCEL);
  EXPECT_TRUE(minimised);
  EXPECT_TRUE(restored);
  EXPECT_EQ(own, std::vector<unsigned>{0x0104});
  EXPECT_FALSE(host->Minimized(dlg));  // no window, nothing minimised
}

TEST_F(ScriptedHostTest, SystemCommandsAndHelp) {
  CTestDlg dlg;
  std::vector<int> commands;
  dlg.Route(EventKind::SysCommand, 0, [&](const Event& e) { commands.push_back(e.id); });
  dlg.Route(EventKind::HelpInfo, 0, [&](const Event& e) {
    if (e.code == 1) dlg.WinHelp(HELP_CONTEXTPOPUP, static_cast<unsigned>(e.id));
  });
  host->SetScript(MAIN_TEMPLATE, [](CDialog& d, CScriptedHost& h) {
    d.AppendSystemMenuSeparator();
    d.AppendSystemMenuItem(104, "&About SORREL...");
    h.SystemCommand(d, 104);
    h.SystemCommand(d, 105);
    h.RequestHelp(d, 1020);
    d.WinHelp(HELP_QUIT);
  });
  dlg.DoModal();
  EXPECT_EQ(commands, (std::vector<int>{104, 105}));
  ASSERT_EQ(host->HelpCalls().size(), 2u);
  EXPECT_EQ(host->HelpCalls()[0].command, HELP_CONTEXTPOPUP);
  EXPECT_EQ(host->HelpCalls()[0].data, 1020u);
  EXPECT_EQ(host->HelpCalls()[0].ownerTemplateId, MAIN_TEMPLATE);
  EXPECT_EQ(host->HelpCalls()[1].command, HELP_QUIT);
}

// ---- Message boxes and file dialogs ----

TEST_F(ScriptedHostTest, MessageBoxesAreRecordedAndAnswered) {
  CTestDlg dlg;
  EXPECT_EQ(MessageBox(&dlg, "Board power failure", "ERROR", MessageIcon::Error), IDOK);
  EXPECT_EQ(AppMessageBox("Error allocating memory for FrameArray", MessageIcon::Stop), IDOK);
  SetApplicationTitle("Other Title");
  AppMessageBox("second");
  ASSERT_EQ(host->Messages().size(), 3u);
  const auto& first = host->Messages()[0];
  EXPECT_EQ(first.text, "Board power failure");
  EXPECT_EQ(first.caption, "ERROR");
  EXPECT_EQ(first.icon, MessageIcon::Error);
  EXPECT_EQ(first.ownerTemplateId, MAIN_TEMPLATE);
  EXPECT_EQ(host->Messages()[1].caption, "Sorrel");
  EXPECT_EQ(host->Messages()[1].icon, MessageIcon::Stop);
  EXPECT_EQ(host->Messages()[1].ownerTemplateId, 0);
  EXPECT_EQ(host->Messages()[2].caption, "Other Title");

  host->SetMessageBoxHandler([](const CScriptedHost::MessageRecord& m) { return m.caption == "ASK" ? 6 : IDOK; });
  EXPECT_EQ(MessageBox(nullptr, "q", "ASK"), 6);
  host->ClearMessages();
  EXPECT_TRUE(host->Messages().empty());
}

TEST_F(ScriptedHostTest, ATranscriptTakesMessageBoxesInsteadOfTheHost) {
  char folder[] = "/tmp/sorrel-transcript-XXXXXX";
  ASSERT_NE(mkdtemp(folder), nullptr);
  const std::string file = std::string(folder) + "/messages.txt";
  setenv("SORREL_UI_TRANSCRIPT", file.c_str(), 1);
  CTestDlg dlg;
  EXPECT_EQ(MessageBox(&dlg, "Could not power the DAC board.\n Is DAC power cable connected?\n", "ERROR"), IDOK);
  EXPECT_EQ(AppMessageBox("Could not read SIF"), IDOK);
  unsetenv("SORREL_UI_TRANSCRIPT");
  EXPECT_TRUE(host->Messages().empty()) << "the host never saw them";
  std::ifstream in(file);
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(text,
            "ERROR: Could not power the DAC board.\\n Is DAC power cable connected?\\n\n"
            "Sorrel: Could not read SIF\n");
  MessageBox(&dlg, "after", "ERROR");
  EXPECT_EQ(host->Messages().size(), 1u) << "without the variable the host shows them again";
  std::remove(file.c_str());
  rmdir(folder);
}

// A path of n characters, folders of 200 characters deep.
std::string PathOfLength(size_t n) {
  std::string path;
  while (path.size() < n) path += (path.size() % 201 == 0) ? '/' : 'd';
  path.back() = 'f';
  return path;
}

TEST_F(ScriptedHostTest, FileDialogsAnswerFromTheQueue) {
  CTestDlg owner;
  FileDialogRequest request;
  request.title = "Open Sequence";
  request.filters = {{"Sequence files", "*.sif"}};
  request.bufferSize = 260;
  const std::string longest = PathOfLength(PATH_MAX - 1);  // fits PATH_MAX with its NUL
  const std::string tooLong = PathOfLength(PATH_MAX);
  host->QueueFileAnswer("/a/b.sif");
  host->QueueFileAnswer(std::nullopt);  // operator cancels
  host->QueueFileAnswer(longest);       // longer than the 260 asked for: still taken
  EXPECT_EQ(FileDialog(&owner, request), "/a/b.sif");
  EXPECT_EQ(FileDialog(&owner, request), std::nullopt);
  EXPECT_EQ(FileDialog(&owner, request), longest);
  EXPECT_TRUE(host->Messages().empty());

  // Too long for any buffer: the operator is told, and it counts as a cancel.
  host->QueueFileAnswer(tooLong);
  EXPECT_EQ(FileDialog(&owner, request), std::nullopt);
  ASSERT_EQ(host->Messages().size(), 1u);
  EXPECT_EQ(host->Messages()[0].text, "Path too long: " + tooLong);
  EXPECT_EQ(host->Messages()[0].caption, "FILE ERROR");
  EXPECT_EQ(host->Messages()[0].ownerTemplateId, MAIN_TEMPLATE);

  // A caller that asks for more than PATH_MAX gets it.
  request.bufferSize = PATH_MAX + 1;
  host->QueueFileAnswer(tooLong);
  EXPECT_EQ(FileDialog(&owner, request), tooLong);
  EXPECT_EQ(FileDialog(&owner, request), std::nullopt);  // queue empty
  EXPECT_EQ(host->Messages().size(), 1u);
  ASSERT_EQ(host->FileRequests().size(), 6u);
  EXPECT_EQ(host->FileRequests()[0].title, "Open Sequence");
  EXPECT_EQ(host->FileRequests()[0].filters[0].second, "*.sif");
}

// ---- Timers on the virtual clock ----

class TimerTest : public ScriptedHostTest {
 protected:
  void SetUp() override {
    dlg = std::make_unique<CTestDlg>();
    dlg->Route(EventKind::Timer, 0, [this](const Event& e) {
      fired.emplace_back(e.id, host->Now());
      if (onFire) onFire(e.id);
    });
    host->Open(*dlg);
  }
  void TearDown() override {
    host->Close(*dlg);
    ScriptedHostTest::TearDown();
  }
  using Firing = std::pair<int, uint64_t>;
  std::unique_ptr<CTestDlg> dlg;
  std::vector<Firing> fired;
  std::function<void(int)> onFire;
};

TEST_F(TimerTest, FiresEveryPeriodUntilKilled) {
  dlg->SetTimer(1, 100);
  EXPECT_TRUE(host->TimerActive(*dlg, 1));
  host->AdvanceTime(99);
  EXPECT_TRUE(fired.empty());
  host->AdvanceTime(251);
  EXPECT_EQ(fired, (std::vector<Firing>{{1, 100}, {1, 200}, {1, 300}}));
  EXPECT_EQ(host->Now(), 350u);
  dlg->KillTimer(1);
  EXPECT_FALSE(host->TimerActive(*dlg, 1));
  host->AdvanceTime(1000);
  EXPECT_EQ(fired.size(), 3u);
}

TEST_F(TimerTest, SettingAgainRestartsFromNow) {
  dlg->SetTimer(1, 100);
  host->AdvanceTime(50);
  dlg->SetTimer(1, 100);
  host->AdvanceTime(200);
  EXPECT_EQ(fired, (std::vector<Firing>{{1, 150}, {1, 250}}));
}

// Timers due at the same moment fire in the order they were last armed.
TEST_F(TimerTest, TwoTimersInterleaveInTimeOrder) {
  dlg->SetTimer(1, 30);
  dlg->SetTimer(2, 50);
  host->AdvanceTime(150);
  EXPECT_EQ(fired, (std::vector<Firing>{{1, 30}, {2, 50}, {1, 60}, {1, 90}, {2, 100}, {1, 120}, {2, 150}, {1, 150}}));
}

TEST_F(TimerTest, HandlerMayKillOrResetTimers) {
  dlg->SetTimer(1, 100);
  dlg->SetTimer(2, 100);
  onFire = [this](int id) {
    if (id == 1) dlg->KillTimer(1);                     // its own
    if (id == 2 && host->Now() == 100) dlg->KillTimer(3);  // another, before it fires
    if (id == 2 && host->Now() == 200) dlg->SetTimer(2, 1000);
  };
  dlg->SetTimer(3, 150);
  host->AdvanceTime(1500);
  EXPECT_EQ(fired, (std::vector<Firing>{{1, 100}, {2, 100}, {2, 200}, {2, 1200}}));
}

TEST_F(TimerTest, HandlerMayEndTheDialogOrOpenAMessageBox) {
  CTestDlg modal;
  int ticks = 0;
  modal.Route(EventKind::Timer, 1, [&](const Event&) {
    ++ticks;
    AppMessageBox("tick");
    if (ticks == 2) modal.EndDialog(IDOK);
  });
  host->SetScript(MAIN_TEMPLATE, [&](CDialog& d, CScriptedHost& h) {
    d.SetTimer(1, 100);
    h.AdvanceTime(1000);
  });
  dlg->SetTimer(9, 400);
  EXPECT_EQ(modal.DoModal(), IDOK);
  EXPECT_EQ(ticks, 2);
  EXPECT_EQ(host->Messages().size(), 2u);
  // The open dialog's timer kept running while the modal one waited.
  EXPECT_EQ(fired, (std::vector<Firing>{{9, 400}, {9, 800}}));
  EXPECT_EQ(host->Now(), 1000u);
}

TEST_F(TimerTest, DestroyedDialogLeavesNoTimerBehind) {
  auto other = std::make_unique<CTestDlg>();
  int otherTicks = 0;
  other->Route(EventKind::Timer, 0, [&](const Event&) { ++otherTicks; });
  host->Open(*other);
  other->SetTimer(1, 10);
  host->AdvanceTime(10);
  EXPECT_EQ(otherTicks, 1);
  other.reset();
  host->AdvanceTime(100);
  EXPECT_EQ(otherTicks, 1);
}

// ---- Paints ----

class PaintTest : public ScriptedHostTest {
 protected:
  static constexpr COLORREF INK = RGB(10, 20, 30);
  void SetUp() override {
    dlg.Route(EventKind::Paint, 0, [this](const Event&) {
      ++paints;
      if (!draw) return;
      CDC dc = dlg.GetDC();
      for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x) dc.SetPixel(40 + x, 20 + y, INK);
      dc.SetPixel(-1, 0, INK);     // outside the client area: ignored
      dc.SetPixel(300, 10, INK);
    });
  }
  CTestDlg dlg;
  int paints = 0;
  bool draw = true;
};

TEST_F(PaintTest, PixelsLandAtClientCoordinates) {
  host->Open(dlg);
  EXPECT_EQ(paints, 1);  // a window is painted when it shows
  EXPECT_EQ(host->Pixel(dlg, 40, 20), INK);
  EXPECT_EQ(host->Pixel(dlg, 47, 27), INK);
  EXPECT_EQ(host->Pixel(dlg, 39, 20), COLOR_DIALOG_BACKGROUND);
  EXPECT_EQ(host->Pixel(dlg, 48, 27), COLOR_DIALOG_BACKGROUND);
  EXPECT_EQ(host->Pixel(dlg, 40, 28), COLOR_DIALOG_BACKGROUND);
  EXPECT_EQ(host->Pixel(dlg, 299, 194), COLOR_DIALOG_BACKGROUND);
  EXPECT_EQ(host->Pixel(dlg, 300, 10), CLR_INVALID);
  EXPECT_EQ(dlg.GetDC().GetPixel(47, 27), INK);
  host->Close(dlg);
  EXPECT_EQ(host->Pixel(dlg, 40, 20), CLR_INVALID);
}

TEST_F(PaintTest, InvalidationErasesOnlyItsRectangle) {
  host->Open(dlg);
  draw = false;
  dlg.InvalidateRect(CRect{44, 20, 100, 24}, true);
  dlg.InvalidateRect(CRect{40, 26, 42, 28}, false);  // repainted, not erased
  EXPECT_EQ(paints, 1);  // nothing happens until the host delivers
  host->DeliverPaints();
  EXPECT_EQ(paints, 2);  // one paint for both rectangles
  EXPECT_EQ(host->Pixel(dlg, 44, 20), COLOR_DIALOG_BACKGROUND);
  EXPECT_EQ(host->Pixel(dlg, 47, 23), COLOR_DIALOG_BACKGROUND);
  EXPECT_EQ(host->Pixel(dlg, 43, 20), INK);
  EXPECT_EQ(host->Pixel(dlg, 44, 24), INK);
  EXPECT_EQ(host->Pixel(dlg, 40, 26), INK);
  host->DeliverPaints();
  EXPECT_EQ(paints, 2);  // nothing pending, no paint
  host->Close(dlg);
}

TEST_F(PaintTest, PaintsFollowActionsAndTimers) {
  dlg.Route(EventKind::Click, OPEN_CHILD, [this](const Event&) { dlg.Invalidate(); });
  dlg.Route(EventKind::Timer, 1, [this](const Event&) { dlg.InvalidateRect({0, 0, 1, 1}); });
  host->Open(dlg);
  host->Click(dlg, OPEN_CHILD);
  EXPECT_EQ(paints, 2);
  dlg.SetTimer(1, 100);
  host->AdvanceTime(300);
  EXPECT_EQ(paints, 5);
  dlg.InvalidateRect(CRect{-50, -50, -1, -1});  // wholly outside: nothing to paint
  host->DeliverPaints();
  EXPECT_EQ(paints, 5);
  host->Close(dlg);
}

// ---- Termination signals ----

TEST_F(ScriptedHostTest, SignalsReachTheHandlerOnlyWhenDelivered) {
  std::vector<int> handled;
  WatchTerminationSignals([&](int signal) { handled.push_back(signal); });
  std::raise(SIGTERM);
  // Nothing of the program ran inside the signal handler.
  EXPECT_TRUE(handled.empty());
  EXPECT_EQ(PendingTerminationSignal(), SIGTERM);
  EXPECT_TRUE(host->DeliverSignals());
  EXPECT_EQ(handled, std::vector<int>{SIGTERM});
  EXPECT_EQ(PendingTerminationSignal(), 0);
  EXPECT_FALSE(host->DeliverSignals());
  EXPECT_EQ(handled.size(), 1u);
}

TEST_F(ScriptedHostTest, SignalsArriveBeforeTheNextActionOrTimer) {
  CTestDlg dlg;
  std::vector<std::string> log;
  dlg.Route(EventKind::Click, OPEN_CHILD, [&](const Event&) { log.push_back("click"); });
  dlg.Route(EventKind::Timer, 1, [&](const Event&) { log.push_back("timer"); });
  WatchTerminationSignals([&](int signal) {
    log.push_back("signal " + std::to_string(signal));
    if (signal == SIGINT) dlg.EndDialog(42);
  });
  host->SetScript(MAIN_TEMPLATE, [&](CDialog& d, CScriptedHost& h) {
    d.SetTimer(1, 100);
    h.AdvanceTime(100);
    std::raise(SIGHUP);
    h.AdvanceTime(100);  // the signal first, then the timer
    std::raise(SIGINT);
    h.Click(d, OPEN_CHILD);  // the handler ends the dialog before the click lands
  });
  EXPECT_EQ(dlg.DoModal(), 42);
  EXPECT_EQ(log, (std::vector<std::string>{"timer", "signal " + std::to_string(SIGHUP), "timer",
                                           "signal " + std::to_string(SIGINT)}));
}

// ---- Process exit ----

TEST_F(ScriptedHostTest, ExitProcessThrowsTheStatusOutOfAModalRun) {
  CTestDlg dlg;
  // A process that ends takes its windows without destroying them.
  int destroys = 0;
  dlg.Route(EventKind::Destroy, 0, [&](const Event&) { ++destroys; });
  host->SetScript(MAIN_TEMPLATE, [](CDialog&, CScriptedHost&) {
    AppMessageBox("unrecognised hardware");
    ExitProcess(0);
  });
  try {
    dlg.DoModal();
    ADD_FAILURE() << "ExitProcess returned";
  } catch (const CProcessExit& e) {
    EXPECT_EQ(e.status, 0);
  }
  EXPECT_EQ(host->ExitStatus(), 0);
  EXPECT_EQ(host->Messages().size(), 1u);
  EXPECT_EQ(dlg.View(), nullptr);  // the view went with the run
  EXPECT_EQ(destroys, 0);
  // The host is still usable afterwards.
  host->ClearScript(MAIN_TEMPLATE);
  EXPECT_EQ(dlg.DoModal(), IDCANCEL);
}

TEST_F(ScriptedHostTest, ExitStatusIsKept) {
  EXPECT_FALSE(host->ExitStatus().has_value());
  EXPECT_THROW(ExitProcess(3), CProcessExit);
  EXPECT_EQ(host->ExitStatus(), 3);
}

TEST_F(ScriptedHostTest, ReplacingTheHostLetsGoOfOpenDialogs) {
  CTestDlg dlg;
  host->Open(dlg);
  ASSERT_NE(dlg.View(), nullptr);
  host = &CScriptedHost::Install();
  EXPECT_EQ(dlg.View(), nullptr);
}

}  // namespace
