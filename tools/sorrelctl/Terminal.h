#pragma once
// What the tool says: results on standard output; errors, the board's messages, the safe
// end and, on a terminal, a progress line on standard error.

#include <string>

namespace sorrelctl {

// "sorrelctl: <text>" on standard error.
void Say(const std::string& text);
// A result on standard output; throws std::runtime_error when it cannot be written (a reader
// that went away is an error like any other, met where the tool still ends safely).
[[gnu::format(printf, 1, 2)]] void Result(const char* format, ...);
// Throws std::runtime_error when something written to standard output did not arrive.
void CheckStandardOutput();
// The board's and the readers' messages shown since the last call, one line each.
void SayMessages();

// A line on a terminal that each Show replaces; nothing when standard error is no terminal.
class CProgress {
 public:
  CProgress();
  ~CProgress();  // ends the line
  CProgress(const CProgress&) = delete;
  CProgress& operator=(const CProgress&) = delete;
  void Show(const std::string& text);
  void End();

 private:
  bool m_Terminal;
  bool m_Shown = false;
};

}  // namespace sorrelctl
