#pragma once
// A client of the board service: the calls a command makes, each refusal thrown with the
// service's text, which is the board's own.

#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "ScriptBoard.h"
#include "sorrel_board.grpc.pb.h"

namespace service {

class CServiceError : public std::runtime_error {
 public:
  explicit CServiceError(const std::string& text, grpc::StatusCode code = grpc::StatusCode::UNAVAILABLE)
      : std::runtime_error(text), m_Code(code) {}
  // FAILED_PRECONDITION: the board said no.
  grpc::StatusCode Code() const { return m_Code; }

 private:
  grpc::StatusCode m_Code;
};

class CBoardClient {
 public:
  // Talks to the service listening on the Unix socket at socketPath. With keepPower, the
  // service leaves the SLM power on when this client was the last to change it and leaves.
  CBoardClient(const std::string& socketPath, bool keepPower);

  sorrel::v1::BoardStatus Status();
  // The power the board ends in.
  bool SetPower(bool on);
  void Select(int frame);
  // What the board runs with afterwards.
  scripting::RunParameters SetRunParameters(const scripting::RunParameters& parameters);
  // Width x height bytes of the service's board, in screen order.
  void WriteFrame(int frame, const uint8_t* pixels);
  void StartRun(const std::vector<int>& frames, bool loop);
  void StopRun();
  // Hands each update of the status stream to each until it returns false or the service
  // ends the stream.
  void Watch(const sorrel::v1::WatchRequest& request,
             const std::function<bool(const sorrel::v1::StatusUpdate&)>& each);

 private:
  void Check(const grpc::Status& status) const;
  // What every call of this client says of itself.
  void Prepare(grpc::ClientContext& context) const;

  std::string m_Path;
  bool m_KeepPower;
  std::unique_ptr<sorrel::v1::Board::Stub> m_Stub;
  size_t m_FrameBytes = 0;  // asked of the service at the first frame written
};

}  // namespace service
