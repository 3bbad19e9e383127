// The Kite library's dialog template, registered when the library is loaded.
#include "KiteBoard.h"
#include "ui/DialogTemplate.h"

namespace {

void RegisterKiteResources() {
  constexpr const SetupDlgIds& d = KiteModel::Dlg;
  constexpr uint32_t ro = STYLE_READONLY;
  DialogTemplate t;
  t.id = d.Template;
  t.caption = "512x512 SLM Driver Board Setup";
  t.cx = 300;
  t.cy = 188;
  t.style = DS_SYSMENU | DS_MODALFRAME;
  t.controls = {
      {IDC_STATIC, ControlKind::GroupBox, "Driver Board", 7, 4, 140, 112},
      {IDC_STATIC, ControlKind::Static, "Serial Number", 14, 17, 62, 8},
      {d.SerialNumber, ControlKind::Edit, "", 80, 15, 60, 12, ro},
      {d.Presence, ControlKind::Edit, "Board Not Present", 14, 31, 126, 12, ro | STYLE_CENTRED},
      {IDC_STATIC, ControlKind::Static, "Board ID", 14, 49, 62, 8},
      {d.BoardId, ControlKind::Edit, "", 80, 47, 60, 12, ro},
      {IDC_STATIC, ControlKind::Static, "Device Driver Version", 14, 65, 64, 8},
      {d.DriverVersion, ControlKind::Edit, "Ver.Ver", 80, 63, 60, 12, ro},
      {IDC_STATIC, ControlKind::Static, "HW Control Version", 14, 81, 62, 8},
      {d.ControlVersion, ControlKind::Edit, "Ver.Ver", 80, 79, 60, 12, ro},
      {IDC_STATIC, ControlKind::Static, "HW Memory Version", 14, 97, 62, 8},
      {d.MemoryVersion, ControlKind::Edit, "Ver.Ver", 80, 95, 60, 12, ro},

      {IDC_STATIC, ControlKind::GroupBox, "Device Info", 153, 4, 140, 80},
      {IDC_STATIC, ControlKind::Static, "Bus", 160, 17, 56, 8},
      {d.Bus, ControlKind::Edit, "", 220, 15, 66, 12, ro},
      {IDC_STATIC, ControlKind::Static, "Slot", 160, 33, 56, 8},
      {d.Slot, ControlKind::Edit, "", 220, 31, 66, 12, ro},
      {IDC_STATIC, ControlKind::Static, "DeviceID", 160, 49, 56, 8},
      {d.DeviceId, ControlKind::Edit, "", 220, 47, 66, 12, ro},
      {IDC_STATIC, ControlKind::Static, "VendorID", 160, 65, 56, 8},
      {d.VendorId, ControlKind::Edit, "", 220, 63, 66, 12, ro},

      {IDC_STATIC, ControlKind::GroupBox, "Modulator", 7, 120, 140, 62},
      {d.Amplitude, ControlKind::CheckBox, "", 14, 133, 10, 10},
      {IDC_STATIC, ControlKind::Static, "Amplitude", 26, 134, 40, 8},
      {d.Phase, ControlKind::CheckBox, "", 76, 133, 10, 10},
      {IDC_STATIC, ControlKind::Static, "Phase", 88, 134, 40, 8},
      {IDC_STATIC, ControlKind::Static, "Toggle Rate (Hz)", 14, 151, 62, 8},
      {d.ToggleRate, ControlKind::Edit, "", 80, 149, 60, 12, ro},
      {IDC_STATIC, ControlKind::Static, "TF", 14, 167, 62, 8},
      {d.TrueFrames, ControlKind::Edit, "", 80, 165, 60, 12},

      {IDC_STATIC, ControlKind::GroupBox, "Detector Sync", 153, 88, 140, 52},
      {IDC_STATIC, ControlKind::Static, "DETA", 160, 103, 56, 8},
      {d.DetA, ControlKind::PushButton, "Disabled", 220, 100, 66, 14},
      {IDC_STATIC, ControlKind::Static, "DETB", 160, 121, 56, 8},
      {d.DetB, ControlKind::PushButton, "Disabled", 220, 118, 66, 14},

      {d.OkButton, ControlKind::PushButton, "OK", 198, 164, 50, 14},
  };
  RegisterDialogTemplate(t);
}

const bool registeredAtLoad = (RegisterKiteResources(), true);

}  // namespace
