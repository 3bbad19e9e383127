#include "YesNoDlg.h"

#include "SorrelResources.h"

CYesNoDlg::CYesNoDlg(const char* text, uint8_t* answer, CDialog* pParent)
    : CDialog(ProgramTemplate(IDD), pParent), m_pText(text), m_pAnswer(answer) {
  Route(EventKind::Click, IDYES, [this](const Event&) { Answer(1); });
  Route(EventKind::Click, IDNO, [this](const Event&) { Answer(0); });
}

bool CYesNoDlg::OnInitDialog() {
  CDialog::OnInitDialog();
  SetDlgItemText(IDC_QUESTION, m_pText ? m_pText : "");
  return true;
}

void CYesNoDlg::OnOK() { Answer(1); }

void CYesNoDlg::Answer(uint8_t value) {
  if (m_pAnswer) *m_pAnswer = value;
  EndDialog(IDOK);
}
