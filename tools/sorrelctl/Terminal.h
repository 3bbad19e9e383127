#pragma once
// What the tool says: results on standard output; errors, the board's messages, the safe
// end and, on a terminal, a progress line on standard error.

#include <string>

namespace sorrelctl {

// "sorrelctl: <text>" on standard error.
void Say(const std::string& text);
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
