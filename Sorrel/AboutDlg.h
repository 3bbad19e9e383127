#pragma once
// The About box, opened from the main dialog's system menu.

#include "ui/Dialog.h"

class CAboutDlg : public CDialog {
 public:
  enum { IDD = 100 };

  explicit CAboutDlg(CDialog* pParent = nullptr);
};
