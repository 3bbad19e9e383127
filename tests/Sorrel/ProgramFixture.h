#pragma once
// The whole program under the scripted host against the simulated card: a working folder
// of its own ("Image_Files", "Sequence_Files", "PowerOff.bmp", patterns and LUTs written
// by the test), a settings store of its own, a fresh simulated bus, and the power-up waits
// shortened. Expected frames are computed here, independently of the program.

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "PatternFiles.h"
#include "SimFixture.h"
#include "Sorrel.h"
#include "SorrelDlg.h"
#include "ui/ScriptedHost.h"

namespace progtest {

using Settings = std::map<std::string, std::string>;

// Settings a working program would have stored: a phase modulator with compensation shown.
Settings TypicalSettings(const std::string& sequenceFile);

// A test pattern: value of the picture at row y (0 = top), column x.
using Picture = std::function<uint8_t(int y, int x)>;

class ProgramTest : public ::testing::Test {
 protected:
  // Under the scripted host unless a test shows the program in real windows instead.
  explicit ProgramTest(bool scripted = true) : m_Scripted(scripted) {}
  void SetUp() override;
  void TearDown() override;

  // The simulated bus and, optionally, a trace folder for it.
  void Bus(const char* description, bool trace = false);

  // Working-folder files, by name relative to the working folder.
  std::string Work(const std::string& name) const { return m_Work.Path(name); }
  void WritePattern(const std::string& name, int side, const Picture& picture, uint16_t bitCount = 8);
  void WriteLutFile(const std::string& name, const std::function<int(int)>& table);
  void WriteSequence(const std::string& name, const std::vector<std::pair<std::string, std::string>>& entries);
  void WritePowerOff(const Picture& picture);

  // The settings store's file, written as an administrator would; and read back through the
  // store's own calls.
  void StoreSettings(const Settings& values);
  std::optional<std::string> StoredValue(const std::string& name) const;
  std::string StoreFile() const;

  // A working folder with two 512 x 512 patterns, two LUTs, a power-off picture and a
  // sequence "Sequence_Files/demo.sif" of three entries; the settings point at it.
  void StandardWork(const Settings& changes = {});

  // Runs start-up: the application object, the main dialog shown by the host (OnInitDialog
  // runs). Returns the exit status when start-up ended the process.
  std::optional<int> Start();
  virtual void Show(CDialog& dlg) { m_Host->Open(dlg); }
  // The close box, through the shutdown sequence.
  void Close();

  CSorrelDlg& Dlg() { return *m_Dlg; }
  CSorrelApp& App() { return *m_App; }
  std::vector<std::string> MessageTexts() const;
  // Every message box so far as "CAPTION: text", the form a transcript takes.
  std::vector<std::string> MessageLines() const;
  // The lines of the sequence list box.
  std::vector<std::string> ListLines() const;

  // The entry editor's run: pick the given pattern (or cancel its file dialog), then end
  // the editor with OK or Cancel.
  void ScriptEditor(std::optional<std::string> pattern, bool ok);
  // The save-changes question: its text is kept in m_Questions; button 0 leaves it unanswered.
  void AnswerQuestion(int button);
  std::vector<std::string> m_Questions;

  // Lets the board run for a while in real time, then one tick of the run timer.
  void Tick(int realMs = 30);
  // Faults of the card, switched while the program runs (named as SORREL_SIM names them).
  void Faults(const char* options, bool on = true);
  // A working-folder file the readers can no longer read: no read permission, and where
  // that does not stop this process (root), a pipe in its place.
  void MakeUnreadable(const std::string& name);
  // Makes a folder read-only for this process until the test ends: a read-only mount of
  // its own as root (permissions do not stop root), else its mode. False when it cannot.
  bool MakeReadOnly(const std::string& folder);
  // Frame buffer i as the modulator shows it; empty when it was never written.
  std::vector<uint8_t> ShownFrame(uint32_t buffer) const;
  uint32_t BoardRegister(uint32_t offset) const;
  // Space-2 register writes the card received, from its trace, as (offset, value).
  std::vector<std::pair<uint32_t, uint32_t>> BoardWrites() const;

  const bool m_Scripted;
  CScriptedHost* m_Host = nullptr;
  CTempFolder m_Work;
  std::string m_Trace;
  std::string m_PreviousFolder;
  std::string m_ReadOnly;  // a folder MakeReadOnly made read-only
  std::unique_ptr<CSorrelApp> m_App;
  std::unique_ptr<CSorrelDlg> m_Dlg;
};

// The pictures of the standard working folder, and its tables.
uint8_t Ramp(int y, int x);
uint8_t Rings(int y, int x);
uint8_t Dim(int y, int x);
int Identity(int i);
int Inverse(int i);

// Frame a board shows for a picture, compensation images (or none) and a table: every
// pixel becomes table[(pattern + slm + sys) mod 256].
std::vector<uint8_t> ExpectedFrame(int side, const Picture& pattern, const std::function<int(int)>& table,
                                   const Picture* slm = nullptr, const Picture* sys = nullptr);

}  // namespace progtest
