#include <chrono>
#include <cstdio>
#include <optional>

#include "Commands.h"
#include "Download.h"
#include "ScriptMessages.h"
#include "SequenceOptions.h"
#include "Terminal.h"
#include "files/Paths.h"

namespace sorrelctl {
namespace {

constexpr double POLL_SECONDS = 0.1;  // as often as the program's run timer

// The run parameters the options change, read before anything is opened; the board checks
// their ranges.
struct ParameterOptions {
  std::optional<int> rate, duty, gainA, gainB;

  explicit ParameterOptions(const COptions& options) {
    constexpr int ANY = 65535;
    rate = options.Number("--rate", 0, ANY);
    duty = options.Number("--duty", 0, ANY);
    gainA = options.Number("--gain-a", 0, ANY);
    gainB = options.Number("--gain-b", 0, ANY);
  }

  scripting::RunParameters Applied(scripting::RunParameters p) const {
    p.FrameRate = rate.value_or(p.FrameRate);
    p.LaserDuty = duty.value_or(p.LaserDuty);
    p.LaserAGain = gainA.value_or(p.LaserAGain);
    p.LaserBGain = gainB.value_or(p.LaserBGain);
    return p;
  }
};

std::string Progress(int position, size_t entries, bool loop) {
  return "run: entry " + std::to_string(position + 1) + " of " + std::to_string(entries) + (loop ? ", looping" : "");
}

void SayRan(bool ended, size_t entries, int rate) {
  Result("%s %zu entries at %d frames per second\n", ended ? "ran" : "stopped a run of", entries, rate);
}

// Through a board service: the stream shows the run; the service's end of the board is its own.
void RunOnServiceBoard(service::CBoardClient& client, const COptions& options, const ParameterOptions& chosen,
                       const std::optional<double>& seconds) {
  const StoredSettings settings = ReadStoredSettings();
  const std::string path = options.Has("--sequence") ? options.Values("--sequence")[0] : settings.SequenceFile;
  if (path.empty()) throw scripting::CScriptError("run: no sequence stored; give --sequence SEQUENCE.sif");
  ImageList list = ReadEntries(path);
  const sorrel::v1::BoardStatus status = client.Status();
  const sorrel::v1::RunParameters& held = status.parameters();
  const scripting::RunParameters parameters = client.SetRunParameters(
      chosen.Applied({held.frame_rate(), held.laser_duty(), held.laser_a_gain(), held.laser_b_gain()}));
  const FrameTarget target = ServiceTarget(client, status);
  DownloadEntries(list, ChosenCompensation(options, settings, target.geometry), target);
  std::vector<int> frames(list.size());
  for (size_t p = 0; p < frames.size(); ++p) frames[p] = static_cast<int>(p);
  const bool loop = options.Has("--loop");
  client.StartRun(frames, loop);
  const auto start = std::chrono::steady_clock::now();
  CProgress progress;
  bool ended = false;
  sorrel::v1::WatchRequest request;
  request.set_max_per_second(static_cast<uint32_t>(1 / POLL_SECONDS));
  client.Watch(request, [&](const sorrel::v1::StatusUpdate& update) {
    ended = update.run_state() != sorrel::v1::RUN_STATE_ACTIVE;
    progress.Show(Progress(update.position(), frames.size(), loop));
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
    return !ended && !(seconds && elapsed.count() >= *seconds);
  });
  client.StopRun();
  progress.End();
  SayRan(ended, frames.size(), parameters.FrameRate);
}

}  // namespace

int RunCommand(const COptions& options) {
  options.ExpectOperands(0, "");
  const std::optional<double> seconds = options.Seconds("--seconds");
  const ParameterOptions chosen(options);
  if (const auto service = ServiceFor(options)) {
    return RunOnService(*service, options,
                        [&](service::CBoardClient& client) { RunOnServiceBoard(client, options, chosen, seconds); });
  }
  return RunOnBoard(options, [&](CBoardSession& session) {
    StoredSettings& settings = session.Settings();
    const std::string path = options.Has("--sequence") ? options.Values("--sequence")[0] : settings.SequenceFile;
    if (path.empty()) throw scripting::CScriptError("run: no sequence stored; give --sequence SEQUENCE.sif");
    ImageList list = ReadEntries(path);
    scripting::CScriptBoard& board = session.Board();
    const scripting::RunParameters parameters = chosen.Applied(board.Parameters());
    board.SetRunParameters(parameters);
    settings.FrameRate = static_cast<uint16_t>(parameters.FrameRate);
    settings.LaserDuty = static_cast<uint16_t>(parameters.LaserDuty);
    settings.LaserAGain = static_cast<uint16_t>(parameters.LaserAGain);
    settings.LaserBGain = static_cast<uint16_t>(parameters.LaserBGain);
    settings.SequenceFile = AbsolutePath(path);

    const FrameTarget target = BoardTarget(session);
    DownloadEntries(list, ChosenCompensation(options, settings, target.geometry), target);
    std::vector<int> frames(list.size());
    for (size_t p = 0; p < frames.size(); ++p) frames[p] = static_cast<int>(p);
    const bool loop = options.Has("--loop");
    if (!board.Run(frames, loop)) {
      throw scripting::CScriptError(scripting::JoinedTexts(scripting::TakeMessages(), "The run did not start"));
    }
    const auto start = std::chrono::steady_clock::now();
    CProgress progress;
    bool ended = false;
    while (!ended) {
      session.Wait(POLL_SECONDS);
      SRun_Status status{};
      if (!board.Status(status)) {
        throw scripting::CScriptError(scripting::JoinedTexts(scripting::TakeMessages(), "ERROR: no run status"));
      }
      ended = (status.RunFlags & RUN_FLAG_ACTIVE) == 0;
      progress.Show(Progress(status.CurrentIndex, frames.size(), loop));
      const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
      if (seconds && elapsed.count() >= *seconds) break;
    }
    board.Stop();
    progress.End();
    SayRan(ended, frames.size(), parameters.FrameRate);
  });
}

}  // namespace sorrelctl
