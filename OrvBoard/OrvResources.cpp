// OrvBoard's dialog templates, registered when the library is loaded and again by each
// board it constructs.
#include "OrvBoard.h"
#include "OrvSetupDlg.h"
#include "ui/DialogTemplate.h"

void RegisterOrvBoardResources() {
  DialogTemplate t;
  t.id = IDD_ORVSETUP;
  t.caption = "Orv Board Setup";
  t.cx = 186;
  t.cy = 55;
  t.style = DS_SYSMENU | DS_MODALFRAME;
  t.controls = {
      {IDC_STATIC, ControlKind::Static, "Board Undefined", 27, 7, 133, 13, STYLE_CENTRED},
      {IDOK, ControlKind::PushButton, "OK", 69, 28, 50, 14, STYLE_DEFAULT},
  };
  RegisterDialogTemplate(t);
}

namespace {
const bool registeredAtLoad = (RegisterOrvBoardResources(), true);
}
