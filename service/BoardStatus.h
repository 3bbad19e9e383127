#pragma once
// A board's status as the service reports it, made the same way in the process that holds
// the board and in the service that holds it for others.

#include "ScriptBoard.h"
#include "sorrel_board.pb.h"

namespace service {

// Everything but selected_frame, which only the service keeps (-1 here).
sorrel::v1::BoardStatus Describe(scripting::CScriptBoard& board);

void Put(const scripting::RunParameters& parameters, sorrel::v1::RunParameters* out);

}  // namespace service
