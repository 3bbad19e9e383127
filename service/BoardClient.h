#pragma once
// A client of the board service: the calls sorrelctl and the Python module make, each
// refusal thrown with the service's text, which is the board's own.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "FrameChannel.h"
#include "ScriptBoard.h"
#include "sorrel_board.grpc.pb.h"

namespace service {

// A refusal other than a value the board does not take (std::invalid_argument) or a frame
// it does not have (std::out_of_range), as the script board throws those.
class CServiceError : public std::runtime_error {
 public:
  explicit CServiceError(const std::string& text, grpc::StatusCode code = grpc::StatusCode::UNAVAILABLE)
      : std::runtime_error(text), m_Code(code) {}
  // FAILED_PRECONDITION: the board said no.
  grpc::StatusCode Code() const { return m_Code; }

 private:
  grpc::StatusCode m_Code;
};

// What a client is told of an option that applies only to opening the card (a modulator
// type, true frames) when a service at path holds the board.
std::string OpeningOptionRefused(const std::string& option, const std::string& path);

// The socket of the local board service a client of this process goes through when it is
// not given one: the user's own, else the machine's, the first that answers and, when this
// process chose a card (pci::ChooseCard), holds that card, on that socket or on one of a
// further card beside it (CardSocketPath); none when the client is to open its card itself.
std::optional<std::string> LocalService(bool cardChosen);

class CBoardClient {
 public:
  // Connects to the service listening on the Unix socket at where, throwing CServiceError
  // when none answers; with tlsFolder, to the one on the TCP address where (HOST:PORT)
  // through mutual TLS with that folder's client files (ServiceTls.h), which are read now.
  // With keepPower, the service leaves the SLM power on when this client was the last to
  // change it and leaves.
  CBoardClient(const std::string& where, bool keepPower, const std::string& tlsFolder = {});

  const std::string& Where() const { return m_Where; }

  sorrel::v1::BoardStatus Status();
  // The power the board ends in.
  bool SetPower(bool on);
  void Select(int frame);
  // What the board runs with afterwards.
  sorrel::v1::RunParameters SetRunParameters(const sorrel::v1::RunParameters& parameters);
  scripting::RunParameters SetRunParameters(const scripting::RunParameters& parameters);
  // Width x height bytes of the service's board, in screen order, as fill puts them where
  // it is given: into the frame channel's shared file when this client has one, else into
  // the request.
  void WriteFrame(int frame, const std::function<void(uint8_t*)>& fill);
  void WriteFrame(int frame, const uint8_t* pixels);
  void StartRun(const std::vector<int>& frames, bool loop);
  void StopRun();
  // Whether the service keeps the power on once its last client has left (SetKeepPower).
  void SetKeepPower(bool keep);
  // Writes frame buffer `frame` from count phases in radians, in screen order, through the
  // LUT of the wavelength ("" for none); the service composes it (SetPhase).
  void SetPhase(int frame, const float* phases, size_t count, const std::string& wavelength);
  // Hands each update of the status stream to each until it returns false or the service
  // ends the stream.
  void Watch(const sorrel::v1::WatchRequest& request,
             const std::function<bool(const sorrel::v1::StatusUpdate&)>& each);

 private:
  // One call: send(context, reply) with the context every call of this client has; its
  // refusal thrown.
  template <class Reply, class Send>
  Reply Call(Send send);
  void Check(const grpc::Status& status) const;
  size_t FrameBytes();
  // The frame channel, opened at the second frame or selection; none over TCP, or when the
  // service has none to give, and then those calls go as messages. Under m_FrameMutex.
  CFrameChannel* Channel();

  std::string m_Where;
  std::string m_TlsFolder;
  bool m_KeepPower;
  std::unique_ptr<sorrel::v1::Board::Stub> m_Stub;
  size_t m_FrameBytes = 0;  // asked of the service at the first frame written
  // One frame or selection at a time goes through the channel or the request.
  std::mutex m_FrameMutex;
  int m_FrameCalls = 0;
  bool m_ChannelAsked = false;
  std::unique_ptr<CFrameChannel> m_Channel;
  sorrel::v1::WriteFrameRequest m_Request;  // its bytes kept allocated from one write to the next
};

}  // namespace service
