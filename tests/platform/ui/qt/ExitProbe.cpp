// Ends the process from inside a modal run, as the program does on unrecognised hardware:
// the dialog's initialisation opens the help window (as an operator may have it open),
// shows a message box (dismissed by the dialog's timer), writes to stdout without a
// newline and calls ExitProcess with the status given as the first argument. Run by the
// Qt host's exit test.
#include <cstdio>
#include <cstdlib>

#include "ui/Dialog.h"
#include "ui/DialogTemplate.h"
#include "ui/Host.h"
#include "ui/Process.h"
#include "ui/QtHostTesting.h"

namespace {

constexpr int PROBE_TEMPLATE = 9201;
constexpr int DISMISS_TIMER = 1;

class CExitDlg : public CDialog {
 public:
  explicit CExitDlg(int status) : CDialog(PROBE_TEMPLATE), m_Status(status) {
    Route(EventKind::Timer, DISMISS_TIMER, [](const Event&) {
      if (QtHostTesting::ActiveMessageBox()) QtHostTesting::DismissActiveMessageBox();
    });
  }

  bool OnInitDialog() override {
    CDialog::OnInitDialog();
    WinHelp(HELP_FINDER);
    SetTimer(DISMISS_TIMER, 20);
    MessageBox(this, "The hardware found was not 256 or 512 hardware", "ERROR");
    std::printf("answered");
    ExitProcess(m_Status);
  }

 private:
  int m_Status;
};

}  // namespace

int main(int argc, char** argv) {
  const int status = argc > 1 ? std::atoi(argv[1]) : 0;
  DialogTemplate t;
  t.id = PROBE_TEMPLATE;
  t.caption = "Exit Probe";
  t.cx = 100;
  t.cy = 40;
  t.controls = {{IDOK, ControlKind::PushButton, "OK", 5, 20, 40, 14, STYLE_DEFAULT}};
  RegisterDialogTemplate(t);
  return RunWithQtHost(argc, argv, [status] {
    CExitDlg dlg(status);
    dlg.DoModal();
    std::fputs("ExitProcess returned\n", stderr);
    return 3;
  });
}
