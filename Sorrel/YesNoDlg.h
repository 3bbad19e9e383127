#pragma once
// One question with YES and NO buttons. The caller reads the answer flag, not the dialog's
// result: YES sets it to 1, NO to 0, any other way out leaves it as the caller set it.

#include <cstdint>

#include "Resource.h"
#include "ui/Dialog.h"

class CYesNoDlg : public CDialog {
 public:
  enum { IDD = IDD_YES_NO };

  CYesNoDlg(const char* text, uint8_t* answer, CDialog* pParent = nullptr);

  bool OnInitDialog() override;
  void OnOK() override;  // Enter presses the default button, YES

  const char* m_pText;
  uint8_t* m_pAnswer;

 private:
  void Answer(uint8_t value);
};
