#pragma once
// The board service: serves one board to clients on a Unix domain socket (the calls of
// sorrel_board.proto), one call at a time, each checked for the caller's user. The board
// stays its host's: the host opens it before the service starts and ends it after the
// service is gone.

#include <memory>
#include <string>

#include "ServedBoard.h"

namespace service {

class CBoardService {
 public:
  static constexpr int DEFAULT_MAX_CLIENTS = 8;
  // Calls a second from one client, with a burst of one second's worth.
  static constexpr int DEFAULT_MAX_RATE = 10000;
  // Status streams open at once on one client's connection.
  static constexpr int MAX_STREAMS = 4;

  // Listens on socketPath (see Listen) and serves until destroyed; throws
  // std::runtime_error when it cannot listen there.
  CBoardService(CServedBoard& board, const std::string& socketPath,
                int maxClients = DEFAULT_MAX_CLIENTS, int maxRate = DEFAULT_MAX_RATE);
  // Ends every status stream and then every call, stops listening and removes the socket file.
  ~CBoardService();
  CBoardService(const CBoardService&) = delete;
  CBoardService& operator=(const CBoardService&) = delete;

  const std::string& SocketPath() const;

  class CImpl;

 private:
  std::unique_ptr<CImpl> m_Impl;
};

}  // namespace service
