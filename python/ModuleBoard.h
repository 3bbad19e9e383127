#pragma once
// sorrel.Board: the script's board, whether this process holds the card (CCardBoard) or a
// board service holds it for it (CClientBoard). Both answer the one set of bindings here, so
// a script's calls, their checks and their errors are the same either way.

#include <pybind11/pybind11.h>

#include <string>
#include <vector>

#include "ScriptBoard.h"

namespace sorrelpy {

class CModuleBoard {
 public:
  explicit CModuleBoard(bool keepPower);
  virtual ~CModuleBoard() = default;

  bool KeepPower() const { return m_KeepPower; }
  // Made by a process this one was forked from: its board is that process's, not ours.
  bool Inherited() const;

  // Each is called with the GIL held, its arguments checked for type; the board checks the
  // values. Each throws sorrel.Error in a process forked from the one that opened the board.
  virtual const SBoard_Spec& Spec() = 0;
  virtual bool Closed() = 0;
  // A 2-D uint8 array of the board's shape, in any memory order; never changed.
  virtual void WriteFrame(int frame, const pybind11::handle& array) = 0;
  // Width x Height phases in radians, screen order, checked finite by the composition.
  virtual void SetPhase(int frame, const float* phases, const std::string& wavelength) = 0;
  virtual scripting::RunParameters Parameters() = 0;
  virtual void SetRunParameters(const scripting::RunParameters& parameters) = 0;
  virtual void Run(const std::vector<int>& frames, bool loop) = 0;
  virtual void Stop() = 0;
  virtual SRun_Status Status() = 0;
  virtual void Select(int frame) = 0;
  virtual bool Power() = 0;
  virtual void SetPower(bool on) = 0;
  virtual int TrueFrames() = 0;
  virtual int ImageFrames() = 0;
  virtual double ReachedFrameRate() = 0;
  // The safe end, with the power as asked; what it left. Closing a closed board does nothing.
  virtual std::string Close(bool keepPower) = 0;

 protected:
  // Throws sorrel.Error when Inherited.
  void CheckOwner() const;

 private:
  bool m_KeepPower;
  int m_Owner;  // process id of the opener
};

// Binds BoardSpec, RunStatus, Board, open_board and connect into the module.
void BindBoard(pybind11::module_& module);

}  // namespace sorrelpy
