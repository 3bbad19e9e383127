// The whole program in a process of its own under the scripted host, for drills that need a
// second Sorrel beside a test's where the windowed one is not built: it starts up in the
// working folder it is given, then stays as a window left open stays, until a termination
// signal ends it through the program's own handling. Its message boxes go where
// SORREL_UI_TRANSCRIPT says; its exit status is the program's. The power-up waits pass
// twenty times faster, as in the program tests.

#include <chrono>
#include <thread>

#include "Sorrel.h"
#include "SorrelDlg.h"
#include "ui/Process.h"
#include "ui/ScriptedHost.h"

int main() {
  CScriptedHost& host = CScriptedHost::Install();
  SetSleepHook([](unsigned ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms / 20)); });
  CSorrelApp app;
  CSorrelDlg dlg;
  app.m_pMainWnd = &dlg;
  try {
    host.Open(dlg);
    while (!host.DeliverSignals()) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  } catch (const CProcessExit& e) {
    return e.status;
  }
  return 0;
}
