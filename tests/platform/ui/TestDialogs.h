#pragma once
// Small dialogs for exercising the framework: one with every kind of control, one
// without a system menu, a child for nested modal runs, and one whose default button is
// not OK.

#include <string>
#include <vector>

#include "ui/Dialog.h"
#include "ui/DialogTemplate.h"

namespace uitest {

constexpr int MAIN_TEMPLATE = 9001;
constexpr int PLAIN_TEMPLATE = 9002;
constexpr int CHILD_TEMPLATE = 9003;
constexpr int APPLY_TEMPLATE = 9004;

constexpr int EDIT = 10;
constexpr int CHECK = 11;
constexpr int LIST = 12;
constexpr int SLIDER = 13;
constexpr int PROGRESS = 14;
constexpr int DISABLED_BUTTON = 16;
constexpr int HIDDEN_EDIT = 17;
constexpr int READ_ONLY_EDIT = 18;
constexpr int FLOAT_EDIT = 19;
constexpr int OPEN_CHILD = 20;
constexpr int APPLY = 21;

inline void RegisterTestTemplates() {
  DialogTemplate main;
  main.id = MAIN_TEMPLATE;
  main.caption = "Framework Test";
  main.cx = 200;
  main.cy = 120;
  main.style = DS_SYSMENU | DS_MODALFRAME;
  main.controls = {
      {IDOK, ControlKind::PushButton, "OK", 140, 5, 50, 14, STYLE_DEFAULT},
      {IDCANCEL, ControlKind::PushButton, "Cancel", 140, 22, 50, 14, STYLE_NONE},
      {IDC_STATIC, ControlKind::Static, "Label", 5, 5, 40, 8, STYLE_NONE},
      {EDIT, ControlKind::Edit, "", 50, 5, 60, 12, STYLE_NONE},
      {CHECK, ControlKind::CheckBox, "Loop", 5, 20, 40, 10, STYLE_NONE},
      {LIST, ControlKind::ListBox, "", 5, 35, 120, 40, STYLE_TABSTOPS | STYLE_NOTIFY | STYLE_VSCROLL},
      {SLIDER, ControlKind::TrackBar, "", 130, 40, 20, 55, STYLE_NOTICKS},
      {PROGRESS, ControlKind::ProgressBar, "", 5, 100, 120, 8, STYLE_NONE},
      {DISABLED_BUTTON, ControlKind::PushButton, "Locked", 140, 80, 50, 14, STYLE_DISABLED},
      {HIDDEN_EDIT, ControlKind::Edit, "secret", 160, 40, 30, 12, STYLE_HIDDEN},
      {READ_ONLY_EDIT, ControlKind::Edit, "fixed", 160, 60, 30, 12, STYLE_READONLY},
      {FLOAT_EDIT, ControlKind::Edit, "", 50, 20, 40, 12, STYLE_NONE},
      {OPEN_CHILD, ControlKind::PushButton, "Child...", 140, 100, 50, 14, STYLE_NONE},
  };
  RegisterDialogTemplate(main);

  DialogTemplate plain;
  plain.id = PLAIN_TEMPLATE;
  plain.caption = "Plain";
  plain.cx = 100;
  plain.cy = 50;
  plain.style = DS_MODALFRAME;
  plain.controls = {{IDOK, ControlKind::PushButton, "OK", 5, 5, 40, 14, STYLE_NONE}};
  RegisterDialogTemplate(plain);

  DialogTemplate child;
  child.id = CHILD_TEMPLATE;
  child.caption = "Child";
  child.cx = 80;
  child.cy = 40;
  child.controls = {{EDIT, ControlKind::Edit, "", 5, 5, 60, 12, STYLE_NONE}};
  RegisterDialogTemplate(child);

  DialogTemplate apply;
  apply.id = APPLY_TEMPLATE;
  apply.caption = "Apply";
  apply.cx = 100;
  apply.cy = 40;
  apply.controls = {
      {IDOK, ControlKind::PushButton, "OK", 5, 20, 40, 14, STYLE_NONE},
      {APPLY, ControlKind::PushButton, "Apply", 50, 20, 40, 14, STYLE_DEFAULT},
  };
  RegisterDialogTemplate(apply);
}

// Exposes routing to tests and exchanges a few members with its controls.
class CTestDlg : public CDialog {
 public:
  explicit CTestDlg(int templateId = MAIN_TEMPLATE, CDialog* parent = nullptr) : CDialog(templateId, parent) {}
  using CDialog::Changed;
  using CDialog::MutableControl;
  using CDialog::Route;

  void DoDataExchange(CDataExchange& dx) override {
    ++m_Exchanges;
    DDX_Text(dx, EDIT, m_Text);
    DDX_Check(dx, CHECK, m_Check);
    DDX_Text(dx, FLOAT_EDIT, m_Ratio);
  }

  std::string m_Text = "initial";
  int m_Check = 0;
  float m_Ratio = 0.5f;
  int m_Exchanges = 0;
};

}  // namespace uitest
