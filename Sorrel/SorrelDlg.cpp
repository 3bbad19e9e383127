// The main dialog's start-up and shutdown, its system menu and help, and what happens when
// a terminal asks the program to end.

#include "SorrelDlg.h"

#include <cstdio>
#include <new>
#include <string_view>

#include "AppPatterns.h"
#include "BoardStart.h"
#include "ComposeAhead.h"
#include "Sorrel.h"
#include "SorrelResources.h"
#include "YesNoDlg.h"
#include "AboutDlg.h"
#include "ComposeAhead.h"
#include "LiveViewDlg.h"
#include "BoardService.h"
#include "WindowBoard.h"
#include "files/Paths.h"
#include "pci/Facility.h"
#include "ui/Host.h"
#include "ui/Process.h"
#include "ui/Signals.h"

namespace {

constexpr int NARROW_WINDOW = 596;  // pixels; the screen image then sits at a fixed place
constexpr int NARROW_SCREEN_X = 44;
constexpr int NARROW_SCREEN_Y = 323;

// A working subfolder, or the working folder itself when there is none to enter.
std::string WorkingSubfolder(const std::string& programFolder, const char* name) {
  const std::string folder = programFolder + name;
  if (!SetCurrentDirectory(folder)) return programFolder;
  SetCurrentDirectory(programFolder);
  return folder;
}

}  // namespace

CSorrelDlg::CSorrelDlg(CDialog* pParent) : CDialog(ProgramTemplate(IDD), pParent), m_hIcon(LoadIcon(IDR_MAINFRAME)) {
  Route(EventKind::SysCommand, 0, &CSorrelDlg::OnSysCommand);
  Route(EventKind::Destroy, 0, &CSorrelDlg::OnDestroy);
  Route(EventKind::Paint, 0, &CSorrelDlg::OnPaint);
  Route(EventKind::Close, 0, &CSorrelDlg::OnClose);
  Route(EventKind::Click, IDC_START_STOP, &CSorrelDlg::OnStartStop);
  Route(EventKind::Timer, 0, &CSorrelDlg::OnTimer);
  Route(EventKind::Click, IDC_SCREEN_REFRESH, &CSorrelDlg::OnScreenRefresh);
  Route(EventKind::Click, IDC_LOOP, &CSorrelDlg::OnLoop);
  Route(EventKind::Click, IDC_BROWSE_SEQUENCE, &CSorrelDlg::OnOpenSequence);
  Route(EventKind::Click, IDC_SAVE_SEQUENCE, &CSorrelDlg::OnSaveSequence);
  Route(EventKind::Click, IDC_DELETE_ENTRY, &CSorrelDlg::OnDeleteEntry);
  Route(EventKind::Click, IDC_INSERT_ENTRY, &CSorrelDlg::OnInsertEntry);
  Route(EventKind::Click, IDC_EDIT_ENTRY, &CSorrelDlg::OnEditEntry);
  Route(EventKind::SelChange, IDC_IMAGE_LIST, &CSorrelDlg::OnSelectEntry);
  Route(EventKind::DoubleClick, IDC_IMAGE_LIST, &CSorrelDlg::OnEditEntry);
  Route(EventKind::Click, IDC_BOARD_SETUP, &CSorrelDlg::OnBoardSetup);
  Route(EventKind::Click, IDC_POWER_ON, &CSorrelDlg::OnPowerToggle);
  Route(EventKind::Click, IDC_POWER_OFF, &CSorrelDlg::OnPowerToggle);
  Route(EventKind::VScroll, 0, &CSorrelDlg::OnVScroll);
  Route(EventKind::Click, IDC_APPLY_CORRECTION, &CSorrelDlg::OnApplyCorrection);
  Route(EventKind::Click, IDC_BROWSE_SLM_COMP, &CSorrelDlg::OnBrowsePhaseComp);
  Route(EventKind::Click, IDC_BROWSE_SYS_COMP, &CSorrelDlg::OnBrowseSysPhaseComp);
  Route(EventKind::Click, IDC_BOARD_SERVICE, &CSorrelDlg::OnBoardService);
  Route(EventKind::HelpInfo, 0, &CSorrelDlg::OnHelpInfo);
}

CSorrelDlg::~CSorrelDlg() {
  StopService();
  StopWatchingTerminationSignals();
}

void CSorrelDlg::DoDataExchange(CDataExchange& dx) {
  DDX_Check(dx, IDC_APPLY_CORRECTION, m_bApplyCorrection);
  DDX_Check(dx, IDC_LOOP, m_bLoop);
  DDX_Text(dx, IDC_RATE_MIN, m_RateMinText);
  DDX_Text(dx, IDC_RATE_MAX, m_RateMaxText);
  DDX_Text(dx, IDC_TOGGLE_RATE, m_ToggleRateText);
  DDX_Text(dx, IDC_FRAME_RATE, m_FrameRateText);
  DDX_Text(dx, IDC_GAIN_A, m_GainAText);
  DDX_Text(dx, IDC_GAIN_B, m_GainBText);
  DDX_Text(dx, IDC_DUTY, m_DutyText);
  DDX_Text(dx, IDC_SLM_COMP_NAME, m_PhaseCompName);
  DDX_Text(dx, IDC_SYS_COMP_NAME, m_SysPhaseCompName);
  DDX_Text(dx, IDC_SEQUENCE_NAME, m_SequenceName);
}

bool CSorrelDlg::OnInitDialog() {
  WatchTerminationSignals([this](int signal) { OnTerminationSignal(signal); });
  m_ModalRunsAtStart = ModalRuns();
  CDialog::OnInitDialog();
  PlaceScreenImage();
  SetUpWindow();
  FindWorkingFolders();
  LoadSettings();
  const SBoard_Spec& spec = OpenBoard();
  StartBoard();
  ReadStoredImages(spec);
  ReadStartSequence();
  SetUpDisplay();
  SetDlgItemText(IDC_START_STOP, "START");
  m_bReady = true;
  if (m_bServeBoard) {
    StartService();
  } else {
    SetDlgItemText(IDC_SERVICE_STATE, "Board service off");
  }
  if (theApp->m_bLiveViewAtStart) OpenLiveView();
  return true;
}

void CSorrelDlg::PlaceScreenImage() {
  CSorrelApp& app = *theApp;
  const CRect window = GetWindowRect();
  app.m_WindowWidth = window.Width();
  if (app.m_WindowWidth <= NARROW_WINDOW) {
    app.m_ScreenX = NARROW_SCREEN_X;
    app.m_ScreenY = NARROW_SCREEN_Y;
  } else {
    app.m_ScreenX = window.left + window.Width() / 10;
    app.m_ScreenY = window.top + (window.Height() * 63) / 100;
  }
}

void CSorrelDlg::SetUpWindow() {
  if (HasSystemMenu()) {
    AppendSystemMenuSeparator();
    AppendSystemMenuItem(IDM_ABOUTBOX, "&About SORREL...");
    AppendSystemMenuItem(IDM_HELP, "&Help");
    AppendSystemMenuItem(IDM_LIVE_VIEW, "&Live View of the SLM...");
  }
  SetIcon(m_hIcon, true);
  SetIcon(m_hIcon, false);
  ListSetTabStops(IDC_IMAGE_LIST, {7, 115});
}

void CSorrelDlg::FindWorkingFolders() {
  CSorrelApp& app = *theApp;
  std::string cwd;
  GetCurrentDirectory(cwd);
  app.m_ProgramFolder = cwd.ends_with('/') ? cwd : cwd + "/";
  app.m_ImageFolder = WorkingSubfolder(app.m_ProgramFolder, "Image_Files");
  app.m_SequenceFolder = WorkingSubfolder(app.m_ProgramFolder, "Sequence_Files");
}

const SBoard_Spec& CSorrelDlg::OpenBoard() {
  CSorrelApp& app = *theApp;
  m_bBuildingBoard = true;
  const startup::SBoardStart start =
      startup::OpenBoard(app.LC_Type, app.TrueFrames, app.FrameRate, [&](COrvBoard* board, const std::string& holder) {
        app.m_pBoard = board;
        m_bBuildingBoard = false;
        // The board's own message does not say who holds the card; the terminal does.
        if (!holder.empty()) std::fprintf(stderr, "Sorrel: %s\n", holder.c_str());
        CheckForTermination();  // a signal during the power-up waits ends the program here
      });

  if (start.Refusal != nullptr) {
    MessageBox(this, start.Refusal, "ERROR");
    ExitProcess(0);
  }
  const SBoard_Spec* spec = app.m_pBoard->BoardSpec();
  app.m_BoardType = spec->Width == 256 ? "Wren_SLM" : "Kite_SLM";
  app.FrameRate = start.FrameRate;
  SetDlgItemText(IDC_BOARD_TYPE, spec->BoardName);
  // Nobody should take a simulated board for the real thing: the title says so at a glance.
  if (std::string_view(pci::ServingBackend()) == "simulated") SetWindowText(GetWindowText() + " [simulated board]");
  m_Width = spec->Width;
  m_Height = spec->Height;
  return *spec;
}

void CSorrelDlg::StartBoard() {
  CSorrelApp& app = *theApp;
  app.m_pBoard->SetRunParameters(app.FrameRate, app.LaserDuty, app.LaserAGain, app.LaserBGain);
  ProgressSetRange(IDC_RUN_PROGRESS, 0, 100);
}

void CSorrelDlg::ReadStoredImages(const SBoard_Spec& spec) {
  CSorrelApp& app = *theApp;
  m_MaxFrames = spec.MaxFrames;
  // Every position starts with no frame, so one whose write fails is never shown.
  FrameArray.reset(new (std::nothrow) uint16_t[m_MaxFrames]);
  if (FrameArray) {
    std::fill_n(FrameArray.get(), m_MaxFrames, NO_FRAME);
  } else {
    m_MaxFrames = 0;
    MessageBox(this, "Error allocating memory for FrameArray", "MEMORY ERROR", MessageIcon::Stop);
  }

  m_PowerOffImage = std::make_unique<uint8_t[]>(SCREEN_IMAGE_BYTES);
  if (!ReadScreenBitmap(m_PowerOffImage.get(), app.m_ProgramFolder + "PowerOff.bmp")) {
    MessageBox(this, "Could not find PowerOff.bmp in Sorrel", "WARNING");
    CheckForTermination();
  }

  const size_t frameBytes = static_cast<size_t>(m_Width) * static_cast<size_t>(m_Height);
  m_SLMPhaseComp = cpu::NewAlignedBytes(frameBytes);
  ReadStoredCompensation(m_SLMPhaseComp.get(), m_PhaseCompFileName);
  m_SysPhaseComp = cpu::NewAlignedBytes(frameBytes);
  ReadStoredCompensation(m_SysPhaseComp.get(), m_SysPhaseCompFileName);
}

void CSorrelDlg::ReadStartSequence() {
  CSorrelApp& app = *theApp;
  app.m_bRunning = 0;
  SetDlgItemText(IDC_SCREEN_REFRESH, "Enabled");
  SetDlgItemText(IDC_START_STOP, "READ SEQ");

  if (!ReadSequenceFile(app.m_SequenceFile, app.m_ImageList, app.m_SequenceState)) {
    AppMessageBox("Could not read SIF");
    CheckForTermination();
  }
  DownloadSequence(0);
}

void CSorrelDlg::SetUpDisplay() {
  SetDlgItemText(IDC_START_STOP, "SETTING DISPLAY");
  BuildScreenImages();
  CheckForTermination();

  m_ArrayForScreenImages = GetScreenImages();
  RefreshImageList();
  ShowSequenceName();
  SetupSliders();
  UpdateReadouts();
  UpdatePowerButtons();
  OnSelectEntry();
}

void CSorrelDlg::OpenLiveView() {
  if (m_pLiveView && m_pLiveView->View() != nullptr) return;  // open already
  m_pLiveView = std::make_unique<CLiveViewDlg>(this);
  m_pLiveView->Create();
}

void CSorrelDlg::OnOK() {}

void CSorrelDlg::OnCancel() { OnClose(); }

void CSorrelDlg::OnSysCommand(const Event& e) {
  // The program's own items keep their ids whole; only the system's commands carry flags
  // in their low four bits.
  const unsigned command = static_cast<unsigned>(e.id);
  if (command == IDM_ABOUTBOX) {
    CAboutDlg about(this);
    about.DoModal();
  } else if (command == IDM_HELP) {
    WinHelp(HELP_FINDER);
  } else if (command == IDM_LIVE_VIEW) {
    OpenLiveView();
  } else {
    DefaultSysCommand(command);
  }
}

HICON CSorrelDlg::OnQueryDragIcon() { return m_hIcon; }

void CSorrelDlg::OnDestroy() { WinHelp(HELP_QUIT); }

void CSorrelDlg::OnHelpInfo(const Event& e) {
  if (e.code == 1) WinHelp(HELP_CONTEXTPOPUP, static_cast<unsigned>(e.id));
}

// ---- shutdown ----

void CSorrelDlg::MakeBoardSafe() {
  CSorrelApp& app = *theApp;
  if (app.m_pBoard == nullptr) return;
  app.m_pBoard->SetRunParameters(app.FrameRate, app.LaserDuty, 0, 0);
  app.m_pBoard->SetPower(0);
}

bool CSorrelDlg::AskToSaveChanges() {
  CSorrelApp& app = *theApp;
  if (!app.m_bSequenceModified) return true;
  const SplitPathParts parts = SplitPath(app.m_SequenceFile);
  const std::string question = "Save changes to " + parts.name + parts.extension + "?";
  uint8_t answer = 0;  // a question dismissed without YES or NO counts as NO
  CYesNoDlg ask(question.c_str(), &answer, this);
  ask.DoModal();
  if (answer != 1) return true;
  if (!WriteSequenceFile(app.m_SequenceFile, app.m_ImageList)) return false;
  app.m_bSequenceModified = 0;
  return true;
}

void CSorrelDlg::ReleaseBoardAndImages() {
  CSorrelApp& app = *theApp;
  KillTimer(1);
  if (m_pLiveView) m_pLiveView->DestroyWindow();
  delete app.m_pBoard;
  app.m_pBoard = nullptr;
  m_PowerOffImage.reset();
  ReleaseScreenImages();
  m_ArrayForScreenImages = nullptr;
}

void CSorrelDlg::OnClose() {
  // No client may change the board from here on, nor wait on a window that is ending.
  StopService();
  MakeBoardSafe();
  if (!AskToSaveChanges()) {
    // The changes could not be written where they belong: the window stays so the operator
    // can save them elsewhere, with the lasers and the SLM left off as the close made them.
    // The sliders and readouts show the zero gains the board holds; a later close saves them.
    CSorrelApp& app = *theApp;
    app.LaserAGain = 0;
    app.LaserBGain = 0;
    SetupSliders();
    UpdateReadouts();
    UpdatePowerButtons();
    InvalidateScreenImage();
    return;
  }
  SaveSettings();
  ReleaseBoardAndImages();
  EndDialog(IDCANCEL);
}

// ---- termination signals ----

void CSorrelDlg::CheckForTermination() { DeliverPendingTerminationSignal(); }

void CSorrelDlg::OnTerminationSignal(int signal) {
  // Wherever the signal lands (inside the board's constructor, under a box the board or
  // the program waits on), the cards go safe first, through nothing that could wait.
  pci::MakeHeldCardsSafe();
  // Nothing the program frees on its way out may still be read by the composition ahead.
  if (m_pComposeAhead != nullptr) m_pComposeAhead->Stop();
  // A board still being built is no object yet to close.
  if (m_bBuildingBoard) EndByTerminationSignal(signal);
  if (!m_bReady) EndBeforeReady(signal);
  StopService();

  CSorrelApp& app = *theApp;
  if (app.m_bSequenceModified) {
    std::fprintf(stderr, "Sorrel: ended by signal %d; the changes to the sequence %s were not saved\n", signal,
                 app.m_SequenceFile.c_str());
  }
  SaveSettings();
  ReleaseBoardAndImages();
  ExitProcess(0);
}

void CSorrelDlg::EndBeforeReady(int signal) {
  CSorrelApp& app = *theApp;
  delete app.m_pBoard;
  app.m_pBoard = nullptr;
  EndByTerminationSignal(signal);
}
