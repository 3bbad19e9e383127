// board.write_frame of a numpy array against the C++ caller's WriteFrameBuffer of the same
// Kite frame (board id 0: reordered in place), in one process and one run. Rounds alternate
// between the two, each on a board of its own built on the same simulated card, so a machine
// that slows down meanwhile slows both; the medians and their ratio are printed. Goal: the
// script's write costs at most 1.1 times the C++ one. Exit status 1 when it does not.

#include <pybind11/embed.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <thread>
#include <vector>

#include "OrvFactory.h"
#include "SimTesting.h"
#include "cpu/AlignedBytes.h"
#include "cpu/Paths.h"
#include "ui/Process.h"
#include "ui/ScriptedHost.h"

namespace py = pybind11;

namespace {

constexpr int ROUNDS = 15;
constexpr int WRITES = 3000;  // per round and side
constexpr int FRAME = 5;
constexpr double GOAL = 1.1;
constexpr size_t FRAME_BYTES = 512 * 512;

cpu::FrameVector Frame() {
  cpu::FrameVector frame(FRAME_BYTES);
  for (size_t i = 0; i < frame.size(); ++i) frame[i] = static_cast<uint8_t>(i * 131 + (i >> 9));
  return frame;
}

// Seconds per WriteFrameBuffer as the program calls it, into a buffer the card already holds.
double CppRound(cpu::FrameVector frame) {
  std::unique_ptr<COrvBoard> board(COrvFactory().BuildBoard(0, 3));
  if (board->BoardSpec()->Width != 512 || board->WriteFrameBuffer(FRAME, frame.data()) != 1) {
    std::fprintf(stderr, "WriteFrameBench: no Kite board on the simulated bus\n");
    std::exit(2);
  }
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < WRITES; ++i) board->WriteFrameBuffer(FRAME, frame.data());
  const std::chrono::duration<double> spent = std::chrono::steady_clock::now() - start;
  return spent.count() / WRITES;
}

const char* const PYTHON_ROUND = R"(
def write_frame_round(frame, writes, n):
    import time, sorrel
    with sorrel.open_board(modulator_type=0, true_frames=3) as board:
        board.write_frame(n, frame)
        start = time.perf_counter()
        for _ in range(writes):
            board.write_frame(n, frame)
        return (time.perf_counter() - start) / writes
)";

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

}  // namespace

int main() {
  char store[] = "/tmp/sorrel-bench-store-XXXXXX";
  if (mkdtemp(store) == nullptr) return 2;
  setenv("SORREL_REGISTRY", store, 1);  // the defaults, and the machine's own store left alone
  setenv("SORREL_SIM", "kite:id=0", 1);
  unsetenv("SORREL_SIM_TRACE");
  sim::testing::UsePrivateClaimFolder();
  CScriptedHost::Install();
  // The board's power-up waits pass twenty times faster; the card's own delays stay real.
  SetSleepHook([](unsigned ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms / 20)); });

  py::scoped_interpreter python;
  py::module_::import("sys").attr("path").attr("insert")(0, SORREL_PYTHON_PATH);
  py::exec(PYTHON_ROUND);
  const py::object round = py::globals()["write_frame_round"];
  const cpu::FrameVector bytes = Frame();
  const py::object frame = py::module_::import("numpy")
                               .attr("frombuffer")(py::bytes(reinterpret_cast<const char*>(bytes.data()), bytes.size()),
                                                   "uint8")
                               .attr("reshape")(512, 512)
                               .attr("copy")();

  std::vector<double> cpp, script, ratios;
  std::printf("vector path %s\nround  WriteFrameBuffer  board.write_frame  ratio\n", cpu::PathName(cpu::ChosenPath()));
  for (int r = 0; r < ROUNDS; ++r) {
    cpp.push_back(CppRound(bytes));
    script.push_back(round(frame, WRITES, FRAME).cast<double>());
    ratios.push_back(script.back() / cpp.back());
    std::printf("%5d  %13.2f us  %14.2f us  %5.3f\n", r + 1, cpp.back() * 1e6, script.back() * 1e6, ratios.back());
  }
  const double ratio = Median(ratios);
  std::printf("median %12.2f us  %14.2f us  %5.3f\n", Median(cpp) * 1e6, Median(script) * 1e6, ratio);
  std::printf("board.write_frame / WriteFrameBuffer = %.3f (goal: at most %.1f)\n", ratio, GOAL);
  rmdir(store);
  return ratio <= GOAL ? 0 : 1;
}
