#include "SamplePatterns.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace {

// One wave onto 0 ... 255: the fraction of the wave, wrapped.
uint8_t Level(double waves) {
  const double fraction = waves - std::floor(waves);
  return static_cast<uint8_t>(std::min(255.0, std::floor(fraction * 256.0)));
}

template <class Phase>
SamplePicture Picture(int side, Phase phase) {
  SamplePicture p{side, std::vector<uint8_t>(static_cast<size_t>(side) * static_cast<size_t>(side))};
  const double c = (side - 1) / 2.0;
  for (int y = 0; y < side; ++y) {
    for (int x = 0; x < side; ++x) {
      p.pixels[static_cast<size_t>(y) * static_cast<size_t>(side) + static_cast<size_t>(x)] = phase(x - c, c - y);
    }
  }
  return p;
}

}  // namespace

SamplePicture BlazedGrating(int side, double period, double degrees) {
  const double a = degrees * std::numbers::pi / 180.0;
  return Picture(side, [&](double x, double y) { return Level((x * std::cos(a) + y * std::sin(a)) / period); });
}

SamplePicture Vortex(int side, int charge) {
  return Picture(side, [&](double x, double y) { return Level(charge * std::atan2(y, x) / (2 * std::numbers::pi)); });
}

SamplePicture FresnelLens(int side, double firstRingRadius) {
  const double area = firstRingRadius * firstRingRadius;
  return Picture(side, [&](double x, double y) { return Level((x * x + y * y) / area); });
}

SamplePicture Checkerboard(int side, int square) {
  SamplePicture p{side, std::vector<uint8_t>(static_cast<size_t>(side) * static_cast<size_t>(side))};
  for (int y = 0; y < side; ++y) {
    for (int x = 0; x < side; ++x) {
      p.pixels[static_cast<size_t>(y) * static_cast<size_t>(side) + static_cast<size_t>(x)] =
          ((x / square + y / square) % 2) != 0 ? 128 : 0;
    }
  }
  return p;
}

SamplePicture SlmCompensation(int side) {
  // Under a wave of curvature and astigmatism across the panel, with a slight tilt.
  const double r = side / 2.0;
  return Picture(side, [&](double x, double y) {
    const double u = x / r, v = y / r;
    return Level(0.35 * (u * u + v * v) + 0.2 * (u * u - v * v) + 0.1 * u + 0.5);
  });
}

SamplePicture PowerOffPicture(int side) {
  // A ring open at the top with a bar through the opening.
  const double r = side * 0.3, thickness = side * 0.06;
  return Picture(side, [&](double x, double y) -> uint8_t {
    const double d = std::hypot(x, y);
    const bool ring = std::abs(d - r) < thickness && !(y > 0 && std::abs(x) < r * 0.45);
    const bool bar = std::abs(x) < thickness && y > 0 && y < r + thickness;
    return ring || bar ? 200 : 40;
  });
}
