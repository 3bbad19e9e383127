#include <clocale>
#include <cmath>
#include <cstdio>
#include <random>

#include "EveryPath.h"
#include "PatternFixture.h"
#include "Zernike.h"

namespace {

class ZernikeTest : public PatternTest {
 protected:
  // The 128 x 128 image of a Zernike file holding text.
  std::vector<uint8_t> Screen(const std::string& text) {
    WriteText(File("z.zrn"), text);
    std::vector<uint8_t> image(128 * 128, 1);
    EXPECT_TRUE(ReadZernikePattern(image.data(), File("z.zrn"), 128, 128, 75.0));
    return image;
  }
};

std::vector<uint8_t> Filled(size_t n, uint8_t value) { return std::vector<uint8_t>(n, value); }

struct Reference {
  std::vector<uint8_t> level;
  std::vector<bool> boundary;  // the sum lies within rounding of a level boundary
};

// The plain sum, term by term as the polynomials are written, for every pixel.
Reference ReferencePhase(const double c[20], int width, int height, double radius) {
  const size_t pixels = static_cast<size_t>(width) * static_cast<size_t>(height);
  Reference ref{std::vector<uint8_t>(pixels), std::vector<bool>(pixels)};
  for (int row = 0; row < height; ++row) {
    for (int col = 0; col < width; ++col) {
      const double u = (col - width / 2) / radius, v = (height / 2 - row) / radius;
      const double r2 = u * u + v * v;
      const double z[20] = {1,
                            u,
                            v,
                            2 * r2 - 1,
                            u * u - v * v,
                            2 * u * v,
                            (3 * r2 - 2) * u,
                            (3 * r2 - 2) * v,
                            6 * r2 * r2 - 6 * r2 + 1,
                            u * u * u - 3 * u * v * v,
                            3 * u * u * v - v * v * v,
                            (4 * r2 - 3) * (u * u - v * v),
                            (4 * r2 - 3) * 2 * u * v,
                            (10 * r2 * r2 - 12 * r2 + 3) * u,
                            (10 * r2 * r2 - 12 * r2 + 3) * v,
                            20 * r2 * r2 * r2 - 30 * r2 * r2 + 12 * r2 - 1,
                            u * u * u * u - 6 * u * u * v * v + v * v * v * v,
                            4 * u * u * u * v - 4 * u * v * v * v,
                            70 * std::pow(r2, 4) - 140 * std::pow(r2, 3) + 90 * r2 * r2 - 20 * r2 + 1,
                            252 * std::pow(r2, 5) - 630 * std::pow(r2, 4) + 560 * std::pow(r2, 3) - 210 * r2 * r2 +
                                30 * r2 - 1};
      double sum = 0;
      for (int k = 0; k < 20; ++k) sum += c[k] * z[k];
      const double s = 0.5 * sum;
      const double f = s > 0 ? s - std::trunc(s) : s - std::trunc(s) + 1;
      const size_t i = static_cast<size_t>(row) * static_cast<size_t>(width) + static_cast<size_t>(col);
      ref.level[i] = static_cast<uint8_t>(static_cast<int>(f * 255));
      ref.boundary[i] = std::abs(f * 255 - std::round(f * 255)) < 1e-6;
    }
  }
  return ref;
}

std::string ZernikeText(const double c[20]) {
  std::string text;
  char value[64];
  for (int k = 0; k < 20; ++k) {
    std::snprintf(value, sizeof value, "%.17g", c[k]);
    text += std::string(ZernikeKey[k]) + " = " + value + "\n";
  }
  return text;
}

TEST_F(ZernikeTest, WorkedPistonValues) {
  const std::vector<std::pair<std::string, uint8_t>> cases = {
      {"0.25", 31}, {"-0.25", 223}, {"-1.25", 95}, {"-3", 127}, {"2", 0}, {"4.5", 63}, {"1", 127}};
  for (const auto& [value, level] : cases) EXPECT_EQ(Screen("Piston=" + value + "\n"), Filled(128 * 128, level)) << value;
  EXPECT_EQ(Screen(""), Filled(128 * 128, 255));
}

TEST_F(ZernikeTest, RowZeroIsTheTop) {
  std::vector<uint8_t> image = Screen("YTilt=1\n");
  for (auto [row, level] : {std::pair{0, 108}, std::pair{64, 255}, std::pair{127, 147}})
    for (int col = 0; col < 128; ++col) ASSERT_EQ(image[static_cast<size_t>(row * 128 + col)], level) << row;
}

TEST_F(ZernikeTest, KeysAndValuesAreSplitByEqualsSignsAndBlanks) {
  const std::vector<uint8_t> quarter = Filled(128 * 128, 31);
  for (const char* text : {"Piston=0.25", "Piston 0.25", "Piston = 0.25", "Piston== =\t0.25", "Piston=2.5e-1",
                           "Piston=.25xyz", "Piston=0.25\r", "Piston=1\nPiston=0.25", "Piston=0.25\npiston=1",
                           "Piston=0.25\nPiston\t1", "Piston=0.25\nPiston=", "Piston=0.25\n=Piston 1",
                           "Piston=0.25\n Piston 1", "Piston=0.25\nUnknown=1", "Piston=0.25\nPiston"})
    EXPECT_EQ(Screen(text), quarter) << text;
  // Text that starts with no number reads as 0; so do the words for infinity and NaN.
  for (const char* text : {"Piston=0.25\nPiston=abc", "Piston=0.25\nPiston=inf", "Piston=0.25\nPiston=nan",
                           "Piston=0.25\nPiston=-", "Piston=0.25\nPiston=0x1p3"})
    EXPECT_EQ(Screen(text), Filled(128 * 128, 255)) << text;
  EXPECT_EQ(Screen("Only=1\nUnknown keys=2\n"), Filled(128 * 128, 255));
}

TEST_F(ZernikeTest, SumsThatAreNotNumbersGiveZero) {
  EXPECT_EQ(Screen("Piston=1e400\n"), Filled(128 * 128, 0));
  EXPECT_EQ(Screen("Piston=1e400\nPower=1e400\n"), Filled(128 * 128, 0));
}

TEST_F(ZernikeTest, OverLongLinesAreSkippedAndTheRestIsRead) {
  EXPECT_EQ(Screen("Power=1\nXTilt=" + std::string(300, '1') + "\nPower=0\nPiston=0.25\n"), Filled(128 * 128, 31));
  // A line of exactly 299 characters still counts.
  EXPECT_EQ(Screen("Piston=0.25" + std::string(288, ' ') + "\n"), Filled(128 * 128, 31));
}

TEST_F(ZernikeTest, MissingFilesGiveFortyEight) {
  std::vector<uint8_t> frame(65536 + 16, 7);
  EXPECT_FALSE(ReadZernikePattern(frame.data(), File("missing.zrn"), 256, 256, 150.0));
  EXPECT_EQ(std::vector<uint8_t>(frame.begin(), frame.begin() + 65536), Filled(65536, 48));
  EXPECT_EQ(std::vector<uint8_t>(frame.begin() + 65536, frame.end()), Filled(16, 7));
  std::unique_ptr<uint8_t[]> preview = PreviewZernike(File("missing.zrn"));
  EXPECT_EQ(std::vector<uint8_t>(preview.get(), preview.get() + 128 * 128), Filled(128 * 128, 48));
  EXPECT_TRUE(Messages().empty());
}

// Kite R 300, Wren R 150, screen R 75: the screen image is a scaled copy of each frame.
TEST_F(ZernikeTest, ScreenImageIsAScaledCopyOfEitherFrame) {
  WriteText(File("z.zrn"), ALL_ZERNIKE_TERMS);
  std::vector<uint8_t> screen(128 * 128);
  ASSERT_TRUE(ReadZernikePattern(screen.data(), File("z.zrn"), 128, 128, 75.0));
  for (auto [side, radius] : {std::pair{512, 300.0}, std::pair{256, 150.0}}) {
    std::vector<uint8_t> frame(static_cast<size_t>(side) * static_cast<size_t>(side));
    ASSERT_TRUE(ReadZernikePattern(frame.data(), File("z.zrn"), side, side, radius));
    const int k = side / 128;
    for (int i = 0; i < 128; ++i)
      for (int j = 0; j < 128; ++j)
        ASSERT_EQ(frame[static_cast<size_t>(i * k * side + j * k)], screen[static_cast<size_t>(i * 128 + j)]) << side;
  }
  std::unique_ptr<uint8_t[]> preview = PreviewZernike(File("z.zrn"));
  EXPECT_EQ(std::vector<uint8_t>(preview.get(), preview.get() + 128 * 128), screen);
}

// Numbers are read in the "C" locale whatever the process's locale is: under a locale that
// writes decimals with a comma, "0.25" must still be a quarter, not 0.
TEST_F(ZernikeTest, FractionsReadTheSameUnderACommaDecimalLocale) {
  const std::string text = "Piston = 0.3\nXTilt = 1.75\nPower=-0.6e-1\nComaY 2.5E+0\nTrefoilX=.125\n";
  const std::vector<uint8_t> underC = Screen(text);
  struct RestoreLocale {
    std::string name = std::setlocale(LC_ALL, nullptr);
    ~RestoreLocale() { std::setlocale(LC_ALL, name.c_str()); }
  } restore;
  if (std::setlocale(LC_ALL, "de_DE.UTF-8") == nullptr)
    FAIL() << "the locale de_DE.UTF-8 is missing; scripts/install-deps.sh makes it (localedef -i de_DE -f UTF-8 de_DE.UTF-8)";
  ASSERT_STREQ(std::localeconv()->decimal_point, ",");
  EXPECT_EQ(Screen(text), underC);
  EXPECT_NE(underC, Screen("")) << "the coefficients must change the image";
}

using ZernikePaths = OnEveryPath<ZernikeTest>;

// On every path, every pixel of every geometry equals the plain sum, over many coefficient
// sets, and the bytes are the portable path's. Where a sum is exactly on a level boundary
// (each term alone has such points, where it cancels to zero) the order of summation decides
// which side of the boundary it lands on.
TEST_P(ZernikePaths, EqualsThePlainSumEverywhere) {
  std::mt19937_64 random(20240517);
  std::uniform_real_distribution<double> small(-1.0, 1.0), large(-40.0, 40.0);
  struct Geometry {
    int side;
    double radius;
    int sets;
  };
  for (const Geometry& g : {Geometry{128, 75, 120}, Geometry{256, 150, 24}, Geometry{512, 300, 12}}) {
    for (int set = 0; set < g.sets; ++set) {
      double c[20] = {};
      if (set < 20) {
        c[set] = large(random);  // each term alone
      } else {
        for (double& value : c) value = set % 2 == 0 ? small(random) : large(random);
      }
      std::vector<uint8_t> image(static_cast<size_t>(g.side) * static_cast<size_t>(g.side)), portable(image.size());
      GenerateZernikePhaseOn(Path(), c, g.side, g.side, g.radius, image.data());
      GenerateZernikePhaseOn(cpu::Path::Portable, c, g.side, g.side, g.radius, portable.data());
      ASSERT_EQ(image, portable) << "side " << g.side << " set " << set;
      if (Path() == cpu::ChosenPath()) {  // and a file of these coefficients reads the same
        WriteText(File("z.zrn"), ZernikeText(c));
        std::vector<uint8_t> read(image.size());
        ASSERT_TRUE(ReadZernikePattern(read.data(), File("z.zrn"), g.side, g.side, g.radius));
        ASSERT_EQ(read, image);
      }
      const Reference ref = ReferencePhase(c, g.side, g.side, g.radius);
      int onBoundary = 0;
      for (size_t i = 0; i < image.size(); ++i) {
        if (image[i] == ref.level[i]) continue;
        // Only a sum that lies on a level boundary may come out one level off; on the wrap
        // itself a sum of exactly 0 gives 255, a hair above 0 and a hair below 254.
        const int apart = std::abs(image[i] - ref.level[i]);
        const bool wrap = ref.level[i] >= 254 || ref.level[i] == 0;
        ASSERT_TRUE(ref.boundary[i] && (apart == 1 || (wrap && (image[i] >= 254 || image[i] == 0))))
            << "side " << g.side << " set " << set << " pixel " << i << ": " << int{image[i]} << " for "
            << int{ref.level[i]};
        ++onBoundary;
      }
      // With all terms mixed no sum lands on a boundary: there every pixel is the same.
      if (set >= 20) {
        EXPECT_EQ(onBoundary, 0) << "side " << g.side << " set " << set;
      }
    }
  }
}

INSTANTIATE_ON_EVERY_PATH(ZernikePaths);

}  // namespace
