// The windowed program: the Qt host carries the dialogs.

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string_view>
#include <system_error>

#include "DemoFolder.h"
#include "Sorrel.h"
#include "files/Paths.h"
#include "pci/CardList.h"
#include "ui/Host.h"
#include "ui/QtHost.h"

namespace {

constexpr const char* USAGE =
    "Usage: Sorrel [--live-view] [--demo] [--list-cards] [--help]\n"
    "  --live-view   open the live view of the SLM once start-up is done\n"
    "  --demo        work in the user's own copy of the installed samples\n"
    "                (~/.local/share/sorrel/samples, made on first use), opening its demo\n"
    "                sequence while the settings store has no settings yet\n"
    "  --list-cards  list the cards on the PCI bus and which backend serves, then end\n"
    "Sorrel works in the folder it is started from (Image_Files, Sequence_Files, PowerOff.bmp).\n";

// Data installed beside the program (<prefix>/share/sorrel/..., the program in <prefix>/bin);
// the build tree is laid out the same way.
std::string Installed(const std::string& relative) {
  std::error_code error;
  const std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", error);
  return error ? std::string() : InstalledFile(program.string(), relative);
}

// The start from the desktop menu: the installed samples are root's, so the operator works
// in a copy of their own. Where that cannot be made Sorrel stays where it was started and
// says so in its window, as in any folder without the samples.
void EnterDemoFolder() {
  const std::string samples = Installed("share/sorrel/samples");
  const std::string folder = DemoFolder();
  std::string reason = "no installed samples beside the program";
  if (samples.empty() || folder.empty() || !MakeDemoFolder(samples, folder, reason) || chdir(folder.c_str()) != 0) {
    std::fprintf(stderr, "Sorrel: cannot make the working folder %s: %s\n", folder.c_str(), reason.c_str());
    return;
  }
  if (SeedDemoSettings(folder, "kite") == Seeded::Failed) {
    std::fprintf(stderr, "Sorrel: the settings store cannot be written, so the demo sequence is not opened; "
                         "members of the sorrel group may write it\n");
  }
}

// Qt ends the process with a page of text when there is no screen to show windows on.
bool HasDisplay() {
  const char* platform = std::getenv("QT_QPA_PLATFORM");
  if (platform != nullptr && platform[0] != '\0') return true;
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY"}) {
    const char* value = std::getenv(name);
    if (value != nullptr && value[0] != '\0') return true;
  }
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  bool liveView = false;
  bool demo = false;
  bool help = false;
  bool listCards = false;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--help" || arg == "-h") help = true;
    if (arg == "--live-view") liveView = true;
    if (arg == "--demo") demo = true;
    if (arg == "--list-cards") listCards = true;
  }
  // The listing needs no display and opens no card, so it goes before anything else.
  if (listCards) {
    std::fputs(pci::CardListText().c_str(), stdout);
    return 0;
  }
  if (help) {
    std::fputs(USAGE, stdout);
    return 0;
  }
  if (!HasDisplay()) {
    std::fprintf(stderr, "Sorrel: no display to show its window on (DISPLAY is not set); on a virtual screen: "
                         "xvfb-run -a %s\n", argv[0]);
    return 1;
  }
  if (demo) EnterDemoFolder();
  SetHelpFile(Installed("share/sorrel/help/index.html"));
  return RunWithQtHost(argc, argv, [liveView] {
    CSorrelApp app;
    app.m_bLiveViewAtStart = liveView;
    app.InitInstance();
    return 0;
  });
}
