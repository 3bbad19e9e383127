#include "Terminal.h"

#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <stdexcept>

#include "ScriptMessages.h"

namespace sorrelctl {

void Say(const std::string& text) { std::fprintf(stderr, "sorrelctl: %s\n", text.c_str()); }

void Result(const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  std::vfprintf(stdout, format, arguments);
  va_end(arguments);
  CheckStandardOutput();
}

void CheckStandardOutput() {
  if (std::fflush(stdout) != 0 || std::ferror(stdout) != 0) {
    throw std::runtime_error(std::string("cannot write to standard output: ") + std::strerror(errno));
  }
}

void SayMessages() {
  for (const scripting::ScriptMessage& m : scripting::TakeMessages()) Say(m.Text);
}

CProgress::CProgress() : m_Terminal(isatty(STDERR_FILENO) == 1) {}

CProgress::~CProgress() { End(); }

void CProgress::Show(const std::string& text) {
  if (!m_Terminal) return;
  // Back to the start of the line, the new text, and the rest of the old one cleared.
  std::fprintf(stderr, "\r%s\033[K", text.c_str());
  std::fflush(stderr);
  m_Shown = true;
}

void CProgress::End() {
  if (!m_Shown) return;
  std::fputc('\n', stderr);
  m_Shown = false;
}

}  // namespace sorrelctl
