#pragma once
// The setup dialog of a model board: what the driver knows about the card, the modulator
// type, the true frames with their toggle rate, and the two detector sync outputs. The
// dialog never touches the hardware; the board writes the choices after it closes.

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "ModelBoard.h"
#include "PciBridge.h"
#include "ui/Dialog.h"
#include "ui/Host.h"

template <class Model>
class CModelSetupDlg : public CDialog {
 public:
  explicit CModelSetupDlg(CModelBoard<Model>* pBoard, CDialog* pParent = nullptr);

  bool OnInitDialog() override;
  void DoDataExchange(CDataExchange& dx) override;
  // Enter takes the true frames and keeps the dialog open; the OK button closes it.
  void OnOK() override;

  CModelBoard<Model>* m_pBoard;
  int m_Bus = 0;
  int m_Slot = 0;
  int m_BoardId = 0;
  bool m_DetA = false;
  bool m_DetB = false;
  int m_Amplitude = 0;
  int m_Phase = 0;
  int m_TrueFrames = 0;
  int m_ImageFrames = 0;
  float m_ToggleRate = 0;
  std::string m_BusText;
  std::string m_SlotText;
  std::string m_DeviceId;
  std::string m_VendorId;
  std::string m_SerialNumber;
  std::string m_Presence = "Board Not Present";
  std::string m_DriverVersion = "Ver.Ver";
  std::string m_ControlVersion = "Ver.Ver";
  std::string m_MemoryVersion = "Ver.Ver";

 private:
  static constexpr const SetupDlgIds& Ids = Model::Dlg;

  void OnAmplitude();
  void OnPhase();
  void OnTrueFramesDone();
  void OnOkButton();
  void OnDetA();
  void OnDetB();
  void ReadTrueFrames();
  void ToggleDetector(int id, bool& flag);
  void ShowModulatorWarning();
  static float ToggleRate(int trueFrames);
};

namespace modelboard {
inline std::string Format(const char* format, int value) {
  char text[32];
  std::snprintf(text, sizeof text, format, value);
  return text;
}
}  // namespace modelboard

template <class Model>
CModelSetupDlg<Model>::CModelSetupDlg(CModelBoard<Model>* pBoard, CDialog* pParent)
    : CDialog(Model::Dlg.Template, pParent), m_pBoard(pBoard) {
  // Handlers wrapped here rather than by CDialog's member-pointer form, so the wrappers
  // stay inside the driver library instead of being exported with CDialog's template.
  auto route = [this](EventKind kind, int id, void (CModelSetupDlg::*handler)()) {
    Route(kind, id, [this, handler](const Event&) { (this->*handler)(); });
  };
  route(EventKind::Click, Ids.Amplitude, &CModelSetupDlg::OnAmplitude);
  route(EventKind::Click, Ids.Phase, &CModelSetupDlg::OnPhase);
  route(EventKind::KillFocus, Ids.TrueFrames, &CModelSetupDlg::OnTrueFramesDone);
  route(EventKind::Click, Ids.OkButton, &CModelSetupDlg::OnOkButton);
  route(EventKind::Click, Ids.DetA, &CModelSetupDlg::OnDetA);
  route(EventKind::Click, Ids.DetB, &CModelSetupDlg::OnDetB);
}

// Two board frames per true frame, in 100 ns units: K.
template <class Model>
float CModelSetupDlg<Model>::ToggleRate(int trueFrames) {
  if (trueFrames <= 0) return 0;
  return static_cast<float>(10000000.0 / (static_cast<double>(trueFrames) * Model::ToggleK));
}

template <class Model>
bool CModelSetupDlg<Model>::OnInitDialog() {
  using modelboard::Format;
  m_BusText = Format("%d", m_Bus);
  m_SlotText = Format("%d", m_Slot);
  m_DeviceId = Format("0x%x", static_cast<int>(PLX_DEVICE_ID));
  m_VendorId = Format("0x%x", static_cast<int>(PLX_VENDOR_ID));
  m_DriverVersion = m_pBoard->DriverVersion();
  m_ControlVersion = m_pBoard->ControlVersion();
  m_MemoryVersion = m_pBoard->MemoryVersion();
  m_SerialNumber = "PCI9050-0";
  m_TrueFrames = m_pBoard->GetTrueFrames();
  m_ImageFrames = m_pBoard->GetImageFrames();
  m_ToggleRate = ToggleRate(m_TrueFrames);
  EnableDlgItem(Ids.TrueFrames, m_Phase != 0);
  SetDlgItemText(Ids.DetA, m_DetA ? "Enabled" : "Disabled");
  SetDlgItemText(Ids.DetB, m_DetB ? "Enabled" : "Disabled");
  UpdateData(false);
  return true;
}

template <class Model>
void CModelSetupDlg<Model>::DoDataExchange(CDataExchange& dx) {
  DDX_Check(dx, Ids.Amplitude, m_Amplitude);
  DDX_Check(dx, Ids.Phase, m_Phase);
  DDX_Text(dx, Ids.TrueFrames, m_TrueFrames);
  if (!dx.m_bSaveAndValidate) {
    // Shown to a tenth of a millihertz, the resolution the presets are given in.
    char text[32];
    std::snprintf(text, sizeof text, "%.4f", static_cast<double>(m_ToggleRate));
    SetDlgItemText(Ids.ToggleRate, text);
  }
  DDX_Text(dx, Ids.DriverVersion, m_DriverVersion);
  DDX_Text(dx, Ids.ControlVersion, m_ControlVersion);
  DDX_Text(dx, Ids.MemoryVersion, m_MemoryVersion);
  DDX_Text(dx, Ids.SerialNumber, m_SerialNumber);
  DDX_Text(dx, Ids.Presence, m_Presence);
  DDX_Text(dx, Ids.BoardId, m_BoardId);
  DDX_Text(dx, Ids.Bus, m_BusText);
  DDX_Text(dx, Ids.Slot, m_SlotText);
  DDX_Text(dx, Ids.DeviceId, m_DeviceId);
  DDX_Text(dx, Ids.VendorId, m_VendorId);
}

template <class Model>
void CModelSetupDlg<Model>::ShowModulatorWarning() {
  MessageBox(this,
             "Changing your modulator type will drastically effect the way your system operates. Are you sure "
             "you want to proceed?",
             "WARNING");
}

template <class Model>
void CModelSetupDlg<Model>::OnAmplitude() {
  ShowModulatorWarning();
  m_Amplitude = 1;
  m_Phase = 0;
  EnableDlgItem(Ids.TrueFrames, false);
  m_TrueFrames = static_cast<int>(m_ImageFrames * 0.5);
  m_ToggleRate = ToggleRate(m_TrueFrames);
  UpdateData(false);
}

template <class Model>
void CModelSetupDlg<Model>::OnPhase() {
  ShowModulatorWarning();
  m_Phase = 1;
  m_Amplitude = 0;
  EnableDlgItem(Ids.TrueFrames, true);
  m_TrueFrames = 3;
  m_ToggleRate = Model::PresetToggleRate;
  UpdateData(false);
}

// True frames are held to what the board's field and the run timing accept.
template <class Model>
void CModelSetupDlg<Model>::ReadTrueFrames() {
  const long typed = std::strtol(GetDlgItemText(Ids.TrueFrames).c_str(), nullptr, 10);
  m_TrueFrames = static_cast<int>(std::clamp<long>(typed, 3, 0x7FFF));
  m_ToggleRate = ToggleRate(m_TrueFrames);
  UpdateData(false);
}

template <class Model>
void CModelSetupDlg<Model>::OnTrueFramesDone() {
  ReadTrueFrames();
}

template <class Model>
void CModelSetupDlg<Model>::OnOK() {
  ReadTrueFrames();
}

template <class Model>
void CModelSetupDlg<Model>::OnOkButton() {
  ReadTrueFrames();
  UpdateData(true);
  EndDialog(IDOK);
}

template <class Model>
void CModelSetupDlg<Model>::ToggleDetector(int id, bool& flag) {
  if (GetDlgItemText(id) == "Enabled") {
    SetDlgItemText(id, "Disabled");
    flag = false;
  } else {
    SetDlgItemText(id, "Enabled");
    flag = true;
  }
}

template <class Model>
void CModelSetupDlg<Model>::OnDetA() {
  ToggleDetector(Ids.DetA, m_DetA);
}

template <class Model>
void CModelSetupDlg<Model>::OnDetB() {
  ToggleDetector(Ids.DetB, m_DetB);
}
