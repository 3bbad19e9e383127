#include <chrono>
#include <cstdio>
#include <thread>

#include "BoardSession.h"
#include "Commands.h"
#include "Terminal.h"
#include "ScriptMessages.h"

namespace sorrelctl {

int PowerCommand(const COptions& options) {
  options.ExpectOperands(1, "on|off");
  const std::string& wanted = options.Operands()[0];
  if (wanted != "on" && wanted != "off") throw CUsageError("power: takes on or off, not '" + wanted + "'");
  const bool on = wanted == "on";
  const std::optional<double> seconds = options.Seconds("--seconds");
  if (const auto service = ServiceFor(options)) {
    return RunOnService(*service, options, [&](service::CBoardClient& client) {
      client.SetPower(on);
      Result("SLM power %s\n", wanted.c_str());
      if (seconds) std::this_thread::sleep_for(std::chrono::duration<double>(*seconds));
    });
  }
  return RunOnBoard(options, [&](CBoardSession& session) {
    if (session.Board().SetPower(on) != on) {
      throw scripting::CScriptError(
          scripting::JoinedTexts(scripting::TakeMessages(), "SLM power did not switch " + wanted));
    }
    Result("SLM power %s\n", wanted.c_str());
    if (seconds) session.Wait(*seconds);
  });
}

}  // namespace sorrelctl
