#pragma once
// A client of the board service: the calls a command makes, each refusal thrown with the
// service's text, which is the board's own.

#include <cstddef>
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
  // Talks to the service listening on the Unix socket at where; with tlsFolder, to the one
  // on the TCP address where (HOST:PORT) through mutual TLS with that folder's client files
  // (ServiceTls.h), which are read now. With keepPower, the service leaves the SLM power on
  // when this client was the last to change it and leaves.
  CBoardClient(const std::string& where, bool keepPower, const std::string& tlsFolder = {});

  sorrel::v1::BoardStatus Status();
  // The power the board ends in.
  bool SetPower(bool on);
  void Select(int frame);
  // Writes frame buffer `frame` from count phases in radians, in screen order, through the
  // LUT of the wavelength ("" for none); the service composes it (SetPhase).
  void SetPhase(int frame, const float* phases, size_t count, const std::string& wavelength);

 private:
  void Check(const grpc::Status& status) const;
  // What every call of this client says of itself.
  void Prepare(grpc::ClientContext& context) const;

  std::string m_Where;
  std::string m_TlsFolder;
  bool m_KeepPower;
  std::unique_ptr<sorrel::v1::Board::Stub> m_Stub;
};

}  // namespace service
