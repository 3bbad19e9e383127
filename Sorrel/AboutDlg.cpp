#include "AboutDlg.h"

#include "ui/DialogTemplate.h"

namespace {

DialogTemplate AboutTemplate() {
  DialogTemplate t;
  t.id = CAboutDlg::IDD;
  t.caption = "About Sorrel";
  t.cx = 221;
  t.cy = 62;
  t.style = DS_MODALFRAME | DS_SYSMENU;
  t.controls = {
      {IDC_STATIC, ControlKind::Static, "", 11, 15, 20, 20, STYLE_ICON},
      {IDC_STATIC, ControlKind::Static, "Sorrel Version 8.0", 43, 15, 119, 8, STYLE_NONE},
      {IDOK, ControlKind::PushButton, "OK", 165, 41, 50, 14, STYLE_DEFAULT},
  };
  return t;
}

// Registered with the program's other templates before main runs.
[[maybe_unused]] const bool kAboutRegistered = (RegisterDialogTemplate(AboutTemplate()), true);

}  // namespace

// The OK button and Escape end the box through the framework's defaults.
CAboutDlg::CAboutDlg(CDialog* pParent) : CDialog(IDD, pParent) {}
