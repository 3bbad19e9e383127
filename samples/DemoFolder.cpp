#include "DemoFolder.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "files/Paths.h"
#include "registry/Registry.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* SETTINGS_KEY = "SOFTWARE\\Orvane Radara\\Sorrel";

void SetText(HKEY key, const char* name, const std::string& text) {
  RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                 static_cast<DWORD>(text.size() + 1));
}

}  // namespace

std::string DemoFolder() {
  const char* data = std::getenv("XDG_DATA_HOME");
  if (data != nullptr && data[0] == '/') return std::string(data) + "/sorrel/samples";
  const char* home = std::getenv("HOME");
  if (home != nullptr && home[0] == '/') return std::string(home) + "/.local/share/sorrel/samples";
  return {};
}

bool MakeDemoFolder(const std::string& samples, const std::string& folder, std::string& reason) {
  std::error_code error;
  if (fs::is_directory(folder, error)) return true;
  const fs::path partial = folder + ".partial-" + std::to_string(getpid());
  fs::create_directories(fs::path(folder).parent_path(), error);
  if (!error) fs::copy(samples, partial, fs::copy_options::recursive, error);
  if (!error) fs::rename(partial, folder, error);
  if (!error) return true;
  reason = error.message();
  fs::remove_all(partial, error);
  // Another start made it meanwhile.
  return fs::is_directory(folder, error);
}

Seeded SeedDemoSettings(const std::string& folder, const std::string& board) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, SETTINGS_KEY, 0, KEY_QUERY_VALUE, &key) == ERROR_SUCCESS) {
    RegCloseKey(key);
    return Seeded::AlreadyThere;
  }
  const std::string work = AbsolutePath(folder);
  const bool wren = board == "wren";
  DWORD disposition = 0;
  if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, SETTINGS_KEY, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_SET_VALUE, nullptr,
                      &key, &disposition) != ERROR_SUCCESS) {
    return Seeded::Failed;
  }
  // A visible pace for a demo: ten entries a second on a phase modulator, lasers on.
  SetText(key, "LaserDuty", "50");
  SetText(key, "FrameRate", "10");
  SetText(key, "LaserAGain", "200");
  SetText(key, "LaserBGain", "100");
  SetText(key, "LC_Type", "1");
  SetText(key, "TrueFrames", "12");
  SetText(key, "BoardType", wren ? "Wren_SLM" : "Kite_SLM");
  SetText(key, "SequenceFile", work + (wren ? "/Sequence_Files/Wren_demo.sif" : "/Sequence_Files/Kite_demo.sif"));
  SetText(key, "PhaseCompFileName", work + "/Image_Files/slm_comp.bmp");
  SetText(key, "SysPhaseCompFileName", "");
  SetText(key, "ApplyCorrection", "0");
  SetText(key, "HideComp", "0");
  // Scripts and the tool reach the demo's board while the window shows it.
  SetText(key, "BoardService", "1");
  // The store writes its file when the key is closed.
  return RegCloseKey(key) == ERROR_SUCCESS ? Seeded::Stored : Seeded::Failed;
}
