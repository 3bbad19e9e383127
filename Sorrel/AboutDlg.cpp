#include "AboutDlg.h"

#include "SorrelResources.h"

// The OK button and Escape end the box through the framework's defaults.
CAboutDlg::CAboutDlg(CDialog* pParent) : CDialog(ProgramTemplate(IDD), pParent) {}
