#pragma once
// What every fuzz target shares: the input written to a file (the readers take paths) under
// the scripted host, which answers and records the readers' messages.

#include <cstddef>
#include <cstdint>
#include <string>

// Writes the input to a file of the given name in this process's own folder on a memory
// file system and returns its path. Messages shown so far are dropped, so that a long run
// does not collect them.
std::string WriteInput(const char* name, const uint8_t* data, size_t size);

class CScriptedHost;
// A new scripted host in place of the last, for a target whose input runs whole windows:
// nothing one input left in the host (captions, dialogs) reaches the next.
CScriptedHost& FreshHost();

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);
