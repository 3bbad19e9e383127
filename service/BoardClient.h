#pragma once
// A client of the board service: the calls a command makes, each refusal thrown with the
// service's text, which is the board's own.

#include <memory>
#include <stdexcept>
#include <string>

#include "sorrel_board.grpc.pb.h"

namespace service {

class CServiceError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class CBoardClient {
 public:
  // Talks to the service listening on the Unix socket at socketPath.
  explicit CBoardClient(const std::string& socketPath);

  sorrel::v1::BoardStatus Status();
  // The power the board ends in.
  bool SetPower(bool on);
  void Select(int frame);

 private:
  void Check(const grpc::Status& status) const;

  std::string m_Path;
  std::unique_ptr<sorrel::v1::Board::Stub> m_Stub;
};

}  // namespace service
