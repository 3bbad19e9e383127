#include <grp.h>
#include <sys/prctl.h>

#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <thread>
#include <utility>

#include "BoardGeometry.h"
#include "BoardService.h"
#include "BoardSession.h"
#include "Commands.h"
#include "HeadlessBoard.h"
#include "PhaseFrame.h"
#include "ServeCards.h"
#include "ServiceSocket.h"
#include "Terminal.h"
#include "pci/Facility.h"

namespace sorrelctl {

namespace {

// Who else is served, each checked before the card is asked for.
service::SServiceAccess Access(const COptions& options) {
  service::SServiceAccess access;
  if (options.Has("--group")) {
    const std::string& name = options.Values("--group")[0];
    const group* found = getgrnam(name.c_str());
    if (found == nullptr) throw CUsageError("serve: there is no group " + name);
    access.Group = found->gr_gid;
  }
  if (!options.Has("--listen")) {
    if (options.Has("--tls-dir")) throw CUsageError("serve: --tls-dir is for --listen HOST:PORT");
    return access;
  }
  const std::string& address = options.Values("--listen")[0];
  const size_t colon = address.rfind(':');
  if (colon == std::string::npos || colon == 0 || address.find('/') != std::string::npos) {
    throw CUsageError("serve: --listen takes HOST:PORT, not '" + address + "'");
  }
  ParseNumber(address.substr(colon + 1), 0, 65535, "serve: --listen's port");
  if (!options.Has("--tls-dir")) {
    throw CUsageError("serve: --listen needs --tls-dir DIR: the board service listens on a network only with mutual "
                      "TLS (sorrelctl certs makes the files)");
  }
  access.TcpAddress = address;
  access.Tls = service::ReadTlsFiles(options.Values("--tls-dir")[0], service::ETlsSide::Server);
  return access;
}

// Who is served, printed as it changes by a thread of its own, so the service never waits for
// a terminal that is paused or a pipe nobody reads; a line not printed yet gives way to a newer.
class CClientsPrinter {
 public:
  CClientsPrinter() {
    std::thread([state = m_State] {
      std::unique_lock lock(state->Mutex);
      for (;;) {
        state->Changed.wait(lock, [&] { return state->Line.has_value(); });
        const std::string line = *std::exchange(state->Line, std::nullopt);
        lock.unlock();
        std::fprintf(stdout, "%s\n", line.c_str());
        std::fflush(stdout);
        lock.lock();
      }
    }).detach();
  }
  void Tell(const std::vector<service::ServiceClient>& clients) {
    std::lock_guard lock(m_State->Mutex);
    m_State->Line = service::ClientsLine(clients);
    m_State->Changed.notify_one();
  }

 private:
  struct SState {
    std::mutex Mutex;
    std::condition_variable Changed;
    std::optional<std::string> Line;
  };
  std::shared_ptr<SState> m_State = std::make_shared<SState>();
};

}  // namespace

int ServeCommand(const COptions& options) {
  options.ExpectOperands(0, "");
  const std::string path = options.Has("--socket") ? options.Values("--socket")[0] : service::DefaultSocketPath();
  if (path.empty()) throw CUsageError("serve: XDG_RUNTIME_DIR is not set; give --socket PATH");
  const bool several = options.Values("--card").size() > 1;
  if (several && options.Has("--listen")) {
    throw CUsageError("serve: --listen serves one card, not several: start a serve --listen for each card");
  }
  // Each card's end would store its own board's values over the others'.
  if (several && options.Has("--save")) {
    throw CUsageError("serve: --save stores one board's values, not several: start a serve --save for that card");
  }
  const int clients = options.Number("--max-clients", 1, 1000).value_or(service::CBoardService::DEFAULT_MAX_CLIENTS);
  const service::SServiceAccess access = Access(options);
  const int rate = options.Number("--max-rate", 1, 1000000).value_or(service::CBoardService::DEFAULT_MAX_RATE);
  if (several) return ServeCards(options, path);
  // A worker of ServeCards, started through /proc/self/exe, would be named exe: ps and pgrep
  // find it by the tool's name.
  prctl(PR_SET_NAME, program_invocation_short_name);
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
    // Who comes and goes, for the operator's terminal or the machine's journal.
    CClientsPrinter printer;
    service::CBoardService served(headless, path, clients, rate, access,
                                  [&printer](const std::vector<service::ServiceClient>& served) { printer.Tell(served); });
    const std::string tcp = served.TcpAddress().empty() ? "" : " and tls://" + served.TcpAddress();
    const std::string card = pci::CardAddress(pci::RegisteredCards().front());
    Result("serving %s at %s on %s%s\n", board.Spec().BoardName, card.c_str(), path.c_str(), tcp.c_str());
    for (;;) session.Wait(3600);
  });
}

}  // namespace sorrelctl
