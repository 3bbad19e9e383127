#pragma once
// The board service: serves one board to clients on a Unix domain socket (the calls of
// sorrel_board.proto), one call at a time, each checked for the caller's user; and, when
// asked, on a TCP address to clients with a certificate of its authority. The board stays
// its host's: the host opens it before the service starts and ends it after the service is
// gone.

#include <sys/types.h>

#include <sys/types.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "ServedBoard.h"
#include "ServiceTls.h"

namespace service {

// Who else the service is open to, beside its own user's processes on its socket.
struct SServiceAccess {
  // The socket's group, whose members are served too.
  std::optional<gid_t> Group;
  // HOST:PORT to listen on as well (port 0: one the system picks), with mutual TLS through
  // Tls; empty for none.
  std::string TcpAddress;
  STlsFiles Tls;
};

// A process connected to the service, as its socket's credentials name it; a client over
// TCP has no process here (Pid 0) and is named by its certificate and address.
struct ServiceClient {
  pid_t Pid;
  std::string Program;  // as /proc/<pid>/comm gives it; a TCP client's certificate name and address
};

// Told the connected clients, oldest first, each time one comes or goes; called on the
// service's own thread, never while the service waits for it, so it must not wait itself.
using ClientsObserver = std::function<void(const std::vector<ServiceClient>& clients)>;

// Who is served, in one line for the operator: "Board service: 2 clients (16854 python3,
// analysis at 10.0.0.7:40312)", or "Board service: no clients".
std::string ClientsLine(const std::vector<ServiceClient>& clients);

class CBoardService {
 public:
  static constexpr int DEFAULT_MAX_CLIENTS = 8;
  // Calls a second from one client, with a burst of one second's worth.
  static constexpr int DEFAULT_MAX_RATE = 100000;
  // Status streams open at once on one client's connection.
  static constexpr int MAX_STREAMS = 4;

  // Listens on socketPath (see Listen) and, when access says so, on its TCP address, and
  // serves until destroyed, telling observer of its clients; throws std::runtime_error when
  // it cannot listen there. The client limit counts the clients of both; maxRate is the
  // calls a second one client may make.
  CBoardService(CServedBoard& board, const std::string& socketPath, int maxClients = DEFAULT_MAX_CLIENTS,
                int maxRate = DEFAULT_MAX_RATE, const SServiceAccess& access = {}, ClientsObserver observer = {});
  // Ends every status stream and then every call, stops listening and removes the socket file.
  ~CBoardService();
  CBoardService(const CBoardService&) = delete;
  CBoardService& operator=(const CBoardService&) = delete;

  const std::string& SocketPath() const;
  // The TCP address served, with the port listened on; empty when none is.
  const std::string& TcpAddress() const;

  class CImpl;

 private:
  std::unique_ptr<CImpl> m_Impl;
};

}  // namespace service
