#pragma once
// Termination signals (SIGINT, SIGTERM, SIGHUP) reach the program's own code on the
// user-interface thread, never inside a signal handler: the handler only records the
// signal and wakes the host, which runs the program's handler from its event loop (any
// nested modal loop included). Long work that reaches no event loop delivers at its own
// checkpoints.

#include <functional>

#include "ui/Types.h"

// Catches the three signals and remembers handler; calling it again replaces the handler.
// The first signal recorded wins until its handler returns: signals arriving while it runs
// never run it again.
UI_API void WatchTerminationSignals(std::function<void(int signal)> handler);
// Gives the three signals back the dispositions they had before watching began and forgets
// the handler and any pending signal.
UI_API void StopWatchingTerminationSignals();

// The signal recorded and not yet delivered, or 0; it stays pending.
UI_API int PendingTerminationSignal();
// Runs the handler now if a signal is pending (on the user-interface thread); true when it
// ran. False inside the handler itself.
UI_API bool DeliverPendingTerminationSignal();

// Ends the process by signal as a shell expects (status 128 + signal): default disposition,
// signal unblocked, stdio flushed, raised.
[[noreturn]] UI_API void EndByTerminationSignal(int signal);

// For hosts: a descriptor that becomes readable when a signal is recorded. Valid for the
// whole process; DeliverPendingTerminationSignal empties it.
UI_API int TerminationSignalFd();
