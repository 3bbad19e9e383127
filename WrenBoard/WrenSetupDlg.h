#pragma once
// The Wren board's setup dialog (template 1004).

#include "ModelSetupDlg.h"
#include "WrenBoard.h"

class CWrenSetupDlg : public CModelSetupDlg<WrenModel> {
 public:
  explicit CWrenSetupDlg(CModelBoard<WrenModel>* pBoard, CDialog* pParent = nullptr)
      : CModelSetupDlg(pBoard, pParent) {}
};
