// How the facility and the simulated card keep up with a board: interrupts at the shortest
// image period, and one frame's block transfer against the reference copy of the same bytes. Each
// runs on the simulated backend (argument 0) and through the VFIO backend over the stand-in
// kernel (argument 1).

#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <thread>
#include <vector>

#include "CopyReference.h"
#include "PciBridge.h"
#include "SimTesting.h"
#include "VfioTesting.h"
#include "cpu/AlignedBytes.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr pci::Location SLOT0{1, 0, 0};
constexpr uint32_t REG_CONTROL = 0x00;
constexpr uint32_t REG_FRAME_SELECT = 0x08;
constexpr uint32_t REG_FRAME_COUNTS = 0x0C;
constexpr uint32_t CONTROL_RUN = 1u << 3;
constexpr uint32_t SHORTEST_IMAGE_FRAMES = 6;  // 1000 images per second: 6 x 164.1 us
constexpr uint32_t FRAME_BYTES = 512 * 512;

// Written by the interrupt thread only; read after the thread has been joined.
std::vector<int64_t> g_LatencyNs;

PciCard* OpenKite(bool throughVfio) {
  if (throughVfio) {
    vfio::testing::UseFakeKernel();
  } else {
    vfio::testing::UseRealKernel();
  }
  sim::testing::UsePrivateClaimFolder();
  setenv("SORREL_SIM", "kite:id=1", 1);
  unsetenv("SORREL_SIM_TRACE");
  sim::testing::ResetBus();
  PciCard* card = nullptr;
  PciOpenCard(&card, PLX_VENDOR_ID, PLX_DEVICE_ID, 0, OPEN_USE_INTERRUPTS);
  return card;
}

double Percentile(std::vector<int64_t> values, double fraction) {
  if (values.empty()) {
    return 0;
  }
  std::sort(values.begin(), values.end());
  const size_t index = std::min(values.size() - 1, static_cast<size_t>(fraction * static_cast<double>(values.size())));
  return static_cast<double>(values[index]) / 1000.0;
}

// A live view's reads: the whole displayed frame, once per refresh of a 60 Hz screen, from
// a thread of its own as the user-interface thread would.
class CViewReader {
 public:
  CViewReader() : m_Thread([this](std::stop_token stop) { Read(stop); }) {}
  uint64_t Reads() const { return m_Reads.load(); }

 private:
  void Read(std::stop_token stop) {
    std::vector<uint8_t> pixels(FRAME_BYTES);
    while (!stop.stop_requested()) {
      const std::vector<pci::Location> held = pci::RegisteredCards();
      pci::DisplayInfo info{};
      if (!held.empty() && pci::ReadDisplay(held.front(), info, pixels.data(), pixels.size())) ++m_Reads;
      std::this_thread::sleep_for(std::chrono::microseconds(16667));
    }
  }

  std::atomic<uint64_t> m_Reads{0};
  std::jthread m_Thread;
};

void MeasureInterrupts(benchmark::State& state, bool throughVfio, bool liveView) {
  PciCard* card = OpenKite(throughVfio);
  if (card == nullptr) {
    state.SkipWithError("no simulated card");
    return;
  }
  g_LatencyNs.clear();
  g_LatencyNs.reserve(static_cast<size_t>(state.range(0)) * 1100);
  PciEnableInterrupt(card);
  PciWriteReg(card, SPACE_REGISTERS, REG_FRAME_COUNTS, SHORTEST_IMAGE_FRAMES);
  std::optional<CViewReader> view;
  if (liveView) view.emplace();
  for (auto _ : state) {
    PciWriteReg(card, SPACE_REGISTERS, REG_CONTROL, CONTROL_RUN);
    std::this_thread::sleep_for(std::chrono::seconds(state.range(0)));
    PciWriteReg(card, SPACE_REGISTERS, REG_CONTROL, 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));  // the last one goes through
  }
  if (view) state.counters["view_reads"] = static_cast<double>(view->Reads());
  view.reset();
  PciCloseCard(card);
  const sim::InterruptCounts counts = sim::testing::Counts(SLOT0);
  state.counters["raised"] = static_cast<double>(counts.raised);
  state.counters["delivered"] = static_cast<double>(counts.delivered);
  state.counters["merged"] = static_cast<double>(counts.merged);
  state.counters["missed"] = static_cast<double>(counts.raised - counts.merged - counts.delivered);
  state.counters["p50_us"] = Percentile(g_LatencyNs, 0.50);
  state.counters["p99_us"] = Percentile(g_LatencyNs, 0.99);
  state.counters["max_us"] = Percentile(g_LatencyNs, 1.0);
}

// Ten seconds on each backend, once.
void InterruptRuns(benchmark::internal::Benchmark* b) {
  b->ArgNames({"seconds", "vfio"})->Args({10, 0})->Args({10, 1})->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();
}

void BM_InterruptDelivery(benchmark::State& state) { MeasureInterrupts(state, state.range(1) != 0, false); }
BENCHMARK(BM_InterruptDelivery)->Apply(InterruptRuns);

// The same with the live view reading the displayed frame at 60 Hz all along.
void BM_InterruptDeliveryWithLiveView(benchmark::State& state) {
  MeasureInterrupts(state, state.range(1) != 0, true);
}
BENCHMARK(BM_InterruptDeliveryWithLiveView)->Apply(InterruptRuns);

// One frame into a frame buffer the card has already allocated (page-aligned, as a card's
// window is), from a frame that starts range(1) bytes past a cache line.
void BM_FrameBlockTransfer(benchmark::State& state) {
  PciCard* card = OpenKite(state.range(0) != 0);
  if (card == nullptr) {
    state.SkipWithError("no simulated card");
    return;
  }
  const size_t offset = static_cast<size_t>(state.range(1));
  cpu::FrameVector storage(FRAME_BYTES + offset, 0x5A);
  uint8_t* frame = storage.data() + offset;
  PciWriteReg(card, SPACE_REGISTERS, REG_FRAME_SELECT, 17u << 16);
  PciWriteBlock(card, 0, frame, FRAME_BYTES, SPACE_FRAME_MEMORY);  // the buffer exists from here on
  const benchref::Clock::time_point start = benchref::Clock::now();
  for (auto _ : state) {
    PciWriteBlock(card, 0, frame, FRAME_BYTES, SPACE_FRAME_MEMORY);
  }
  benchref::ReportCopyRatio(state, start, FRAME_BYTES);  // goal: at most 1.5
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * FRAME_BYTES);
  PciCloseCard(card);
}
BENCHMARK(BM_FrameBlockTransfer)
    ->ArgNames({"vfio", "offset"})
    ->ArgsProduct({{0, 1}, {0, 16, 32, 48, 64}})
    ->Unit(benchmark::kMicrosecond);

BENCHMARK(benchref::BM_CopyReference)->Arg(FRAME_BYTES)->Unit(benchmark::kMicrosecond);

}  // namespace

// Measures from the timing engine's raise to the routine's entry, then unmasks as a
// driver does.
void BoardInterruptRoutine(void* pCard) {
  const Clock::time_point entry = Clock::now();
  const Clock::time_point raised = sim::testing::Counts(SLOT0).lastRaise;
  g_LatencyNs.push_back(std::chrono::duration_cast<std::chrono::nanoseconds>(entry - raised).count());
  auto* card = static_cast<PciCard*>(pCard);
  PciWriteReg(card, SPACE_BRIDGE, BRIDGE_INTCSR, PciReadReg(card, SPACE_BRIDGE, BRIDGE_INTCSR) | INTCSR_PCI_INT_ENABLE);
}

BENCHMARK_MAIN();
