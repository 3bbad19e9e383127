#pragma once
// Work another thread hands to the user-interface thread, through the host's event loop:
// so that what a server thread is asked reaches the dialogs as an operator's click does.
// Once the hand-over is closed no more of its work runs, and nobody waits on it any more:
// a thread that waits on the user-interface thread must never outlive the windows.

#include <functional>
#include <memory>

#include "ui/Types.h"

class UI_API CHandOver {
 public:
  // ready (on the user-interface thread): whether handed work may run now; while it says
  // no the work waits and is looked at again a little later.
  explicit CHandOver(std::function<bool()> ready = {});
  // Closes it.
  ~CHandOver();
  CHandOver(const CHandOver&) = delete;
  CHandOver& operator=(const CHandOver&) = delete;

  // From any thread but the user-interface thread: runs work there and returns once it
  // has run; false when the hand-over closed before it could run (it never will).
  bool Run(const std::function<void()>& work);
  // From any thread: runs work there soon, unless the hand-over is closed first; returns at once.
  void Send(std::function<void()> work);
  // User-interface thread: work handed over and not begun never runs; Run returns false.
  void Close();

 private:
  struct State;
  std::shared_ptr<State> m_State;
};
