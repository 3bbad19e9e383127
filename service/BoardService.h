#pragma once
// The board service: serves one board to clients on a Unix domain socket (the calls of
// sorrel_board.proto), one call at a time, each checked for the caller's user. The board
// stays its host's: the host opens it before the service starts and ends it after the
// service is gone.

#include <sys/types.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "ServedBoard.h"

namespace service {

// A process connected to the service, as its socket's credentials name it.
struct ServiceClient {
  pid_t Pid;
  std::string Program;  // as /proc/<pid>/comm gives it
};

// Told the connected clients, oldest first, each time one comes or goes; called on the
// service's own thread, never while the service waits for it, so it must not wait itself.
using ClientsObserver = std::function<void(const std::vector<ServiceClient>& clients)>;

class CBoardService {
 public:
  static constexpr int DEFAULT_MAX_CLIENTS = 8;

  // Listens on socketPath (see Listen) and serves until destroyed; throws
  // std::runtime_error when it cannot listen there.
  CBoardService(CServedBoard& board, const std::string& socketPath,
                int maxClients = DEFAULT_MAX_CLIENTS, ClientsObserver observer = {});
  // Ends every call, stops listening and removes the socket file.
  ~CBoardService();
  CBoardService(const CBoardService&) = delete;
  CBoardService& operator=(const CBoardService&) = delete;

  const std::string& SocketPath() const;

  class CImpl;

 private:
  std::unique_ptr<CImpl> m_Impl;
};

}  // namespace service
