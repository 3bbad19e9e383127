#pragma once
// Diagnostics of the VFIO backend: one line on stderr per event, naming the card.

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

namespace vfio {

inline void Report(const std::string& address, const std::string& what) {
  std::fprintf(stderr, "pci: %s: %s\n", address.c_str(), what.c_str());
}

// What the last failed call set errno to, in words.
inline std::string LastError() { return std::strerror(errno); }

}  // namespace vfio
