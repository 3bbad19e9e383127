#pragma once
// sorrel.Board: the script's board, with the scratch frame every write goes through (the
// driver rewrites a frame in place when its board stores frames reordered, so a script's
// array is never handed to it), what its phases are composed with (the stored compensation
// and the working folder when it opened), and the end the script asked for when it leaves
// the board without closing it.

#include <pybind11/pybind11.h>

#include <memory>
#include <string>
#include <vector>

#include "ScriptBoard.h"
#include "SequenceFrames.h"
#include "cpu/AlignedBytes.h"

namespace sorrelpy {

class CModuleBoard {
 public:
  // With the core held.
  CModuleBoard(const StoredSettings& settings, bool keepPower);
  ~CModuleBoard();  // the safe end, with the power as open_board asked

  // Throws sorrel.Error in a process forked from the one that opened it.
  scripting::CScriptBoard& Board();
  bool KeepPower() const { return m_KeepPower; }
  // Checks the array (GIL held), then copies its pixels into the scratch frame and writes that
  // (GIL released).
  void WriteFrame(int frame, const pybind11::handle& array);
  // Phases as CheckedPhases takes them (GIL held), composed and written (GIL released).
  void SetPhase(int frame, const pybind11::handle& phases, const std::string& wavelength);
  std::string Close(bool keepPower);
  // With the core held, in the process that opened it: the safe end with the power as
  // open_board asked; what it left.
  std::string EndHeld();
  // Made by a process this one was forked from: its board is that process's, not ours.
  bool Inherited() const;

 private:
  std::unique_ptr<scripting::CScriptBoard> m_Board;
  bool m_KeepPower;
  int m_Owner;  // process id of the opener
  cpu::FrameVector m_Scratch;
  scripting::Compensation m_Compensation;
  std::string m_WorkingFolder;
};

// Binds BoardSpec, RunStatus, Board and open_board into the module.
void BindBoard(pybind11::module_& module);

}  // namespace sorrelpy
