#pragma once
// The service's end of the frame channels: their socket, and a thread for each
// channel that carries its calls to the service.

#include <sys/socket.h>
#include <sys/types.h>

#include <atomic>
#include <list>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "FrameChannel.h"

namespace service {

// What a channel's calls reach.
class CChannelCalls {
 public:
  virtual ~CChannelCalls() = default;
  // The client a token was handed to, once, when peer is that client's process.
  virtual std::optional<uint64_t> Claim(const ChannelToken& token, const std::optional<ucred>& peer) = 0;
  // One call of that client's, with the pixels of a WriteFrame.
  virtual grpc::Status Serve(uint64_t client, const SChannelCall& call, const uint8_t* pixels) = 0;
};

class CFrameChannels {
 public:
  // Listens at path (mode as ServiceSocket's Listen gives it) for channels of
  // frames of frameBytes, at most maxChannels at once; throws std::runtime_error when it cannot.
  CFrameChannels(const std::string& path, std::optional<gid_t> group, size_t frameBytes, int maxChannels,
                 CChannelCalls& calls);
  // Ends every channel, a call in progress first carried out, and removes the socket file.
  ~CFrameChannels();
  CFrameChannels(const CFrameChannels&) = delete;
  CFrameChannels& operator=(const CFrameChannels&) = delete;

  const std::string& Path() const { return m_Path; }

 private:
  struct Channel {
    int Socket = -1;
    std::optional<uint64_t> Client;  // once opened
    std::atomic<bool> Ended = false;
    std::thread Thread;
  };

  void Accept();
  void Carry(Channel& channel);
  // The channel's token and shared file taken; the pixels mapped, or nullptr after the refusal.
  const uint8_t* Open(Channel& channel);
  // Ends the other channels of client; under m_Mutex.
  void EndOthers(const Channel& channel);

  const std::string m_Path;
  const size_t m_FrameBytes;
  const size_t m_MaxChannels;
  CChannelCalls& m_Calls;
  int m_Listener = -1;
  int m_Wake = -1;
  std::atomic<bool> m_Stopping = false;
  std::mutex m_Mutex;
  std::list<Channel> m_Channels;
  std::thread m_Acceptor;
};

}  // namespace service
