// The Wren library's dialog template, registered when the library is loaded.
#include "WrenBoard.h"
#include "ui/DialogTemplate.h"

namespace {

void RegisterWrenResources() {
  constexpr const SetupDlgIds& d = WrenModel::Dlg;
  constexpr uint32_t ro = STYLE_READONLY;
  DialogTemplate t;
  t.id = d.Template;
  t.caption = "256x256 SLM Driver Board Setup";
  t.cx = 300;
  t.cy = 192;
  t.style = DS_SYSMENU | DS_MODALFRAME;
  t.controls = {
      {IDC_STATIC, ControlKind::GroupBox, "Modulator", 7, 4, 140, 66},
      {d.Amplitude, ControlKind::CheckBox, "Amplitude", 14, 17, 60, 10},
      {d.Phase, ControlKind::CheckBox, "Phase", 80, 17, 50, 10},
      {IDC_STATIC, ControlKind::Static, "Toggle Rate (Hz)", 14, 35, 62, 8},
      {d.ToggleRate, ControlKind::Edit, "", 80, 33, 60, 12, ro},
      {IDC_STATIC, ControlKind::Static, "TF", 14, 51, 62, 8},
      {d.TrueFrames, ControlKind::Edit, "", 80, 49, 60, 12},

      {IDC_STATIC, ControlKind::GroupBox, "Driver Board", 7, 74, 140, 112},
      {IDC_STATIC, ControlKind::Static, "Serial Number", 14, 87, 62, 8},
      {d.SerialNumber, ControlKind::Edit, "", 80, 85, 60, 12, ro},
      {d.Presence, ControlKind::Edit, "", 14, 101, 126, 12, ro | STYLE_CENTRED},
      {IDC_STATIC, ControlKind::Static, "Board ID", 14, 119, 62, 8},
      {d.BoardId, ControlKind::Edit, "", 80, 117, 60, 12, ro},
      {IDC_STATIC, ControlKind::Static, "Device Driver Version", 14, 135, 64, 8},
      {d.DriverVersion, ControlKind::Edit, "", 80, 133, 60, 12, ro},
      {IDC_STATIC, ControlKind::Static, "HW Control Version", 14, 151, 62, 8},
      {d.ControlVersion, ControlKind::Edit, "", 80, 149, 60, 12, ro},
      {IDC_STATIC, ControlKind::Static, "HW Memory Version", 14, 167, 62, 8},
      {d.MemoryVersion, ControlKind::Edit, "", 80, 165, 60, 12, ro},

      {IDC_STATIC, ControlKind::GroupBox, "Device Info", 153, 4, 140, 80},
      {IDC_STATIC, ControlKind::Static, "Bus", 160, 17, 56, 8},
      {d.Bus, ControlKind::Edit, "", 220, 15, 66, 12, ro},
      {IDC_STATIC, ControlKind::Static, "Slot", 160, 33, 56, 8},
      {d.Slot, ControlKind::Edit, "", 220, 31, 66, 12, ro},
      {IDC_STATIC, ControlKind::Static, "Device ID", 160, 49, 56, 8},
      {d.DeviceId, ControlKind::Edit, "", 220, 47, 66, 12, ro},
      {IDC_STATIC, ControlKind::Static, "Vendor ID", 160, 65, 56, 8},
      {d.VendorId, ControlKind::Edit, "", 220, 63, 66, 12, ro},

      {IDC_STATIC, ControlKind::GroupBox, "Detector Sync", 153, 88, 140, 52},
      {IDC_STATIC, ControlKind::Static, "DETA", 160, 103, 56, 8},
      {d.DetA, ControlKind::PushButton, "Disabled", 220, 100, 66, 14},
      {IDC_STATIC, ControlKind::Static, "DETB", 160, 121, 56, 8},
      {d.DetB, ControlKind::PushButton, "Disabled", 220, 118, 66, 14},

      {d.OkButton, ControlKind::PushButton, "OK", 198, 170, 50, 14},
  };
  RegisterDialogTemplate(t);
}

const bool registeredAtLoad = (RegisterWrenResources(), true);

}  // namespace
