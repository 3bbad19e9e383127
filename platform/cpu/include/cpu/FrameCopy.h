#pragma once
// The copy of a frame's bytes into a board's frame memory (or its picture of it). The library
// copy can run many times slower when source and target lie at certain distances modulo 64
// (its string moves on some processors); the vector paths load at any alignment and store
// whole aligned lines, so their speed does not depend on where the caller's frame lies.

#include <cstddef>

#include "cpu/Paths.h"

namespace cpu {

using CopyFunction = void (*)(void* target, const void* source, size_t bytes);

// One copy per path: the library's memcpy, 32-byte and 64-byte vector moves.
extern const CopyFunction COPY_PATHS[PATH_COUNT];

// target and source must not overlap.
void CopyFrameBytes(void* target, const void* source, size_t bytes);

}  // namespace cpu
