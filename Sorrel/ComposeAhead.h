#pragma once
// The next entries' frames composed on other threads while the user-interface thread writes
// the one before to the card, so the card's busy time and the compositions overlap. Each
// lane composes every n-th entry into one of its two frames while the caller holds the other.
// A lane reads nothing the user-interface thread changes: it composes a copy of the entry,
// and the boxes its readers ask for are held for the caller to show when it takes the frame
// up, where a download one entry at a time would have shown them.

#include <atomic>
#include <cstddef>
#include <functional>
#include <memory>
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

  // Lanes composing at once: one per core beside the user-interface thread's, at least one.
  static size_t LanesForThisMachine();

  CComposeAhead(size_t frameBytes, ComposeFunction compose, size_t lanes);
  ~CComposeAhead();  // waits for the frames in hand
  CComposeAhead(const CComposeAhead&) = delete;
  CComposeAhead& operator=(const CComposeAhead&) = delete;

  // False when the frames could not be allocated: compose one entry at a time instead.
  bool Ready() const;
  size_t Lanes() const { return m_Lanes.size(); }
  // Starts composing a copy of entry, the entry after the one started before.
  void Start(const Image_Entry& entry);
  // The frame of the earliest entry started and not taken, once composed; valid until that
  // lane's next Take.
  Composed& Take();
  // Waits for the frames in hand and ends the lanes; Start does nothing after it.
  void Stop();

 private:
  class CLane;
  ComposeFunction m_Compose;
  std::vector<std::unique_ptr<CLane>> m_Lanes;
  size_t m_Started = 0, m_Taken = 0;
};
