// WriteFrameBuffer of a Kite frame that needs the reorder, into a frame buffer of the
// simulated card that is already allocated, measured beside the reference copy of one frame.

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <memory>
#include <thread>

#include "CopyReference.h"
#include "KiteBoard.h"
#include "SimTesting.h"
#include "ui/Process.h"
#include "ui/ScriptedHost.h"

namespace {

constexpr size_t FRAME_BYTES = 512 * 512;

cpu::FrameVector Frame() {
  cpu::FrameVector frame(FRAME_BYTES);
  for (size_t i = 0; i < frame.size(); ++i) frame[i] = static_cast<uint8_t>(i * 131 + (i >> 9));
  return frame;
}

// A Kite board alone on a fresh simulated bus, for one benchmark run.
std::unique_ptr<CKiteBoard> BuildKite(const char* bus) {
  setenv("SORREL_SIM", bus, 1);
  sim::testing::ResetBus();
  bool claimed = false;
  auto board = std::make_unique<CKiteBoard>(0, 3, &claimed);
  return board->SetDownloadMode(0) == 1 ? std::move(board) : nullptr;
}

// Board id 0 needs the reorder, id 1 does not; both wait out the card's busy time after
// the frame select before the transfer.
void WriteFrameBuffer(benchmark::State& state, const char* bus) {
  auto board = BuildKite(bus);
  cpu::FrameVector frame = Frame();
  if (!board || board->WriteFrameBuffer(5, frame.data()) != 1) {  // allocates the card's buffer 5
    state.SkipWithError("no Kite board on the simulated bus");
    return;
  }
  const benchref::Clock::time_point start = benchref::Clock::now();
  for (auto _ : state) {
    // Reordered in place on every call, as a download of fresh data would be.
    benchmark::DoNotOptimize(board->WriteFrameBuffer(5, frame.data()));
    benchmark::ClobberMemory();
  }
  benchref::ReportCopyRatio(state, start, FRAME_BYTES);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * FRAME_BYTES));
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  CScriptedHost::Install();
  sim::testing::UsePrivateClaimFolder();
  unsetenv("SORREL_SIM_TRACE");
  SetSleepHook([](unsigned ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms / 20)); });
  benchmark::RegisterBenchmark("CopyReference/262144", benchref::BM_CopyReference)
      ->Arg(FRAME_BYTES)
      ->Unit(benchmark::kMicrosecond);
  benchmark::RegisterBenchmark("WriteFrameBuffer/KiteReorder", WriteFrameBuffer, "kite:id=0")
      ->Unit(benchmark::kMicrosecond)
      ->Iterations(20000);
  benchmark::RegisterBenchmark("WriteFrameBuffer/KitePlain", WriteFrameBuffer, "kite:id=1")
      ->Unit(benchmark::kMicrosecond)
      ->Iterations(20000);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
