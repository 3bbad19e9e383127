#include "cpu/Paths.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace cpu {
namespace {

Path BestRunnable() {
  for (int i = PATH_COUNT - 1; i > 0; --i)
    if (ProcessorRuns(PATHS[i])) return PATHS[i];
  return Path::Portable;
}

Path Decide() {
  const Path best = BestRunnable();
  const char* cap = std::getenv("SORREL_CPU");
  if (cap == nullptr || *cap == '\0') return best;
  for (Path path : PATHS) {
    if (std::strcmp(cap, PathName(path)) == 0) return path < best ? path : best;
  }
  std::fprintf(stderr, "SORREL_CPU=%s is not one of portable, avx2, avx512; using %s\n", cap, PathName(best));
  return best;
}

}  // namespace

const char* PathName(Path path) {
  switch (path) {
    case Path::Avx2: return "avx2";
    case Path::Avx512: return "avx512";
    case Path::Portable: break;
  }
  return "portable";
}

bool ProcessorRuns(Path path) {
  switch (path) {
    case Path::Portable: return true;
#if defined(__x86_64__)
    case Path::Avx2: return __builtin_cpu_supports("avx2");
    case Path::Avx512:
      return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
             __builtin_cpu_supports("avx512vl") && __builtin_cpu_supports("avx512vbmi");
#else
    default: return false;
#endif
  }
  return false;
}

Path ChosenPath() {
  static const Path chosen = Decide();
  return chosen;
}

}  // namespace cpu
