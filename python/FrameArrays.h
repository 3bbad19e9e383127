#pragma once
// Frames between numpy and the board: a 2-D uint8 array of the board's shape, in any memory
// order, checked before a byte of it is read and copied once, straight into the frame the
// board is handed; phases in radians as float32 in screen order; and new arrays for the frames
// the module composes.

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <cstdint>
#include <string>

namespace sorrelpy {

// Where a checked array's pixels lie: pixel (r, c) at base + r * rowStride + c * columnStride.
struct FrameView {
  pybind11::array array;  // keeps the pixels alive
  const uint8_t* base;
  pybind11::ssize_t rowStride;
  pybind11::ssize_t columnStride;
};

// The array the argument must be: a numpy ndarray of uint8 with height rows of width bytes.
// Throws TypeError or ValueError naming what (e.g. "write_frame: the frame") when it is not.
// The GIL must be held.
FrameView CheckedFrame(const pybind11::handle& argument, int width, int height, const std::string& what);

// The view's pixels into frame (width x height bytes, row-major): one frame copy when they are
// C-ordered, otherwise one pass over tiles so that F-ordered and strided views read their
// bytes close together. Touches no Python object, so the GIL may be released.
void CopyFrame(const FrameView& view, uint8_t* frame, int width, int height);
// The view's bytes lie one row after another, as a frame's do.
bool IsFrameLayout(const FrameView& view, int width);

// The phases the argument must be: a numpy ndarray of float32 or float64 with height rows of
// width, in any memory order. Returned as float32 in screen order, ready for any board, local
// or served: a C-ordered float32 array as it is, any other converted once. Throws TypeError or
// ValueError naming what (e.g. "set_phase: the phases") when it is not. The GIL must be held.
pybind11::array_t<float, pybind11::array::c_style> CheckedPhases(const pybind11::handle& argument, int width,
                                                                 int height, const std::string& what);

// A new C-ordered uint8 array of height x width.
pybind11::array_t<uint8_t> NewFrameArray(int width, int height);

}  // namespace sorrelpy
