#pragma once
// The board as a script drives it: opened by the same start-up as the program's, every
// operation checked before it reaches the board, and a safe end however the script ends:
// the lasers at zero gain and the SLM power off unless the script asks to keep it on. One
// board per process; the card itself is one process's at a time.

#include <cstdint>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include "OrvBoard.h"
#include "SettingsStore.h"

namespace scripting {

// What a script is told when the board says no, in the system's own words where it has them.
class CScriptError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Another process holds the card; the text names it.
class CCardHeldError : public CScriptError {
 public:
  using CScriptError::CScriptError;
};

struct PhaseHost;

// The four values SetRunParameters sends, held as a script gives them until they are checked.
struct RunParameters {
  int FrameRate = 1;
  int LaserDuty = 0;
  int LaserAGain = 0;
  int LaserBGain = 0;
};

// The stored run settings, the frame rate held to the board's maximum as start-up holds it.
RunParameters StoredRunParameters(const StoredSettings& settings, const SBoard_Spec& spec);

// The checks every value passes before it reaches a board, whoever holds it: each throws
// std::invalid_argument for a value the board does not take, std::out_of_range for a frame it
// does not have, with the text a script is told.
void CheckParameters(const RunParameters& parameters, const SBoard_Spec& spec);
void CheckFrame(int frame, const SBoard_Spec& spec);
// The frames of a run (at least one, at most 65536) as the board takes them.
std::vector<uint16_t> CheckedRunFrames(const std::vector<int>& frames, const SBoard_Spec& spec);

class CScriptBoard {
 public:
  // Opens the board as start-up does with these settings (startup::OpenBoard with their
  // modulator type and true frames), then sends their run parameters (StoredRunParameters).
  // A board another script of this process left powered (Close with keepPower) is taken
  // over when it was built with the same two values. Throws CCardHeldError when another
  // process holds the card, or held it when it forked this one, and CScriptError with the
  // board's messages when no usable board comes up.
  explicit CScriptBoard(const StoredSettings& settings);
  // Closes safely, SLM power off, when Close was not called.
  ~CScriptBoard();

  CScriptBoard(const CScriptBoard&) = delete;
  CScriptBoard& operator=(const CScriptBoard&) = delete;

  bool IsOpen() const;
  const SBoard_Spec& Spec() const { return m_Spec; }
  uint16_t ModulatorType() const { return m_ModulatorType; }
  RunParameters Parameters() const;

  // Each throws CScriptError once the board is closed, std::invalid_argument for a value
  // the board does not take, std::out_of_range for a frame it does not have.
  void SetRunParameters(const RunParameters& parameters);
  // WriteFrameBuffer of Width x Height bytes, which are rewritten in place when the board
  // stores frames reordered; false when the board refused it.
  bool WriteFrame(int frame, uint8_t* data);
  // The same of bytes the caller keeps as they are, reordered through scratch (Width x
  // Height bytes) when the board wants it: no copy where the board needs none.
  bool WriteFrameFrom(int frame, const uint8_t* data, uint8_t* scratch);
  // Composes Width x Height phases (radians, screen order) with what the host gives, as
  // ComposePhaseFrame does, and writes the frame buffer; throws as ComposePhaseFrame does.
  bool SetPhase(int frame, const float* phases, const std::string& wavelength, const PhaseHost& host);
  bool Select(int frame);
  // Starts a run over the frame numbers (at least one, at most 65536), once or looped.
  bool Run(const std::vector<int>& frames, bool loop);
  void Stop();
  // The board's run status; false when it could not give one.
  bool Status(SRun_Status& status);
  bool Power();
  // The power state the board ends in.
  bool SetPower(bool on);
  int TrueFrames();
  int ImageFrames();

  // The safe end: any run stopped and both laser gains zero; then SLM power off and the card
  // closed, or with keepPower the power left as it is and the card kept open until the
  // process ends (or the next board of this process takes it over). Says what it left, e.g.
  // "lasers at zero gain, SLM power off". Closing a closed board does nothing ("").
  std::string Close(bool keepPower);

 private:
  COrvBoard& Board() const;  // throws once closed

  mutable std::mutex m_Mutex;
  std::unique_ptr<COrvBoard> m_Board;
  SBoard_Spec m_Spec{};
  uint16_t m_ModulatorType = 0;
  uint16_t m_TrueFrames = 0;
  RunParameters m_Parameters;
};

}  // namespace scripting
