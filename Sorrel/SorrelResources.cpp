// The program's dialog templates, as the resource script of the program gives them.
#include "SorrelResources.h"

#include "ui/DialogTemplate.h"

namespace {

constexpr uint32_t RO = STYLE_READONLY;
constexpr uint32_t CENTRED = STYLE_CENTRED;

DialogTemplate AboutBox() {
  DialogTemplate t;
  t.id = IDD_ABOUTBOX;
  t.caption = "About Sorrel";
  t.cx = 221;
  t.cy = 62;
  t.style = DS_MODALFRAME | DS_SYSMENU;
  t.controls = {
      {IDC_STATIC, ControlKind::Static, "", 11, 15, 20, 20, STYLE_ICON},
      {IDC_STATIC, ControlKind::Static, "Sorrel Version 8.0", 43, 15, 119, 8},
      {IDOK, ControlKind::PushButton, "OK", 165, 41, 50, 14, STYLE_DEFAULT},
  };
  return t;
}

DialogTemplate MainDialog() {
  DialogTemplate t;
  t.id = IDD_SORREL_DIALOG;
  t.caption = "Sorrel Version 8.0";
  t.cx = 376;
  t.cy = 328;
  t.style = DS_SYSMENU | DS_MINIMIZEBOX | DS_CONTEXTHELP;
  t.controls = {
      {IDC_STATIC, ControlKind::GroupBox, "Sequence", 5, 1, 280, 161},
      {IDC_SEQUENCE_NAME, ControlKind::Edit, "", 10, 11, 108, 12, RO},
      {IDC_BROWSE_SEQUENCE, ControlKind::PushButton, "Browse...", 118, 11, 40, 12},
      {IDC_STATIC, ControlKind::Static, "Screen Refresh", 196, 13, 51, 8},
      {IDC_SCREEN_REFRESH, ControlKind::PushButton, "Enable", 247, 10, 36, 14},
      {IDC_PATTERN_HEADING, ControlKind::Static, " Pattern File", 11, 28, 128, 12, STYLE_SUNKEN},
      {IDC_LUT_HEADING, ControlKind::Static, "LUT File", 128, 28, 151, 12, STYLE_SUNKEN | CENTRED},
      {IDC_IMAGE_LIST, ControlKind::ListBox, "", 10, 40, 269, 99, STYLE_TABSTOPS | STYLE_NOTIFY | STYLE_VSCROLL},
      {IDC_EDIT_ENTRY, ControlKind::PushButton, "Edit Image List...", 9, 139, 61, 13},
      {IDC_INSERT_ENTRY, ControlKind::PushButton, "Insert", 190, 139, 27, 13},
      {IDC_DELETE_ENTRY, ControlKind::PushButton, "Delete", 217, 139, 27, 13},
      {IDC_SAVE_SEQUENCE, ControlKind::PushButton, "Save...", 244, 139, 35, 13},
      {IDC_STATIC, ControlKind::GroupBox, "Board Type", 290, 1, 77, 50},
      {IDC_BOARD_TYPE, ControlKind::Edit, "", 295, 10, 65, 15, RO},
      {IDC_BOARD_SETUP, ControlKind::PushButton, "Board Setup...", 295, 28, 65, 14},
      {IDC_STATIC, ControlKind::GroupBox, "SLM Power", 290, 52, 77, 38},
      {IDC_POWER_STATE, ControlKind::Edit, "", 310, 63, 31, 12, RO | CENTRED},
      {IDC_POWER_ON, ControlKind::PushButton, "ON", 295, 76, 30, 12},
      {IDC_POWER_OFF, ControlKind::PushButton, "OFF", 331, 76, 30, 12},
      {IDC_START_STOP, ControlKind::PushButton, "Initializing", 295, 91, 65, 38, STYLE_MULTILINE},
      {IDC_RUN_PROGRESS, ControlKind::ProgressBar, "", 295, 129, 65, 8},
      {IDC_LOOP, ControlKind::CheckBox, "Loop", 295, 138, 32, 10},
      {IDC_APPLY_CORRECTION, ControlKind::CheckBox, "Enable Phase Optimization", 295, 149, 65, 17, STYLE_MULTILINE},
      {IDC_STATIC, ControlKind::GreyFrame, "", 5, 164, 139, 147},
      {IDC_PATTERN_LABEL, ControlKind::Static, "Pattern File:", 9, 172, 40, 11},
      {IDC_ENTRY_PATTERN, ControlKind::Edit, "", 50, 172, 66, 12, RO},
      {IDC_LUT_LABEL, ControlKind::Static, "LUTFile:", 9, 184, 28, 8},
      {IDC_ENTRY_LUT, ControlKind::Edit, "", 38, 184, 65, 12, RO},
      {IDC_SCREEN_FRAME, ControlKind::GreyFrame, "", 28, 196, 88, 84},
      {IDC_PATTERN_DATA_LABEL, ControlKind::Static, "Pattern Data:", 9, 282, 43, 8},
      {IDC_PATTERN_DATA, ControlKind::Edit, "", 55, 282, 53, 12, RO},
      {IDC_SLM_COMP_CAPTION, ControlKind::Edit, "", 146, 166, 106, 10, RO},
      {IDC_SLM_COMP_NAME, ControlKind::Edit, "", 146, 177, 65, 14, RO},
      {IDC_BROWSE_SLM_COMP, ControlKind::PushButton, "Browse...", 211, 177, 39, 14},
      {IDC_SYS_COMP_CAPTION, ControlKind::Edit, "", 253, 166, 105, 10, RO},
      {IDC_SYS_COMP_NAME, ControlKind::Edit, "", 252, 177, 77, 14, RO},
      {IDC_BROWSE_SYS_COMP, ControlKind::PushButton, "Browse...", 330, 177, 39, 14},
      {IDC_STATIC, ControlKind::GroupBox, "Sequencing Settings", 145, 194, 93, 117},
      {IDC_FRAME_RATE_LABEL, ControlKind::Static, "Frame Rate", 147, 208, 39, 9, CENTRED},
      {IDC_FRAME_RATE, ControlKind::Edit, "", 153, 218, 26, 12, CENTRED},
      {IDC_RATE_MAX, ControlKind::Edit, "", 151, 231, 30, 12, CENTRED},
      {IDC_RATE_SLIDER, ControlKind::TrackBar, "", 158, 240, 20, 55, STYLE_NOTICKS},
      {IDC_RATE_MIN, ControlKind::Edit, "", 150, 298, 32, 10, CENTRED},
      {IDC_STATIC, ControlKind::Static, "Toggle Rate", 189, 287, 40, 8},
      {IDC_TOGGLE_RATE, ControlKind::Edit, "", 188, 297, 44, 12, CENTRED},
      {IDC_STATIC, ControlKind::GroupBox, "Laser Settings", 239, 194, 129, 117},
      {IDC_DUTY_CAPTION, ControlKind::Edit, "", 240, 207, 40, 12},
      {IDC_DUTY, ControlKind::Edit, "", 247, 222, 26, 12, CENTRED},
      {IDC_DUTY_TOP, ControlKind::Edit, "", 249, 237, 23, 14},
      {IDC_DUTY_SLIDER, ControlKind::TrackBar, "", 251, 246, 19, 52, STYLE_NOTICKS},
      {IDC_DUTY_BOTTOM, ControlKind::Edit, "", 249, 299, 23, 12},
      {IDC_GAIN_A_CAPTION, ControlKind::Edit, "", 283, 203, 40, 18, STYLE_MULTILINE},
      {IDC_GAIN_A, ControlKind::Edit, "", 290, 222, 26, 12, CENTRED},
      {IDC_GAIN_A_TOP, ControlKind::Edit, "", 291, 237, 23, 14},
      {IDC_GAIN_A_SLIDER, ControlKind::TrackBar, "", 294, 246, 19, 52, STYLE_NOTICKS},
      {IDC_GAIN_A_BOTTOM, ControlKind::Edit, "", 291, 299, 23, 12},
      {IDC_GAIN_B_CAPTION, ControlKind::Edit, "", 326, 203, 40, 18, STYLE_MULTILINE},
      {IDC_GAIN_B, ControlKind::Edit, "", 333, 222, 26, 12, CENTRED},
      {IDC_GAIN_B_TOP, ControlKind::Edit, "", 334, 237, 23, 14},
      {IDC_GAIN_B_SLIDER, ControlKind::TrackBar, "", 337, 246, 19, 52, STYLE_NOTICKS},
      {IDC_GAIN_B_BOTTOM, ControlKind::Edit, "", 334, 299, 23, 12},
      {IDC_BOARD_SERVICE, ControlKind::CheckBox, "Board Service", 7, 315, 56, 10},
      {IDC_SERVICE_STATE, ControlKind::Edit, "", 66, 314, 302, 12, RO},
  };
  return t;
}

DialogTemplate ImageListEditor() {
  DialogTemplate t;
  t.id = IDD_IMAGE_LIST_EDIT;
  t.caption = "Edit Sequence Record";
  t.cx = 195;
  t.cy = 143;
  t.style = DS_MODALFRAME | DS_SYSMENU | DS_CONTEXTHELP;
  t.controls = {
      {IDC_STATIC, ControlKind::Static, "File Name", 7, 3, 41, 8},
      {IDC_EDIT_PATTERN_NAME, ControlKind::ListBox, "", 7, 11, 58, 10},
      {IDC_BROWSE_PATTERN, ControlKind::PushButton, "Browse Pattern", 7, 24, 58, 14},
      {IDC_STATIC, ControlKind::Static, "LUT Name", 71, 3, 52, 8},
      {IDC_EDIT_LUT_NAME, ControlKind::ListBox, "", 70, 11, 52, 10},
      {IDC_BROWSE_LUT, ControlKind::PushButton, "Browse LUT", 71, 24, 50, 14},
      {IDC_PREVIEW_FRAME, ControlKind::GreyFrame, "", 7, 39, 113, 97},
      {IDC_EDIT_OK, ControlKind::PushButton, "OK", 129, 95, 50, 23},
      {IDC_EDIT_CANCEL, ControlKind::PushButton, "Cancel", 129, 122, 50, 14},
  };
  return t;
}

// The picture control is 512 x 512 pixels by the hosts' rule, so a 512 x 512 frame shows
// pixel for pixel and a 256 x 256 one at twice its size.
DialogTemplate LiveView() {
  DialogTemplate t;
  t.id = IDD_LIVE_VIEW;
  t.caption = "SLM Live View";
  t.cx = 355;
  t.cy = 372;
  t.style = DS_SYSMENU | DS_MINIMIZEBOX;
  t.controls = {
      {IDC_LIVE_BOARD, ControlKind::Static, "", 7, 3, 341, 10},
      {IDC_LIVE_PICTURE, ControlKind::Picture, "", 7, 15, 341, 315},
      {IDC_LIVE_FRAME, ControlKind::Static, "", 7, 334, 170, 10},
      {IDC_LIVE_RUN, ControlKind::Static, "", 180, 334, 168, 10},
      {IDC_LIVE_POWER, ControlKind::Static, "", 7, 346, 170, 10},
      {IDC_LIVE_LASERS, ControlKind::Static, "", 180, 346, 168, 10},
      {IDC_LIVE_ONE_TO_ONE, ControlKind::CheckBox, "1:1 (one screen pixel per SLM pixel)", 7, 358, 170, 10},
  };
  return t;
}

DialogTemplate YesNo() {
  DialogTemplate t;
  t.id = IDD_YES_NO;
  t.caption = "";
  t.cx = 186;
  t.cy = 66;
  t.style = DS_MODALFRAME | DS_SYSMENU;
  t.controls = {
      {IDC_QUESTION, ControlKind::Edit, "", 22, 12, 139, 14, RO | CENTRED},
      {IDYES, ControlKind::PushButton, "YES", 23, 37, 50, 14, STYLE_DEFAULT},
      {IDNO, ControlKind::PushButton, "NO", 107, 37, 50, 14},
  };
  return t;
}

}  // namespace

void RegisterSorrelResources() {
  static const bool registered = [] {
    for (const DialogTemplate& t : {AboutBox(), MainDialog(), ImageListEditor(), YesNo(), LiveView()}) {
      RegisterDialogTemplate(t);
    }
    return true;
  }();
  (void)registered;
}

int ProgramTemplate(int templateId) {
  RegisterSorrelResources();
  return templateId;
}
