#pragma once
// The driver of a model board, written once over the model's values: the Kite and Wren
// boards differ only in their geometry, board ids, field widths, counts and dialog ids.
// Each driver library instantiates it for its own model, so each library keeps its own
// card, run list and counters. Only the declarations live here; the bodies are in
// ModelBoardImpl.h, which only the driver libraries include.

#include <cstdint>
#include <cstring>
#include <string>

#include "OrvBoard.h"

// A model class and its instantiated driver are what a driver library exports.
#define MODELBOARD_API __attribute__((visibility("default")))

// Control ids of a model's setup dialog.
struct SetupDlgIds {
  int Template;
  int Amplitude;
  int Phase;
  int ToggleRate;
  int TrueFrames;
  int DriverVersion;
  int ControlVersion;
  int MemoryVersion;
  int SerialNumber;
  int Presence;
  int BoardId;
  int Bus;
  int Slot;
  int DeviceId;
  int VendorId;
  int DetA;
  int DetB;
  int OkButton;
};

// The description a board of the model gives of itself, with or without a card.
template <class Model>
SBoard_Spec ModelBoardSpec() {
  SBoard_Spec spec{};
  std::strncpy(spec.BoardName, Model::BoardName, sizeof spec.BoardName - 1);
  spec.MaxFrames = Model::MaxFrames;
  spec.Width = Model::Width;
  spec.Height = Model::Height;
  spec.Reserved1 = 255;
  spec.FrameTime = Model::FrameTime;
  spec.Reserved2 = 102;
  spec.MinFrameRate = 1;
  spec.MaxFrameRate = 1000;
  return spec;
}

template <class Model>
class CModelSetupDlg;
struct PciCard;

// Model is a traits struct: BoardName, MaxFrames, Width, Height, FrameTime,
// BoardFrameSeconds, ReorderId, PlainId, FrameFieldBits, DownloadInterrupts, ReorderRun,
// NoBoardsMessage, ToggleK, PresetToggleRate, Dlg (SetupDlgIds) and SetupDlg (the class).
template <class Model>
class CModelBoard : public COrvBoard {
 public:
  CModelBoard(uint16_t modulatorType, uint16_t trueFrames, bool* claimed);
  ~CModelBoard() override;

  const SBoard_Spec* BoardSpec() override;
  int SetupDialog(int* modulatorType, int* trueFrames) override;
  int SetDownloadMode(int mode) override;
  int SetRunParameters(uint16_t frameRate, uint16_t laserDuty, uint16_t laserAGain, uint16_t laserBGain) override;
  int SetTrueFrames(uint16_t trueFrames) override;
  int GetTrueFrames() override;
  int GetImageFrames() override;
  int WriteFrameBuffer(uint16_t frame, uint8_t* data) override;
  int SelectImage(int image) override;
  int SetRunMode(uint8_t mode, int count, uint16_t* list, int repeat) override;
  int GetRunStatus(SRun_Status* status) override;
  int SetPower(int on) override;
  int GetPower() override;

  // WriteFrameBuffer of a frame the caller keeps as it is: a board that stores frames
  // reordered gets them reordered into scratch (a frame of the board's size) on the way.
  int WriteFrameBufferFrom(uint16_t frame, const uint8_t* data, uint8_t* scratch);

  int SetImageFrames(uint16_t imageFrames);
  std::string DriverVersion();
  std::string MemoryVersion();
  std::string ControlVersion();

 private:
  int BMP2MainMemory(const uint8_t* src, uint8_t* dst);
  // The download of data, reordered into reordered (which may be data) when the board wants it.
  int Download(uint16_t frame, const uint8_t* data, uint8_t* reordered);
  // The card the operations work on; null in the hardware-error state or without a card.
  PciCard* Card() const;
  void CloseCard();

  // The driver's own description and status; the copies in the base part stay undefined.
  SBoard_Spec m_BoardSpec;
  SRun_Status m_RunStatus;
  int m_MemoryVersion;
  int m_ControlVersion;
  bool m_HardwareError;
  bool m_NeedsReorder;
  uint16_t m_TrueFrames;
  int m_ModulatorType;
  // The busy bits stayed set through the last download wait: until the board is seen ready
  // again, a download waits only briefly, so a stuck board fails a long sequence in moments.
  bool m_BusyStuck;
};
