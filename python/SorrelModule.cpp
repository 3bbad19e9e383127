// sorrel._core: the system's pattern composition and board for Python scripts, with the safe
// end on SIGTERM and SIGHUP (SafeEnd); the package sorrel (sorrel/__init__.py) calls it at
// interpreter exit and at os._exit.

#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <algorithm>
#include <optional>

#include "BoardGeometry.h"
#include "BoardModels.h"
#include "CoreCalls.h"
#include "FrameArrays.h"
#include "FrameComposition.h"
#include "LUTFile.h"
#include "cpu/AlignedBytes.h"
#include "ModuleBoard.h"
#include "ScriptMessages.h"
#include "SequenceFrames.h"
#include "TableMap.h"
#include "Zernike.h"

namespace py = pybind11;

namespace sorrelpy {
namespace {

// The board a frame is made for: "kite", "wren", a Board or a BoardSpec.
SBoard_Spec SpecArgument(const py::handle& board) {
  if (py::isinstance<py::str>(board)) {
    const std::string name = TextArgument(board);
    if (const auto model = scripting::BoardModelNamed(name)) return scripting::ModelSpec(*model);
    throw py::value_error("board must be 'kite' or 'wren', not '" + name + "'");
  }
  if (py::isinstance<CModuleBoard>(board)) return board.cast<CModuleBoard&>().Spec();
  if (py::isinstance<SBoard_Spec>(board)) return board.cast<SBoard_Spec>();
  throw py::type_error("board must be 'kite', 'wren', a Board or a BoardSpec");
}

// A double from a number argument; TypeError for anything else.
double NumberArgument(const py::handle& value, const std::string& what) {
  if (py::isinstance<py::bool_>(value) || !PyNumber_Check(value.ptr()) || py::isinstance<py::str>(value)) {
    throw py::type_error(what + " must be a number");
  }
  return py::float_(py::reinterpret_borrow<py::object>(value)).cast<double>();
}

void Coefficients(const py::handle& given, double coefficients[ZERNIKE_TERMS]) {
  std::fill_n(coefficients, ZERNIKE_TERMS, 0.0);
  if (py::isinstance<py::dict>(given)) {
    for (const auto& [key, value] : given.cast<py::dict>()) {
      if (!py::isinstance<py::str>(key)) throw py::type_error("Zernike terms are named by text");
      const std::string name = TextArgument(key);
      const auto* term = std::find_if(ZernikeKey, ZernikeKey + ZERNIKE_TERMS,
                                      [&](const char* k) { return name == k; });
      if (term == ZernikeKey + ZERNIKE_TERMS) throw py::value_error("no Zernike term is called '" + name + "'");
      coefficients[term - ZernikeKey] = NumberArgument(value, name);
    }
    return;
  }
  if (py::isinstance<py::str>(given) || !py::hasattr(given, "__iter__")) {
    throw py::type_error("coefficients must be a sequence of up to 20 numbers or a dict of Zernike terms");
  }
  size_t k = 0;
  for (const py::handle value : given) {
    if (k == ZERNIKE_TERMS) throw py::value_error("there are 20 Zernike terms, and more coefficients were given");
    coefficients[k] = NumberArgument(value, "coefficient " + std::to_string(k));
    ++k;
  }
}

py::array_t<uint8_t> Zernike(const py::handle& given, const py::handle& board) {
  double coefficients[ZERNIKE_TERMS];
  Coefficients(given, coefficients);
  const PatternGeometry geometry = BoardGeometry(SpecArgument(board));
  py::array_t<uint8_t> image = NewFrameArray(geometry.width, geometry.height);
  uint8_t* pixels = image.mutable_data();
  InCore([&] { GenerateZernikePhase(coefficients, geometry.width, geometry.height, geometry.unitRadius, pixels); });
  return image;
}

// An image argument onto the frame: a file (a pattern read as a download reads it, a
// compensation image as a picked one is read), or an array of the frame's shape.
void ImageInto(const py::handle& given, uint8_t* image, const PatternGeometry& geometry, const std::string& what,
               bool compensation) {
  if (const auto path = PathArgument(given)) {
    const bool read = InCore([&] {
      int bitCount = 0;
      return compensation ? ReadPickedCompensationImage(image, *path, geometry, bitCount)
                          : ReadPattern(PatternKindOf(*path), image, *path, geometry, bitCount);
    });
    if (!read) RaiseReadError(what, *path);
    return;
  }
  const FrameView view = CheckedFrame(given, geometry.width, geometry.height, "compose: the " + what);
  CopyFrame(view, image, geometry.width, geometry.height);
}

void TableInto(const py::handle& lut, uint8_t table[256]) {
  if (lut.is_none()) {
    for (int i = 0; i < 256; ++i) table[i] = static_cast<uint8_t>(i);
    return;
  }
  if (const auto path = PathArgument(lut)) {
    if (!InCore([&] { return ReadLUTFile(*path, table); })) RaiseReadError("LUT", *path);
    return;
  }
  if (!py::hasattr(lut, "__len__") || !py::hasattr(lut, "__iter__") || py::len(lut) != 256) {
    throw py::type_error("lut must be None, a LUT file or 256 levels");
  }
  int i = 0;
  for (const py::handle level : lut) table[i++] = static_cast<uint8_t>(IntArgument(level, "a LUT level", 0, 255));
}

py::array_t<uint8_t> Compose(const py::handle& pattern, const py::handle& lut, const py::handle& compensation,
                             const py::handle& board) {
  const PatternGeometry geometry = BoardGeometry(SpecArgument(board));
  py::array_t<uint8_t> frame = NewFrameArray(geometry.width, geometry.height);
  uint8_t* pixels = frame.mutable_data();
  ImageInto(pattern, pixels, geometry, "pattern", false);
  uint8_t table[256];
  TableInto(lut, table);
  cpu::FrameVector slm, sys;
  if (!compensation.is_none()) {
    if (!py::isinstance<py::tuple>(compensation) && !py::isinstance<py::list>(compensation)) {
      throw py::type_error("compensation must be None or a pair (SLM, system) of files or arrays");
    }
    const py::sequence pair = compensation.cast<py::sequence>();
    if (pair.size() != 2) throw py::value_error("compensation must be a pair (SLM, system)");
    slm.resize(geometry.Pixels());
    sys.resize(geometry.Pixels());
    ImageInto(pair[0], slm.data(), geometry, "SLM compensation", true);
    ImageInto(pair[1], sys.data(), geometry, "system compensation", true);
  }
  InCore([&] {
    MapThroughTable(pixels, geometry.Pixels(), table, slm.empty() ? nullptr : slm.data(),
                    sys.empty() ? nullptr : sys.data());
  });
  WarnMessages();
  return frame;
}

py::list ReadSequence(const py::handle& path) {
  const auto file = PathArgument(path);
  if (!file) throw py::type_error("read_sequence takes the path of a sequence file");
  const ImageList list = InCore([&] { return scripting::ReadSequence(*file); });
  py::list entries;
  for (const auto& entry : list) entries.append(py::make_tuple(FileName(entry->PatternFile), FileName(entry->LUTFile)));
  WarnMessages();  // "Empty SIF"
  return entries;
}

}  // namespace
}  // namespace sorrelpy

PYBIND11_MODULE(_core, m) {
  using namespace sorrelpy;
  m.doc() = "The system's pattern composition and SLM board; import sorrel rather than this.";
  scripting::UseScriptHost();
  DefineErrors(m);
  py::list keys;
  for (const char* key : ZernikeKey) keys.append(key);
  m.attr("ZERNIKE_KEYS") = py::tuple(keys);
  m.def("zernike", &Zernike, py::arg("coefficients"), py::arg("board") = "kite",
        "The wrapped phase of the 20 Zernike coefficients (a sequence in ZERNIKE_KEYS order, or a dict by key) "
        "on the board's frame, as a Zernike file of the same coefficients gives it.");
  m.def("compose", &Compose, py::arg("pattern"), py::arg("lut") = py::none(), py::arg("compensation") = py::none(),
        py::arg("board") = "kite",
        "A frame as the board receives it: the pattern (bitmap or Zernike file, or a uint8 array of the frame's "
        "shape), plus the two compensation images (SLM, system) when given, modulo 256, mapped through the LUT "
        "(a LUT file or 256 levels; None for the identity).");
  m.def("read_sequence", &ReadSequence, py::arg("path"),
        "The entries of a sequence file: (pattern, LUT) pairs of absolute paths, as os.fsdecode gives a file "
        "name. Paths everywhere are str, bytes or os.PathLike, as the os module takes them.");
  BindBoard(m);
}
