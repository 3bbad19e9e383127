#pragma once
// What every board command shares: the settings store as the default for every value, the
// board opened as the program opens it, termination signals that end the command between
// two steps, and the safe end, said in one line, however the command ends.

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "BoardClient.h"

#include "Options.h"
#include "ScriptBoard.h"
#include "SettingsStore.h"

namespace sorrelctl {

// The options of every board command: --modulator, --true-frames, --keep-power, --save.
const std::vector<OptionSpec>& BoardOptions();
// A command's own options followed by those it does not give a spec of its own.
std::vector<OptionSpec> WithBoardOptions(std::vector<OptionSpec> own);

// A termination signal ended the command between two of its steps.
struct CSignalled {
  int signal;
};

class CBoardSession {
 public:
  explicit CBoardSession(const COptions& options);
  ~CBoardSession();
  CBoardSession(const CBoardSession&) = delete;
  CBoardSession& operator=(const CBoardSession&) = delete;

  // The values the command uses: the stored ones with the options' changes. --save stores them.
  StoredSettings& Settings() { return m_Settings; }
  // The board, opened on first use.
  scripting::CScriptBoard& Board();

  // Throws CSignalled when Ctrl+C, SIGTERM or SIGHUP came.
  void CheckSignal();
  // Waits, ending early by CheckSignal.
  void Wait(double seconds);

 private:
  friend int RunOnBoard(const COptions&, const std::function<void(CBoardSession&)>&);
  // The safe end once the board was opened, then --save unless the command failed.
  void Finish(bool failed);

  bool m_KeepPower;
  bool m_Save;
  StoredSettings m_Settings;
  std::unique_ptr<scripting::CScriptBoard> m_Board;
};

// --service SOCKET|tls://HOST:PORT and --tls-dir DIR, for the commands a board service can serve.
const OptionSpec& ServiceOption();
const OptionSpec& TlsOption();
// A board service: on a Unix socket, or on a TCP address with the folder of this client's
// TLS files.
struct SServiceTarget {
  std::string Where;
  std::string TlsFolder;
};
// The board service a command goes through: the one --service names, else the one that
// answers on the user's default socket, else the machine's; none when the command opens the
// card itself.
std::optional<SServiceTarget> ServiceFor(const COptions& options);
// Runs a command through the board service: its refusals become one line and status 1. The
// board and its safe end are the service's.
int RunOnService(const SServiceTarget& service, const COptions& options,
                 const std::function<void(service::CBoardClient&)>& command);

// Runs a board command: its errors become one line and status 1; a termination signal ends
// it by that signal once the board is safe.
int RunOnBoard(const COptions& options, const std::function<void(CBoardSession&)>& command);

}  // namespace sorrelctl
