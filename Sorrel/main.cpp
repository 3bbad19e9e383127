// The windowed program: the Qt host carries the dialogs.

#include "Sorrel.h"
#include "pci/CardList.h"
#include "ui/QtHost.h"

int main(int argc, char** argv) {
  if (pci::ListCardsIfAsked(argc, argv)) {
    return 0;
  }
  return RunWithQtHost(argc, argv, [] {
    CSorrelApp app;
    app.InitInstance();
    return 0;
  });
}
