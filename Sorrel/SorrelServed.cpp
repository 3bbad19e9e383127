// The main dialog as the board service's host: the Board Service box turns the service on
// and off, the line beside it names the connected clients, and each client's call is carried
// out by the same controls and handlers as the operator's.

#include <cstdio>
#include <stdexcept>

#include "BoardModels.h"
#include "BoardService.h"
#include "BoardStatus.h"
#include "FrameComposition.h"
#include "ServiceSocket.h"
#include "Sorrel.h"
#include "SorrelDlg.h"
#include "WindowBoard.h"
#include "ui/Host.h"


bool CSorrelDlg::StartService() {
  const std::string path = service::DefaultSocketPath();
  std::string refusal;
  if (path.empty()) {
    refusal = "XDG_RUNTIME_DIR is not set, so the board service has no place for its socket.";
  } else if (service::Answers(path)) {
    refusal = "Another board service already answers on " + path + "; this window's board service stays off.";
  } else {
    m_pServedBoard = std::make_unique<CWindowBoard>(*this);
    CHandOver& handOver = m_pServedBoard->HandOver();
    try {
      m_pService = std::make_unique<service::CBoardService>(
          *m_pServedBoard, path, service::CBoardService::DEFAULT_MAX_CLIENTS, service::CBoardService::DEFAULT_MAX_RATE,
          service::SServiceAccess{},
          [this, &handOver](const std::vector<service::ServiceClient>& clients) {
            handOver.Send([this, clients] { SetDlgItemText(IDC_SERVICE_STATE, service::ClientsLine(clients)); });
          });
    } catch (const std::exception& e) {
      m_pServedBoard.reset();
      refusal = std::string("The board service could not start: ") + e.what();
    }
  }
  m_bServeBoard = m_pService != nullptr;
  CheckDlgButton(IDC_BOARD_SERVICE, m_bServeBoard);
  SetDlgItemText(IDC_SERVICE_STATE, m_bServeBoard ? service::ClientsLine({}) : "Board service off");
  if (!refusal.empty()) MessageBox(this, refusal, "BOARD SERVICE", MessageIcon::Stop);
  return m_bServeBoard;
}

void CSorrelDlg::StopService() {
  if (m_pServedBoard) m_pServedBoard->Close();  // no call waits on this thread any more
  m_pService.reset();
  m_pServedBoard.reset();
  CheckDlgButton(IDC_BOARD_SERVICE, 0);
  SetDlgItemText(IDC_SERVICE_STATE, "Board service off");
}

void CSorrelDlg::OnBoardService() {
  if (IsDlgButtonChecked(IDC_BOARD_SERVICE) != 0) {
    if (!m_pService) StartService();
  } else {
    StopService();
    m_bServeBoard = 0;
  }
}

bool CSorrelDlg::ReadyForClients() const { return m_bReady && !m_bDownloading && ModalRuns() == m_ModalRunsAtStart; }

const SBoard_Spec& CSorrelDlg::ServedSpec() const { return *theApp->m_pBoard->BoardSpec(); }

int CSorrelDlg::PositionOfFrame(int frame) const {
  return frame < PlayablePositions() && FrameArray[frame] == frame ? frame : -1;
}

int CSorrelDlg::SelectedFrame() const {
  const int p = SelectedPosition();
  if (p >= 0 && p < m_MaxFrames && FrameArray[p] != NO_FRAME) return FrameArray[p];
  return m_ServedFrame;
}

service::BoardFacts CSorrelDlg::ServedFacts() const {
  const CSorrelApp& app = *theApp;
  COrvBoard& board = *app.m_pBoard;
  service::BoardFacts facts;
  facts.Spec = *board.BoardSpec();
  facts.ModulatorType = app.LC_Type;
  facts.TrueFrames = board.GetTrueFrames();
  facts.ImageFrames = board.GetImageFrames();
  facts.Power = board.GetPower() != 0;
  facts.HasRun = board.GetRunStatus(&facts.Run) != 0;
  if (m_pServedBoard) m_pServedBoard->NoteRunStatus(facts.HasRun, facts.Run);
  facts.Parameters = {app.FrameRate, app.LaserDuty, app.LaserAGain, app.LaserBGain};
  facts.SelectedFrame = SelectedFrame();
  return facts;
}

bool CSorrelDlg::ServePower(bool on) {
  COrvBoard& board = *theApp->m_pBoard;
  if ((board.GetPower() != 0) != on) Dispatch(Event::Click(on ? IDC_POWER_ON : IDC_POWER_OFF));
  return board.GetPower() != 0;
}

scripting::RunParameters CSorrelDlg::ServeRunParameters(const scripting::RunParameters& p) {
  const CSorrelApp& app = *theApp;
  TrackSetPos(IDC_RATE_SLIDER, m_MinRate + m_MaxRate - p.FrameRate);
  TrackSetPos(IDC_DUTY_SLIDER, 100 - p.LaserDuty);
  TrackSetPos(IDC_GAIN_A_SLIDER, 255 - p.LaserAGain);
  TrackSetPos(IDC_GAIN_B_SLIDER, 255 - p.LaserBGain);
  // The sliders' handler reads them all and sends them to the board as the operator's drag does.
  Dispatch(Event::VScroll(IDC_RATE_SLIDER, SB_ENDSCROLL, TrackGetPos(IDC_RATE_SLIDER)));
  return {app.FrameRate, app.LaserDuty, app.LaserAGain, app.LaserBGain};
}

bool CSorrelDlg::ServeSelect(int frame) {
  if (theApp->m_pBoard->SelectImage(frame) == 0) return false;
  const int position = PositionOfFrame(frame);
  ListSetCurSel(IDC_IMAGE_LIST, position);
  m_ServedFrame = position < 0 ? frame : -1;
  ShowEntryInfo(EntryAt(position));
  InvalidateScreenImage();
  return true;
}

bool CSorrelDlg::ServeWrite(int frame, const uint8_t* pixels) {
  CSorrelApp& app = *theApp;
  const SBoard_Spec& spec = *app.m_pBoard->BoardSpec();
  std::vector<uint8_t> scratch(static_cast<size_t>(m_Width) * static_cast<size_t>(m_Height));
  const bool written = scripting::WriteFrameFrom(scripting::BoardModelOfType(spec.BoardName), *app.m_pBoard,
                                                 static_cast<uint16_t>(frame), pixels, scratch.data()) != 0;
  // An entry's position shows the frame the board now holds, or none when it holds none.
  if (static_cast<size_t>(frame) < app.m_ImageList.size()) {
    FrameArray[frame] = written ? static_cast<uint16_t>(frame) : NO_FRAME;
    if (written && m_ArrayForScreenImages != nullptr) {
      ScreenImageOfFrame(pixels, PatternGeometry{m_Width, m_Height, 0},
                         m_ArrayForScreenImages + static_cast<size_t>(frame) * SCREEN_IMAGE_BYTES);
    }
    InvalidateScreenImage();
  }
  return written;
}

bool CSorrelDlg::ServeRun(const std::vector<uint16_t>& frames, bool loop) {
  std::vector<int> shown;
  for (uint16_t frame : frames) shown.push_back(PositionOfFrame(frame));
  return StartRun(frames, shown, loop);
}

void CSorrelDlg::ServeStop() { StopRun(); }
