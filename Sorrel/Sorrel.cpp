#include "Sorrel.h"

#include "SorrelDlg.h"
#include "SorrelResources.h"

CSorrelApp* theApp = nullptr;

CSorrelApp::CSorrelApp() {
  theApp = this;
  RegisterSorrelResources();
}

CSorrelApp::~CSorrelApp() {
  ClearImageList(m_ImageList);
  if (theApp == this) theApp = nullptr;
}

bool CSorrelApp::InitInstance() {
  CSorrelDlg dlg;
  m_pMainWnd = &dlg;
  m_bRunning = 0;
  m_bSequenceModified = 0;
  dlg.DoModal();
  m_pMainWnd = nullptr;
  // There is no message loop after the main dialog: the process ends with it.
  return false;
}
