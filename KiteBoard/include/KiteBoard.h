#pragma once
// The Kite board: 512 x 512 pixels, 1024 frame buffers.

#include "ModelBoard.h"

class CKiteSetupDlg;

struct KiteModel {
  static constexpr const char* BoardName = "Kite_SLM";
  static constexpr uint16_t MaxFrames = 1024;
  static constexpr uint16_t Width = 512;
  static constexpr uint16_t Height = 512;
  static constexpr uint32_t FrameTime = 1641;            // 100 ns units
  static constexpr double BoardFrameSeconds = 0.0001641;
  static constexpr uint32_t ReorderId = 0x00;            // board ids in REG_STATUS bits 24-31
  static constexpr uint32_t PlainId = 0x01;
  static constexpr int FrameFieldBits = 10;              // REG_FRAME_SELECT fields
  static constexpr uint32_t DownloadInterrupts = 3;      // SelectImage in download mode
  static constexpr int ReorderRun = 16;                  // pixels per run in BMP2MainMemory
  static constexpr const char* NoBoardsMessage =
      "There are no available 512 PCI boards to open, is the software already running?";
  static constexpr int ToggleK = 3282;
  static constexpr float PresetToggleRate = 1015.6409f;
  static constexpr SetupDlgIds Dlg{
      .Template = 1,
      .Amplitude = 1004,
      .Phase = 1005,
      .ToggleRate = 1008,
      .TrueFrames = 1010,
      .DriverVersion = 146,
      .ControlVersion = 147,
      .MemoryVersion = 148,
      .SerialNumber = 101,
      .Presence = 145,
      .BoardId = 1016,
      .Bus = 1057,
      .Slot = 1059,
      .DeviceId = 1060,
      .VendorId = 1058,
      .DetA = 1013,
      .DetB = 1014,
      .OkButton = 1012,
  };
  using SetupDlg = CKiteSetupDlg;
};

extern template class MODELBOARD_API CModelBoard<KiteModel>;

class MODELBOARD_API CKiteBoard : public CModelBoard<KiteModel> {
 public:
  CKiteBoard(uint16_t modulatorType, uint16_t trueFrames, bool* claimed);
  ~CKiteBoard() override;
};
