// Start-up of a 1024-entry Kite sequence (512 x 512 8-bit bitmaps, each with a LUT file of
// its own, compensation on) from OnInitDialog to "START", under the scripted host on the
// simulated card, against a floor measured in the same run: reading the bitmap files into
// memory, one copy of each frame, and the card's busy time after each frame select. The
// board's two power-up waits are not counted. Prints the time per entry, where it goes,
// and what start-up adds to the resident memory.

#include <fcntl.h>
#include <malloc.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "AppPatterns.h"
#include "BenchWork.h"
#include "CopyReference.h"
#include "PatternFiles.h"
#include "SimTesting.h"
#include "Sorrel.h"
#include "SorrelDlg.h"
#include "ui/Process.h"
#include "ui/ScriptedHost.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int ENTRIES = 1024;
constexpr int SIDE = 512;
constexpr int RUNS = 3;

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

// Bytes the process holds on its heap now, mapped blocks included.
double HeapInUseMiB() {
  const struct mallinfo2 info = mallinfo2();
  return static_cast<double>(info.uordblks + info.hblkhd) / 1048576.0;
}

// One sequence's files: distinct bitmaps and tables, two compensation images, the store.
void WriteWork(const CTempFolder& work) {
  WriteBenchWork(work, work.Path("Sequence_Files/long.sif"), 100,
                 "\"ApplyCorrection\"=\"1\"\n\"PhaseCompFileName\"=\"" + work.Path("slm.bmp") +
                     "\"\n\"SysPhaseCompFileName\"=\"" + work.Path("sys.bmp") + "\"\n");
  std::string sif;
  for (int i = 0; i < ENTRIES; ++i) {
    const std::string bmp = work.Path(Name("Image_Files/p", i, ".bmp"));
    const std::string lut = work.Path(Name("Image_Files/t", i, ".lut"));
    WriteSquareBitmap(bmp, SIDE, 8, [i](int y, int x) { return static_cast<uint32_t>((x * 3 + y * 5 + i) & 255); });
    std::vector<int> table(256);
    for (int k = 0; k < 256; ++k) table[static_cast<size_t>(k)] = (k * 7 + i) % 256;
    WriteLut(lut, table);
    sif += bmp + ", " + lut + "\n";
  }
  WriteText(work.Path("Sequence_Files/long.sif"), sif);
  WriteSquareBitmap(work.Path("slm.bmp"), SIDE, 8, [](int y, int x) { return static_cast<uint32_t>(x ^ y); });
  WriteSquareBitmap(work.Path("sys.bmp"), SIDE, 8, [](int y, int x) { return static_cast<uint32_t>(x + y); });
}

// The floor: every bitmap file read into memory, one copy of each frame, and the time the
// card stays busy after each frame is selected for download.
double Floor(const CTempFolder& work) {
  // The file is read so that its pixels start on a cache line, as the frame does.
  constexpr size_t PIXELS_AT = 1078, LEAD = (cpu::CACHE_LINE - PIXELS_AT % cpu::CACHE_LINE) % cpu::CACHE_LINE;
  cpu::FrameVector file(LEAD + SIDE * SIDE + 2048), frame(SIDE * SIDE);
  const Clock::time_point start = Clock::now();
  for (int i = 0; i < ENTRIES; ++i) {
    const int fd = open(work.Path(Name("Image_Files/p", i, ".bmp")).c_str(), O_RDONLY | O_CLOEXEC);
    ssize_t got = 0;
    while ((got = read(fd, file.data() + LEAD, file.size() - LEAD)) > 0) {
    }
    close(fd);
    benchref::ReferenceCopy(frame.data(), file.data() + LEAD + PIXELS_AT, frame.size());
  }
  const double measured = Seconds(Clock::now() - start);
  return measured + ENTRIES * std::chrono::duration<double>(sim::BUSY_TIME).count();
}

}  // namespace

int main() {
  CTempFolder work;
  std::printf("writing %d bitmaps and %d tables ...\n", ENTRIES, ENTRIES);
  WriteWork(work);
  // One card for every run, its frame memory kept between them as a board's is.
  if (!EnterBenchWork(work)) return 1;

  // The power-up waits are slept for 25 ms (the DAC needs its 20) and left out of the time.
  Clock::duration slept{};
  SetSleepHook([&slept](unsigned) {
    const Clock::time_point t = Clock::now();
    std::this_thread::sleep_for(std::chrono::milliseconds(25));
    slept += Clock::now() - t;
  });

  double best = 1e9, floor = 1e9;
  double heapGrowth = 0;
  std::unique_ptr<CSorrelApp> app;
  std::unique_ptr<CSorrelDlg> dlg;
  for (int run = 0; run < RUNS; ++run) {
    CScriptedHost& host = CScriptedHost::Install();
    floor = std::min(floor, Floor(work));
    dlg.reset();
    app.reset();
    app = std::make_unique<CSorrelApp>();
    dlg = std::make_unique<CSorrelDlg>();
    const double heapBefore = HeapInUseMiB();
    slept = {};
    const Clock::time_point start = Clock::now();
    host.Open(*dlg);
    const double took = Seconds(Clock::now() - start - slept);
    // The card's frame memory was taken by the first run; later runs show the program's own.
    heapGrowth = HeapInUseMiB() - heapBefore;
    if (dlg->GetDlgItemText(IDC_START_STOP) != "START" || !host.Messages().empty()) {
      std::fprintf(stderr, "start-up did not reach START cleanly\n");
      return 1;
    }
    best = std::min(best, took);
    std::printf("run %d: %.3f s\n", run + 1, took);
    if (run + 1 < RUNS) host.CloseWindow(*dlg);
  }

  // Where the time goes, on the board start-up left: each step alone, for every entry.
  CSorrelDlg& d = *dlg;
  auto time = [](auto&& work) {
    const Clock::time_point t = Clock::now();
    work();
    return Seconds(Clock::now() - t);
  };
  cpu::FrameVector frame(SIDE * SIDE);
  const double compose = time([&] {
    for (auto& entry : app->m_ImageList) ComposeFrame(*entry, frame.data(), 1, d.m_SLMPhaseComp.get(), d.m_SysPhaseComp.get());
  });
  const double write = time([&] {
    for (int i = 0; i < ENTRIES; ++i) app->m_pBoard->WriteFrameBuffer(static_cast<uint16_t>(i), frame.data());
  });
  // The download as start-up runs it: each frame composed while the one before is written.
  const double download = time([&] { d.DownloadSequence(0); });
  const double screens = time([] { BuildScreenImages(); });
  const double list = time([&] { d.RefreshImageList(); });

  const double perEntry = 1e6 / ENTRIES;
  std::printf("\nstart-up of %d entries, OnInitDialog to START (best of %d): %.3f s, %.0f us per entry\n", ENTRIES,
              RUNS, best, best * perEntry);
  std::printf("floor (read the bitmaps, copy each frame, card busy time): %.3f s\n", floor);
  std::printf("ratio to the floor: %.2fx (goal at most 3x); goal at most 0.15 s: %s\n", best / floor,
              best <= 0.15 ? "met" : "missed");
  std::printf("vector path %s; the floor's copy is the reference copy\n", cpu::PathName(cpu::ChosenPath()));
  std::printf("\nwhere it goes, per entry:\n");
  std::printf("  compose (read bitmap, read LUT, compensation, table): %6.0f us\n", compose * perEntry);
  std::printf("  write to the card (select, wait, reorder, transfer):  %6.0f us\n", write * perEntry);
  std::printf("  download, composing beside writing:                  %6.0f us\n", download * perEntry);
  std::printf("  screen image:                                         %6.0f us\n", screens * perEntry);
  std::printf("  list line:                                            %6.1f us\n", list * perEntry);
  std::printf("  the rest (captions, selection, sliders, paint):       %6.0f us\n",
              (best - download - screens - list) * perEntry);
  std::printf("\nheap the program holds after start-up: %.1f MiB (screen images %.1f MiB, one frame %.2f MiB)\n",
              heapGrowth, ENTRIES * 16384 / 1048576.0, SIDE * SIDE / 1048576.0);
  d.OnClose();
  return 0;
}
