#pragma once
// A board's status as the service reports it, made the same way in the process that holds
// the board and in the service that holds it for others.

#include "ScriptBoard.h"
#include "sorrel_board.pb.h"

namespace service {

// What a status is made of, read from the board by whoever holds it.
struct BoardFacts {
  SBoard_Spec Spec{};
  uint16_t ModulatorType = 0;
  int TrueFrames = 0;
  int ImageFrames = 0;
  bool Power = false;
  bool HasRun = false;  // the board gave its run status
  SRun_Status Run{};
  scripting::RunParameters Parameters;
  int SelectedFrame = -1;
};

sorrel::v1::BoardStatus Describe(const BoardFacts& facts);
// Everything but selected_frame, which only the service keeps (-1 here).
sorrel::v1::BoardStatus Describe(scripting::CScriptBoard& board);

void Put(const scripting::RunParameters& parameters, sorrel::v1::RunParameters* out);

}  // namespace service
