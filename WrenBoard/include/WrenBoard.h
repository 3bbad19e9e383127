#pragma once
// The Wren board: 256 x 256 pixels, 4096 frame buffers.

#include "ModelBoard.h"

class CWrenSetupDlg;

struct WrenModel {
  static constexpr const char* BoardName = "Wren_SLM";
  static constexpr uint16_t MaxFrames = 4096;
  static constexpr uint16_t Width = 256;
  static constexpr uint16_t Height = 256;
  static constexpr uint32_t FrameTime = 1644;            // 100 ns units
  static constexpr double BoardFrameSeconds = 0.0001644;
  static constexpr uint32_t ReorderId = 0x40;            // board ids in REG_STATUS bits 24-31
  static constexpr uint32_t PlainId = 0x41;
  static constexpr int FrameFieldBits = 12;              // 4096 buffers need the whole 12 bits
  static constexpr uint32_t DownloadInterrupts = 2;      // SelectImage in download mode
  static constexpr int ReorderRun = 8;                   // pixels per run in BMP2MainMemory
  static constexpr const char* NoBoardsMessage =
      "There are no available 256 PCI boards to open, is the software already running?";
  static constexpr int ToggleK = 3288;
  static constexpr float PresetToggleRate = 1013.7875f;
  static constexpr SetupDlgIds Dlg{
      .Template = 1004,
      .Amplitude = 1025,
      .Phase = 1026,
      .ToggleRate = 1027,
      .TrueFrames = 1028,
      .DriverVersion = 1035,
      .ControlVersion = 1036,
      .MemoryVersion = 1037,
      .SerialNumber = 1033,
      .Presence = 1034,
      .BoardId = 1044,
      .Bus = 1029,
      .Slot = 1030,
      .DeviceId = 1031,
      .VendorId = 1032,
      .DetA = 1040,
      .DetB = 1041,
      .OkButton = 1043,
  };
  using SetupDlg = CWrenSetupDlg;
};

extern template class MODELBOARD_API CModelBoard<WrenModel>;

class MODELBOARD_API CWrenBoard : public CModelBoard<WrenModel> {
 public:
  CWrenBoard(uint16_t modulatorType, uint16_t trueFrames, bool* claimed);
  ~CWrenBoard() override;
};
