// Load: ten clients, each on its own connection, make 1000 calls each (a third frame writes,
// a third selects, a third status) against one headless board service on the simulated Kite
// card, while a run loops over 24 frames at 1000 frames per second and an eleventh client
// watches the status stream frame by frame. Each client writes frames of its own (client c:
// frames 10c to 10c + 9) and reads each back from the card right after writing it.
//
//   ServiceLoadBench
//
// Reports the calls refused (must be none), frames read back unlike what their client wrote
// (none), interrupts lost (raised by the card against taken by the host and merged, counted
// once the card has come to rest), the stream's updates against the frames shown and those
// of a frame each whose position is not the entry after the previous one's, resident
// memory before and after, and the calls' time against one client alone making the same
// calls on the idle service in the same run. Exits 1 when a check fails; timing is reported,
// not judged.

#include <grpcpp/grpcpp.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "BoardService.h"
#include "HeadlessBoard.h"
#include "ScriptBoard.h"
#include "SimTesting.h"
#include "sorrel_board.grpc.pb.h"
#include "ui/Process.h"

namespace {

namespace v1 = sorrel::v1;
using Clock = std::chrono::steady_clock;

constexpr int CLIENTS = 10;
constexpr int ROUNDS = 2;
constexpr int CALLS = 1000;
constexpr int OWN_FRAMES = 10;
constexpr int RUN_FIRST = 1000;  // the run loops over frames 1000 to 1023, which no client writes
constexpr int RUN_FRAMES = 24;
constexpr size_t FRAME = 512 * 512;
const pci::Location CARD{1, 0, 0};

double ResidentMiB() {
  std::ifstream in("/proc/self/statm");
  unsigned long long size = 0, resident = 0;
  in >> size >> resident;
  return static_cast<double>(resident) * static_cast<double>(sysconf(_SC_PAGESIZE)) / 1048576.0;
}

std::unique_ptr<v1::Board::Stub> Connect(const std::string& socket) {
  grpc::ChannelArguments own;
  own.SetInt(GRPC_ARG_USE_LOCAL_SUBCHANNEL_POOL, 1);  // a connection of its own
  return v1::Board::NewStub(grpc::CreateCustomChannel("unix:" + socket, grpc::InsecureChannelCredentials(), own));
}

struct Tally {
  int refused = 0;
  int unlike = 0;  // frames read back unlike what was written
  std::string firstRefusal;
};

// One client's calls; with check, each frame written is read back from the card.
Tally Calls(v1::Board::Stub& client, int c, bool check) {
  Tally t;
  std::string pixels(FRAME, '\0');
  std::vector<uint8_t> back;
  for (int i = 0; i < CALLS; ++i) {
    grpc::ClientContext context;
    grpc::Status status;
    const int frame = c * OWN_FRAMES + (i / 3) % OWN_FRAMES;
    if (i % 3 == 0) {
      for (size_t p = 0; p < FRAME; p += 4096) pixels[p] = static_cast<char>(c * 31 + i + p / 4096);
      pixels[1] = static_cast<char>(c);
      pixels[2] = static_cast<char>(i);
      v1::WriteFrameRequest request;
      request.set_frame(frame);
      request.set_pixels(pixels);
      v1::WriteFrameReply reply;
      status = client.WriteFrame(&context, request, &reply);
      if (status.ok() && check &&
          (!sim::testing::DecodedFrame(CARD, static_cast<uint32_t>(frame), back) ||
           std::string(back.begin(), back.end()) != pixels)) {
        ++t.unlike;
      }
    } else if (i % 3 == 1) {
      v1::SelectRequest request;
      request.set_frame(frame);
      v1::SelectReply reply;
      status = client.Select(&context, request, &reply);
    } else {
      v1::BoardStatus reply;
      status = client.GetStatus(&context, {}, &reply);
    }
    if (!status.ok() && t.refused++ == 0) t.firstRefusal = status.error_message();
  }
  return t;
}

}  // namespace

int main() {
  char folder[] = "/tmp/sorrel-service-bench-XXXXXX";
  if (mkdtemp(folder) == nullptr) return 1;
  sim::testing::UsePrivateClaimFolder();
  setenv("SORREL_SIM", "kite", 1);
  unsetenv("SORREL_SIM_TRACE");
  SetSleepHook([](unsigned ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms / 10)); });
  StoredSettings settings;
  settings.FrameRate = 1000;
  settings.TrueFrames = 3;
  scripting::CScriptBoard board(settings);
  const std::string socket = std::string(folder) + "/board.sock";
  int failed = 0;
  {
    service::CHeadlessBoard served(board, {}, scripting::CurrentWorkingFolder());
    service::CBoardService service(served, socket, CLIENTS + 2);

    // The reference: one client alone on the idle service.
    auto alone = Connect(socket);
    const Clock::time_point aloneStart = Clock::now();
    const Tally reference = Calls(*alone, 0, false);
    const double aloneSeconds = std::chrono::duration<double>(Clock::now() - aloneStart).count();
    alone.reset();

    board.SetRunParameters({1000, 50, 0, 0});
    std::vector<int> run(RUN_FRAMES);
    for (int f = 0; f < RUN_FRAMES; ++f) run[f] = RUN_FIRST + f;
    const sim::InterruptCounts atStart = sim::testing::Counts(CARD);
    if (!board.Run(run, true)) {
      std::fprintf(stderr, "the run did not start\n");
      return 1;
    }

    // The watcher: every frame, each update's frames_passed kept.
    auto watcher = Connect(socket);
    grpc::ClientContext watching;
    auto stream = watcher->WatchStatus(&watching, {});
    std::atomic<bool> watched{false};
    uint64_t updates = 0, covered = 0, merged = 0, unstepped = 0, firstShown = 0, lastShown = 0;
    double rate = 0;
    std::thread watch([&] {
      v1::StatusUpdate u, before;
      while (stream->Read(&u)) {
        if (updates++ == 0) {
          firstShown = u.frames_shown();
          watched = true;
        } else {
          covered += u.frames_passed();
          if (u.frames_passed() > 1) ++merged;
          const bool running = u.run_state() == v1::RUN_STATE_ACTIVE && before.run_state() == v1::RUN_STATE_ACTIVE;
          if (running && u.frames_passed() == 1 && u.position() != (before.position() + 1) % RUN_FRAMES) ++unstepped;
        }
        before = u;
        lastShown = u.frames_shown();
        rate = u.measured_frame_rate();
      }
    });
    while (!watched) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    std::this_thread::sleep_for(std::chrono::seconds(1));  // the measured rate counts over a second

    // Two rounds of new clients: the first grows what the service and gRPC keep for ten
    // connections, the second must leave memory where the first left it.
    const double rssBefore = ResidentMiB();
    std::vector<Tally> tallies;
    double loadSeconds = 0, rssFirst = 0;
    for (int round = 0; round < ROUNDS; ++round) {
      std::vector<Tally> tally(CLIENTS);
      std::vector<std::thread> clients;
      const Clock::time_point start = Clock::now();
      for (int c = 0; c < CLIENTS; ++c) {
        clients.emplace_back([&, c] {
          auto client = Connect(socket);
          tally[c] = Calls(*client, c, true);
        });
      }
      for (std::thread& t : clients) t.join();
      loadSeconds = std::chrono::duration<double>(Clock::now() - start).count();
      tallies.insert(tallies.end(), tally.begin(), tally.end());
      if (round == 0) rssFirst = ResidentMiB();
    }
    const double rssAfter = ResidentMiB();
    const double rateUnderLoad = rate;

    board.Stop();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));  // the stream sees the end
    watching.TryCancel();
    watch.join();
    stream->Finish();
    const sim::InterruptCounts counts = sim::testing::CountsAtRest(CARD);

    int refused = reference.refused, unlike = 0;
    std::string why = reference.firstRefusal;
    for (const Tally& t : tallies) {
      refused += t.refused;
      unlike += t.unlike;
      if (why.empty()) why = t.firstRefusal;
    }
    const uint64_t raised = counts.raised - atStart.raised;
    const uint64_t delivered = counts.delivered - atStart.delivered;
    const uint64_t lostInterrupts = counts.raised - counts.delivered - counts.merged;
    const uint64_t missed = (lastShown - firstShown) - covered;
    // x_alone: the service's time per call under load against one client's alone.
    std::printf("%d clients x %d calls (writes, selects, status), second round in %.2f s: %.0f calls/s, %.0f us a "
                "call for each client; one client alone on the idle service %.2f s (%.0f us a call): x_alone %.2f\n",
                CLIENTS, CALLS, loadSeconds, CLIENTS * CALLS / loadSeconds, loadSeconds * 1e6 / CALLS, aloneSeconds,
                aloneSeconds * 1e6 / CALLS, loadSeconds / (CLIENTS * aloneSeconds));
    std::printf("refused calls: %d%s%s\n", refused, why.empty() ? "" : ", the first: ", why.c_str());
    std::printf("frames read back unlike what their client wrote: %d of %d\n", unlike,
                ROUNDS * CLIENTS * ((CALLS + 2) / 3));
    std::printf("interrupts: periods raised %llu, taken %llu, merged %llu (host late), lost %llu (at rest: %s)\n",
                static_cast<unsigned long long>(raised), static_cast<unsigned long long>(delivered),
                static_cast<unsigned long long>(counts.merged - atStart.merged),
                static_cast<unsigned long long>(lostInterrupts), counts.atRest ? "yes" : "no");
    std::printf("stream: %llu updates for %llu frames shown, %llu frames in no update, %llu updates covering more "
                "than one frame, %llu of one frame not one entry on from the one before; measured rate %.1f fps "
                "under load\n",
                static_cast<unsigned long long>(updates), static_cast<unsigned long long>(lastShown - firstShown),
                static_cast<unsigned long long>(missed), static_cast<unsigned long long>(merged),
                static_cast<unsigned long long>(unstepped), rateUnderLoad);
    std::printf("resident memory: %.1f MiB before the clients, %.1f MiB after the first round, %.1f MiB after the "
                "second\n", rssBefore, rssFirst, rssAfter);
    failed = refused != 0 || unlike != 0 || lostInterrupts != 0 || !counts.atRest || missed != 0;
  }
  board.Close(false);
  std::filesystem::remove_all(folder);
  std::printf("%s\n", failed ? "FAILED" : "passed");
  return failed ? 1 : 0;
}
