#pragma once
// The next entry's frame composed on another thread while the user-interface thread writes
// the one before to the card, so the card's busy time and the next composition overlap.
// The worker reads nothing the user-interface thread changes: it composes a copy of the
// entry, and the boxes its readers ask for are held for the caller to show when it takes
// the frame up, where a download one entry at a time would have shown them.

#include <atomic>
#include <cstddef>
#include <functional>
#include <thread>
#include <vector>

#include "SequenceFile.h"
#include "cpu/AlignedBytes.h"
#include "ui/Host.h"

class CComposeAhead {
 public:
  // Composes entry into frame (the entry's Valid says how it went) and sets bitCount to the
  // depth of the last bitmap read, 0 for none.
  using ComposeFunction = std::function<void(Image_Entry& entry, uint8_t* frame, int& bitCount)>;

  struct Composed {
    Image_Entry entry;  // the copy composed, with its Valid
    uint8_t* frame = nullptr;
    int bitCount = 0;
    std::vector<HeldMessage> messages;
  };

  CComposeAhead(size_t frameBytes, ComposeFunction compose);
  ~CComposeAhead();  // waits for the frame in hand
  CComposeAhead(const CComposeAhead&) = delete;
  CComposeAhead& operator=(const CComposeAhead&) = delete;

  // False when the frames could not be allocated: compose one entry at a time instead.
  bool Ready() const { return m_Frames[0] != nullptr && m_Frames[1] != nullptr; }
  // Starts composing a copy of entry into the frame not taken last.
  void Start(const Image_Entry& entry);
  // The frame started last, once composed; valid until the next Take.
  Composed& Take();
  // Waits for the frame in hand and ends the worker; Start does nothing after it.
  void Stop();

 private:
  enum : int { IDLE, PENDING, STOPPED };
  // Spins a while, then sleeps, until the state is no longer state; returns the new one.
  int WaitWhile(int state);
  void Work();

  ComposeFunction m_Compose;
  cpu::AlignedBytes m_Frames[2];
  Composed m_Slots[2];
  int m_Next = 0;  // the slot Start fills and Take hands out; changed only while not PENDING
  std::atomic<int> m_State{IDLE};  // PENDING: slot m_Next is being composed
  std::jthread m_Worker;
};
