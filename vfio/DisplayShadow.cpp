#include "DisplayShadow.h"

#include <algorithm>
#include <cstring>

#include "BoardRegisters.h"
#include "BoardFrames.h"
#include "cpu/FrameCopy.h"

namespace vfio {
void CDisplayShadow::Start(uint32_t frameWindowBytes) {
  const board::Shape* known = board::ShapeOfFrameBytes(frameWindowBytes);
  std::scoped_lock lock(m_Mutex, m_FrameMutex);
  m_Shape = known != nullptr ? *known : board::Shape{};
  m_BoardId = m_Control = m_FrameSelect = m_FrameCounts = m_TimingA = m_TimingB = 0;
  m_Frames.clear();
  m_Frames.resize(known == nullptr ? 0 : m_Shape.buffers);
}

void CDisplayShadow::Stop() {
  std::scoped_lock lock(m_Mutex, m_FrameMutex);
  m_Frames.clear();
  m_Shape = {};
}

void CDisplayShadow::RegisterWritten(uint32_t offset, uint32_t value) {
  std::lock_guard lock(m_Mutex);
  switch (offset) {
    case REG_CONTROL:
      m_Control = value;
      break;
    case REG_FRAME_SELECT:
      m_FrameSelect = value;
      break;
    case REG_FRAME_COUNTS:
      m_FrameCounts = value;
      break;
    case REG_TIMING_A:
      m_TimingA = value;
      break;
    case REG_TIMING_B:
      m_TimingB = value;
      break;
    default:
      break;
  }
}

void CDisplayShadow::RegisterRead(uint32_t offset, uint32_t value) {
  if (offset != REG_STATUS || value == 0xFFFFFFFF) return;  // all ones: the card did not answer
  std::lock_guard lock(m_Mutex);
  m_BoardId = value >> STATUS_BOARD_ID_SHIFT;
}

void CDisplayShadow::FrameWritten(uint32_t offset, const void* source, uint32_t bytes) {
  uint32_t buffer = 0;
  uint32_t size = 0;
  {
    std::lock_guard lock(m_Mutex);
    if (m_Shape.width == 0) return;
    buffer = (m_FrameSelect >> FRAME_SELECT_DOWNLOAD_SHIFT) & FieldMask();
    size = m_Shape.FrameBytes();
  }
  if (offset >= size) return;
  bytes = std::min(bytes, size - offset);
  std::lock_guard frames(m_FrameMutex);
  if (buffer >= m_Frames.size()) return;
  cpu::AlignedBytes& frame = m_Frames[buffer];
  if (!frame) {
    frame = cpu::NewAlignedBytes(size, cpu::PAGE);
    std::memset(frame.get(), 0, size);  // what a fresh buffer shows
  }
  cpu::CopyFrameBytes(frame.get() + offset, source, bytes);
}

void CDisplayShadow::Read(pci::DisplayInfo& info, uint8_t* pixels, size_t capacity) {
  bool interleaved = false;
  uint32_t runBytes = 0;
  {
    std::lock_guard lock(m_Mutex);
    info.Width = info.Height = m_Shape.width;
    info.Powered = (m_Control & CONTROL_SLM_POWER) != 0 ? 1 : 0;
    info.Running = (m_Control & CONTROL_RUN) != 0 ? 1 : 0;
    info.Image = m_Shape.width == 0 ? 0 : m_FrameSelect & FieldMask();
    info.ImageFrames = std::max<uint32_t>(1, m_FrameCounts & FRAME_COUNTS_IMAGE_MASK);
    info.LaserAGain = m_TimingA & 0xFF;
    info.LaserBGain = m_TimingB & 0xFF;
    info.DarkA16 = (m_TimingA >> TIMING_WHOLE_SHIFT) * 16 + ((m_TimingA >> TIMING_FRACTION_SHIFT) & 0xFF);
    info.DarkB16 = (m_TimingB >> TIMING_WHOLE_SHIFT) * 16 + ((m_TimingB >> TIMING_FRACTION_SHIFT) & 0xFF);
    interleaved = m_Shape.width != 0 && board::StoresInterleaved(m_Shape, m_BoardId);
    runBytes = m_Shape.runBytes;
  }
  const size_t size = static_cast<size_t>(info.Width) * info.Height;
  if (pixels == nullptr || size == 0 || capacity < size) return;
  std::lock_guard frames(m_FrameMutex);
  if (info.Powered != 0 && info.Image < m_Frames.size() && m_Frames[info.Image]) {
    board::DecodeFrame(m_Frames[info.Image].get(), pixels, static_cast<uint32_t>(size), runBytes, interleaved);
  } else {
    std::memset(pixels, 0, size);
  }
}

}  // namespace vfio
