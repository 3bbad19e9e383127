#pragma once
// How the module calls into the system: one call at a time (the host that collects the
// system's messages serves one caller), with the GIL released so other Python threads run
// meanwhile; and what the system said on the way, as warnings or in the exception raised.

#include <pybind11/pybind11.h>

#include <mutex>
#include <string>
#include <utility>

namespace sorrelpy {

std::mutex& CoreMutex();

// Runs call with the GIL released and the core held; whatever it throws passes on once the
// GIL is back.
template <class Call>
auto InCore(Call&& call) {
  pybind11::gil_scoped_release release;
  std::lock_guard lock(CoreMutex());
  return std::forward<Call>(call)();
}

// The messages the system showed since the last call, each as a sorrel.SorrelWarning.
void WarnMessages();
// sorrel.Error with the messages the system showed, or fallback when it showed none.
[[noreturn]] void RaiseWithMessages(const std::string& fallback);

// sorrel.Error "Could not read the <what> file: <path>", with what the reader said after it.
[[noreturn]] void RaiseReadError(const std::string& what, const std::string& path);

// The module's exception and warning types, made once at import.
void DefineErrors(pybind11::module_& module);

// An int argument in low..high; TypeError when it is no int, ValueError outside the range.
int IntArgument(const pybind11::handle& value, const std::string& what, long long low, long long high);

}  // namespace sorrelpy
