#include <chrono>
#include <cstdio>
#include <thread>

#include "BoardSession.h"
#include "Commands.h"
#include "Terminal.h"
#include "ScriptMessages.h"

namespace sorrelctl {

int SelectCommand(const COptions& options) {
  options.ExpectOperands(1, "N");
  const int frame = ParseNumber(options.Operands()[0], 0, 65535, "select: N");
  const std::optional<double> seconds = options.Seconds("--seconds");
  if (const auto service = ServiceFor(options)) {
    return RunOnService(*service, options, [&](service::CBoardClient& client) {
      client.Select(frame);
      Result("frame %d selected\n", frame);
      if (seconds) std::this_thread::sleep_for(std::chrono::duration<double>(*seconds));
    });
  }
  return RunOnBoard(options, [&](CBoardSession& session) {
    if (!session.Board().Select(frame)) {
      throw scripting::CScriptError(
          scripting::JoinedTexts(scripting::TakeMessages(), "Frame " + std::to_string(frame) + " could not be selected"));
    }
    Result("frame %d selected\n", frame);
    if (seconds) session.Wait(*seconds);
  });
}

}  // namespace sorrelctl
