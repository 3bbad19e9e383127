#pragma once
// Work a test runs in a process of its own: so it can lose root's rights, meet a full disk
// or die without taking the test with it.

#include <sys/resource.h>
#include <sys/types.h>

#include <functional>

// Runs body in a forked child and returns the child's exit status (body's result), or
// 128 + the signal that ended it.
int InChild(const std::function<int()>& body);

// In a child: gives up root's rights and groups for those of "nobody", so that
// permissions apply (tests run as root here). False when that fails; does nothing for an
// ordinary user.
bool DropToOrdinaryUser();

// In a child: files may grow to bytes at most; a write beyond fails with EFBIG instead of
// ending the process.
bool LimitFileSize(rlim_t bytes);

// A forked child that takes hold of something (a card) and keeps it until End() or the end
// of this object kill it. take runs in the child: it takes hold and calls held(whether it
// got hold), which never returns, so what take holds stays held.
class CHoldingChild {
 public:
  using Take = std::function<void(const std::function<void(bool)>& held)>;
  explicit CHoldingChild(const Take& take);
  ~CHoldingChild() { End(); }
  CHoldingChild(const CHoldingChild&) = delete;
  CHoldingChild& operator=(const CHoldingChild&) = delete;

  bool Held() const { return m_Held; }
  pid_t Pid() const { return m_Pid; }
  void End();

 private:
  pid_t m_Pid = -1;
  bool m_Held = false;
};
