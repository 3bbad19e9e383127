#pragma once
// The bodies of the model-board driver. Included by each driver library, which
// instantiates them for its model; everything here stays inside that library.

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <new>
#include <thread>

#include "BoardFrames.h"
#include "BoardRegisters.h"
#include "FrameReorder.h"
#include "ModelBoard.h"
#include "ModelSetupDlg.h"
#include "PciBridge.h"
#include "ui/Host.h"
#include "ui/Process.h"

namespace modelboard {

// A model's values are those of the board shape its frame size names.
template <class Model>
constexpr bool MatchesBoardShape() {
  const board::Shape* shape = board::ShapeOfFrameBytes(uint32_t{Model::Width} * Model::Height);
  return shape != nullptr && shape->width == Model::Width && shape->height == Model::Height &&
         shape->buffers == Model::MaxFrames && shape->fieldBits == uint32_t{Model::FrameFieldBits} &&
         shape->runBytes == uint32_t{Model::ReorderRun} && shape->frameNs == Model::FrameTime * 100 &&
         shape->interleavedId == Model::ReorderId && shape->plainId == Model::PlainId;
}

// State of the one card a driver library holds, shared by its board objects and its
// interrupt routine. What the interrupt thread touches is atomic or behind ListMutex.
struct LibraryState {
  PciCard* pCard = nullptr;
  std::atomic<int> DownloadMode{0};
  std::atomic<uint32_t> LastIndex{0};
  std::atomic<uint32_t> CurrentIndex{0};
  std::atomic<int> Repeat{0};
  std::atomic<bool> RunDone{false};
  std::atomic<bool> FirstPass{false};
  std::atomic<uint32_t> InterruptCount{0};
  // SequenceList is copied and replaced by the caller while the routine may step through it.
  std::mutex ListMutex;
};

// One per instantiating library: the model is part of the name, and the library hides it.
template <class Model>
inline LibraryState g_Library;

inline uint32_t ReadReg(PciCard* card, uint32_t offset) { return PciReadReg(card, SPACE_REGISTERS, offset); }
inline void WriteReg(PciCard* card, uint32_t offset, uint32_t value) {
  PciWriteReg(card, SPACE_REGISTERS, offset, value);
}
inline void SetRegBits(PciCard* card, uint32_t offset, uint32_t bits) {
  WriteReg(card, offset, ReadReg(card, offset) | bits);
}
inline void ClearRegBits(PciCard* card, uint32_t offset, uint32_t bits) {
  WriteReg(card, offset, ReadReg(card, offset) & ~bits);
}
inline void WriteRegBit(PciCard* card, uint32_t offset, uint32_t bit, bool set) {
  if (set) {
    SetRegBits(card, offset, bit);
  } else {
    ClearRegBits(card, offset, bit);
  }
}
inline void WriteRegField(PciCard* card, uint32_t offset, uint32_t mask, int shift, uint32_t value) {
  WriteReg(card, offset, (ReadReg(card, offset) & ~(mask << shift)) | ((value & mask) << shift));
}

inline void ShowError(const char* text) { MessageBox(nullptr, text, "ERROR"); }

template <class Model>
constexpr uint32_t FRAME_FIELD_MASK = (1u << Model::FrameFieldBits) - 1;

template <class Model>
constexpr uint32_t FRAME_BYTES = uint32_t{Model::Width} * Model::Height;

// How long a wait for the board may take before it counts as not answering: a fixed
// second plus ten image periods, so slow frame rates get the time they need.
template <class Model>
std::chrono::steady_clock::time_point WaitDeadline(PciCard* card) {
  const uint64_t imageFrames = ReadReg(card, REG_FRAME_COUNTS) & FRAME_COUNTS_IMAGE_MASK;
  const auto period = std::chrono::nanoseconds(imageFrames * Model::FrameTime * 100);
  return std::chrono::steady_clock::now() + std::chrono::seconds(1) + 10 * period;
}

// How long a download waits for a board whose busy bits did not clear at the last wait:
// a hundred times what a board needs after a frame select.
constexpr auto STUCK_BUSY_WAIT = std::chrono::milliseconds(2);

// Spins until done() holds; false when the deadline passes first.
template <class Done>
bool SpinUntil(std::chrono::steady_clock::time_point deadline, Done done) {
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return done();
    std::this_thread::yield();
  }
  return true;
}

// What the power-up saw.
struct PowerUpResult {
  bool SupplyGood = false;
  bool DacFailed = false;
  uint32_t InitBits = 0;
  uint32_t Sdram[4] = {};
  uint32_t ControlVersion = 0;
};

inline PowerUpResult PowerUp(PciCard* card, int modulatorType) {
  PowerUpResult p;
  p.SupplyGood = (ReadReg(card, REG_STATUS) & STATUS_3V3_GOOD) != 0;
  p.InitBits = ReadReg(card, REG_STATUS) & STATUS_INIT_MASK;
  for (uint32_t k = 0; k < 4; ++k) p.Sdram[k] = ReadReg(card, REG_SDRAM0 + 4 * k);
  if (p.SupplyGood) {
    p.ControlVersion = ReadReg(card, REG_CONTROL_VERSION);
    WriteReg(card, REG_CONTROL, 0);
    WriteReg(card, REG_CONTROL, CONTROL_DAC_POWER | (modulatorType == 1 ? CONTROL_PHASE : 0));
    SleepMs(1000);
    const uint32_t status = ReadReg(card, REG_STATUS);
    p.DacFailed = !(status & STATUS_DAC_GOOD) || (status & STATUS_DAC_FAULT);
    const uint32_t m = ReadReg(card, REG_CONTROL) | CONTROL_OPAMP_POWER;
    WriteReg(card, REG_CONTROL, m);
    SleepMs(1000);
    WriteReg(card, REG_CONTROL, m | CONTROL_PULSE);
    WriteReg(card, REG_CONTROL, m & ~CONTROL_PULSE);
    SetRegBits(card, REG_CONTROL, CONTROL_NORMAL);
  }
  PciEnableInterrupt(card);
  return p;
}

// Runs on the interrupt thread once per board interrupt; never overlaps itself.
template <class Model>
void InterruptRoutine(void* argument) {
  PciCard* card = static_cast<PciCard*>(argument);
  LibraryState& lib = g_Library<Model>;
  if (lib.DownloadMode.load() != 0) {
    if (lib.InterruptCount.fetch_add(1) + 1 == Model::DownloadInterrupts) {
      ClearRegBits(card, REG_CONTROL, CONTROL_RUN);
    }
  } else {
    std::lock_guard lock(lib.ListMutex);
    const uint32_t last = lib.LastIndex.load();
    uint32_t current = lib.CurrentIndex.load();
    if (current == last) {
      if (lib.Repeat.load()) {
        current = 0;
      } else {
        lib.RunDone.store(true);
      }
    } else {
      ++current;
      lib.FirstPass.store(false);
    }
    if (SequenceList && last < SequenceListSize) {
      // Pass over frames the board does not hold, for one full pass at most.
      for (uint32_t tries = 0; tries <= last && SequenceList[current] >= Model::MaxFrames; ++tries) {
        current = current == last ? 0 : current + 1;
      }
      lib.CurrentIndex.store(current);
      if (SequenceList[current] < Model::MaxFrames) {
        WriteRegField(card, REG_FRAME_SELECT, FRAME_FIELD_MASK<Model>, 0, SequenceList[current]);
      }
    }
  }
  PciWriteReg(card, SPACE_BRIDGE, BRIDGE_INTCSR, PciReadReg(card, SPACE_BRIDGE, BRIDGE_INTCSR) | INTCSR_PCI_INT_ENABLE);
}

}  // namespace modelboard

template <class Model>
CModelBoard<Model>::CModelBoard(uint16_t modulatorType, uint16_t trueFrames, bool* claimed) {
  static_assert(modelboard::MatchesBoardShape<Model>(), "the model's values differ from its board's shape");
  using namespace modelboard;
  LibraryState& lib = g_Library<Model>;
  auto claim = [claimed](bool value) {
    if (claimed) *claimed = value;
  };

  m_ModulatorType = modulatorType != 0 ? 1 : 0;
  m_TrueFrames = std::clamp<uint16_t>(trueFrames, 3, 0x7FFF);
  lib.DownloadMode.store(0);
  m_HardwareError = false;
  m_MemoryVersion = 0;
  m_ControlVersion = 0;
  m_NeedsReorder = false;
  m_BusyStuck = false;
  m_RunStatus = SRun_Status{};

  m_BoardSpec = ModelBoardSpec<Model>();

  const uint32_t cards = PciCountCards(PLX_VENDOR_ID, PLX_DEVICE_ID);
  if (cards == 0) {
    m_HardwareError = true;
    claim(true);
    ShowError("Could not locate PCI board, is the PCI board plugged into computer?");
    return;
  }

  bool otherModelSeen = false;
  bool found = false;
  uint32_t boardId = 0;
  for (uint32_t i = 0; i < cards && !found; ++i) {
    if (!PciOpenCard(&lib.pCard, PLX_VENDOR_ID, PLX_DEVICE_ID, i, OPEN_USE_INTERRUPTS)) continue;
    boardId = ReadReg(lib.pCard, REG_STATUS) >> STATUS_BOARD_ID_SHIFT;
    if (boardId == Model::ReorderId || boardId == Model::PlainId) {
      found = true;
    } else {
      PciCloseCard(lib.pCard);
      lib.pCard = nullptr;
      otherModelSeen = true;
    }
  }
  if (!found) {
    if (otherModelSeen) {
      claim(false);
      return;
    }
    m_HardwareError = true;
    claim(true);
    ShowError(Model::NoBoardsMessage);
    return;
  }

  claim(true);
  m_NeedsReorder = boardId == Model::ReorderId;
  const PowerUpResult power = PowerUp(lib.pCard, m_ModulatorType);
  if (!power.SupplyGood) {
    char text[64];
    ShowError("3.3 Volt Status Low");
    std::snprintf(text, sizeof text, "INIT Bits %d %d %d %d", int(power.InitBits & 1), int(power.InitBits >> 1 & 1),
                  int(power.InitBits >> 2 & 1), int(power.InitBits >> 3 & 1));
    ShowError(text);
    std::snprintf(text, sizeof text, "SDRAM Bits %x %x %x %x", power.Sdram[0], power.Sdram[1], power.Sdram[2],
                  power.Sdram[3]);
    ShowError(text);
    CloseCard();
    ExitProcess(0);
  }
  if (power.DacFailed) {
    ShowError("Could not power the DAC board.\n Is DAC power cable connected?\n");
    CloseCard();
    ExitProcess(0);
  }
  SetTrueFrames(m_TrueFrames);
  m_MemoryVersion = static_cast<int>(power.Sdram[0]);
  m_ControlVersion = static_cast<int>(power.ControlVersion);
}

template <class Model>
CModelBoard<Model>::~CModelBoard() {
  if (!m_HardwareError && modelboard::g_Library<Model>.pCard) CloseCard();
}

template <class Model>
void CModelBoard<Model>::CloseCard() {
  PciCard*& card = modelboard::g_Library<Model>.pCard;
  PciCloseCard(card);
  card = nullptr;
}

template <class Model>
PciCard* CModelBoard<Model>::Card() const {
  return m_HardwareError ? nullptr : modelboard::g_Library<Model>.pCard;
}

template <class Model>
const SBoard_Spec* CModelBoard<Model>::BoardSpec() {
  return &m_BoardSpec;
}

template <class Model>
int CModelBoard<Model>::SetupDialog(int* modulatorType, int* trueFrames) {
  using namespace modelboard;
  if (m_HardwareError) {
    ShowError("Cannot open board setup dialog - hardware error");
    return 0;
  }
  PciCard* card = Card();
  if (!card) return 0;
  typename Model::SetupDlg dlg(this);
  dlg.m_Amplitude = m_ModulatorType == 0 ? 1 : 0;
  dlg.m_Phase = m_ModulatorType == 1 ? 1 : 0;
  const uint32_t control = ReadReg(card, REG_CONTROL);
  dlg.m_DetA = (control & CONTROL_DETA) != 0;
  dlg.m_DetB = (control & CONTROL_DETB) != 0;
  // Only a board with an open card gets here; the dialog's own default says "Not Present".
  dlg.m_Presence = "Board Present";
  dlg.m_Bus = static_cast<int>(card->Bus);
  dlg.m_Slot = static_cast<int>(card->Slot);
  dlg.m_BoardId = static_cast<int>(ReadReg(card, REG_STATUS) >> STATUS_BOARD_ID_SHIFT);

  if (dlg.DoModal() == IDOK) {
    if (dlg.m_Amplitude) m_ModulatorType = 0;
    if (dlg.m_Phase) m_ModulatorType = 1;
    m_TrueFrames = static_cast<uint16_t>(dlg.m_TrueFrames);
    WriteRegBit(card, REG_CONTROL, CONTROL_DETA, dlg.m_DetA);
    WriteRegBit(card, REG_CONTROL, CONTROL_DETB, dlg.m_DetB);
  }
  // Also after a cancel: the hardware follows what the board holds.
  WriteRegBit(card, REG_CONTROL, CONTROL_PHASE, m_ModulatorType == 1);
  SetTrueFrames(m_TrueFrames);
  if (modulatorType) *modulatorType = m_ModulatorType;
  if (trueFrames) *trueFrames = m_TrueFrames;
  return 1;
}

template <class Model>
int CModelBoard<Model>::SetDownloadMode(int mode) {
  if (!Card()) return 0;
  modelboard::g_Library<Model>.DownloadMode.store(mode);
  return 1;
}

template <class Model>
int CModelBoard<Model>::SetRunParameters(uint16_t frameRate, uint16_t laserDuty, uint16_t laserAGain,
                                         uint16_t laserBGain) {
  using namespace modelboard;
  PciCard* card = Card();
  if (!card) return 0;
  if (frameRate == 0 || frameRate > 1000) frameRate = 1;
  if (laserDuty > 100) laserDuty = 50;
  if (laserAGain > 255) laserAGain = 255;
  if (laserBGain > 255) laserBGain = 0;

  // Image frames: board frames per image, rounded half up.
  const double x = (1.0 / frameRate) / Model::BoardFrameSeconds;
  uint16_t h = static_cast<uint16_t>(std::floor(x));
  if (x - std::floor(x) >= 0.5) ++h;

  uint32_t t1, f1, t2, f2;
  if (m_ModulatorType == 1) {
    // A whole, even number of true-frame periods; the off time fills the first half first.
    const uint16_t t = m_TrueFrames;
    while (h % t != 0) ++h;
    if ((h / t) % 2 == 1) h += t;
    const double w = h * (1.0 - laserDuty / 100.0);
    const uint32_t half = h / 2u;
    if (w < half) {
      t1 = static_cast<uint32_t>(std::floor(w));
      f1 = static_cast<uint32_t>((w - std::floor(w)) * 16);
      t2 = 0;
      f2 = 0;
    } else {
      t1 = half;
      f1 = 0;
      t2 = static_cast<uint32_t>(std::floor(w)) - half;
      f2 = static_cast<uint32_t>((w - std::floor(w)) * 16);
    }
  } else {
    // The off time split evenly between the two half periods.
    if (h % 2 == 1) ++h;
    const double v = h / 2 - (h * laserDuty / 100.0) / 2;
    t1 = t2 = static_cast<uint32_t>(std::floor(v));
    f1 = f2 = static_cast<uint32_t>((v - std::floor(v)) * 16);
  }
  WriteReg(card, REG_TIMING_A, laserAGain | f1 << TIMING_FRACTION_SHIFT | t1 << TIMING_WHOLE_SHIFT);
  WriteReg(card, REG_TIMING_B, laserBGain | f2 << TIMING_FRACTION_SHIFT | t2 << TIMING_WHOLE_SHIFT);
  SetImageFrames(h);
  return 0;
}

template <class Model>
int CModelBoard<Model>::SetTrueFrames(uint16_t trueFrames) {
  PciCard* card = Card();
  if (!card) return 0;
  modelboard::WriteRegField(card, REG_FRAME_COUNTS, 0xFFFF, FRAME_COUNTS_TRUE_SHIFT,
                            trueFrames);
  return 1;
}

template <class Model>
int CModelBoard<Model>::GetTrueFrames() {
  PciCard* card = Card();
  if (!card) return 0;
  return static_cast<int>(modelboard::ReadReg(card, REG_FRAME_COUNTS) >>
                          FRAME_COUNTS_TRUE_SHIFT);
}

template <class Model>
int CModelBoard<Model>::SetImageFrames(uint16_t imageFrames) {
  PciCard* card = Card();
  if (!card) return 0;
  modelboard::WriteRegField(card, REG_FRAME_COUNTS, FRAME_COUNTS_IMAGE_MASK, 0,
                            imageFrames);
  return 1;
}

template <class Model>
int CModelBoard<Model>::GetImageFrames() {
  PciCard* card = Card();
  if (!card) return 0;
  return static_cast<int>(modelboard::ReadReg(card, REG_FRAME_COUNTS) &
                          FRAME_COUNTS_IMAGE_MASK);
}

template <class Model>
int CModelBoard<Model>::WriteFrameBuffer(uint16_t frame, uint8_t* data) {
  return Download(frame, data, data);
}

template <class Model>
int CModelBoard<Model>::WriteFrameBufferFrom(uint16_t frame, const uint8_t* data, uint8_t* scratch) {
  return Download(frame, data, scratch);
}

template <class Model>
int CModelBoard<Model>::Download(uint16_t frame, const uint8_t* data, uint8_t* reordered) {
  using namespace modelboard;
  // Frame numbers from MaxFrames up would overflow the download field into buffer 0.
  PciCard* card = Card();
  if (!card || frame >= Model::MaxFrames) return 0;
  if (!data) {
    ShowError("WRITEFRAMEBUFFER - Cannot download file to board - NULL array");
    return 1;
  }
  {
    // The interrupt routine rewrites the same register's image field during a run.
    std::lock_guard lock(g_Library<Model>.ListMutex);
    WriteRegField(card, REG_FRAME_SELECT, FRAME_FIELD_MASK<Model>, FRAME_SELECT_DOWNLOAD_SHIFT, frame);
  }
  const auto deadline = m_BusyStuck ? std::chrono::steady_clock::now() + STUCK_BUSY_WAIT : WaitDeadline<Model>(card);
  const bool ready = SpinUntil(deadline, [card] { return (ReadReg(card, REG_STATUS) & STATUS_BUSY_MASK) == 0; });
  m_BusyStuck = !ready;
  // A board that never got ready leaves the caller's frame as it was, so a retry sends it as is.
  if (!ready) return 0;
  // The board wants the frame in its memory order; the bytes change (in place for
  // WriteFrameBuffer) only once nothing can fail any more.
  const uint8_t* sent = data;
  if (m_NeedsReorder) {
    BMP2MainMemory(data, reordered);
    sent = reordered;
  }
  ClearRegBits(card, REG_CONTROL, CONTROL_NORMAL);
  PciWriteBlock(card, 0, sent, FRAME_BYTES<Model>, SPACE_FRAME_MEMORY);
  SetRegBits(card, REG_CONTROL, CONTROL_NORMAL);
  return 1;
}

template <class Model>
int CModelBoard<Model>::BMP2MainMemory(const uint8_t* src, uint8_t* dst) {
  modelboard::ToBoardOrder<Model>(src, dst);
  return 0;
}

template <class Model>
int CModelBoard<Model>::SelectImage(int image) {
  using namespace modelboard;
  PciCard* card = Card();
  if (!card || image < 0 || image >= Model::MaxFrames) return 0;
  LibraryState& lib = g_Library<Model>;
  {
    std::lock_guard lock(lib.ListMutex);  // as for a download's field
    WriteRegField(card, REG_FRAME_SELECT, FRAME_FIELD_MASK<Model>, 0, static_cast<uint32_t>(image));
  }
  if (lib.DownloadMode.load() != 0) {
    // The board shows the image once it has run a few periods; the routine stops it then.
    lib.InterruptCount.store(0);
    SetRegBits(card, REG_CONTROL, CONTROL_RUN);
    const bool shown = SpinUntil(WaitDeadline<Model>(card),
                                 [] { return g_Library<Model>.InterruptCount.load() >= Model::DownloadInterrupts; });
    if (!shown) {
      ClearRegBits(card, REG_CONTROL, CONTROL_RUN);
      return 0;
    }
  }
  return 1;
}

template <class Model>
int CModelBoard<Model>::SetRunMode(uint8_t mode, int count, uint16_t* list, int repeat) {
  using namespace modelboard;
  if (m_HardwareError) {
    ShowError("Hardware Error - Can Not Sequence");
    return 0;
  }
  PciCard* card = Card();
  if (!card) return 0;
  LibraryState& lib = g_Library<Model>;
  if (!(mode & 1)) {
    m_RunStatus.RunFlags &= ~RUN_FLAG_ACTIVE;
    ClearRegBits(card, REG_CONTROL, CONTROL_RUN);
    return 1;
  }

  if (!list || count < 0) return 0;
  const uint32_t entries = static_cast<uint32_t>(count) + 1;
  uint16_t* grown = nullptr;
  if (entries > SequenceListSize) {
    grown = new (std::nothrow) uint16_t[entries];
    if (!grown) return 0;
  }

  m_RunStatus.RunFlags |= RUN_FLAG_ACTIVE;
  m_RunStatus.LastIndex = static_cast<uint16_t>(count);
  SelectImage(0);
  lib.Repeat.store(repeat);
  lib.RunDone.store(false);
  uint32_t control = ReadReg(card, REG_CONTROL) | CONTROL_DAC_POWER | CONTROL_OPAMP_POWER | CONTROL_SLM_POWER;
  control = m_ModulatorType == 1 ? control | CONTROL_PHASE : control & ~CONTROL_PHASE;
  WriteReg(card, REG_CONTROL, control);
  for (int i = 0; i < 10000 && !(ReadReg(card, REG_STATUS) & STATUS_DAC_GOOD); ++i) {
  }
  {
    std::lock_guard lock(lib.ListMutex);
    lib.LastIndex.store(static_cast<uint32_t>(count));
    if (grown) {
      delete[] SequenceList;
      SequenceList = grown;
      SequenceListSize = entries;
    }
    std::copy(list, list + entries, SequenceList);
    lib.CurrentIndex.store(0);
    lib.FirstPass.store(true);
  }
  SetRegBits(card, REG_CONTROL, CONTROL_RUN);
  return 1;
}

template <class Model>
int CModelBoard<Model>::GetRunStatus(SRun_Status* status) {
  using namespace modelboard;
  if (!status) return 0;
  PciCard* card = Card();
  if (!card) {
    m_RunStatus.CurrentIndex = 0;
    *status = m_RunStatus;
    return 0;
  }
  LibraryState& lib = g_Library<Model>;
  // The board shows the frame the routine selected one interrupt earlier.
  const uint32_t current = lib.CurrentIndex.load();
  uint32_t position;
  if (lib.FirstPass.load()) {
    position = 0;
  } else if (current == 0) {
    position = lib.LastIndex.load();
  } else {
    position = current - 1;
  }
  if (lib.RunDone.load()) {
    m_RunStatus.RunFlags &= ~RUN_FLAG_ACTIVE;
    m_RunStatus.CurrentIndex = m_RunStatus.LastIndex;
    ClearRegBits(card, REG_CONTROL, CONTROL_RUN);
  } else {
    m_RunStatus.CurrentIndex = static_cast<uint16_t>(position);
  }
  *status = m_RunStatus;
  return 1;
}

template <class Model>
int CModelBoard<Model>::SetPower(int on) {
  using namespace modelboard;
  PciCard* card = Card();
  if (!card) return 0;
  const int wanted = on == 1 ? 1 : 0;
  int p = GetPower();
  WriteRegBit(card, REG_CONTROL, CONTROL_SLM_POWER, wanted == 1);
  for (int i = 0; i < 500 && p != wanted; ++i) p = GetPower();
  if (p != wanted) ShowError("SLM Power not responding... Is DAC power plugged in?");
  return p;
}

template <class Model>
int CModelBoard<Model>::GetPower() {
  PciCard* card = Card();
  if (!card) return 0;
  return (modelboard::ReadReg(card, REG_CONTROL) & CONTROL_SLM_POWER) ? 1 : 0;
}

template <class Model>
std::string CModelBoard<Model>::DriverVersion() {
  return "8.0";
}

namespace modelboard {
// A raw version number n reads as n / 100 + 1: 25 gives " 1.25".
inline std::string FormatVersion(int raw) {
  char text[32];
  std::snprintf(text, sizeof text, "%5.2f", raw / 100.0 + 1);
  return text;
}
}  // namespace modelboard

template <class Model>
std::string CModelBoard<Model>::MemoryVersion() {
  return modelboard::FormatVersion(m_MemoryVersion);
}

template <class Model>
std::string CModelBoard<Model>::ControlVersion() {
  return modelboard::FormatVersion(m_ControlVersion);
}
