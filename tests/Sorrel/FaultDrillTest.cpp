// Fault drills: the whole program under the scripted host on the simulated card, each fault
// brought about as a lab meets it, with what the operator sees (message boxes as
// "CAPTION: text", in order; \n stands for a line break in the text) and how it ends.
//
// | drill | brought about by | what the operator sees, in order | outcome |
// |---|---|---|---|
// | no card | SORREL_SIM=none | "ERROR: Could not locate PCI board, is the PCI board plugged into computer?", "WARNING: At least one WriteFrameBuffer call failed"; START: "ERROR: Hardware Error - Can Not Sequence"; Board Setup: "ERROR: Cannot open board setup dialog - hardware error" | hardware-error board; the window stays at "START"; the close box ends it as usual, settings saved |
// | card held by another running Sorrel | a second Sorrel (the windowed program, else the probe) started while this one runs a looping run at 1000 frames a second | the second: "ERROR: There are no available 512 PCI boards to open, is the software already running?", "WARNING: At least one WriteFrameBuffer call failed"; the first: nothing | the second is a hardware-error board and ends with status 0 on SIGTERM; the first's run goes on in order (one step per interrupt taken; no interrupt lost once stopped), its register log only grows, its frames are untouched |
// | cards of another model only | SORREL_SIM=other,other:id=0x99 | "ERROR: The hardware found was not 256 or 512 hardware" | undefined board; exit with status 0, nothing saved |
// | 3.3 V supply low | SORREL_SIM=kite:3v3-low | "ERROR: 3.3 Volt Status Low", "ERROR: INIT Bits 0 0 0 0", "ERROR: SDRAM Bits 19 0 0 0" | card closed (control register 0, claim given back); exit with status 0, nothing saved |
// | DAC fault | SORREL_SIM=kite:dac-fault | "ERROR: Could not power the DAC board.\n Is DAC power cable connected?\n" | card closed; exit with status 0, nothing saved |
// | SLM power bit not following | SORREL_SIM=kite:power-stuck, then ON | "ERROR: SLM Power not responding... Is DAC power plugged in?" | the window shows the power "OFF" as the board reports it; a run still runs (dark); no hang |
// | SLM power bit stuck on at shutdown | power-stuck switched on after ON, then the close box | "ERROR: SLM Power not responding... Is DAC power plugged in?" | the shutdown goes on: gains zero, settings saved, card closed |
// | busy bits stuck during start-up download | SORREL_SIM=kite:busy-stuck, 200 entries | "LOADING   200" ... "LOADING   1" on the button, then "WARNING: At least one WriteFrameBuffer call failed" | a failed operation the program survives: about a second for the first frame, moments for each other (before: a second each, over three minutes for 200); "START" |
// | busy bits stuck during an edit | busy-stuck switched on, then the entry editor's OK | "WARNING: At least one WriteFrameBuffer call failed" (before: nothing) | the entry holds the edit, the board keeps its old frame and the run passes over the position; the next edit once the board answers takes |
// | no interrupts during a run | no-irq switched on mid-run | nothing | the board shows one frame for every period, the list stays on its entry, "STOP" stops it; no hang |
// | no interrupts from the start | SORREL_SIM=kite:no-irq, START | nothing | the run stays on entry 0 (progress 33 of a 3-entry run) until STOP |
// | no interrupts in download mode | no-irq, the board put in download mode 1 beneath the program, a list selection | nothing | the selection gives up after about a second (the wait's limit), the board is stopped again; no hang |
// | pattern gone, LUT unreadable between load and use | ramp.bmp deleted, invert.lut made unreadable, then the next download (phase optimisation on) | nothing; the list lines show "!" | a failed operation the program survives: every frame written, the pattern as 48s, the table as identity |
// | compensation file gone or unreadable when chosen | Browse... answered with a missing or unreadable file | nothing | the compensation, its name box and the frames stay as they were (before: the compensation silently became 48s and the name changed) |
// | sequence file gone or unreadable when opened | Browse... answered with a missing file or a pipe | nothing | nothing changes |
// | sequence folder gone before the save at close | Sequence_Files removed, close box, YES | "Save changes to demo.sif?", then "FILE ERROR: Can't create File <path>" | a failed operation the program survives: the window stays with the changes, the lasers at zero gain and the SLM off as the close left them; Save... elsewhere, then the close ends it |
// | settings folder missing | SORREL_REGISTRY names a folder not there | "ERROR: Error reading Board Type from registry, defaulted to Kite_SLM", "Sorrel: Could not read SIF" | starts from defaults; the save makes the folder (mode 0775) |
// | settings folder cannot be made | SORREL_REGISTRY below a file | nothing; standard error at the close: "Settings not saved to <path>/sorrel.reg: its folder cannot be made: Not a directory" | ends as always |
// | settings folder read-only | a read-only mount of the folder (root), else mode 0555 | nothing; standard error at the close: "Settings not saved to <path>/sorrel.reg: Read-only file system" (Permission denied without root) | the stored settings stay byte for byte; ends as always |
//
// The windowed program meets the same faults in tests/Sorrel/qt/fault_drills.sh.

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "ProgramFixture.h"
#include "ShownOrder.h"

extern char** environ;

using namespace progtest;
using Clock = std::chrono::steady_clock;

namespace {

constexpr uint32_t CONTROL_RUN = 1u << 3;
constexpr uint32_t CONTROL_SLM_POWER = 1u << 10;
const std::string WRITE_FAILED = "WARNING: At least one WriteFrameBuffer call failed";

std::vector<std::string> FileLines(const std::string& path) {
  std::vector<std::string> lines;
  std::ifstream in(path);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// A second Sorrel in a process of its own, in the same working folder and environment as
// this one's program: the windowed program where it is built, else the probe. Its message
// boxes go to a transcript.
class CSecondProgram {
 public:
  explicit CSecondProgram(std::string transcript) : m_Transcript(std::move(transcript)) {
    std::vector<std::string> env;
    for (char** e = environ; *e != nullptr; ++e) {
      if (!std::string_view(*e).starts_with("SORREL_UI_TRANSCRIPT=")) env.emplace_back(*e);
    }
    env.push_back("SORREL_UI_TRANSCRIPT=" + m_Transcript);
    env.push_back("QT_QPA_PLATFORM=offscreen");
    std::vector<char*> envp;
    for (std::string& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    char program[] = SECOND_PROGRAM;
    char* argv[] = {program, nullptr};
    m_Started = posix_spawn(&m_Pid, program, nullptr, nullptr, argv, envp.data()) == 0;
  }
  CSecondProgram(const CSecondProgram&) = delete;
  CSecondProgram& operator=(const CSecondProgram&) = delete;
  ~CSecondProgram() {
    if (m_Started && !Ended()) {
      kill(m_Pid, SIGKILL);
      waitpid(m_Pid, nullptr, 0);
    }
  }
  bool Started() const { return m_Started; }
  std::vector<std::string> Lines() const { return FileLines(m_Transcript); }
  void Terminate() { kill(m_Pid, SIGTERM); }
  // The exit status once it has ended (128 + signal when a signal ended it).
  std::optional<int> Ended() {
    int status = 0;
    if (!m_Status && waitpid(m_Pid, &status, WNOHANG) == m_Pid) {
      m_Status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    return m_Status;
  }

 private:
  std::string m_Transcript;
  pid_t m_Pid = 0;
  bool m_Started = false;
  std::optional<int> m_Status;
};

class FaultDrill : public ProgramTest {
 protected:
  // Ticks the program's run timer in step with real time until done() or the limit.
  template <typename Done>
  bool TickUntil(Done done, std::chrono::seconds limit = std::chrono::seconds(30)) {
    const Clock::time_point end = Clock::now() + limit;
    while (!done()) {
      if (Clock::now() > end) return false;
      Tick(100);
    }
    return true;
  }
  std::vector<std::string> Captions() const { return m_Host->TextHistory(IDD_SORREL_DIALOG, IDC_START_STOP); }
  std::vector<std::string> NewCaptions(size_t from) const {
    const auto all = Captions();
    return {all.begin() + static_cast<long>(std::min(from, all.size())), all.end()};
  }
  std::string Stored() const { return ReadText(StoreFile()); }
  bool Locked() const { return !m_Dlg->IsDlgItemEnabled(IDC_BROWSE_SEQUENCE); }
  // The frames the trace holds, by name.
  std::map<std::string, std::string> TraceFrames() const {
    std::map<std::string, std::string> frames;
    for (const auto& entry : std::filesystem::directory_iterator(m_Trace)) {
      if (entry.path().filename() != "registers.log") frames[entry.path().filename()] = ReadText(entry.path());
    }
    return frames;
  }
};

const std::vector<std::string> START_UP_CAPTIONS = {"Initializing", "READ SEQ", "LOADING   3", "LOADING   2",
                                                    "LOADING   1", "START", "SETTING DISPLAY", "START"};

// ---- the card: none, taken, of another model ----

TEST_F(FaultDrill, NoCardLeavesAHardwareErrorBoardThatRefusesToRunOrSetUp) {
  StandardWork();
  Bus("none");
  ASSERT_EQ(Start(), std::nullopt);
  EXPECT_EQ(MessageLines(), (std::vector<std::string>{
                                "ERROR: Could not locate PCI board, is the PCI board plugged into computer?", WRITE_FAILED}));
  EXPECT_EQ(Captions(), START_UP_CAPTIONS);
  EXPECT_EQ(Dlg().GetDlgItemText(IDC_BOARD_TYPE), "Kite_SLM");
  m_Host->ClearMessages();

  m_Host->Click(Dlg(), IDC_START_STOP);
  EXPECT_EQ(MessageLines(), std::vector<std::string>{"ERROR: Hardware Error - Can Not Sequence"});
  EXPECT_EQ(Dlg().GetDlgItemText(IDC_START_STOP), "START");
  EXPECT_FALSE(m_Host->TimerActive(Dlg(), 1));
  EXPECT_FALSE(Locked());
  m_Host->Click(Dlg(), IDC_BOARD_SETUP);
  m_Host->Click(Dlg(), IDC_POWER_ON);
  EXPECT_EQ(MessageLines(), (std::vector<std::string>{"ERROR: Hardware Error - Can Not Sequence",
                                                      "ERROR: Cannot open board setup dialog - hardware error"}));
  EXPECT_EQ(Dlg().GetDlgItemText(IDC_POWER_STATE), "OFF");
  Close();
  EXPECT_EQ(App().m_pBoard, nullptr);
  EXPECT_EQ(StoredValue("BoardType"), "Kite_SLM") << "an ordinary shutdown, settings saved";
}

TEST_F(FaultDrill, ASecondSorrelFindsTheCardTakenAndLeavesTheFirstRunAlone) {
  StandardWork({{"FrameRate", "1000"}});
  Bus("kite", true);
  ASSERT_EQ(Start(), std::nullopt);
  m_Host->Click(Dlg(), IDC_START_STOP);  // Loop is ticked: the run goes on until STOP
  ASSERT_TRUE(sim::testing::RecordShownFrames(simtest::SLOT0, 1 << 16));
  const sim::InterruptCounts before = sim::testing::Counts(simtest::SLOT0);
  Tick(100);
  const std::string logBefore = ReadText(m_Trace + "/registers.log");
  const auto framesBefore = TraceFrames();

  CSecondProgram second(Work("second.txt"));
  ASSERT_TRUE(second.Started());
  // The first's timer goes on while the second starts, says what it found and stays open.
  ASSERT_TRUE(TickUntil([&] { return second.Lines().size() >= 2 || second.Ended(); }));
  TickUntil([] { return false; }, std::chrono::seconds(2));
  second.Terminate();
  ASSERT_TRUE(TickUntil([&] { return second.Ended().has_value(); }));
  EXPECT_EQ(second.Ended(), 0) << "the second ends as any Sorrel ends by SIGTERM";
  EXPECT_EQ(second.Lines(),
            (std::vector<std::string>{
                "ERROR: There are no available 512 PCI boards to open, is the software already running?", WRITE_FAILED}));

  // The first's run went on as if nothing had happened.
  Tick(100);
  EXPECT_EQ(Dlg().GetDlgItemText(IDC_START_STOP), "STOP");
  EXPECT_TRUE(m_Host->TimerActive(Dlg(), 1));
  EXPECT_TRUE(m_Host->Messages().empty());
  // Its trace only grew: nothing truncated or rewritten, no frame touched.
  const std::string logAfter = ReadText(m_Trace + "/registers.log");
  EXPECT_GT(logAfter.size(), logBefore.size());
  EXPECT_TRUE(logAfter.compare(0, logBefore.size(), logBefore) == 0);
  EXPECT_EQ(TraceFrames(), framesBefore);

  m_Host->Click(Dlg(), IDC_START_STOP);
  Tick();
  EXPECT_EQ(Dlg().GetDlgItemText(IDC_START_STOP), "START");
  const sim::InterruptCounts after = sim::testing::CountsAtRest(simtest::SLOT0);
  ASSERT_TRUE(after.atRest);
  std::vector<sim::ShownFrame> shown;
  EXPECT_EQ(sim::testing::TakeShownFrames(simtest::SLOT0, shown), 0u);
  CShownOrder order({0, 1, 2});
  for (const auto& s : shown) order.Add(s);
  EXPECT_GT(order.Periods(), 2000u) << "at least two seconds at a thousand frames a second";
  EXPECT_EQ(order.Strays(), 0u);
  EXPECT_EQ(after.raised - after.delivered - after.merged, 0u) << "no interrupt lost";
  // In order: a frame shown twice or passed over where the host ran the interrupt thread
  // late still leaves one step per interrupt taken.
  EXPECT_NEAR(static_cast<double>(order.Advances()), static_cast<double>(after.delivered - before.delivered), 2.0)
      << "one step per interrupt taken";
  std::printf("first run while the second came and went: %llu periods, %llu repeats, %llu skips, %llu merged\n",
              static_cast<unsigned long long>(order.Periods()), static_cast<unsigned long long>(order.Repeats()),
              static_cast<unsigned long long>(order.Skips()),
              static_cast<unsigned long long>(after.merged - before.merged));
  Close();
  EXPECT_EQ(App().m_pBoard, nullptr);
}

TEST_F(FaultDrill, CardsOfAnotherModelOnlyEndTheProgramWithStatusZeroSavingNothing) {
  StandardWork();
  Bus("other,other:id=0x99");
  const std::string stored = Stored();
  EXPECT_EQ(Start(), 0);
  EXPECT_EQ(MessageLines(), std::vector<std::string>{"ERROR: The hardware found was not 256 or 512 hardware"});
  EXPECT_EQ(Captions(), std::vector<std::string>{"Initializing"});
  EXPECT_EQ(Stored(), stored);
}

// ---- power-up ----

TEST_F(FaultDrill, ALowSupplyShowsItsThreeMessagesClosesTheCardAndEndsWithStatusZero) {
  StandardWork();
  Bus("kite:3v3-low");
  const std::string stored = Stored();
  EXPECT_EQ(Start(), 0);
  EXPECT_EQ(MessageLines(), (std::vector<std::string>{"ERROR: 3.3 Volt Status Low", "ERROR: INIT Bits 0 0 0 0",
                                                      "ERROR: SDRAM Bits 19 0 0 0"}));
  EXPECT_EQ(Stored(), stored);
  simtest::Card card;
  EXPECT_TRUE(card.Ok()) << "the card was given back";
  EXPECT_EQ(card.Read(simtest::REG_CONTROL), 0u);
}

TEST_F(FaultDrill, ADacFaultShowsItsMessageClosesTheCardAndEndsWithStatusZero) {
  StandardWork();
  Bus("kite:dac-fault");
  const std::string stored = Stored();
  EXPECT_EQ(Start(), 0);
  EXPECT_EQ(MessageLines(),
            std::vector<std::string>{"ERROR: Could not power the DAC board.\\n Is DAC power cable connected?\\n"});
  EXPECT_EQ(Stored(), stored);
  simtest::Card card;
  EXPECT_TRUE(card.Ok());
  EXPECT_EQ(card.Read(simtest::REG_CONTROL), 0u);
}

TEST_F(FaultDrill, AnSlmPowerBitThatDoesNotFollowIsReportedAndShownAsItIs) {
  StandardWork({{"FrameRate", "1000"}});
  Bus("kite:power-stuck");
  ASSERT_EQ(Start(), std::nullopt);
  EXPECT_TRUE(m_Host->Messages().empty());
  m_Host->Click(Dlg(), IDC_POWER_ON);
  EXPECT_EQ(MessageLines(), std::vector<std::string>{"ERROR: SLM Power not responding... Is DAC power plugged in?"});
  EXPECT_EQ(Dlg().GetDlgItemText(IDC_POWER_STATE), "OFF") << "the window shows what the board reports";
  EXPECT_TRUE(Dlg().IsDlgItemEnabled(IDC_POWER_ON));
  // A run still runs; the modulator stays dark, and the window says so.
  m_Host->Click(Dlg(), IDC_START_STOP);
  Tick(50);
  EXPECT_EQ(Dlg().GetDlgItemText(IDC_START_STOP), "STOP");
  EXPECT_EQ(Dlg().GetDlgItemText(IDC_POWER_STATE), "OFF");
  m_Host->Click(Dlg(), IDC_START_STOP);
  Tick();
  Close();
  EXPECT_EQ(m_Host->Messages().size(), 1u) << "switching off what is off asks nothing of the board";
  EXPECT_EQ(App().m_pBoard, nullptr);
}

TEST_F(FaultDrill, AnSlmPowerBitStuckOnIsReportedAtShutdownWhichGoesOn) {
  StandardWork();
  ASSERT_EQ(Start(), std::nullopt);
  m_Host->Click(Dlg(), IDC_POWER_ON);
  Faults("power-stuck");
  Close();
  EXPECT_EQ(MessageLines(), std::vector<std::string>{"ERROR: SLM Power not responding... Is DAC power plugged in?"});
  EXPECT_EQ(App().m_pBoard, nullptr) << "the shutdown went on to the end";
  EXPECT_EQ(StoredValue("FrameRate"), "100");
  EXPECT_EQ(BoardRegister(simtest::REG_TIMING_A) & 0xFF, 0u) << "the lasers are at zero gain";
}

// ---- downloads and edits on a board that stays busy ----

TEST_F(FaultDrill, BusyBitsStuckAtStartUpFailEveryFrameInMomentsNotMinutes) {
  StandardWork();
  std::vector<std::pair<std::string, std::string>> entries(200, {"Image_Files/ramp.bmp", "Image_Files/linear.lut"});
  WriteSequence("Sequence_Files/demo.sif", entries);
  Bus("kite:busy-stuck");
  const Clock::time_point start = Clock::now();
  ASSERT_EQ(Start(), std::nullopt);
  // A full wait for every frame takes over three minutes; a busy host needs nowhere near this.
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(60)) << "a second for the first frame, moments for the rest";
  EXPECT_EQ(MessageLines(), std::vector<std::string>{WRITE_FAILED});
  const auto captions = Captions();
  ASSERT_EQ(captions.size(), 205u);
  EXPECT_EQ(captions[2], "LOADING   200");
  EXPECT_EQ(captions[201], "LOADING   1");
  EXPECT_EQ(std::vector<std::string>(captions.end() - 3, captions.end()),
            (std::vector<std::string>{"START", "SETTING DISPLAY", "START"}));
  std::vector<uint8_t> stored;
  EXPECT_FALSE(sim::testing::StoredFrame(simtest::SLOT0, 0, stored)) << "no frame reached the board";
  Close();
  EXPECT_EQ(App().m_pBoard, nullptr);
}

TEST_F(FaultDrill, BusyBitsStuckDuringAnEditAreReportedAndTheEditTakesOnceTheBoardAnswers) {
  StandardWork();
  ASSERT_EQ(Start(), std::nullopt);
  Faults("busy-stuck");
  m_Host->SelectListLine(Dlg(), IDC_IMAGE_LIST, 0);
  ScriptEditor(Work("Image_Files/rings.bmp"), true);
  m_Host->Click(Dlg(), IDC_EDIT_ENTRY);
  EXPECT_EQ(MessageLines(), std::vector<std::string>{WRITE_FAILED});
  EXPECT_EQ(ListLines()[0], "  \trings.bmp\t\tlinear.lut\t") << "the entry holds the edit";
  EXPECT_EQ(ShownFrame(0), ExpectedFrame(512, Ramp, Identity)) << "the board keeps the frame it had";
  EXPECT_EQ(Dlg().FrameArray[0], CSorrelDlg::NO_FRAME) << "which a run passes over";

  Faults("busy-stuck", false);
  m_Host->Click(Dlg(), IDC_EDIT_ENTRY);
  EXPECT_EQ(m_Host->Messages().size(), 1u);
  EXPECT_EQ(ShownFrame(0), ExpectedFrame(512, Rings, Identity));
  EXPECT_EQ(Dlg().FrameArray[0], 0);
}

// ---- interrupts ----

TEST_F(FaultDrill, InterruptsStoppingDuringARunFreezeItOnOneFrameUntilStop) {
  StandardWork({{"FrameRate", "1000"}});
  ASSERT_EQ(Start(), std::nullopt);
  m_Host->Click(Dlg(), IDC_START_STOP);
  Tick(100);
  Faults("no-irq");
  // An interrupt raised just before may still be on its way: wait until none has come for a
  // good while, then one tick so the window shows where the run stopped.
  uint64_t delivered = ~0ull;
  for (int wait = 0; delivered != sim::testing::Counts(simtest::SLOT0).delivered; ++wait) {
    ASSERT_LT(wait, 25) << "interrupts go on coming";
    delivered = sim::testing::Counts(simtest::SLOT0).delivered;
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
  }
  Tick(0);
  ASSERT_TRUE(sim::testing::RecordShownFrames(simtest::SLOT0, 10000));
  const uint32_t frozen = BoardRegister(simtest::REG_FRAME_SELECT) & 0x3FF;
  const int selection = Dlg().ListGetCurSel(IDC_IMAGE_LIST);
  for (int i = 0; i < 5; ++i) {
    Tick(100);
    EXPECT_EQ(Dlg().ListGetCurSel(IDC_IMAGE_LIST), selection);
    EXPECT_EQ(Dlg().GetDlgItemText(IDC_START_STOP), "STOP");
  }
  std::vector<sim::ShownFrame> shown;
  sim::testing::TakeShownFrames(simtest::SLOT0, shown);
  EXPECT_GT(shown.size(), 400u);
  for (const auto& s : shown) ASSERT_EQ(s.frame, frozen);
  EXPECT_TRUE(m_Host->Messages().empty());
  m_Host->Click(Dlg(), IDC_START_STOP);
  Tick();
  EXPECT_EQ(Dlg().GetDlgItemText(IDC_START_STOP), "START");
  EXPECT_EQ(BoardRegister(simtest::REG_CONTROL) & CONTROL_RUN, 0u);
  Close();
  EXPECT_EQ(App().m_pBoard, nullptr);
}

TEST_F(FaultDrill, ABoardWithoutInterruptsRunsOnItsFirstFrame) {
  StandardWork({{"FrameRate", "1000"}});
  Bus("kite:no-irq");
  ASSERT_EQ(Start(), std::nullopt);
  m_Host->Click(Dlg(), IDC_START_STOP);
  for (int i = 0; i < 3; ++i) {
    Tick(100);
    EXPECT_EQ(Dlg().ListGetCurSel(IDC_IMAGE_LIST), 0);
    EXPECT_EQ(Dlg().ProgressGetPos(IDC_RUN_PROGRESS), 33);
  }
  m_Host->Click(Dlg(), IDC_START_STOP);
  Tick();
  EXPECT_EQ(Dlg().GetDlgItemText(IDC_START_STOP), "START");
  EXPECT_TRUE(m_Host->Messages().empty());
}

TEST_F(FaultDrill, WithoutInterruptsInDownloadModeASelectionGivesUpAfterItsWait) {
  StandardWork();
  Bus("kite:no-irq");
  ASSERT_EQ(Start(), std::nullopt);
  // The program itself never leaves download mode 0; the board is put in mode 1 beneath it.
  ASSERT_EQ(App().m_pBoard->SetDownloadMode(1), 1);
  const Clock::time_point start = Clock::now();
  m_Host->SelectListLine(Dlg(), IDC_IMAGE_LIST, 1);
  const auto took = Clock::now() - start;
  EXPECT_GE(took, std::chrono::seconds(1));
  EXPECT_LT(took, std::chrono::seconds(10));
  EXPECT_EQ(BoardRegister(simtest::REG_FRAME_SELECT) & 0x3FF, 1u);
  EXPECT_EQ(BoardRegister(simtest::REG_CONTROL) & CONTROL_RUN, 0u) << "the board is stopped again";
  EXPECT_EQ(Dlg().GetDlgItemText(IDC_ENTRY_PATTERN), "rings.bmp");
  EXPECT_TRUE(m_Host->Messages().empty());
  ASSERT_EQ(App().m_pBoard->SetDownloadMode(0), 1);
  m_Host->SelectListLine(Dlg(), IDC_IMAGE_LIST, 2);
  EXPECT_EQ(BoardRegister(simtest::REG_FRAME_SELECT) & 0x3FF, 2u);
}

// ---- files that go away between load and use ----

uint8_t Fill48(int, int) { return 48; }

TEST_F(FaultDrill, APatternOrLutGoneOrUnreadableAtTheNextDownloadMarksItsEntriesAndWritesRegardless) {
  StandardWork();
  ASSERT_EQ(Start(), std::nullopt);
  ASSERT_EQ(unlink(Work("Image_Files/ramp.bmp").c_str()), 0);
  MakeUnreadable("Image_Files/invert.lut");
  const size_t captions = Captions().size();
  m_Host->Click(Dlg(), IDC_APPLY_CORRECTION);  // every entry composed again, now compensated
  EXPECT_EQ(NewCaptions(captions), (std::vector<std::string>{"LOADING   3", "LOADING   2", "LOADING   1", "START"}));
  EXPECT_EQ(ListLines(), (std::vector<std::string>{" !\tramp.bmp\t\tlinear.lut\t", " !\trings.bmp\t\tinvert.lut\t",
                                                   " !\tramp.bmp\t\tinvert.lut\t"}));
  // No compensation file is set, so both compensation images are the readers' 48 too.
  const Picture comp = Fill48;
  EXPECT_EQ(ShownFrame(0), ExpectedFrame(512, Fill48, Identity, &comp, &comp));
  EXPECT_EQ(ShownFrame(1), ExpectedFrame(512, Rings, Identity, &comp, &comp));
  EXPECT_EQ(ShownFrame(2), ExpectedFrame(512, Fill48, Identity, &comp, &comp));
  EXPECT_TRUE(m_Host->Messages().empty());
}

TEST_F(FaultDrill, ACompensationFileGoneOrUnreadableWhenChosenLeavesTheCompensationAsItWas) {
  StandardWork({{"ApplyCorrection", "1"}});
  WritePattern("Image_Files/slm.bmp", 512, Dim);
  m_Host->QueueFileAnswer(Work("Image_Files/slm.bmp"));
  ASSERT_EQ(Start(), std::nullopt);
  m_Host->Click(Dlg(), IDC_BROWSE_SLM_COMP);
  ASSERT_EQ(Dlg().GetDlgItemText(IDC_SLM_COMP_NAME), "slm.bmp");
  const Picture fill = Fill48, dim = Dim;
  const std::vector<uint8_t> frame0 = ExpectedFrame(512, Ramp, Identity, &dim, &fill);
  ASSERT_EQ(ShownFrame(0), frame0);

  WritePattern("Image_Files/other.bmp", 512, Ramp);
  MakeUnreadable("Image_Files/other.bmp");
  const size_t captions = Captions().size();
  for (const char* chosen : {"Image_Files/gone.bmp", "Image_Files/other.bmp", "Image_Files/gone.zrn"}) {
    m_Host->QueueFileAnswer(Work(chosen));
    m_Host->Click(Dlg(), IDC_BROWSE_SLM_COMP);
    EXPECT_EQ(Dlg().GetDlgItemText(IDC_SLM_COMP_NAME), "slm.bmp") << chosen;
    EXPECT_EQ(Dlg().m_PhaseCompFileName, Work("Image_Files/slm.bmp")) << chosen;
  }
  EXPECT_EQ(NewCaptions(captions), std::vector<std::string>{}) << "nothing to download again";
  EXPECT_EQ(ShownFrame(0), frame0);
  m_Host->SelectListLine(Dlg(), IDC_IMAGE_LIST, 1);
  m_Host->Click(Dlg(), IDC_DELETE_ENTRY);  // composes the rest again with what is held
  EXPECT_EQ(ShownFrame(1), ExpectedFrame(512, Ramp, Inverse, &dim, &fill));
  EXPECT_TRUE(m_Host->Messages().empty());
  AnswerQuestion(IDNO);
  Close();
  EXPECT_EQ(StoredValue("PhaseCompFileName"), Work("Image_Files/slm.bmp"));
}

TEST_F(FaultDrill, ASequenceFileGoneOrUnreadableWhenOpenedChangesNothing) {
  StandardWork();
  ASSERT_EQ(Start(), std::nullopt);
  const auto lines = ListLines();
  const size_t captions = Captions().size();
  ASSERT_EQ(mkfifo(Work("Sequence_Files/pipe.sif").c_str(), 0600), 0);
  for (const char* chosen : {"Sequence_Files/gone.sif", "Sequence_Files/pipe.sif"}) {
    m_Host->QueueFileAnswer(Work(chosen));
    m_Host->Click(Dlg(), IDC_BROWSE_SEQUENCE);
  }
  EXPECT_EQ(ListLines(), lines);
  EXPECT_EQ(NewCaptions(captions), std::vector<std::string>{});
  EXPECT_EQ(Dlg().GetDlgItemText(IDC_SEQUENCE_NAME), "demo.sif ");
  EXPECT_EQ(App().m_SequenceFile, Work("Sequence_Files/demo.sif"));
  EXPECT_TRUE(m_Host->Messages().empty());
}

TEST_F(FaultDrill, ASequenceFolderGoneBeforeTheSaveAtCloseKeepsTheWindowUntilSavedElsewhere) {
  StandardWork();
  ASSERT_EQ(Start(), std::nullopt);
  m_Host->SelectListLine(Dlg(), IDC_IMAGE_LIST, 0);
  ScriptEditor(Work("Image_Files/rings.bmp"), true);
  m_Host->Click(Dlg(), IDC_EDIT_ENTRY);
  std::filesystem::remove_all(Work("Sequence_Files"));
  AnswerQuestion(IDYES);
  Close();
  EXPECT_EQ(m_Questions, std::vector<std::string>{"Save changes to demo.sif?"});
  EXPECT_EQ(MessageLines(), std::vector<std::string>{"FILE ERROR: Can't create File " + Work("Sequence_Files/demo.sif")});
  ASSERT_NE(App().m_pBoard, nullptr) << "the window stays with the changes";
  EXPECT_EQ(BoardRegister(simtest::REG_TIMING_A) & 0xFF, 0u) << "the lasers off as the close left them";
  EXPECT_EQ(BoardRegister(simtest::REG_CONTROL) & CONTROL_SLM_POWER, 0u);

  m_Host->QueueFileAnswer(Work("kept.sif"));
  m_Host->Click(Dlg(), IDC_SAVE_SEQUENCE);
  Close();
  EXPECT_EQ(m_Questions.size(), 1u) << "nothing left to ask";
  EXPECT_EQ(App().m_pBoard, nullptr);
  EXPECT_EQ(ReadText(Work("kept.sif")), Work("Image_Files/rings.bmp") + ", " + Work("Image_Files/linear.lut") +
                                            "\n" + Work("Image_Files/rings.bmp") + ", " +
                                            Work("Image_Files/invert.lut") + "\n" + Work("Image_Files/ramp.bmp") +
                                            ", " + Work("Image_Files/invert.lut") + "\n");
  EXPECT_EQ(StoredValue("SequenceFile"), Work("kept.sif"));
}

// ---- the settings folder ----

TEST_F(FaultDrill, AMissingSettingsFolderStartsFromDefaultsAndIsMadeAtTheSave) {
  StandardWork();
  setenv("SORREL_REGISTRY", Work("fresh/registry").c_str(), 1);
  ASSERT_EQ(Start(), std::nullopt);
  EXPECT_EQ(MessageLines(), (std::vector<std::string>{"ERROR: Error reading Board Type from registry, defaulted to Kite_SLM",
                                                      ApplicationTitle() + ": Could not read SIF"}));
  EXPECT_EQ(Dlg().GetDlgItemText(IDC_SEQUENCE_NAME), "No File");
  Close();
  struct stat st {};
  ASSERT_EQ(stat(Work("fresh/registry").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0775u);
  EXPECT_EQ(StoredValue("BoardType"), "Kite_SLM");
  EXPECT_EQ(StoredValue("FrameRate"), "1");
}

TEST_F(FaultDrill, ASettingsFolderThatCannotBeMadeCostsOneLineOnStandardError) {
  StandardWork();
  const std::string folder = Work("PowerOff.bmp/registry");
  setenv("SORREL_REGISTRY", folder.c_str(), 1);
  ::testing::internal::CaptureStderr();
  const std::optional<int> ended = Start();
  const std::string atLoad = ::testing::internal::GetCapturedStderr();
  ASSERT_EQ(ended, std::nullopt);
  EXPECT_EQ(atLoad, "") << "nothing there to read";
  ::testing::internal::CaptureStderr();
  Close();
  EXPECT_EQ(::testing::internal::GetCapturedStderr(),
            "Settings not saved to " + folder + "/sorrel.reg: its folder cannot be made: Not a directory\n");
  EXPECT_EQ(App().m_pBoard, nullptr);
}

TEST_F(FaultDrill, AReadOnlySettingsFolderKeepsTheStoredSettingsAndCostsOneLineOnStandardError) {
  StandardWork();
  if (!MakeReadOnly(Work("registry"))) GTEST_SKIP() << "no way to make a folder read-only here";
  ASSERT_EQ(Start(), std::nullopt);
  EXPECT_TRUE(m_Host->Messages().empty());
  m_Host->DragTrackBar(Dlg(), IDC_GAIN_A_SLIDER, 0);
  const std::string stored = Stored();
  ::testing::internal::CaptureStderr();
  Close();
  const std::string said = ::testing::internal::GetCapturedStderr();
  const std::string reason = std::strerror(geteuid() == 0 ? EROFS : EACCES);
  EXPECT_EQ(said, "Settings not saved to " + StoreFile() + ": " + reason + "\n");
  EXPECT_EQ(Stored(), stored);
  EXPECT_EQ(StoredValue("LaserAGain"), "200");
  EXPECT_EQ(App().m_pBoard, nullptr) << "the program ends as always";
}

}  // namespace
