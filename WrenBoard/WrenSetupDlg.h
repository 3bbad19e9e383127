#pragma once
// The Wren board's setup dialog (template 1004).

#include "ModelSetupDlg.h"
#include "WrenBoard.h"

class CWrenSetupDlg : public CModelSetupDlg<SWrenModel> {
 public:
  explicit CWrenSetupDlg(CModelBoard<SWrenModel>* pBoard, CDialog* pParent = nullptr)
      : CModelSetupDlg(pBoard, pParent) {}
};
