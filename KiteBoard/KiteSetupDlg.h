#pragma once
// The Kite board's setup dialog (template 1).

#include "KiteBoard.h"
#include "ModelSetupDlg.h"

class CKiteSetupDlg : public CModelSetupDlg<SKiteModel> {
 public:
  explicit CKiteSetupDlg(CModelBoard<SKiteModel>* pBoard, CDialog* pParent = nullptr)
      : CModelSetupDlg(pBoard, pParent) {}
};
