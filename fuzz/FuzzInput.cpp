#include "FuzzInput.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>

#include "PatternFiles.h"
#include "Sorrel.h"
#include "ui/ScriptedHost.h"

namespace {

struct SFuzzState {
  SFuzzState() : host(CScriptedHost::Install()) {
    std::string pattern = std::filesystem::is_directory("/dev/shm") ? "/dev/shm/sorrel-fuzz-XXXXXX"
                                                                     : "/tmp/sorrel-fuzz-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) std::abort();
    folder = pattern;
  }
  ~SFuzzState() {
    std::error_code ec;
    std::filesystem::remove_all(folder, ec);
  }

  CScriptedHost& host;
  std::string folder;
  CSorrelApp app;
  std::unique_ptr<CTestBoard> kite = std::make_unique<CTestBoard>(512);
  std::unique_ptr<CTestBoard> wren = std::make_unique<CTestBoard>(256);
};

SFuzzState& State() {
  static SFuzzState state;
  return state;
}

}  // namespace

std::string WriteInput(const char* name, const uint8_t* data, size_t size) {
  std::string path = State().folder + "/" + name;
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr || (size > 0 && std::fwrite(data, 1, size, file) != size) || std::fclose(file) != 0) std::abort();
  return path;
}

void UseBoard(uint16_t side) {
  SFuzzState& state = State();
  state.host.ClearMessages();
  state.app.m_pBoard = side == 512 ? state.kite.get() : side == 256 ? state.wren.get() : nullptr;
}
