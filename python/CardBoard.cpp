#include "CardBoard.h"

#include "BoardGeometry.h"
#include "CoreCalls.h"
#include "FrameArrays.h"
#include "PhaseFrame.h"
#include "SafeEnd.h"

namespace py = pybind11;

namespace sorrelpy {

CCardBoard::CCardBoard(const StoredSettings& settings, bool keepPower)
    : CModuleBoard(keepPower), m_Board(std::make_unique<scripting::CScriptBoard>(settings)) {
  m_Scratch.resize(static_cast<size_t>(m_Board->Spec().Width) * m_Board->Spec().Height);
  // As the program composes its patterns when started here with these settings.
  m_Compensation = scripting::StoredCompensation(settings, BoardGeometry(m_Board->Spec()));
  m_WorkingFolder = scripting::CurrentWorkingFolder();
  Remember(*this);
}

CCardBoard::~CCardBoard() {
  std::lock_guard lock(CoreMutex());
  Forget(*this);
  if (Inherited()) {
    (void)m_Board.release();  // the parent's card: neither touched nor closed here
    return;
  }
  EndHeld();
}

scripting::CScriptBoard& CCardBoard::Board() {
  CheckOwner();
  return *m_Board;
}

std::string CCardBoard::EndHeld() { return m_Board->Close(KeepPower()); }

void CCardBoard::WriteFrame(int frame, const py::handle& argument) {
  const SBoard_Spec& spec = Board().Spec();
  const FrameView view = CheckedFrame(argument, spec.Width, spec.Height, "write_frame: the frame");
  const bool written = InCore([&] {
    // The scratch is the core's: one write at a time goes through it.
    if (!m_Board->IsOpen()) throw scripting::CScriptError("The board is closed");
    // An array laid out as the frame goes to the board as it is, reordered on the way when
    // the board wants it; any other layout is gathered into the scratch first.
    if (IsFrameLayout(view, spec.Width)) return m_Board->WriteFrameFrom(frame, view.base, m_Scratch.data());
    CopyFrame(view, m_Scratch.data(), spec.Width, spec.Height);
    return m_Board->WriteFrame(frame, m_Scratch.data());
  });
  if (!written) RaiseWithMessages("WriteFrameBuffer failed for frame " + std::to_string(frame));
}

void CCardBoard::SetPhase(int frame, const float* phases, const std::string& wavelength) {
  const bool written = InCore([&] {
    return Board().SetPhase(frame, phases, wavelength, scripting::HostWith(m_Compensation, m_WorkingFolder));
  });
  if (!written) RaiseWithMessages("WriteFrameBuffer failed for frame " + std::to_string(frame));
}

void CCardBoard::SetRunParameters(const scripting::RunParameters& parameters) {
  InCore([&] { Board().SetRunParameters(parameters); });
}

void CCardBoard::Run(const std::vector<int>& frames, bool loop) {
  if (!InCore([&] { return Board().Run(frames, loop); })) RaiseWithMessages("The run did not start");
}

void CCardBoard::Stop() {
  InCore([&] { Board().Stop(); });
}

SRun_Status CCardBoard::Status() {
  SRun_Status status{};
  if (!InCore([&] { return Board().Status(status); })) RaiseWithMessages("The board gave no run status");
  return status;
}

void CCardBoard::Select(int frame) {
  if (!InCore([&] { return Board().Select(frame); })) {
    RaiseWithMessages("Frame " + std::to_string(frame) + " could not be selected");
  }
}

bool CCardBoard::Power() {
  return InCore([&] { return Board().Power(); });
}

void CCardBoard::SetPower(bool on) {
  if (InCore([&] { return Board().SetPower(on); }) != on) {
    RaiseWithMessages(std::string("The SLM power did not switch ") + (on ? "on" : "off"));
  }
}

int CCardBoard::TrueFrames() {
  return InCore([&] { return Board().TrueFrames(); });
}

int CCardBoard::ImageFrames() {
  return InCore([&] { return Board().ImageFrames(); });
}

double CCardBoard::ReachedFrameRate() {
  return InCore([&] { return ::ReachedFrameRate(Board().Spec(), Board().ImageFrames()); });
}

std::string CCardBoard::Close(bool keepPower) {
  if (Inherited()) return {};
  return InCore([&] { return m_Board->Close(keepPower); });
}

}  // namespace sorrelpy
