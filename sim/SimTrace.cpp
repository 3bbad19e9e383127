#include "SimTrace.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "files/ReplaceFile.h"
#include "files/SafePath.h"

namespace sim {
namespace {

// Each trace file is replaced whole, so a reader never sees half a frame.
void WriteWhole(const std::string& path, const std::string& header, const uint8_t* bytes, size_t size) {
  if (!ReplaceFile(path, {header, std::string_view(reinterpret_cast<const char*>(bytes), size)})) {
    std::fprintf(stderr, "sim: cannot write the trace file %s: %s\n", path.c_str(), FileErrorText(errno).c_str());
  }
}

}  // namespace

void CSimTrace::Start(const std::string& folder, bool fresh, std::chrono::steady_clock::time_point epoch) {
  Stop();
  if (mkdir(folder.c_str(), 0755) != 0 && errno != EEXIST) {
    std::fprintf(stderr, "sim: cannot create the trace folder %s: %s\n", folder.c_str(), std::strerror(errno));
    return;
  }
  const std::string log = folder + "/registers.log";
  const int flags = O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | (fresh ? O_TRUNC : 0);
  m_Log = OpenSafely(log, flags, 0644);  // truncated only where no one else's link leads
  if (m_Log < 0) {
    std::fprintf(stderr, "sim: cannot open the trace log %s: %s\n", log.c_str(), FileErrorText(errno).c_str());
    return;
  }
  m_Folder = folder;
  m_Epoch = epoch;
}

void CSimTrace::Stop() {
  if (m_Log >= 0) {
    close(m_Log);
    m_Log = -1;
  }
}

uint64_t CSimTrace::Microseconds() const {
  return static_cast<uint64_t>(
      std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - m_Epoch).count());
}

void CSimTrace::Line(const char* text, int length) {
  // One write per line: with O_APPEND a line is never torn or interleaved.
  if (write(m_Log, text, static_cast<size_t>(length)) != length) {
    std::fprintf(stderr, "sim: the trace log could not take a line\n");
  }
}

void CSimTrace::RegisterWrite(uint32_t space, uint32_t offset, uint32_t value) {
  if (!Active()) {
    return;
  }
  char line[96];
  const int length = std::snprintf(line, sizeof line, "%llu W %u %02x %08x\n",
                                   static_cast<unsigned long long>(Microseconds()), space, offset, value);
  Line(line, length);
}

void CSimTrace::InterruptDelivered() {
  if (!Active()) {
    return;
  }
  char line[48];
  const int length = std::snprintf(line, sizeof line, "%llu I\n", static_cast<unsigned long long>(Microseconds()));
  Line(line, length);
}

void CSimTrace::Frame(uint32_t buffer, const uint8_t* stored, const uint8_t* shown, uint32_t width, uint32_t height) {
  if (!Active()) {
    return;
  }
  char name[32];
  std::snprintf(name, sizeof name, "/frame-%04u", buffer);
  const size_t size = static_cast<size_t>(width) * height;
  WriteWhole(m_Folder + name + ".raw", {}, stored, size);
  WriteWhole(m_Folder + name + ".pgm", "P5\n" + std::to_string(width) + " " + std::to_string(height) + "\n255\n",
             shown, size);
}

}  // namespace sim
