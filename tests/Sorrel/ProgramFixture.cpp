#include "ProgramFixture.h"

#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

#include "registry/Registry.h"
#include "ui/Host.h"
#include "ui/Process.h"

namespace progtest {

Settings TypicalSettings(const std::string& sequenceFile) {
  return {{"LaserDuty", "50"},      {"FrameRate", "100"},      {"LaserAGain", "200"},
          {"LaserBGain", "100"},    {"LC_Type", "1"},          {"TrueFrames", "3"},
          {"BoardType", "Kite_SLM"}, {"SequenceFile", sequenceFile}, {"ApplyCorrection", "0"},
          {"HideComp", "0"},        {"PhaseCompFileName", ""}, {"SysPhaseCompFileName", ""}};
}

void ProgramTest::SetUp() {
  if (m_Scripted) m_Host = &CScriptedHost::Install();
  // The board's power-up waits pass twenty times faster; the card's own delays stay real.
  SetSleepHook([](unsigned ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms / 20)); });
  Bus("kite");
  char cwd[4096];
  ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
  m_PreviousFolder = cwd;
  ASSERT_EQ(mkdir(Work("Image_Files").c_str(), 0755), 0);
  ASSERT_EQ(mkdir(Work("Sequence_Files").c_str(), 0755), 0);
  ASSERT_EQ(chdir(m_Work.Path().c_str()), 0);
  setenv("SORREL_REGISTRY", Work("registry").c_str(), 1);
  // The board service's socket, where no other service of this user lies.
  ASSERT_EQ(mkdir(Work("run").c_str(), 0700), 0);
  setenv("XDG_RUNTIME_DIR", Work("run").c_str(), 1);
}

void ProgramTest::TearDown() {
  if (!m_ReadOnly.empty() && umount2(m_ReadOnly.c_str(), MNT_DETACH) != 0) chmod(m_ReadOnly.c_str(), 0755);
  m_Dlg.reset();
  if (m_App && m_App->m_pBoard) {
    delete m_App->m_pBoard;
    m_App->m_pBoard = nullptr;
  }
  m_App.reset();
  SetSleepHook({});
  unsetenv("SORREL_SIM_TRACE");
  EXPECT_EQ(chdir(m_PreviousFolder.c_str()), 0);
}

void ProgramTest::Bus(const char* description, bool trace) {
  simtest::UseBus(description);
  if (trace) {
    m_Trace = Work("trace");
    setenv("SORREL_SIM_TRACE", m_Trace.c_str(), 1);
  }
}

void ProgramTest::WritePattern(const std::string& name, int side, const Picture& picture, uint16_t bitCount) {
  WriteSquareBitmap(Work(name), side, bitCount, [&](int y, int x) { return static_cast<uint32_t>(picture(y, x)); });
}

void ProgramTest::WriteLutFile(const std::string& name, const std::function<int(int)>& table) {
  std::vector<int> values(256);
  for (int i = 0; i < 256; ++i) values[static_cast<size_t>(i)] = table(i);
  WriteLut(Work(name), values);
}

void ProgramTest::WriteSequence(const std::string& name,
                                const std::vector<std::pair<std::string, std::string>>& entries) {
  std::string text;
  for (const auto& [pattern, lut] : entries) text += pattern + ", " + lut + "\n";
  WriteText(Work(name), text);
}

void ProgramTest::WritePowerOff(const Picture& picture) { WritePattern("PowerOff.bmp", 128, picture); }

namespace {

std::string Quoted(const std::string& text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '\\' || c == '"') out += '\\';
    out += c;
  }
  return out + "\"";
}

}  // namespace

std::string ProgramTest::StoreFile() const { return Work("registry/sorrel.reg"); }

void ProgramTest::StoreSettings(const Settings& values) {
  mkdir(Work("registry").c_str(), 0755);
  std::string text = "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Orvane Radara\\Sorrel]\n";
  for (const auto& [name, value] : values) text += Quoted(name) + "=" + Quoted(value) + "\n";
  WriteText(StoreFile(), text + "\n");
}

std::optional<std::string> ProgramTest::StoredValue(const std::string& name) const {
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Orvane Radara\\Sorrel", 0, KEY_QUERY_VALUE, &key) !=
      ERROR_SUCCESS) {
    return std::nullopt;
  }
  DWORD size = 0;
  std::optional<std::string> value;
  if (RegQueryValueExA(key, name.c_str(), nullptr, nullptr, nullptr, &size) == ERROR_SUCCESS) {
    std::string bytes(size, '\0');
    if (RegQueryValueExA(key, name.c_str(), nullptr, nullptr, reinterpret_cast<BYTE*>(bytes.data()), &size) ==
        ERROR_SUCCESS) {
      value = bytes.substr(0, bytes.find('\0'));
    }
  }
  RegCloseKey(key);
  return value;
}

uint8_t Ramp(int y, int x) { return static_cast<uint8_t>(x + 3 * y); }
uint8_t Rings(int y, int x) { return static_cast<uint8_t>(((x - 256) * (x - 256) + (y - 256) * (y - 256)) / 64); }
uint8_t Dim(int y, int x) { return static_cast<uint8_t>((x ^ y) & 0x3F); }
int Identity(int i) { return i; }
int Inverse(int i) { return 255 - i; }

void ProgramTest::StandardWork(const Settings& changes) {
  WritePattern("Image_Files/ramp.bmp", 512, Ramp);
  WritePattern("Image_Files/rings.bmp", 512, Rings);
  WriteLutFile("Image_Files/linear.lut", Identity);
  WriteLutFile("Image_Files/invert.lut", Inverse);
  WritePowerOff(Dim);
  WriteSequence("Sequence_Files/demo.sif", {{"Image_Files/ramp.bmp", "Image_Files/linear.lut"},
                                            {"Image_Files/rings.bmp", "Image_Files/invert.lut"},
                                            {"Image_Files/ramp.bmp", "Image_Files/invert.lut"}});
  Settings settings = TypicalSettings(Work("Sequence_Files/demo.sif"));
  for (const auto& [name, value] : changes) settings[name] = value;
  StoreSettings(settings);
}

std::optional<int> ProgramTest::Start() {
  m_App = std::make_unique<CSorrelApp>();
  m_Dlg = std::make_unique<CSorrelDlg>();
  m_App->m_pMainWnd = m_Dlg.get();
  try {
    Show(*m_Dlg);
  } catch (const CProcessExit& e) {
    return e.status;
  }
  return std::nullopt;
}

void ProgramTest::Close() { m_Host->CloseWindow(*m_Dlg); }

std::vector<std::string> ProgramTest::MessageTexts() const {
  std::vector<std::string> texts;
  for (const auto& m : m_Host->Messages()) texts.push_back(m.text);
  return texts;
}

std::vector<std::string> ProgramTest::MessageLines() const {
  std::vector<std::string> lines;
  for (const auto& m : m_Host->Messages()) lines.push_back(TranscriptLine(m.caption, m.text));
  return lines;
}

std::vector<std::string> ProgramTest::ListLines() const {
  std::vector<std::string> lines;
  for (int i = 0; i < m_Dlg->ListGetCount(IDC_IMAGE_LIST); ++i) lines.push_back(m_Dlg->ListGetText(IDC_IMAGE_LIST, i));
  return lines;
}

void ProgramTest::ScriptEditor(std::optional<std::string> pattern, bool ok) {
  m_Host->SetScript(IDD_IMAGE_LIST_EDIT, [pattern, ok](CDialog& dlg, CScriptedHost& host) {
    host.QueueFileAnswer(pattern);
    host.Click(dlg, IDC_BROWSE_PATTERN);
    host.Click(dlg, ok ? IDC_EDIT_OK : IDC_EDIT_CANCEL);
  });
}

void ProgramTest::AnswerQuestion(int button) {
  m_Host->SetScript(IDD_YES_NO, [this, button](CDialog& dlg, CScriptedHost& host) {
    m_Questions.push_back(dlg.GetDlgItemText(IDC_QUESTION));
    if (button != 0) host.Click(dlg, button);
  });
}

void ProgramTest::Tick(int realMs) {
  std::this_thread::sleep_for(std::chrono::milliseconds(realMs));
  m_Host->AdvanceTime(100);
}

void ProgramTest::Faults(const char* options, bool on) { ASSERT_TRUE(sim::testing::SetFaults(simtest::SLOT0, options, on)); }

void ProgramTest::MakeUnreadable(const std::string& name) {
  const std::string path = Work(name);
  ASSERT_EQ(chmod(path.c_str(), 0), 0);
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return;
  close(fd);
  ASSERT_EQ(unlink(path.c_str()), 0);
  ASSERT_EQ(mkfifo(path.c_str(), 0600), 0);
}

bool ProgramTest::MakeReadOnly(const std::string& folder) {
  if (geteuid() != 0) {
    if (chmod(folder.c_str(), 0555) != 0) return false;
    m_ReadOnly = folder;
    return true;
  }
  // A mount namespace of this process's own, so the read-only mount is seen by nobody else.
  if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) return false;
  if (mount(folder.c_str(), folder.c_str(), nullptr, MS_BIND, nullptr) != 0) return false;
  m_ReadOnly = folder;
  return mount(nullptr, folder.c_str(), nullptr, MS_BIND | MS_REMOUNT | MS_RDONLY, nullptr) == 0;
}

std::vector<uint8_t> ProgramTest::ShownFrame(uint32_t buffer) const {
  std::vector<uint8_t> bytes;
  sim::testing::DecodedFrame(simtest::SLOT0, buffer, bytes);
  return bytes;
}

uint32_t ProgramTest::BoardRegister(uint32_t offset) const {
  return sim::testing::PeekRegister(simtest::SLOT0, 2, offset);
}

std::vector<std::pair<uint32_t, uint32_t>> ProgramTest::BoardWrites() const {
  return simtest::BoardWrites(m_Trace + "/registers.log");
}

std::vector<uint8_t> ExpectedFrame(int side, const Picture& pattern, const std::function<int(int)>& table,
                                   const Picture* slm, const Picture* sys) {
  std::vector<uint8_t> frame(static_cast<size_t>(side) * static_cast<size_t>(side));
  for (int y = 0; y < side; ++y) {
    for (int x = 0; x < side; ++x) {
      int v = pattern(y, x);
      if (slm) v += (*slm)(y, x);
      if (sys) v += (*sys)(y, x);
      frame[static_cast<size_t>(y) * static_cast<size_t>(side) + static_cast<size_t>(x)] =
          static_cast<uint8_t>(table(v % 256));
    }
  }
  return frame;
}

}  // namespace progtest
