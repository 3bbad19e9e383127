// Soak: a looping run of a 1024-entry Kite sequence at 1000 frames per second on the
// simulated card, the whole program under the scripted host with its own 100 ms run-status
// timer ticking in step with real time, as it does in the window. The card records the
// frame of every image period. The run passes on what the program did: the sequence shown
// in its order, one step per interrupt taken and none of another sequence, no interrupt
// lost once the card has come to rest after STOP, and a resident memory that stays where it
// was when the run began.
//
//   SoakBench [seconds]     (default 1800)
//
// Prints the figures once a minute and at the end; exits 1 when a check fails. How late the
// host ran the interrupt thread is reported, not judged: a whole period late and the
// interrupt merges with the next (the frame is shown twice and the run goes on one period
// behind); late but before the next raise and the frame is shown twice, then the next frame
// is passed over as the two interrupts are taken back to back. Either way the run still
// takes one step per interrupt, which is what is judged.

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "BenchWork.h"
#include "PatternFiles.h"
#include "ShownOrder.h"
#include "SimTesting.h"
#include "Sorrel.h"
#include "SorrelDlg.h"
#include "ui/Process.h"
#include "ui/ScriptedHost.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int ENTRIES = 1024;
constexpr int SIDE = 512;
constexpr int PATTERNS = 8;    // 8 bitmaps x 128 tables: 1024 different frames
constexpr int TABLES = 128;
constexpr unsigned TICK_MS = 100;
constexpr size_t RECORD_PERIODS = 1 << 14;  // room for 16 s at 1000 periods a second
constexpr double RSS_GROWTH_LIMIT_MIB = 4;
const pci::Location CARD{1, 0, 0};  // the first card of the simulated bus

double ResidentMiB() {
  std::ifstream in("/proc/self/statm");
  unsigned long long size = 0, resident = 0;
  in >> size >> resident;
  return static_cast<double>(resident) * static_cast<double>(sysconf(_SC_PAGESIZE)) / 1048576.0;
}

// Two counts of the same events, read a few periods apart.
bool Near(uint64_t a, uint64_t b) { return a + 2 >= b && b + 2 >= a; }

// Only a card at rest has counts that must add up; while it runs one may be on its way.
std::string Lost(const sim::InterruptCounts& c) {
  if (!c.atRest) return "running";
  return std::to_string(c.raised - c.delivered - c.merged);
}

void WriteWork(const CTempFolder& work) {
  WriteBenchWork(work, work.Path("Sequence_Files/soak.sif"), 1000, "\"ApplyCorrection\"=\"0\"\n");
  for (int i = 0; i < PATTERNS; ++i) {
    WriteSquareBitmap(work.Path(Name("Image_Files/p", i, ".bmp")), SIDE, 8,
                      [i](int y, int x) { return static_cast<uint32_t>((x * 3 + y * 5 + i * 31) & 255); });
  }
  for (int i = 0; i < TABLES; ++i) {
    std::vector<int> table(256);
    for (int k = 0; k < 256; ++k) table[static_cast<size_t>(k)] = (k * 7 + i) % 256;
    WriteLut(work.Path(Name("Image_Files/t", i, ".lut")), table);
  }
  std::string sif;
  for (int i = 0; i < ENTRIES; ++i) {
    sif += work.Path(Name("Image_Files/p", i % PATTERNS, ".bmp")) + ", " +
           work.Path(Name("Image_Files/t", i / PATTERNS, ".lut")) + "\n";
  }
  WriteText(work.Path("Sequence_Files/soak.sif"), sif);
}

struct Figures {
  CShownOrder order;
  uint64_t unrecorded = 0;
};

void Print(const char* when, double seconds, const Figures& f, const sim::InterruptCounts& c,
           uint64_t deliveredAtStart, double rssStart) {
  std::printf("%s %7.0f s: periods %llu, skipped %llu, repeated %llu, strays %llu, unrecorded %llu; "
              "interrupts raised %llu, delivered %llu, merged %llu, lost %s; steps %llu for %llu taken; "
              "resident %.1f MiB (start %.1f MiB)\n",
              when, seconds, static_cast<unsigned long long>(f.order.Periods()),
              static_cast<unsigned long long>(f.order.Skips()), static_cast<unsigned long long>(f.order.Repeats()),
              static_cast<unsigned long long>(f.order.Strays()), static_cast<unsigned long long>(f.unrecorded),
              static_cast<unsigned long long>(c.raised), static_cast<unsigned long long>(c.delivered),
              static_cast<unsigned long long>(c.merged), Lost(c).c_str(),
              static_cast<unsigned long long>(f.order.Advances()),
              static_cast<unsigned long long>(c.delivered - deliveredAtStart), ResidentMiB(), rssStart);
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  const double seconds = argc > 1 ? std::atof(argv[1]) : 1800;
  if (seconds <= 0) {
    std::fprintf(stderr, "usage: SoakBench [seconds]\n");
    return 2;
  }
  CTempFolder work;
  WriteWork(work);
  if (!EnterBenchWork(work)) return 1;
  // The two power-up waits pass ten times faster; the soak is the run, not the start-up.
  SetSleepHook([](unsigned ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms / 10)); });

  CScriptedHost& host = CScriptedHost::Install();
  CSorrelApp app;
  CSorrelDlg dlg;
  app.m_pMainWnd = &dlg;
  host.Open(dlg);
  if (dlg.GetDlgItemText(IDC_START_STOP) != "START" || !host.Messages().empty() ||
      dlg.ListGetCount(IDC_IMAGE_LIST) != ENTRIES || dlg.IsDlgButtonChecked(IDC_LOOP) == 0) {
    std::fprintf(stderr, "start-up did not leave a looping %d-entry sequence ready to run\n", ENTRIES);
    return 1;
  }
  std::vector<uint32_t> sequence;
  for (size_t p = 0; p < ENTRIES; ++p) {
    if (dlg.FrameArray[p] == CSorrelDlg::NO_FRAME) {
      std::fprintf(stderr, "entry %zu did not reach the board\n", p);
      return 1;
    }
    sequence.push_back(dlg.FrameArray[p]);
  }

  Figures figures{CShownOrder(sequence)};
  if (!sim::testing::RecordShownFrames(CARD, RECORD_PERIODS)) return 1;
  const sim::InterruptCounts atStart = sim::testing::Counts(CARD);
  const uint64_t deliveredAtStart = atStart.delivered;
  const double rssStart = ResidentMiB();
  host.Click(dlg, IDC_START_STOP);
  if (dlg.GetDlgItemText(IDC_START_STOP) != "STOP") {
    std::fprintf(stderr, "the run did not start\n");
    return 1;
  }

  std::vector<sim::ShownFrame> shown;
  shown.reserve(RECORD_PERIODS);
  auto take = [&] {
    shown.clear();
    figures.unrecorded += sim::testing::TakeShownFrames(CARD, shown);
    for (const auto& s : shown) figures.order.Add(s);
  };
  const Clock::time_point start = Clock::now();
  const Clock::time_point end = start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
  Clock::time_point tick = start, report = start + std::chrono::minutes(1);
  int ticks = 0;
  while ((tick += std::chrono::milliseconds(TICK_MS)) < end) {
    std::this_thread::sleep_until(tick);
    host.AdvanceTime(TICK_MS);
    if (++ticks % 10 == 0) {
      take();
      host.ClearTextHistory();  // the test host's record of texts, which the window does not keep
    }
    if (Clock::now() >= report) {
      report += std::chrono::minutes(1);
      Print("at", std::chrono::duration<double>(Clock::now() - start).count(), figures, sim::testing::Counts(CARD),
            deliveredAtStart, rssStart);
    }
  }
  const bool running = dlg.GetDlgItemText(IDC_START_STOP) == "STOP";
  const double ran = std::chrono::duration<double>(Clock::now() - start).count();
  host.Click(dlg, IDC_START_STOP);
  host.AdvanceTime(TICK_MS);
  const sim::InterruptCounts counts = sim::testing::CountsAtRest(CARD);
  take();
  const double rssEnd = ResidentMiB();
  const double took = std::chrono::duration<double>(Clock::now() - start).count();
  Print("end", took, figures, counts, deliveredAtStart, rssStart);
  host.CloseWindow(dlg);

  const auto& order = figures.order;
  // The card counts its periods by its own clock, however late the host ran.
  const double expected = ran * 1000 * 0.98;
  const uint64_t steps = counts.delivered - deliveredAtStart;
  const bool ok = running && order.Periods() >= static_cast<uint64_t>(expected) &&
                  order.Strays() == 0 && figures.unrecorded == 0 && counts.atRest &&
                  counts.raised == counts.delivered + counts.merged && Near(order.Advances(), steps) &&
                  rssEnd - rssStart <= RSS_GROWTH_LIMIT_MIB && host.Messages().empty();
  std::printf("soak of %.0f s at 1000 frames per second over %d entries: %s\n", took, ENTRIES, ok ? "passed" : "FAILED");
  std::printf("resident memory: %.1f MiB at the start of the run, %.1f MiB at the end (limit +%.0f MiB)\n", rssStart,
              rssEnd, RSS_GROWTH_LIMIT_MIB);
  // A repeat the host's lateness does not explain shows here, and in the steps judged above.
  std::printf("host late: %llu periods merged, %llu skips after a late interrupt, %llu repeats in all (%s)\n",
              static_cast<unsigned long long>(counts.merged - atStart.merged),
              static_cast<unsigned long long>(order.Skips()), static_cast<unsigned long long>(order.Repeats()),
              Near(order.Repeats(), counts.merged - atStart.merged + order.Skips()) ? "each explained by a merge or a skip"
                                                                                   : "not all explained by a merge or a skip");
  for (const auto& g : order.Glitches()) {
    std::printf("  glitch at %.3f s: frame %u, step %u\n",
                std::chrono::duration<double>(g.start - start).count(), g.frame, g.step);
  }
  return ok ? 0 : 1;
}
