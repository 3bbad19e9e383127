// The windowed program: the Qt host carries the dialogs.

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string_view>
#include <system_error>

#include "Sorrel.h"
#include "pci/CardList.h"
#include "ui/Host.h"
#include "ui/QtHost.h"

namespace {

constexpr const char* USAGE =
    "Usage: Sorrel [--live-view] [--list-cards] [--help]\n"
    "  --live-view   open the live view of the SLM once start-up is done\n"
    "  --list-cards  list the cards on the PCI bus and which backend serves, then end\n"
    "Sorrel works in the folder it is started from (Image_Files, Sequence_Files, PowerOff.bmp).\n";

// The operator's guide installed beside the program: <prefix>/share/sorrel/help, with the
// program in <prefix>/bin. The build tree is laid out the same way.
std::string InstalledGuide() {
  std::error_code error;
  const std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", error);
  if (error) return {};
  const std::filesystem::path guide = program.parent_path().parent_path() / "share/sorrel/help/index.html";
  return std::filesystem::exists(guide, error) ? guide.string() : std::string();
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
  if (pci::ListCardsIfAsked(argc, argv)) {
    return 0;
  }
  bool liveView = false;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      std::fputs(USAGE, stdout);
      return 0;
    }
    if (arg == "--live-view") liveView = true;
  }
  if (!HasDisplay()) {
    std::fprintf(stderr, "Sorrel: no display to show its window on (DISPLAY is not set); on a virtual screen: "
                         "xvfb-run -a %s\n", argv[0]);
    return 1;
  }
  SetHelpFile(InstalledGuide());
  return RunWithQtHost(argc, argv, [liveView] {
    CSorrelApp app;
    app.m_bLiveViewAtStart = liveView;
    app.InitInstance();
    return 0;
  });
}
