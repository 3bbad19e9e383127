// Inputs are written to a temporary folder once per benchmark and read from the page cache,
// as the program reads them when it downloads a sequence a second time.
#include <benchmark/benchmark.h>

#include <vector>

#include "FrameComposition.h"
#include "LUTFile.h"
#include "PatternFiles.h"
#include "TableMap.h"
#include "cpu/AlignedBytes.h"
#include "Zernike.h"

namespace {

std::string Numbered(const char* stem, int i, const char* extension) {
  std::string name = stem;
  name += std::to_string(i);
  name += extension;
  return name;
}

// A Kite frame.
constexpr PatternGeometry KITE{512, 512, 300.0};

void BM_ReadZernikePattern_Kite(benchmark::State& state) {
  CTempFolder folder;
  WriteText(folder.Path("phase.zrn"), ALL_ZERNIKE_TERMS);
  std::vector<uint8_t> frame(512 * 512);
  for (auto _ : state) {
    ReadZernikePattern(frame.data(), folder.Path("phase.zrn"), KITE.width, KITE.height, KITE.unitRadius);
    benchmark::DoNotOptimize(frame.data());
  }
}
BENCHMARK(BM_ReadZernikePattern_Kite)->Unit(benchmark::kMicrosecond);

void BM_ComposeFrameImage_Kite8BitCompensated(benchmark::State& state) {
  CTempFolder folder;
  WriteSquareBitmap(folder.Path("p.bmp"), 512, 8, Noise);
  WriteLut(folder.Path("t.lut"), ScrambledValues(3));
  Image_Entry entry{folder.Path("p.bmp"), folder.Path("t.lut"), 1};
  std::vector<uint8_t> frame(512 * 512), slm(512 * 512), sys(512 * 512);
  for (size_t i = 0; i < slm.size(); ++i) {
    slm[i] = static_cast<uint8_t>(Noise(1, static_cast<int>(i)));
    sys[i] = static_cast<uint8_t>(Noise(static_cast<int>(i), 2));
  }
  int bitCount = 0;
  for (auto _ : state) {
    ComposeFrameImage(entry, frame.data(), KITE, 1, slm.data(), sys.data(), bitCount);
    benchmark::DoNotOptimize(frame.data());
  }
  if (entry.Valid != 1) state.SkipWithError("entry not valid");
}
BENCHMARK(BM_ComposeFrameImage_Kite8BitCompensated)->Unit(benchmark::kMicrosecond);

// The last step of a compensated Kite frame alone, on each path the processor runs
// (0 portable, 1 AVX2, 2 AVX-512).
void BM_MapThroughTable_KiteCompensated(benchmark::State& state) {
  const cpu::Path path = cpu::PATHS[state.range(0)];
  if (!cpu::ProcessorRuns(path)) {
    state.SkipWithError("this processor cannot run the path");
    return;
  }
  cpu::FrameVector frame(512 * 512), slm(512 * 512), sys(512 * 512);
  for (size_t i = 0; i < frame.size(); ++i) {
    frame[i] = static_cast<uint8_t>(Noise(static_cast<int>(i), 0));
    slm[i] = static_cast<uint8_t>(Noise(1, static_cast<int>(i)));
    sys[i] = static_cast<uint8_t>(Noise(static_cast<int>(i), 2));
  }
  uint8_t table[256];
  for (int i = 0; i < 256; ++i) table[i] = static_cast<uint8_t>((i * 7 + 3) % 256);
  for (auto _ : state) {
    TABLE_MAP_PATHS[state.range(0)](frame.data(), frame.size(), table, slm.data(), sys.data());
    benchmark::DoNotOptimize(frame.data());
  }
}
BENCHMARK(BM_MapThroughTable_KiteCompensated)->DenseRange(0, cpu::PATH_COUNT - 1)->Unit(benchmark::kMicrosecond);

// 1024 entries, each its own 512 x 512 8-bit bitmap; range(0) distinct LUT files.
void BM_BuildScreenImagesFor_Kite1024(benchmark::State& state) {
  CTempFolder folder;
  ImageList list;
  const int luts = static_cast<int>(state.range(0));
  for (int l = 0; l < luts; ++l) WriteLut(folder.Path(Numbered("t", l, ".lut")), ScrambledValues(3));
  for (int i = 0; i < 1024; ++i) {
    const std::string name = folder.Path(Numbered("p", i, ".bmp"));
    WriteSquareBitmap(name, 512, 8, [i](int y, int x) { return Noise(y + i, x); });
    list.push_back(std::make_unique<Image_Entry>(
        Image_Entry{name, folder.Path(Numbered("t", i % luts, ".lut")), 1}));
  }
  int bitCount = 0;
  for (auto _ : state) {
    BuildScreenImagesFor(list, bitCount);
    benchmark::DoNotOptimize(GetScreenImages());
  }
  ReleaseScreenImages();
}
BENCHMARK(BM_BuildScreenImagesFor_Kite1024)->Arg(1)->Arg(1024)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
