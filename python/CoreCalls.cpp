#include "CoreCalls.h"

#include <pthread.h>

#include "BoardClient.h"
#include "ScriptBoard.h"
#include "ScriptMessages.h"

namespace py = pybind11;

namespace sorrelpy {
namespace {

// Made once at import and kept for the life of the process.
PyObject* g_Error = nullptr;
PyObject* g_Busy = nullptr;
PyObject* g_Warning = nullptr;

PyObject* NewType(py::module_& module, const char* name, PyObject* base, const char* doc) {
  const std::string qualified = "sorrel." + std::string(name);
  PyObject* type = PyErr_NewExceptionWithDoc(qualified.c_str(), doc, base, nullptr);
  if (type == nullptr) throw py::error_already_set();
  module.add_object(name, py::reinterpret_borrow<py::object>(type));
  return type;
}

}  // namespace

std::mutex& CoreMutex() {
  static std::mutex mutex;
  return mutex;
}

namespace {

// A fork waits for the core call under way, so a child never gets the core halfway through
// a call, nor its mutex held by a thread the child does not have.
[[maybe_unused]] const int g_AtFork = pthread_atfork([] { CoreMutex().lock(); }, [] { CoreMutex().unlock(); },
                                                     [] { CoreMutex().unlock(); });

}  // namespace

void WarnMessages() {
  std::vector<scripting::ScriptMessage> messages;
  {
    std::lock_guard lock(CoreMutex());
    messages = scripting::TakeMessages();
  }
  for (const auto& m : messages) {
    const py::str text = Readable(m.Text);
    if (PyErr_WarnEx(g_Warning, PyUnicode_AsUTF8(text.ptr()), 1) != 0) throw py::error_already_set();
  }
}

void RaiseWithMessages(const std::string& fallback) {
  std::vector<scripting::ScriptMessage> messages;
  {
    std::lock_guard lock(CoreMutex());
    messages = scripting::TakeMessages();
  }
  throw scripting::CScriptError(scripting::JoinedTexts(messages, fallback));
}

void RaiseReadError(const std::string& what, const std::string& path) {
  std::vector<scripting::ScriptMessage> messages;
  {
    std::lock_guard lock(CoreMutex());
    messages = scripting::TakeMessages();
  }
  const std::string said = scripting::JoinedTexts(messages);
  throw scripting::CScriptError("Could not read the " + what + " file: " + path + (said.empty() ? "" : ": " + said));
}

void DefineErrors(py::module_& module) {
  g_Error = NewType(module, "Error", PyExc_RuntimeError,
                    "The system refused an operation; the text is the system's own message.");
  g_Busy = NewType(module, "CardBusy", g_Error, "Another process holds the card; the text names its process id and program.");
  g_Warning = NewType(module, "SorrelWarning", PyExc_UserWarning,
                      "A message the system showed while an operation went on.");
  py::register_exception_translator([](std::exception_ptr p) {
    try {
      if (p) std::rethrow_exception(p);
    } catch (const scripting::CCardHeldError& e) {
      PyErr_SetObject(g_Busy, Readable(e.what()).ptr());
    } catch (const scripting::CScriptError& e) {
      PyErr_SetObject(g_Error, Readable(e.what()).ptr());
    } catch (const service::CServiceError& e) {
      PyErr_SetObject(g_Error, Readable(e.what()).ptr());
    }
  });
}

int IntArgument(const py::handle& value, const std::string& what, long long low, long long high) {
  if (py::isinstance<py::bool_>(value) || !PyIndex_Check(value.ptr())) {
    throw py::type_error(what + " must be an int, not " + std::string(py::str(py::type::of(value).attr("__name__"))));
  }
  const py::int_ number = py::reinterpret_steal<py::int_>(PyNumber_Index(value.ptr()));
  int overflow = 0;
  const long long v = PyLong_AsLongLongAndOverflow(number.ptr(), &overflow);
  if (overflow != 0 || v < low || v > high) {
    throw py::value_error(what + " must be within " + std::to_string(low) + ".." + std::to_string(high) + ", not " +
                          std::string(py::str(py::handle(number))));
  }
  return static_cast<int>(v);
}

bool BoolArgument(const py::handle& value, const std::string& what) {
  if (!py::isinstance<py::bool_>(value)) {
    throw py::type_error(what + " must be True or False, not " +
                         std::string(py::str(py::type::of(value).attr("__name__"))));
  }
  return value.cast<bool>();
}

std::string TextArgument(const py::handle& text) {
  PyObject* utf8 = PyUnicode_AsEncodedString(text.ptr(), "utf-8", "backslashreplace");
  if (utf8 == nullptr) throw py::error_already_set();
  return py::reinterpret_steal<py::bytes>(utf8).cast<std::string>();
}

std::string WavelengthArgument(const py::handle& value) {
  if (value.is_none()) return {};
  if (!py::isinstance<py::str>(value)) {
    throw py::type_error("wavelength must be None or a str such as '633nm', not " +
                         std::string(py::str(py::type::of(value).attr("__name__"))));
  }
  return TextArgument(value);
}

std::optional<std::string> PathArgument(const py::handle& value) {
  if (!py::isinstance<py::str>(value) && !py::isinstance<py::bytes>(value) && !py::hasattr(value, "__fspath__")) {
    return std::nullopt;
  }
  const std::string path = py::module_::import("os").attr("fsencode")(value).cast<std::string>();
  // The system's calls take a name up to its first NUL: another file than the one named.
  if (path.find('\0') != std::string::npos) throw py::value_error("a file name cannot hold a NUL character");
  return path;
}

py::str FileName(const std::string& bytes) { return py::module_::import("os").attr("fsdecode")(py::bytes(bytes)); }

py::str Readable(const std::string& text) {
  PyObject* decoded = PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "backslashreplace");
  if (decoded == nullptr) throw py::error_already_set();
  return py::reinterpret_steal<py::str>(decoded);
}

}  // namespace sorrelpy
