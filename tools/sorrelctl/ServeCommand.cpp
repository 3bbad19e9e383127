#include <cstdio>
#include <stdexcept>

#include "BoardService.h"
#include "BoardSession.h"
#include "HeadlessBoard.h"
#include "Commands.h"
#include "ServiceSocket.h"
#include "Terminal.h"

namespace sorrelctl {

int ServeCommand(const COptions& options) {
  options.ExpectOperands(0, "");
  const std::string path = options.Has("--socket") ? options.Values("--socket")[0] : service::DefaultSocketPath();
  if (path.empty()) throw CUsageError("serve: XDG_RUNTIME_DIR is not set; give --socket PATH");
  const int clients = options.Number("--max-clients", 1, 1000).value_or(service::CBoardService::DEFAULT_MAX_CLIENTS);
  const int rate = options.Number("--max-rate", 1, 1000000).value_or(service::CBoardService::DEFAULT_MAX_RATE);
  // Said before the card is asked for, which that service holds.
  if (service::Answers(path)) throw std::runtime_error("a board service already answers on " + path);
  return RunOnBoard(options, [&](CBoardSession& session) {
    scripting::CScriptBoard& board = session.Board();
    // Gone, and its socket file with it, before the session ends the board safely.
    service::CHeadlessBoard headless(board);
    service::CBoardService served(headless, path, clients, rate);
    Result("serving %s on %s\n", board.Spec().BoardName, path.c_str());
    for (;;) session.Wait(3600);
  });
}

}  // namespace sorrelctl
