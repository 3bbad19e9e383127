#pragma once
// The main dialog: start-up and shutdown, the sequence and its download, the run, and
// what the SLM shows.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "OrvBoard.h"
#include "Resource.h"
#include "SequenceFile.h"
#include "cpu/AlignedBytes.h"
#include "ui/Dialog.h"

class CComposeAhead;
class CLiveViewDlg;
class CWindowBoard;
namespace service {
class CBoardService;
struct BoardFacts;
}  // namespace service
namespace scripting {
struct RunParameters;
}  // namespace scripting

class CSorrelDlg : public CDialog {
 public:
  enum { IDD = IDD_SORREL_DIALOG };

  explicit CSorrelDlg(CDialog* pParent = nullptr);
  ~CSorrelDlg() override;

  // Frame number of a sequence position whose frame the board does not hold.
  static constexpr uint16_t NO_FRAME = 0xFFFF;

  // Start-up and shutdown.
  bool OnInitDialog() override;
  void DoDataExchange(CDataExchange& dx) override;
  void OnOK() override;      // Enter does nothing in the main window
  void OnCancel() override;  // Escape closes it as the close box does
  void OnSysCommand(const Event& e);
  HICON OnQueryDragIcon() override;
  void OnDestroy();
  void OnHelpInfo(const Event& e);
  void OnClose();

  // The live view of the SLM: opened from the system menu (or at start-up when asked), or
  // brought forward when it is open already. Null while it was never opened.
  void OpenLiveView();
  CLiveViewDlg* LiveView() const { return m_pLiveView.get(); }

  // Settings store.
  void LoadSettings();
  void SaveSettings();

  // Sequence loading and frame download.
  bool DownloadEntry(uint16_t position);
  bool DownloadSequence(uint16_t first);
  bool WriteComposedEntry(uint16_t position, uint8_t* frame);
  void RefreshImageList();
  static std::string FormatEntryLine(const Image_Entry& entry);
  void OnSelectEntry();
  void OnOpenSequence();
  void OnSaveSequence();
  void OnEditEntry();
  void OnInsertEntry();
  void OnDeleteEntry();
  void OnApplyCorrection();
  void OnBrowsePhaseComp();
  void OnBrowseSysPhaseComp();

  // Run control. A run, the operator's or a client's: the frames the board runs and the list
  // position shown for each (-1: none).
  bool StartRun(std::vector<uint16_t> frames, const std::vector<int>& shown, bool loop);
  void StopRun();
  void OnStartStop();
  void OnTimer(const Event& e);
  void OnVScroll(const Event& e);
  void SetupSliders();
  void UpdateReadouts();
  void EnableControls(bool enable);
  void UpdatePowerButtons();
  void OnPowerToggle();
  void OnLoop();
  void OnBoardSetup();

  // Display.
  void OnPaint();
  void InvalidateScreenImage();
  void ShowSequenceName();
  void ShowEntryInfo(const Image_Entry* entry);
  void OnScreenRefresh();

  // The board service (SorrelServed.cpp): on and off with the Board Service box, its
  // clients named on the line beside it. StartService says to the operator why it cannot
  // serve; StopService refuses the calls still waiting before the service ends.
  bool StartService();
  void StopService();
  void OnBoardService();
  // A client's call may run now: start-up is done, no download and no modal run of the
  // window's are in progress.
  bool ReadyForClients() const;
  // What a client asks, as the operator's controls do it.
  const SBoard_Spec& ServedSpec() const;
  service::BoardFacts ServedFacts() const;
  bool ServePower(bool on);
  scripting::RunParameters ServeRunParameters(const scripting::RunParameters& parameters);
  bool ServeSelect(int frame);
  bool ServeWrite(int frame, const uint8_t* pixels);  // screen order
  bool ServeRun(const std::vector<uint16_t>& frames, bool loop);
  void ServeStop();

  // Members of the dialog.
  uint8_t m_bInserting = 0;
  int m_MinRate = 0, m_MaxRate = 0;
  int m_RunCount = 0;
  Image_Entry m_EntryCopy;
  std::unique_ptr<uint8_t[]> m_PowerOffImage;
  uint8_t* m_ArrayForScreenImages = nullptr;  // kept by the screen-image store
  std::unique_ptr<uint16_t[]> FrameArray;
  cpu::AlignedBytes m_SLMPhaseComp;
  cpu::AlignedBytes m_SysPhaseComp;
  int m_Width = 0, m_Height = 0, m_MaxFrames = 0;
  std::string m_PhaseCompFileName;
  std::string m_SysPhaseCompFileName;
  uint8_t m_bHideComp = 0;
  int m_bApplyCorrection = 0;
  int m_bLoop = 1;
  uint8_t m_bServeBoard = 0;  // the board service runs (stored setting)
  HICON m_hIcon;

 private:
  // The run's index the run timer showed last, and the list position of each index.
  uint16_t m_LastShownPosition = 0;
  std::vector<int> m_RunPositions;

  // Texts exchanged with their boxes.
  std::string m_RateMinText, m_RateMaxText, m_ToggleRateText, m_FrameRateText;
  std::string m_GainAText, m_GainBText, m_DutyText;
  std::string m_PhaseCompName, m_SysPhaseCompName, m_SequenceName;

  // The start-up's steps, in order: the screen image's place, the window's menu and icons,
  // the working folders, the settings, the board opened and started, the stored images,
  // the start-up sequence ("READ SEQ") and the display ("SETTING DISPLAY").
  void PlaceScreenImage();
  void SetUpWindow();
  void FindWorkingFolders();
  const SBoard_Spec& OpenBoard();
  void StartBoard();
  void ReadStoredImages(const SBoard_Spec& spec);
  void ReadStartSequence();
  void SetUpDisplay();

  // A termination signal (SIGINT, SIGTERM, SIGHUP), on the user-interface thread: every
  // card this process holds made safe at once, then the shutdown without the question
  // (status 0), or before the main window is ready, EndBeforeReady.
  void OnTerminationSignal(int signal);
  // Ends the process before the main window is ready, the cards already safe: a board that
  // exists closed, nothing saved, then the process ends by the signal.
  [[noreturn]] void EndBeforeReady(int signal);
  // Steps 1, 2 and 4 to 6 of the close: the lasers and the SLM safe, the settings saved,
  // the board closed and the images released. The save-changes question lies between.
  void MakeBoardSafe();
  void ReleaseBoardAndImages();
  bool AskToSaveChanges();  // false: a wanted save failed, the sequence stays open
  // Where long work on the user-interface thread looks for a termination signal.
  void CheckForTermination();

  void ShowCompensationControls(bool show);
  // The list shows an entry whose pattern or table failed before its frame is written. A
  // download refreshes the whole list at its first such entry only, so a sequence of
  // unreadable entries costs time in proportion to its length.
  void ShowFailedEntry(uint16_t position);
  bool m_bDownloading = false;
  int m_ListShownThrough = -1;  // the last position the list shows as composed in this download
  CComposeAhead* m_pComposeAhead = nullptr;  // composing the next frame of this download

  // "At least one WriteFrameBuffer call failed": a frame did not reach the board.
  void WarnWriteFailed();
  void BrowseCompensation(const char* title, std::string& path, uint8_t* image, std::string& name);
  const Image_Entry* EntryAt(int position) const;
  int Selection() const;
  int SelectedPosition() const;  // the selection when it names an entry, else -1
  int PlayablePositions() const;

  // The list position whose frame is frame, or -1.
  int PositionOfFrame(int frame) const;
  // The frame the board shows by the selection, or the one a client selected that no entry has.
  int SelectedFrame() const;

  std::unique_ptr<CWindowBoard> m_pServedBoard;
  std::unique_ptr<service::CBoardService> m_pService;  // ends before m_pServedBoard
  int m_ServedFrame = -1;       // selected by a client, no entry's
  int m_ModalRunsAtStart = 0;   // ModalRuns() while the window waits for input

  std::unique_ptr<CLiveViewDlg> m_pLiveView;
  bool m_bReady = false;          // start-up has reached "START"
  bool m_bBuildingBoard = false;  // the board's constructor runs: no board object yet
};
