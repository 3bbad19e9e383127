#include "WindowBoard.h"

#include "BoardStatus.h"
#include "ScriptMessages.h"
#include "Sorrel.h"
#include "SorrelDlg.h"
#include "ui/Host.h"

namespace {

// The window's boxes held while it serves one call.
class CHeldBoxes {
 public:
  explicit CHeldBoxes(std::vector<HeldMessage>& into) { HoldMessagesOnThisThread(&into); }
  ~CHeldBoxes() { HoldMessagesOnThisThread(nullptr); }
  CHeldBoxes(const CHeldBoxes&) = delete;
  CHeldBoxes& operator=(const CHeldBoxes&) = delete;
};

}  // namespace

CWindowBoard::CWindowBoard(CSorrelDlg& dlg)
    : m_Dlg(dlg), m_Spec(dlg.ServedSpec()), m_HandOver([&dlg] { return dlg.ReadyForClients(); }) {}

template <class Work>
auto CWindowBoard::OnWindow(Work work) -> decltype(work()) {
  using Result = decltype(work());
  std::optional<Result> result;
  std::vector<HeldMessage> held;
  const bool ran = m_HandOver.Run([&] {
    const CHeldBoxes hold(held);
    result = work();
  });
  for (const HeldMessage& m : held) scripting::KeepMessage(m.caption, m.text);
  if (!ran) throw scripting::CScriptError("The board is closed: the window is ending");
  return *result;
}

sorrel::v1::BoardStatus CWindowBoard::Status() {
  return service::Describe(OnWindow([&] { return m_Dlg.ServedFacts(); }));
}

scripting::PhaseHost CWindowBoard::PhaseComposition() {
  const std::string folder = OnWindow([&] {
    const size_t pixels = size_t{m_Spec.Width} * m_Spec.Height;
    m_Compensation.Apply = m_Dlg.m_bApplyCorrection;
    m_Compensation.Slm.assign(m_Dlg.m_SLMPhaseComp.get(), m_Dlg.m_SLMPhaseComp.get() + pixels);
    m_Compensation.Sys.assign(m_Dlg.m_SysPhaseComp.get(), m_Dlg.m_SysPhaseComp.get() + pixels);
    return theApp->m_ProgramFolder;
  });
  return scripting::HostWith(m_Compensation, folder);
}

bool CWindowBoard::RunStatus(SRun_Status& status) {
  std::lock_guard lock(m_RunMutex);
  status = m_Run;
  return m_RunGiven;
}

void CWindowBoard::NoteRunStatus(bool given, const SRun_Status& status) {
  std::lock_guard lock(m_RunMutex);
  m_RunGiven = given;
  m_Run = status;
}

bool CWindowBoard::SetPower(bool on) {
  return OnWindow([&] { return m_Dlg.ServePower(on); });
}

bool CWindowBoard::Select(int frame) {
  scripting::CheckFrame(frame, m_Spec);
  return OnWindow([&] { return m_Dlg.ServeSelect(frame); });
}

scripting::RunParameters CWindowBoard::SetRunParameters(const scripting::RunParameters& parameters) {
  scripting::CheckParameters(parameters, m_Spec);
  return OnWindow([&] { return m_Dlg.ServeRunParameters(parameters); });
}

bool CWindowBoard::WriteFrame(int frame, const uint8_t* pixels) {
  scripting::CheckFrame(frame, m_Spec);
  return OnWindow([&] { return m_Dlg.ServeWrite(frame, pixels); });
}

bool CWindowBoard::Run(const std::vector<int>& frames, bool loop) {
  const std::vector<uint16_t> list = scripting::CheckedRunFrames(frames, m_Spec);
  return OnWindow([&] { return m_Dlg.ServeRun(list, loop); });
}

void CWindowBoard::Stop() {
  OnWindow([&] {
    m_Dlg.ServeStop();
    return true;
  });
}
