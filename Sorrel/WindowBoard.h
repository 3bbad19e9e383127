#pragma once
// The board as the window serves it to the board service's clients: each call handed to the
// user-interface thread and carried out by the window's own controls, so the window shows
// what a client did as if the operator had done it. The operator owns the board: the
// clients' leaving changes nothing. The window's message boxes for a client's call are held
// and become the client's refusal; nobody at the window has to answer them.

#include <mutex>
#include <optional>

#include "SequenceFrames.h"
#include "ServedBoard.h"
#include "ui/HandOver.h"

class CSorrelDlg;

class CWindowBoard final : public service::CServedBoard {
 public:
  // On the user-interface thread, once the window is ready.
  explicit CWindowBoard(CSorrelDlg& dlg);

  // Calls waiting for the window, and those still to come, are refused from now on.
  void Close() { m_HandOver.Close(); }
  CHandOver& HandOver() { return m_HandOver; }

  const SBoard_Spec& Spec() const override { return m_Spec; }
  sorrel::v1::BoardStatus Status() override;
  bool SetPower(bool on) override;
  bool Select(int frame) override;
  scripting::RunParameters SetRunParameters(const scripting::RunParameters& parameters) override;
  bool WriteFrame(int frame, const uint8_t* pixels) override;
  bool Run(const std::vector<int>& frames, bool loop) override;
  void Stop() override;
  void ClientsLeft(bool) override {}
  // The run status the window read last: the window alone drives its board, so the status
  // stream's thread is given the window's reading rather than asking the board itself.
  bool RunStatus(SRun_Status& status) override;
  bool RunStatusIsCurrent() const override { return false; }
  // On the user-interface thread, each time the window has read the board's run status.
  void NoteRunStatus(bool given, const SRun_Status& status);
  // The window's compensation and working folder as they are now, copied: the service
  // composes on its own thread while the operator may change the window's.
  scripting::PhaseHost PhaseComposition() override;

 private:
  // work on the window, its boxes kept for the caller; throws CScriptError once the window
  // no longer takes calls.
  template <class Work>
  auto OnWindow(Work work) -> decltype(work());

  CSorrelDlg& m_Dlg;
  const SBoard_Spec m_Spec;
  CHandOver m_HandOver;
  scripting::Compensation m_Compensation;  // the last PhaseComposition's copy
  std::mutex m_RunMutex;
  bool m_RunGiven = false;
  SRun_Status m_Run{};
};
