#include "FuzzInput.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "ui/ScriptedHost.h"

namespace {

struct FuzzState {
  FuzzState() : host(&CScriptedHost::Install()) {
    std::string pattern = std::filesystem::is_directory("/dev/shm") ? "/dev/shm/sorrel-fuzz-XXXXXX"
                                                                     : "/tmp/sorrel-fuzz-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) std::abort();
    folder = pattern;
  }
  ~FuzzState() {
    std::error_code ec;
    std::filesystem::remove_all(folder, ec);
  }

  CScriptedHost* host;
  std::string folder;
};

FuzzState& State() {
  static FuzzState state;
  return state;
}

}  // namespace

std::string WriteInput(const char* name, const uint8_t* data, size_t size) {
  FuzzState& state = State();
  state.host->ClearMessages();
  std::string path = state.folder + "/" + name;
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr || (size > 0 && std::fwrite(data, 1, size, file) != size) || std::fclose(file) != 0) std::abort();
  return path;
}

CScriptedHost& FreshHost() {
  FuzzState& state = State();
  state.host = &CScriptedHost::Install();
  return *state.host;
}
