#include "ScriptBoard.h"

#include <unistd.h>

#include "BoardGeometry.h"
#include "BoardModels.h"
#include "BoardStart.h"
#include "PhaseFrame.h"
#include "ScriptMessages.h"
#include "cpu/AlignedBytes.h"
#include "ui/ScriptedHost.h"

namespace scripting {
namespace {

// A board left powered by a script of this process, kept until the process ends or the next
// board takes it over. Never deleted at exit: that would close the card and switch it off.
struct ParkedBoard {
  COrvBoard* board = nullptr;
  uint16_t modulatorType = 0;
  uint16_t trueFrames = 0;
};

std::mutex g_ProcessMutex;
bool g_BoardOpen = false;  // a CScriptBoard of this process holds the board
ParkedBoard g_Parked;
// The process that opened or parked the board. A child forked meanwhile got a copy of the
// drivers' state of the card, which is its parent's: it never takes that board over.
pid_t g_Opener = 0;

constexpr size_t MAX_RUN_FRAMES = 65536;

std::string Range(int low, int high) { return std::to_string(low) + ".." + std::to_string(high); }

void CheckWithin(const char* what, int value, int low, int high, const char* unit) {
  if (value < low || value > high) {
    throw std::invalid_argument(std::string(what) + " " + std::to_string(value) + " is not within " +
                                Range(low, high) + unit);
  }
}

// The board as start-up opens it, or the reason there is none usable.
std::unique_ptr<COrvBoard> Build(uint16_t modulatorType, uint16_t trueFrames, uint16_t frameRate) {
  std::unique_ptr<COrvBoard> board;
  std::string holder;
  startup::SBoardStart start;
  try {
    start = startup::OpenBoard(modulatorType, trueFrames, frameRate, [&](COrvBoard* built, const std::string& held) {
      board.reset(built);
      holder = held;
    });
  } catch (const CProcessExit&) {
    // A fatal power-up fault: the driver closed the card before it ended the program.
    throw CScriptError(JoinedTexts(TakeMessages(), "The board could not be powered up"));
  }
  if (start.Refusal == nullptr && start.DownloadMode) return board;
  const std::vector<ScriptMessage> messages = TakeMessages();
  if (!holder.empty()) throw CCardHeldError(holder);
  if (start.Refusal != nullptr) throw CScriptError(start.Refusal);
  throw CScriptError(JoinedTexts(messages, "The board is in its hardware-error state"));
}

}  // namespace

void CheckParameters(const RunParameters& p, const SBoard_Spec& spec) {
  CheckWithin("frame rate", p.FrameRate, static_cast<int>(spec.MinFrameRate), static_cast<int>(spec.MaxFrameRate),
              " frames per second");
  CheckWithin("laser duty", p.LaserDuty, 0, 100, " percent");
  CheckWithin("laser A gain", p.LaserAGain, 0, 255, "");
  CheckWithin("laser B gain", p.LaserBGain, 0, 255, "");
}

void CheckFrame(int frame, const SBoard_Spec& spec) {
  if (frame < 0 || frame >= spec.MaxFrames) {
    throw std::out_of_range("frame " + std::to_string(frame) + " is not one of the board's frame buffers " +
                            Range(0, spec.MaxFrames - 1));
  }
}

std::vector<uint16_t> CheckedRunFrames(const std::vector<int>& frames, const SBoard_Spec& spec) {
  if (frames.empty()) throw std::invalid_argument("a run needs at least one frame");
  // The board's run status counts the positions of a run in 16 bits.
  if (frames.size() > MAX_RUN_FRAMES) {
    throw std::invalid_argument("a run takes at most " + std::to_string(MAX_RUN_FRAMES) + " frames, not " +
                                std::to_string(frames.size()));
  }
  std::vector<uint16_t> list;
  list.reserve(frames.size());
  for (int frame : frames) {
    CheckFrame(frame, spec);
    list.push_back(static_cast<uint16_t>(frame));
  }
  return list;
}

RunParameters StoredRunParameters(const StoredSettings& settings, const SBoard_Spec& spec) {
  RunParameters p;
  p.FrameRate = startup::HeldFrameRate(settings.FrameRate, spec);
  p.LaserDuty = settings.LaserDuty;
  p.LaserAGain = settings.LaserAGain;
  p.LaserBGain = settings.LaserBGain;
  return p;
}

CScriptBoard::CScriptBoard(const StoredSettings& settings) {
  UseScriptHost();
  TakeMessages();  // what came before is not this board's
  // The drivers hold these to the same values; a parked board is compared by them.
  m_ModulatorType = settings.LC_Type != 0 ? 1 : 0;
  m_TrueFrames = HeldTrueFrames(settings.TrueFrames);
  {
    std::lock_guard process(g_ProcessMutex);
    if ((g_BoardOpen || g_Parked.board != nullptr) && g_Opener != getpid()) {
      throw CCardHeldError("The card was open in process " + std::to_string(g_Opener) +
                           " when this process was forked from it; a forked process cannot use it");
    }
    // A second board would take the driver's one card from under the first.
    if (g_BoardOpen) throw CCardHeldError("The card is already open in this process");
    if (g_Parked.board != nullptr) {
      std::unique_ptr<COrvBoard> parked(g_Parked.board);
      const bool same = g_Parked.modulatorType == m_ModulatorType && g_Parked.trueFrames == m_TrueFrames;
      g_Parked = {};
      if (same) {
        m_Board = std::move(parked);
      } else {
        parked->SetPower(0);
      }
    }
    if (!m_Board) m_Board = Build(m_ModulatorType, m_TrueFrames, settings.FrameRate);
    g_BoardOpen = true;
    g_Opener = getpid();
  }
  m_Spec = *m_Board->BoardSpec();
  try {
    SetRunParameters(StoredRunParameters(settings, m_Spec));
  } catch (...) {
    Close(false);
    throw;
  }
}

CScriptBoard::~CScriptBoard() {
  try {
    Close(false);
  } catch (...) {
    // Nothing is left to tell: the board's end was attempted.
  }
}

bool CScriptBoard::IsOpen() const {
  std::lock_guard lock(m_Mutex);
  return m_Board != nullptr;
}

COrvBoard& CScriptBoard::Board() const {
  if (!m_Board) throw CScriptError("The board is closed");
  return *m_Board;
}

RunParameters CScriptBoard::Parameters() const {
  std::lock_guard lock(m_Mutex);
  return m_Parameters;
}

void CScriptBoard::SetRunParameters(const RunParameters& parameters) {
  std::lock_guard lock(m_Mutex);
  COrvBoard& board = Board();
  CheckParameters(parameters, m_Spec);
  board.SetRunParameters(static_cast<uint16_t>(parameters.FrameRate), static_cast<uint16_t>(parameters.LaserDuty),
                         static_cast<uint16_t>(parameters.LaserAGain), static_cast<uint16_t>(parameters.LaserBGain));
  m_Parameters = parameters;
}

bool CScriptBoard::WriteFrame(int frame, uint8_t* data) {
  std::lock_guard lock(m_Mutex);
  COrvBoard& board = Board();
  CheckFrame(frame, m_Spec);
  return board.WriteFrameBuffer(static_cast<uint16_t>(frame), data) != 0;
}

bool CScriptBoard::WriteFrameFrom(int frame, const uint8_t* data, uint8_t* scratch) {
  std::lock_guard lock(m_Mutex);
  COrvBoard& board = Board();
  CheckFrame(frame, m_Spec);
  return scripting::WriteFrameFrom(BoardModelOfType(m_Spec.BoardName), board, static_cast<uint16_t>(frame), data, scratch) != 0;
}

bool CScriptBoard::SetPhase(int frame, const float* phases, const std::string& wavelength, const PhaseHost& host) {
  std::lock_guard lock(m_Mutex);
  COrvBoard& board = Board();
  CheckFrame(frame, m_Spec);
  cpu::FrameVector image(size_t{m_Spec.Width} * m_Spec.Height);
  ComposePhaseFrame(phases, wavelength, host, BoardGeometry(m_Spec), image.data());
  return board.WriteFrameBuffer(static_cast<uint16_t>(frame), image.data()) != 0;
}

bool CScriptBoard::Select(int frame) {
  std::lock_guard lock(m_Mutex);
  COrvBoard& board = Board();
  CheckFrame(frame, m_Spec);
  return board.SelectImage(frame) != 0;
}

bool CScriptBoard::Run(const std::vector<int>& frames, bool loop) {
  std::lock_guard lock(m_Mutex);
  COrvBoard& board = Board();
  std::vector<uint16_t> list = CheckedRunFrames(frames, m_Spec);  // the driver copies it
  return board.SetRunMode(1, static_cast<int>(list.size() - 1), list.data(), loop ? 1 : 0) != 0;
}

void CScriptBoard::Stop() {
  std::lock_guard lock(m_Mutex);
  Board().SetRunMode(0, 0, nullptr, 0);
}

bool CScriptBoard::Status(SRun_Status& status) {
  std::lock_guard lock(m_Mutex);
  status = SRun_Status{};
  return Board().GetRunStatus(&status) != 0;
}

bool CScriptBoard::Power() {
  std::lock_guard lock(m_Mutex);
  return Board().GetPower() != 0;
}

bool CScriptBoard::SetPower(bool on) {
  std::lock_guard lock(m_Mutex);
  return Board().SetPower(on ? 1 : 0) != 0;
}

int CScriptBoard::TrueFrames() {
  std::lock_guard lock(m_Mutex);
  return Board().GetTrueFrames();
}

int CScriptBoard::ImageFrames() {
  std::lock_guard lock(m_Mutex);
  return Board().GetImageFrames();
}

std::string CScriptBoard::Close(bool keepPower) {
  std::lock_guard lock(m_Mutex);
  if (!m_Board) return {};
  COrvBoard& board = *m_Board;
  board.SetRunMode(0, 0, nullptr, 0);
  board.SetRunParameters(static_cast<uint16_t>(m_Parameters.FrameRate), static_cast<uint16_t>(m_Parameters.LaserDuty),
                         0, 0);
  std::string left = "lasers at zero gain";
  std::lock_guard process(g_ProcessMutex);
  if (keepPower && board.GetPower() != 0) {
    g_Parked = {m_Board.release(), m_ModulatorType, m_TrueFrames};
    left += ", SLM power left on";
  } else {
    left += board.SetPower(0) == 0 ? ", SLM power off" : ", SLM power did not switch off";
    m_Board.reset();  // closing the card switches everything off
  }
  g_BoardOpen = false;
  return left;
}

}  // namespace scripting
