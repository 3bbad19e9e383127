#pragma once
// Process services: ending the process and sleeping. Tests shorten sleeps through the hook.

#include <functional>

#include "ui/Types.h"

// Ends the process with the given status through the host (observable under the scripted host).
[[noreturn]] UI_API void ExitProcess(int status);

// Sleeps for ms milliseconds, or calls the installed hook instead.
UI_API void SleepMs(unsigned ms);
UI_API void SetSleepHook(std::function<void(unsigned ms)> hook);  // empty: real sleeping
