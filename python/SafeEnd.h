#pragma once
// Every board this process opened ends safe however the process ends: at interpreter exit and
// at os._exit (the package calls EndOpenBoards then), and on SIGTERM or SIGHUP left at their
// default, from a thread of the module's own, whichever thread holds the board and whatever
// the others are doing. A forked child inherits none of it: its parent's boards are not its.

#include <string>

namespace sorrelpy {

class CCardBoard;

// With the core held (CoreMutex): a board opened by this process, and one destroyed.
void Remember(CCardBoard& board);
void Forget(CCardBoard& board);

// Closes every board this process opened, with the power as it was opened to leave it, and
// says "sorrel: <why>: <what it left>" on standard error for each. Takes the core; needs no GIL.
void EndOpenBoards(const std::string& why);

// With the core held: SIGTERM and SIGHUP, where nothing handles them now, end the process by
// that signal once the boards are closed as EndOpenBoards closes them.
void GuardTerminationSignals();

}  // namespace sorrelpy
