// A whole start-up of the program under the scripted host on a simulated Kite card, from
// files the input chooses, then the close box: the glue between the readers (the settings
// store naming the sequence and compensation files, the sequence naming patterns and
// tables) is fuzzed along with the readers. The input is the working folder's files one
// after another, each ended by STARTUP_FILE_END (the last may go without it):
//   sorrel.reg (the store)  seq.sif  p.bmp  z.zrn  a.lut  c.bmp  PowerOff.bmp
// The program runs in that folder, so the store and the sequence name these files by plain
// relative names. Whatever the files hold, start-up ends at "START" or the program exits;
// anything else (a crash, a hang, a button left at another caption) is a finding.

#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <string_view>
#include <thread>

#include "FuzzInput.h"
#include "SimTesting.h"
#include "Sorrel.h"
#include "SorrelDlg.h"
#include "StartupInput.h"
#include "ui/Process.h"
#include "ui/ScriptedHost.h"

namespace {

// Once per process: the card, the store and the working folder all in the fuzz folder.
void Prepare(const std::string& folder) {
  static const bool prepared = [&folder] {
    setenv("SORREL_SIM", "kite", 1);
    setenv("SORREL_REGISTRY", folder.c_str(), 1);
    sim::testing::UsePrivateClaimFolder();
    // The board's power-up waits, a second each, pass forty times faster: still longer
    // than the card needs to power its DAC.
    SetSleepHook([](unsigned ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms / 40)); });
    if (chdir(folder.c_str()) != 0) std::abort();
    return true;
  }();
  (void)prepared;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view rest(reinterpret_cast<const char*>(data), size);
  std::string folder;
  for (const char* name : STARTUP_FILES) {
    const size_t end = rest.find(STARTUP_FILE_END);
    const std::string_view part = rest.substr(0, end);
    const std::string path = WriteInput(name, reinterpret_cast<const uint8_t*>(part.data()), part.size());
    folder = path.substr(0, path.rfind('/'));
    rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + sizeof STARTUP_FILE_END - 1);
  }
  Prepare(folder);
  sim::testing::ResetBus();

  CScriptedHost& host = FreshHost();
  auto app = std::make_unique<CSorrelApp>();
  auto dlg = std::make_unique<CSorrelDlg>();
  app->m_pMainWnd = dlg.get();
  try {
    host.Open(*dlg);
    if (dlg->GetDlgItemText(IDC_START_STOP) != "START") __builtin_trap();
    host.CloseWindow(*dlg);
  } catch (const CProcessExit&) {
    // Start-up ended the program, as it does for a card it cannot use.
  }
  dlg.reset();
  delete app->m_pBoard;
  app->m_pBoard = nullptr;
  return 0;
}
