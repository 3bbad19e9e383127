// Inputs are written to a temporary folder once per benchmark and read from the page cache,
// as the program reads them when it downloads a sequence a second time.
#include <benchmark/benchmark.h>

#include <vector>

#include "FrameComposition.h"
#include "LUTFile.h"
#include "PatternFiles.h"
#include "Sorrel.h"
#include "TableMap.h"
#include "Zernike.h"

namespace {

uint32_t Noise(int y, int x) {
  uint32_t h = static_cast<uint32_t>(y) * 2654435761u ^ static_cast<uint32_t>(x) * 40503u;
  return (h ^ h >> 13) * 0x5bd1e995u >> 8;
}

std::vector<int> Scrambled() {
  std::vector<int> values(256);
  for (int i = 0; i < 256; ++i) values[static_cast<size_t>(i)] = (i * 7 + 3) % 256;
  return values;
}

std::string Numbered(const char* stem, int i, const char* extension) {
  std::string name = stem;
  name += std::to_string(i);
  name += extension;
  return name;
}

const char* kAllTerms =
    "Piston = 0.3\nXTilt = 1.7\nYTilt = -2.2\nPower = 0.9\nAstigX = 0.4\nAstigY = -0.6\nComaX = 0.25\n"
    "ComaY = 0.1\nPrimarySpherical = -0.35\nTrefoilX = 0.2\nTrefoilY = 0.15\nSecondaryAstigX = -0.05\n"
    "SecondaryAstigY = 0.07\nSecondaryComaX = 0.3\nSecondaryComaY = -0.2\nSecondarySpherical = 0.11\n"
    "TetrafoilX = 0.02\nTetrafoilY = -0.4\nTertiarySpherical = 0.08\nQuaternarySpherical = 0.03\n";

void BM_ReadZernikeFile_Kite(benchmark::State& state) {
  CTempFolder folder;
  CSorrelApp app;
  CTestBoard board(512);
  app.m_pBoard = &board;
  WriteText(folder.Path("phase.zrn"), kAllTerms);
  std::vector<uint8_t> frame(512 * 512);
  for (auto _ : state) {
    ReadZernikeFile(frame.data(), folder.Path("phase.zrn"), true);
    benchmark::DoNotOptimize(frame.data());
  }
}
BENCHMARK(BM_ReadZernikeFile_Kite)->Unit(benchmark::kMicrosecond);

void BM_ComposeFrame_Kite8BitCompensated(benchmark::State& state) {
  CTempFolder folder;
  CSorrelApp app;
  CTestBoard board(512);
  app.m_pBoard = &board;
  WriteSquareBitmap(folder.Path("p.bmp"), 512, 8, Noise);
  WriteLut(folder.Path("t.lut"), Scrambled());
  Image_Entry entry{folder.Path("p.bmp"), folder.Path("t.lut"), 1};
  std::vector<uint8_t> frame(512 * 512), slm(512 * 512), sys(512 * 512);
  for (size_t i = 0; i < slm.size(); ++i) {
    slm[i] = static_cast<uint8_t>(Noise(1, static_cast<int>(i)));
    sys[i] = static_cast<uint8_t>(Noise(static_cast<int>(i), 2));
  }
  for (auto _ : state) {
    ComposeFrame(entry, frame.data(), 1, slm.data(), sys.data());
    benchmark::DoNotOptimize(frame.data());
  }
  if (entry.Valid != 1) state.SkipWithError("entry not valid");
}
BENCHMARK(BM_ComposeFrame_Kite8BitCompensated)->Unit(benchmark::kMicrosecond);

// The last step of a compensated Kite frame alone, both ways (the wide one where it runs).
void BM_MapThroughTable_KiteCompensated(benchmark::State& state) {
  const bool wide = state.range(0) != 0;
  if (wide && !ProcessorHasVbmi()) {
    state.SkipWithError("no AVX-512 VBMI on this processor");
    return;
  }
  std::vector<uint8_t> frame(512 * 512), slm(512 * 512), sys(512 * 512);
  for (size_t i = 0; i < frame.size(); ++i) {
    frame[i] = static_cast<uint8_t>(Noise(static_cast<int>(i), 0));
    slm[i] = static_cast<uint8_t>(Noise(1, static_cast<int>(i)));
    sys[i] = static_cast<uint8_t>(Noise(static_cast<int>(i), 2));
  }
  uint8_t table[256];
  for (int i = 0; i < 256; ++i) table[i] = static_cast<uint8_t>((i * 7 + 3) % 256);
  for (auto _ : state) {
    (wide ? MapThroughTableVbmi : MapThroughTablePlain)(frame.data(), frame.size(), table, slm.data(), sys.data());
    benchmark::DoNotOptimize(frame.data());
  }
}
BENCHMARK(BM_MapThroughTable_KiteCompensated)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

// 1024 entries, each its own 512 x 512 8-bit bitmap; range(0) distinct LUT files.
void BM_BuildScreenImages_Kite1024(benchmark::State& state) {
  CTempFolder folder;
  CSorrelApp app;
  CTestBoard board(512);
  app.m_pBoard = &board;
  const int luts = static_cast<int>(state.range(0));
  for (int l = 0; l < luts; ++l) WriteLut(folder.Path(Numbered("t", l, ".lut")), Scrambled());
  for (int i = 0; i < 1024; ++i) {
    const std::string name = folder.Path(Numbered("p", i, ".bmp"));
    WriteSquareBitmap(name, 512, 8, [i](int y, int x) { return Noise(y + i, x); });
    app.m_ImageList.push_back(std::make_unique<Image_Entry>(
        Image_Entry{name, folder.Path(Numbered("t", i % luts, ".lut")), 1}));
  }
  for (auto _ : state) {
    BuildScreenImages();
    benchmark::DoNotOptimize(GetScreenImages());
  }
  ReleaseScreenImages();
}
BENCHMARK(BM_BuildScreenImages_Kite1024)->Arg(1)->Arg(1024)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
