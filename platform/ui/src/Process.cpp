#include "ui/Process.h"

#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <mutex>
#include <thread>
#include <vector>

#include "ui/Host.h"

namespace {

struct SleepHook {
  std::mutex mutex;
  std::function<void(unsigned)> hook;
};

SleepHook& TheSleepHook() {
  static SleepHook s;
  return s;
}

}  // namespace

void ExitProcess(int status) {
  Host().ExitProcess(status);
  // A host that breaks its promise to end the process still ends it.
  std::exit(status);
}

void SleepMs(unsigned ms) {
  std::function<void(unsigned)> hook;
  {
    SleepHook& s = TheSleepHook();
    std::lock_guard lock(s.mutex);
    hook = s.hook;
  }
  // Called outside the lock: a hook may sleep itself, and other threads must not wait on it.
  if (hook) {
    hook(ms);
  } else {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
  }
}

void SetSleepHook(std::function<void(unsigned ms)> hook) {
  SleepHook& s = TheSleepHook();
  std::lock_guard lock(s.mutex);
  s.hook = std::move(hook);
}

bool GetCurrentDirectory(std::string& path) {
  // The buffer grows until the path fits: a working directory may be deeper than PATH_MAX.
  std::vector<char> buffer(256);
  while (getcwd(buffer.data(), buffer.size()) == nullptr) {
    if (errno != ERANGE) return false;
    buffer.resize(buffer.size() * 2);
  }
  path.assign(buffer.data());
  return true;
}

bool SetCurrentDirectory(const std::string& path) {
  // A name with a NUL in it names no folder, though chdir would see only its first part.
  if (path.find('\0') != std::string::npos) return false;
  return chdir(path.c_str()) == 0;
}
