#include "OrvSetupDlg.h"

COrvSetupDlg::COrvSetupDlg(CDialog* pParent) : CDialog(IDD_ORVSETUP, pParent) {}
