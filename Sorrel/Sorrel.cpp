#include "Sorrel.h"

CSorrelApp* theApp = nullptr;

CSorrelApp::CSorrelApp() { theApp = this; }

CSorrelApp::~CSorrelApp() {
  ClearImageList(m_ImageList);
  if (theApp == this) theApp = nullptr;
}

const SBoard_Spec* AppBoardSpec() {
  if (theApp == nullptr || theApp->m_pBoard == nullptr) return nullptr;
  return theApp->m_pBoard->BoardSpec();
}
