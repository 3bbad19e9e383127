#include "BoardService.h"
#include "BoardSession.h"
#include "Commands.h"
#include "ServiceSocket.h"
#include "Terminal.h"

namespace sorrelctl {

int ServeCommand(const COptions& options) {
  options.ExpectOperands(0, "");
  const std::string path = options.Has("--socket") ? options.Values("--socket")[0] : service::DefaultSocketPath();
  if (path.empty()) throw CUsageError("serve: XDG_RUNTIME_DIR is not set; give --socket PATH");
  const int clients = options.Number("--max-clients", 1, 1000).value_or(service::CBoardService::DEFAULT_MAX_CLIENTS);
  return RunOnBoard(options, [&](CBoardSession& session) {
    scripting::CScriptBoard& board = session.Board();
    // Gone, and its socket file with it, before the session ends the board safely.
    service::CBoardService served(board, path, clients);
    Say("serving " + std::string(board.Spec().BoardName) + " on " + path);
    for (;;) session.Wait(3600);
  });
}

}  // namespace sorrelctl
