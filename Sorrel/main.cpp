// The windowed program: the Qt host carries the dialogs.

#include "AboutDlg.h"
#include "pci/CardList.h"
#include "ui/QtHost.h"

int main(int argc, char** argv) {
  if (pci::ListCardsIfAsked(argc, argv)) {
    return 0;
  }
  return RunWithQtHost(argc, argv, [] {
    // Until the main dialog exists the program shows who it is and ends.
    CAboutDlg about;
    about.DoModal();
    return 0;
  });
}
