#pragma once
// The Kite board's setup dialog (template 1).

#include "KiteBoard.h"
#include "ModelSetupDlg.h"

class CKiteSetupDlg : public CModelSetupDlg<KiteModel> {
 public:
  explicit CKiteSetupDlg(CModelBoard<KiteModel>* pBoard, CDialog* pParent = nullptr)
      : CModelSetupDlg(pBoard, pParent) {}
};
