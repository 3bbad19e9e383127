#include "FrameArrays.h"

#include <algorithm>

#include "cpu/FrameCopy.h"

namespace py = pybind11;

namespace sorrelpy {
namespace {

constexpr py::ssize_t TILE = 64;  // bytes per side of the tiles a strided copy walks

// The argument as a numpy array of one of the element types (kinds) named, with the board's
// shape.
py::array CheckedArray(const py::handle& argument, int width, int height, const std::string& what,
                       const std::string& types, bool (*taken)(const py::dtype&)) {
  if (!py::isinstance<py::array>(argument)) {
    throw py::type_error(what + " must be a numpy array of " + types + ", not " +
                         std::string(py::str(py::type::of(argument).attr("__name__"))));
  }
  py::array array = py::reinterpret_borrow<py::array>(argument);
  if (!taken(array.dtype())) {
    throw py::type_error(what + " must be an array of " + types + ", not " +
                         std::string(py::str(py::handle(array.dtype()))));
  }
  if (array.ndim() != 2 || array.shape(0) != height || array.shape(1) != width) {
    std::string shape = "(";
    for (py::ssize_t d = 0; d < array.ndim(); ++d) shape += (d ? ", " : "") + std::to_string(array.shape(d));
    shape += array.ndim() == 1 ? ",)" : ")";
    throw py::value_error(what + " must have the board's shape (" + std::to_string(height) + ", " +
                          std::to_string(width) + "), not " + shape);
  }
  return array;
}

}  // namespace

FrameView CheckedFrame(const py::handle& argument, int width, int height, const std::string& what) {
  py::array array = CheckedArray(argument, width, height, what, "uint8",
                                 [](const py::dtype& d) { return d.kind() == 'u' && d.itemsize() == 1; });
  const auto* base = static_cast<const uint8_t*>(array.data());
  return FrameView{array, base, array.strides(0), array.strides(1)};
}

py::array_t<float, py::array::c_style> CheckedPhases(const py::handle& argument, int width, int height,
                                                     const std::string& what) {
  const py::array array = CheckedArray(argument, width, height, what, "float32 or float64", [](const py::dtype& d) {
    return d.kind() == 'f' && (d.itemsize() == 4 || d.itemsize() == 8);
  });
  // Converted as numpy converts, byte order and strides included; no copy when none is needed.
  return py::array_t<float, py::array::c_style | py::array::forcecast>::ensure(array);
}

bool IsFrameLayout(const FrameView& view, int width) { return view.columnStride == 1 && view.rowStride == width; }

void CopyFrame(const FrameView& view, uint8_t* frame, int width, int height) {
  const uint8_t* base = view.base;
  const py::ssize_t rowStride = view.rowStride, columnStride = view.columnStride;
  if (IsFrameLayout(view, width)) {
    cpu::CopyFrameBytes(frame, base, static_cast<size_t>(width) * static_cast<size_t>(height));
    return;
  }
  for (py::ssize_t r0 = 0; r0 < height; r0 += TILE) {
    const py::ssize_t r1 = std::min<py::ssize_t>(r0 + TILE, height);
    for (py::ssize_t c0 = 0; c0 < width; c0 += TILE) {
      const py::ssize_t c1 = std::min<py::ssize_t>(c0 + TILE, width);
      for (py::ssize_t r = r0; r < r1; ++r) {
        const uint8_t* source = base + r * rowStride;
        uint8_t* target = frame + r * width;
        for (py::ssize_t c = c0; c < c1; ++c) target[c] = source[c * columnStride];
      }
    }
  }
}

py::array_t<uint8_t> NewFrameArray(int width, int height) {
  return py::array_t<uint8_t>({static_cast<py::ssize_t>(height), static_cast<py::ssize_t>(width)});
}

}  // namespace sorrelpy
