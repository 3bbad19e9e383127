#pragma once
// The board's status stream: one thread waits for the board's interrupts and offers what
// the board showed at each (the facility keeps it for pci::SHOWN_RECORDS interrupts, so a
// late thread loses none) to every open stream, each of which keeps the updates its client
// asked for. A stream its client does not read holds at most HELD_UPDATES and merges the
// rest, so it never holds back the thread, the board or the other streams.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "ServedBoard.h"
#include "pci/Facility.h"
#include "sorrel_board.pb.h"

namespace service {

class CStatusWatch {
 public:
  static constexpr size_t HELD_UPDATES = 256;
  // How often the board is looked at while it shows no frames.
  static constexpr std::chrono::milliseconds IDLE_LOOK{100};

  // What the board shows at one moment.
  struct Sample {
    uint64_t frames = 0;  // interrupts taken
    int frame = 0;
    int position = 0;
    sorrel::v1::RunState run = sorrel::v1::RUN_STATE_UNKNOWN;
    double rate = 0;
    bool power = false;
    int gainA = 0;
    int gainB = 0;
  };

  class CStream;

  // The board stays its host's; the watch only reads it, from its own thread.
  explicit CStatusWatch(CServedBoard& board);
  // Ends every stream, then the thread.
  ~CStatusWatch();
  CStatusWatch(const CStatusWatch&) = delete;
  CStatusWatch& operator=(const CStatusWatch&) = delete;

  // A stream of what the request asks for; already ended once End was called.
  std::shared_ptr<CStream> Open(const sorrel::v1::WatchRequest& request);
  // Ends every stream: each still hands out what it holds, then says it ended.
  void End();

 private:
  void Watch();
  // Fills m_Samples: one for each interrupt after m_Seen, or what the board shows now when
  // none came within IDLE_LOOK (at once when fresh: the first look of a watch).
  void Look(bool fresh);
  // Appends the records of the interrupts after seen to m_Shown; the newest's number.
  uint64_t Gather(uint64_t seen);
  double Rate(std::chrono::steady_clock::time_point now);

  CServedBoard& m_Board;
  std::optional<pci::Location> m_Card;
  uint64_t m_Seen = 0;
  // The run as read right after interrupt m_Seen; none when no reading could be placed there.
  std::optional<SRun_Status> m_RunAtSeen;
  std::vector<pci::DisplayInfo> m_Shown;  // one look's records
  std::vector<Sample> m_Samples;          // what one look offers
  // (when, interrupts) about every 100 ms over the last second, for the measured rate.
  std::deque<std::pair<std::chrono::steady_clock::time_point, uint64_t>> m_Counted;

  std::mutex m_Mutex;
  std::condition_variable m_Changed;
  bool m_Ending = false;
  std::vector<std::weak_ptr<CStream>> m_Streams;
  std::thread m_Thread;
};

class CStatusWatch::CStream {
 public:
  explicit CStream(const sorrel::v1::WatchRequest& request);

  // The next update, waiting at most timeout; nothing when none came or the stream ended.
  std::optional<sorrel::v1::StatusUpdate> Next(std::chrono::milliseconds timeout);
  // Ended and nothing left to hand out.
  bool Ended();

 private:
  friend class CStatusWatch;
  // On the watch's thread: keeps an update when the request wants one now.
  void Offer(const Sample& sample, std::chrono::steady_clock::time_point now);
  void End();

  const uint64_t m_Every;
  const std::chrono::nanoseconds m_Gap;  // between two updates; 0 for no limit
  // The watch's thread's alone.
  std::optional<Sample> m_Sent;
  std::chrono::steady_clock::time_point m_SentAt{};

  std::mutex m_Mutex;
  std::condition_variable m_Ready;
  std::deque<sorrel::v1::StatusUpdate> m_Held;
  bool m_Ended = false;
};

}  // namespace service
