#pragma once
// Small dialogs for exercising the framework: one with every kind of control, one
// without a system menu, and a child for nested modal runs.

#include <string>
#include <vector>

#include "ui/Dialog.h"
#include "ui/DialogTemplate.h"

namespace uitest {

constexpr int kMainTemplate = 9001;
constexpr int kPlainTemplate = 9002;
constexpr int kChildTemplate = 9003;

constexpr int kEdit = 10;
constexpr int kCheck = 11;
constexpr int kList = 12;
constexpr int kSlider = 13;
constexpr int kProgress = 14;
constexpr int kDisabledButton = 16;
constexpr int kHiddenEdit = 17;
constexpr int kReadOnlyEdit = 18;
constexpr int kFloatEdit = 19;
constexpr int kOpenChild = 20;

inline void RegisterTestTemplates() {
  DialogTemplate main;
  main.id = kMainTemplate;
  main.caption = "Framework Test";
  main.cx = 200;
  main.cy = 120;
  main.style = DS_SYSMENU | DS_MODALFRAME;
  main.controls = {
      {IDOK, ControlKind::PushButton, "OK", 140, 5, 50, 14, STYLE_DEFAULT},
      {IDCANCEL, ControlKind::PushButton, "Cancel", 140, 22, 50, 14, STYLE_NONE},
      {IDC_STATIC, ControlKind::Static, "Label", 5, 5, 40, 8, STYLE_NONE},
      {kEdit, ControlKind::Edit, "", 50, 5, 60, 12, STYLE_NONE},
      {kCheck, ControlKind::CheckBox, "Loop", 5, 20, 40, 10, STYLE_NONE},
      {kList, ControlKind::ListBox, "", 5, 35, 120, 40, STYLE_TABSTOPS | STYLE_NOTIFY | STYLE_VSCROLL},
      {kSlider, ControlKind::TrackBar, "", 130, 40, 20, 55, STYLE_NOTICKS},
      {kProgress, ControlKind::ProgressBar, "", 5, 100, 120, 8, STYLE_NONE},
      {kDisabledButton, ControlKind::PushButton, "Locked", 140, 80, 50, 14, STYLE_DISABLED},
      {kHiddenEdit, ControlKind::Edit, "secret", 160, 40, 30, 12, STYLE_HIDDEN},
      {kReadOnlyEdit, ControlKind::Edit, "fixed", 160, 60, 30, 12, STYLE_READONLY},
      {kFloatEdit, ControlKind::Edit, "", 50, 20, 40, 12, STYLE_NONE},
      {kOpenChild, ControlKind::PushButton, "Child...", 140, 100, 50, 14, STYLE_NONE},
  };
  RegisterDialogTemplate(main);

  DialogTemplate plain;
  plain.id = kPlainTemplate;
  plain.caption = "Plain";
  plain.cx = 100;
  plain.cy = 50;
  plain.style = DS_MODALFRAME;
  plain.controls = {{IDOK, ControlKind::PushButton, "OK", 5, 5, 40, 14, STYLE_NONE}};
  RegisterDialogTemplate(plain);

  DialogTemplate child;
  child.id = kChildTemplate;
  child.caption = "Child";
  child.cx = 80;
  child.cy = 40;
  child.controls = {{kEdit, ControlKind::Edit, "", 5, 5, 60, 12, STYLE_NONE}};
  RegisterDialogTemplate(child);
}

// Exposes routing to tests and exchanges a few members with its controls.
class CTestDlg : public CDialog {
 public:
  explicit CTestDlg(int templateId = kMainTemplate, CDialog* parent = nullptr) : CDialog(templateId, parent) {}
  using CDialog::Changed;
  using CDialog::MutableControl;
  using CDialog::Route;

  void DoDataExchange(CDataExchange& dx) override {
    ++m_Exchanges;
    DDX_Text(dx, kEdit, m_Text);
    DDX_Check(dx, kCheck, m_Check);
    DDX_Text(dx, kFloatEdit, m_Ratio);
  }

  std::string m_Text = "initial";
  int m_Check = 0;
  float m_Ratio = 0.5f;
  int m_Exchanges = 0;
};

}  // namespace uitest
