#pragma once
// The vector paths of the per-pixel code. Each kernel keeps one function per path in a table
// indexed by Path; the process runs the best path the processor has, chosen once. SORREL_CPU
// (portable, avx2 or avx512) caps that choice, to see a lesser machine's figures or faults.
// Every path gives the same bytes.

namespace cpu {

enum class Path { Portable, Avx2, Avx512 };
constexpr int PATH_COUNT = 3;
constexpr Path PATHS[PATH_COUNT] = {Path::Portable, Path::Avx2, Path::Avx512};

// "portable", "avx2", "avx512".
const char* PathName(Path path);

// Whether this processor can run the path. Avx512 takes F, BW, VL and VBMI; Avx2 takes AVX2.
bool ProcessorRuns(Path path);

// The best path the processor runs, capped by SORREL_CPU; decided on the first call.
Path ChosenPath();

// The entry of a kernel's table for the chosen path.
template <class Function>
Function Chosen(const Function (&table)[PATH_COUNT]) {
  return table[static_cast<int>(ChosenPath())];
}

}  // namespace cpu
