#include <cstdio>
#include <stdexcept>

#include "BoardGeometry.h"
#include "BoardService.h"
#include "BoardSession.h"
#include "Commands.h"
#include "HeadlessBoard.h"
#include "PhaseFrame.h"
#include "ServiceSocket.h"
#include "Terminal.h"

namespace sorrelctl {

int ServeCommand(const COptions& options) {
  options.ExpectOperands(0, "");
  const std::string path = options.Has("--socket") ? options.Values("--socket")[0] : service::DefaultSocketPath();
  if (path.empty()) throw CUsageError("serve: XDG_RUNTIME_DIR is not set; give --socket PATH");
  const int clients = options.Number("--max-clients", 1, 1000).value_or(service::CBoardService::DEFAULT_MAX_CLIENTS);
  // Said before the card is asked for, which that service holds.
  if (service::Answers(path)) throw std::runtime_error("a board service already answers on " + path);
  return RunOnBoard(options, [&](CBoardSession& session) {
    scripting::CScriptBoard& board = session.Board();
    // Gone, and its socket file with it, before the session ends the board safely.
    // Phases are composed as the program composes a pattern started here with these settings.
    const PatternGeometry geometry = BoardGeometry(board.Spec());
    service::CHeadlessBoard headless(board, scripting::StoredCompensation(session.Settings(), geometry),
                                     scripting::CurrentWorkingFolder());
    SayMessages();  // what the compensation files' reader said
    service::CBoardService served(headless, path, clients);
    Result("serving %s on %s\n", board.Spec().BoardName, path.c_str());
    for (;;) session.Wait(3600);
  });
}

}  // namespace sorrelctl
