#pragma once
// The error of a system call that failed: what was being done, then the system's reason.

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <string>

namespace service {

inline std::runtime_error SystemError(const std::string& what) {
  return std::runtime_error(what + ": " + std::strerror(errno));
}

}  // namespace service
