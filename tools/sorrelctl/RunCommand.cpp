#include <chrono>
#include <cstdio>
#include <optional>

#include "BoardGeometry.h"
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

}  // namespace

int RunCommand(const COptions& options) {
  options.ExpectOperands(0, "");
  const std::optional<double> seconds = options.Seconds("--seconds");
  const ParameterOptions chosen(options);
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

    DownloadEntries(session, list, ChosenCompensation(options, settings, BoardGeometry(board.Spec())));
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
      progress.Show("run: entry " + std::to_string(status.CurrentIndex + 1) + " of " + std::to_string(frames.size()) +
                    (loop ? ", looping" : ""));
      const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
      if (seconds && elapsed.count() >= *seconds) break;
    }
    board.Stop();
    progress.End();
    Result("%s %zu entries at %d frames per second\n", ended ? "ran" : "stopped a run of", frames.size(),
                parameters.FrameRate);
  });
}

}  // namespace sorrelctl
