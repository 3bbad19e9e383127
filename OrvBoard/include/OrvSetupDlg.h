#pragma once
// The setup dialog the undefined board shows in place of a model's.

#include "OrvBoard.h"
#include "ui/Dialog.h"

constexpr int IDD_ORVSETUP = 1001;

class ORVBOARD_API COrvSetupDlg : public CDialog {
 public:
  explicit COrvSetupDlg(CDialog* pParent = nullptr);
};
