#include "BoardSession.h"

#include <poll.h>

#include <chrono>
#include <cmath>
#include <cstring>

#include "ServiceSocket.h"
#include "Terminal.h"
#include "ui/Signals.h"

namespace sorrelctl {

const std::vector<OptionSpec>& BoardOptions() {
  static const std::vector<OptionSpec> OPTIONS = {
      {"--modulator", 1, "amplitude|phase", "the modulator type the board is opened with (stored: LC_Type)"},
      {"--true-frames", 1, "N", "the true frames the board is opened with, 3 to 32767 (stored: TrueFrames)"},
      {"--keep-power", 0, "", "leave the SLM power as it is at the end instead of switching it off"},
      {"--save", 0, "", "store the values this command used in the settings store"},
  };
  return OPTIONS;
}

std::vector<OptionSpec> WithBoardOptions(std::vector<OptionSpec> own) {
  own.insert(own.end(), BoardOptions().begin(), BoardOptions().end());
  return own;
}

CBoardSession::CBoardSession(const COptions& options)
    : m_KeepPower(options.Has("--keep-power")), m_Save(options.Has("--save")), m_Settings(ReadStoredSettings()) {
  if (options.Has("--modulator")) {
    const std::string& type = options.Values("--modulator")[0];
    if (type != "amplitude" && type != "phase") {
      throw CUsageError("--modulator takes amplitude or phase, not '" + type + "'");
    }
    m_Settings.LC_Type = type == "phase" ? 1 : 0;
  }
  if (auto trueFrames = options.Number("--true-frames", 3, 32767)) m_Settings.TrueFrames = static_cast<uint16_t>(*trueFrames);
  // Recorded now, acted on between two steps of the command, never inside a board call.
  WatchTerminationSignals([](int) {});
}

CBoardSession::~CBoardSession() { StopWatchingTerminationSignals(); }

scripting::CScriptBoard& CBoardSession::Board() {
  if (!m_Board) {
    m_Board = std::make_unique<scripting::CScriptBoard>(m_Settings);
    SayMessages();
    m_Settings.BoardType = m_Board->Spec().BoardName;
  }
  return *m_Board;
}

void CBoardSession::CheckSignal() {
  if (const int signal = PendingTerminationSignal()) throw CSignalled{signal};
}

void CBoardSession::Wait(double seconds) {
  using Clock = std::chrono::steady_clock;
  const auto end = Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
  for (;;) {
    CheckSignal();
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now());
    if (left.count() <= 0) return;
    pollfd wake{TerminationSignalFd(), POLLIN, 0};
    poll(&wake, 1, static_cast<int>(std::min<int64_t>(left.count(), 1000)));
  }
}

void CBoardSession::Finish(bool failed) {
  if (m_Board) {
    const std::string left = m_Board->Close(m_KeepPower);
    SayMessages();
    Say(left);
  }
  if (m_Save && !failed) WriteStoredSettings(m_Settings);
}

const OptionSpec& ServiceOption() {
  static const OptionSpec OPTION = {"--service", 1, "SOCKET",
                                    "go through the board service on this socket (default: the one that answers on "
                                    "$XDG_RUNTIME_DIR/sorrel/board.sock, else none)"};
  return OPTION;
}

std::optional<std::string> ServiceFor(const COptions& options) {
  if (options.Has("--service")) return options.Values("--service")[0];
  const std::string path = service::DefaultSocketPath();
  if (!path.empty() && service::Answers(path)) return path;
  return std::nullopt;
}

int RunOnService(const std::string& path, const COptions& options,
                 const std::function<void(service::CBoardClient&)>& command) {
  for (const char* opening : {"--modulator", "--true-frames", "--save"}) {
    if (options.Has(opening)) {
      Say(service::OpeningOptionRefused(opening, path));
      return 1;
    }
  }
  try {
    service::CBoardClient client(path, options.Has("--keep-power"));
    command(client);
    return 0;
  } catch (const std::exception& e) {
    Say(e.what());
    return 1;
  }
}

int RunOnBoard(const COptions& options, const std::function<void(CBoardSession&)>& command) {
  CBoardSession session(options);
  int signal = 0;
  bool failed = false;
  try {
    command(session);
    session.CheckSignal();
  } catch (const CSignalled& s) {
    signal = s.signal;
    Say(std::string("ended by SIG") + sigabbrev_np(signal));
  } catch (const std::exception& e) {
    SayMessages();
    Say(e.what());
    failed = true;
  }
  session.Finish(failed);
  if (signal != 0) EndByTerminationSignal(signal);
  return failed ? 1 : 0;
}

}  // namespace sorrelctl
