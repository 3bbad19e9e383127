#include "ProgramFixture.h"

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

#include "registry/Registry.h"
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
}

void ProgramTest::TearDown() {
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
