#include "BoardSession.h"

#include <grpc/support/log.h>
#include <poll.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <string_view>

#include "ServiceSocket.h"
#include "pci/Facility.h"
#include "Terminal.h"
#include "ui/Signals.h"

namespace sorrelctl {

const std::vector<OptionSpec>& BoardOptions() {
  static const std::vector<OptionSpec> OPTIONS = {
      {"--card", 1, "ADDRESS|SLOT", "the card to open: its PCI address (0000:03:00.0) or slot number (default: the first)"},
      {"--modulator", 1, "amplitude|phase", "the modulator type the board is opened with (stored: LC_Type)"},
      {"--true-frames", 1, "N", "the true frames the board is opened with, 3 to 32767 (stored: TrueFrames)"},
      {"--keep-power", 0, "", "leave the SLM power as it is at the end instead of switching it off"},
      {"--save", 0, "", "store the values this command used in the settings store"},
  };
  return OPTIONS;
}

std::vector<OptionSpec> WithBoardOptions(std::vector<OptionSpec> own) {
  const size_t owned = own.size();
  for (const OptionSpec& board : BoardOptions()) {
    const auto same = [&](const OptionSpec& o) { return std::string_view(o.name) == board.name; };
    if (std::none_of(own.begin(), own.begin() + owned, same)) own.push_back(board);
  }
  return own;
}

namespace {

// Scan finds only the card --card names.
void ChooseCard(const COptions& options) {
  if (!options.Has("--card")) return;
  const std::string why = pci::ChooseCard(options.Values("--card")[0]);
  if (!why.empty()) throw CUsageError("--card: " + why);
}

}  // namespace

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
  ChooseCard(options);
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
  static const OptionSpec OPTION = {"--service", 1, "SOCKET|tls://HOST:PORT",
                                    "go through the board service on this socket, or on that address with --tls-dir "
                                    "(default: the one that answers on $XDG_RUNTIME_DIR/sorrel/board.sock, else on "
                                    SORREL_MACHINE_SOCKET ", else none)"};
  return OPTION;
}

const OptionSpec& TlsOption() {
  static const OptionSpec OPTION = {"--tls-dir", 1, "DIR",
                                    "this machine's TLS files for a service on a TCP address: ca.pem, client.pem, "
                                    "client.key (see certs)"};
  return OPTION;
}

std::optional<SServiceTarget> ServiceFor(const COptions& options) {
  ChooseCard(options);
  constexpr std::string_view TLS = "tls://";
  if (options.Has("--service")) {
    std::string where = options.Values("--service")[0];
    const bool tcp = where.starts_with(TLS);
    if (!options.Has("--tls-dir")) {
      if (tcp) throw CUsageError("--service " + where + " needs --tls-dir DIR with this machine's TLS files");
      return SServiceTarget{where, {}};
    }
    if (tcp) where.erase(0, TLS.size());
    return SServiceTarget{where, options.Values("--tls-dir")[0]};
  }
  if (options.Has("--tls-dir")) throw CUsageError("--tls-dir needs --service tls://HOST:PORT");
  if (const std::optional<std::string> path = service::LocalService(options.Has("--card"))) {
    return SServiceTarget{*path, {}};
  }
  return std::nullopt;
}

int RunOnService(const SServiceTarget& service, const COptions& options,
                 const std::function<void(service::CBoardClient&)>& command) {
  for (const char* opening : {"--modulator", "--true-frames", "--save"}) {
    if (options.Has(opening)) {
      Say(service::OpeningOptionRefused(opening, service.Where));
      return 1;
    }
  }
  // The tool says why a call failed in one line of its own; gRPC's log would say it again.
  gpr_set_log_function([](gpr_log_func_args*) {});
  try {
    service::CBoardClient client(service.Where, options.Has("--keep-power"), service.TlsFolder);
    if (options.Has("--card")) {
      const std::string held = client.Status().card();
      if (!pci::IsChosen(held)) {
        Say("--card " + options.Values("--card")[0] + ": the board service on " + service.Where +
            " holds the card at " + held);
        return 1;
      }
    }
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
