#pragma once
// What the board service drives: the board as its host holds it. The headless host hands
// the scripting core's board; the program hands its window, so that a client's request
// changes the window as the operator's own would. The service makes one call at a time.

#include <cstdint>
#include <vector>

#include "OrvBoard.h"
#include "PhaseFrame.h"
#include "ScriptBoard.h"
#include "sorrel_board.pb.h"

namespace service {

// Each call throws std::invalid_argument for a value the board does not take,
// std::out_of_range for a frame it does not have and scripting::CScriptError once the
// board is closed; it returns false when the board refused, its messages left for
// scripting::TakeMessages.
class CServedBoard {
 public:
  virtual ~CServedBoard() = default;

  virtual const SBoard_Spec& Spec() const = 0;
  // What the board holds now, with the frame last selected (-1 for none).
  virtual sorrel::v1::BoardStatus Status() = 0;
  // The power the board ends in.
  virtual bool SetPower(bool on) = 0;
  virtual bool Select(int frame) = 0;
  // What the board runs with afterwards.
  virtual scripting::RunParameters SetRunParameters(const scripting::RunParameters& parameters) = 0;
  // Width x Height bytes in screen order, which stay as they are.
  virtual bool WriteFrame(int frame, const uint8_t* pixels) = 0;
  // What a frame of phases is composed with now (scripting::ComposePhaseFrame): the
  // compensation as the host applies it to its own patterns, and its working folder, whose
  // LUT_Files hold the LUT of each wavelength. The images stay the host's; the service reads
  // them before its next call to the board.
  virtual scripting::PhaseHost PhaseComposition() = 0;
  virtual bool Run(const std::vector<int>& frames, bool loop) = 0;
  virtual void Stop() = 0;
  // The board's run status, for the status stream: asked once per board interrupt (or per
  // look at a late one's backlog) from the service's own thread, beside whatever call is
  // being served, so it may wait for a board operation in progress but for nothing longer.
  // False when the board gave none.
  virtual bool RunStatus(SRun_Status& status) = 0;
  // Whether RunStatus reads the board as it is when asked, rather than hand an earlier
  // reading: only then does the stream place the reading at an interrupt and tell where the
  // run was at the interrupts before it.
  virtual bool RunStatusIsCurrent() const = 0;
  // The last client has gone after clients changed the lasers or the power; keepPower: the
  // last of those changes asked to keep the power.
  virtual void ClientsLeft(bool keepPower) = 0;
};

}  // namespace service
