#pragma once
// The one face through which Sorrel drives a modulator driver board, and the two records
// that cross it. A plain COrvBoard stands for the absence of a usable board.

#include <cstddef>
#include <cstdint>

#define ORVBOARD_API __attribute__((visibility("default")))

struct SBoard_Spec {
  char BoardName[20];
  uint16_t MaxFrames;
  uint16_t Width;
  uint16_t Height;
  uint16_t Reserved1;
  uint32_t FrameTime;  // 100 ns units
  uint32_t Reserved2;
  uint32_t MinFrameRate;
  uint32_t MaxFrameRate;
};
static_assert(offsetof(SBoard_Spec, BoardName) == 0);
static_assert(offsetof(SBoard_Spec, MaxFrames) == 20);
static_assert(offsetof(SBoard_Spec, Width) == 22);
static_assert(offsetof(SBoard_Spec, Height) == 24);
static_assert(offsetof(SBoard_Spec, Reserved1) == 26);
static_assert(offsetof(SBoard_Spec, FrameTime) == 28);
static_assert(offsetof(SBoard_Spec, Reserved2) == 32);
static_assert(offsetof(SBoard_Spec, MinFrameRate) == 36);
static_assert(offsetof(SBoard_Spec, MaxFrameRate) == 40);
static_assert(sizeof(SBoard_Spec) == 44);

// Entries per second a run reaches: each entry is shown for the board's image frames of
// FrameTime (100 ns units) each, which can make it slower than the rate asked. 0 when the
// board gives no image frames.
inline double ReachedFrameRate(const SBoard_Spec& spec, int imageFrames) {
  if (imageFrames <= 0) return 0;
  return 10000000.0 / static_cast<double>(static_cast<uint64_t>(imageFrames) * spec.FrameTime);
}

struct SRun_Status {
  uint16_t RunFlags;  // bit 3: a run is active
  uint16_t LastIndex;
  uint16_t CurrentIndex;
};
static_assert(offsetof(SRun_Status, RunFlags) == 0);
static_assert(offsetof(SRun_Status, LastIndex) == 2);
static_assert(offsetof(SRun_Status, CurrentIndex) == 4);
static_assert(sizeof(SRun_Status) == 6);

constexpr uint16_t RUN_FLAG_ACTIVE = 1u << 3;

// Virtual operations in slot order. Every operation reports through its int result;
// nothing is thrown across the interface.
class ORVBOARD_API COrvBoard {
 public:
  COrvBoard();
  virtual const SBoard_Spec* BoardSpec();
  virtual ~COrvBoard();
  virtual int BoardReady();
  virtual int SetupDialog(int* modulatorType, int* trueFrames);
  virtual int SetDownloadMode(int mode);
  virtual int SetRunParameters(uint16_t frameRate, uint16_t laserDuty, uint16_t laserAGain, uint16_t laserBGain);
  virtual int SetTrueFrames(uint16_t trueFrames);
  virtual int GetTrueFrames();
  virtual int GetImageFrames();
  virtual int WriteFrameBuffer(uint16_t frame, uint8_t* data);
  virtual int SelectImage(int frame);
  virtual int SetRunMode(uint8_t mode, int count, uint16_t* list, int loop);
  virtual int GetRunStatus(SRun_Status* status);
  virtual int SetPower(int on);
  virtual int GetPower();

  COrvBoard(const COrvBoard&) = delete;
  COrvBoard& operator=(const COrvBoard&) = delete;

 protected:
  SBoard_Spec m_BoardSpec;
  SRun_Status m_RunStatus;
};

// Makes OrvBoard's dialog templates known to the host's dialog-resource lookup.
ORVBOARD_API void RegisterOrvBoardResources();
