#pragma once
// What every fuzz target shares: the input written to a file (the readers take paths), one
// application object under the scripted host, and a board of the geometry a target needs.

#include <cstddef>
#include <cstdint>
#include <string>

// Writes the input to a file of the given name in this process's own folder on a memory
// file system and returns its path.
std::string WriteInput(const char* name, const uint8_t* data, size_t size);

// The application object with a board of the given side (0: no board). Messages shown so
// far are dropped, so that a long run does not collect them.
void UseBoard(uint16_t side);

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);
