#pragma once
// A frame channel (sorrel_board.proto, "Frame channels"): its calls as they go
// through the socket, and the client's end.

#include <grpcpp/support/status.h>

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

namespace service {

enum class EChannelCall : uint32_t { WriteFrame = 1, Select = 2 };

struct SChannelCall {
  EChannelCall Call;
  int32_t Frame;
};

using ChannelToken = std::array<uint8_t, 16>;

// The most a reply's text takes.
constexpr size_t CHANNEL_REPLY_BYTES = 4096;

// One message from fd into buffer, looked for without sleeping for up to spin
// first: a message that comes within it spares the wake-up of a thread that
// slept. Returns the bytes received, 0 at the channel's end, -1 with errno.
ssize_t ReceiveSoon(int fd, void* buffer, size_t size, std::chrono::microseconds spin);

// An outcome as a reply, and back.
std::string ChannelReply(const grpc::Status& status);
grpc::Status ReplyStatus(const char* reply, ssize_t size);

class CFrameChannel {
 public:
  // Connects to the channel at path with token and a shared file of frameBytes;
  // throws std::runtime_error with the reason when it cannot, or the service's refusal.
  CFrameChannel(const std::string& path, const ChannelToken& token, size_t frameBytes);
  ~CFrameChannel();
  CFrameChannel(const CFrameChannel&) = delete;
  CFrameChannel& operator=(const CFrameChannel&) = delete;

  // Where WriteFrame's pixels go, before the call.
  uint8_t* Pixels() { return m_Pixels; }
  // The call's outcome as the service gives it; UNAVAILABLE once the channel has ended.
  grpc::Status Call(EChannelCall call, int frame);

 private:
  void Release();

  int m_Socket = -1;
  int m_File = -1;
  size_t m_Bytes;
  uint8_t* m_Pixels = nullptr;
};

}  // namespace service
