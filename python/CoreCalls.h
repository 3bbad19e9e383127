#pragma once
// How the module calls into the system: one call at a time (the host that collects the
// system's messages serves one caller), with the GIL released so other Python threads run
// meanwhile; and what the system said on the way, as warnings or in the exception raised.

#include <pybind11/pybind11.h>

#include <mutex>
#include <optional>
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
// True or False; TypeError for anything else.
bool BoolArgument(const pybind11::handle& value, const std::string& what);
// A str argument's text for comparing with names; what no name has (a lone surrogate) is
// kept escaped, so it matches none and reads back in a message.
std::string TextArgument(const pybind11::handle& text);

// A wavelength's name from None (no LUT: "") or a str; TypeError for anything else. The
// scripting core checks the name itself.
std::string WavelengthArgument(const pybind11::handle& value);

// A file name as the system keeps it, its bytes, from a str (as os.fsencode encodes it), bytes
// or an os.PathLike; nothing for anything else. ValueError for a name holding a NUL.
std::optional<std::string> PathArgument(const pybind11::handle& value);
// A file name the system gives back, as os.fsdecode decodes its bytes, so PathArgument takes
// it back unchanged.
pybind11::str FileName(const std::string& bytes);
// Text from the system for a person to read, whatever bytes its file names hold.
pybind11::str Readable(const std::string& text);

}  // namespace sorrelpy
