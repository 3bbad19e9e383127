#pragma once
// Process services: ending the process, sleeping and the working directory. Tests shorten
// sleeps through the hook.

#include <functional>
#include <string>

#include "ui/Types.h"

// Ends the process with the given status through the host (observable under the scripted host).
[[noreturn]] UI_API void ExitProcess(int status);

// Sleeps for ms milliseconds, or calls the installed hook instead.
UI_API void SleepMs(unsigned ms);
UI_API void SetSleepHook(std::function<void(unsigned ms)> hook);  // empty: real sleeping

// The working directory, as long as the platform allows; false (path untouched) when it
// cannot be read.
UI_API bool GetCurrentDirectory(std::string& path);
// Makes path the working directory; false when the folder cannot be entered.
UI_API bool SetCurrentDirectory(const std::string& path);
