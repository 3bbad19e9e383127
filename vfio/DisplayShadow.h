#pragma once
// What a real card's modulator shows, kept on the host's side: the card cannot be asked for
// its frames, so the shadow keeps what the driver wrote into frame memory and the board
// registers it set, and shows the selected frame as the panel decodes it.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "BoardFrames.h"
#include "cpu/AlignedBytes.h"
#include "pci/Facility.h"

namespace vfio {

class CDisplayShadow {
 public:
  // The frame window's size gives the board's shape; a size of no known board keeps no
  // frames and shows an empty picture.
  void Start(uint32_t frameWindowBytes);
  void Stop();

  // Board registers (BAR2) as written and as read (the status register carries the board id).
  void RegisterWritten(uint32_t offset, uint32_t value);
  void RegisterRead(uint32_t offset, uint32_t value);
  // Bytes written into the frame window (BAR3): into the buffer the download field names.
  void FrameWritten(uint32_t offset, const void* source, uint32_t bytes);

  void Read(pci::DisplayInfo& info, uint8_t* pixels, size_t capacity);

 private:
  uint32_t FieldMask() const { return (1u << m_Shape.fieldBits) - 1; }

  std::mutex m_Mutex;  // registers and shape: short holds only, the interrupt thread writes here
  board::Shape m_Shape{};  // all zero while no known board is started
  uint32_t m_BoardId = 0;
  uint32_t m_Control = 0;
  uint32_t m_FrameSelect = 0;
  uint32_t m_FrameCounts = 0;
  uint32_t m_TimingA = 0;
  uint32_t m_TimingB = 0;

  // Frames have their own lock, so decoding one for a viewer never holds up a register write.
  std::mutex m_FrameMutex;
  std::vector<cpu::AlignedBytes> m_Frames;
};

}  // namespace vfio
