// Saves under stress: two processes at once, a process dying mid-save, and a save without
// the rights to write.
#include <fcntl.h>

#include <array>
#include <cstdio>
#include <set>

#include "RegistryFixture.h"

namespace {

constexpr int DIED_IN_RENAME = 42;
bool g_bDieInRename = false;

}  // namespace

// The test is linked with --wrap=renameat: a save's rename can be made to end the process.
extern "C" int __real_renameat(int fromFolder, const char* from, int toFolder, const char* to);
extern "C" int __wrap_renameat(int fromFolder, const char* from, int toFolder, const char* to) {
  if (g_bDieInRename) _exit(DIED_IN_RENAME);
  return __real_renameat(fromFolder, from, toFolder, to);
}

namespace {

using RegistrySaveTest = RegistryFixture;

const char* const PROGRAM_NAMES[] = {"LaserDuty", "FrameRate",    "LaserAGain",        "LaserBGain",
                                     "LC_Type",   "TrueFrames",   "BoardType",         "SequenceFile",
                                     "PhaseCompFileName", "SysPhaseCompFileName", "ApplyCorrection", "HideComp"};

// The tags the program's values carry in the file's text, read without the store's code.
std::set<std::string> TagsIn(const std::string& text) {
  std::set<std::string> tags;
  for (const char* name : PROGRAM_NAMES) {
    const std::string line = "\n\"" + std::string(name) + "\"=\"";
    const size_t at = text.find(line);
    if (at == std::string::npos) {
      tags.insert(std::string("<").append(name).append(" missing>"));
      continue;
    }
    const size_t start = at + line.size();
    tags.insert(text.substr(start, text.find("\"\n", start) - start));
  }
  return tags;
}

std::string Tag(int writer, int save) {
  return std::string("w").append(std::to_string(writer)).append("-").append(std::to_string(save));
}

// A value each save adds, so that a save that lost another's shows.
std::string SeenName(const std::string& tag) { return std::string("Seen ").append(tag); }

TEST_F(RegistrySaveTest, TwoProcessesSavingAtOnceNeverInterleaveNorLoseTheOthersValues) {
  constexpr int SAVES = 60;
  std::vector<pid_t> writers;
  for (int writer = 0; writer < 2; ++writer) {
    const pid_t pid = fork();
    if (pid == 0) {
      for (int i = 0; i < SAVES; ++i) {
        Values values;
        for (const char* name : PROGRAM_NAMES) values.emplace_back(name, Sz(Tag(writer, i)));
        values.emplace_back(SeenName(Tag(writer, i)), Sz("1"));
        if (Save(values) != ERROR_SUCCESS) _exit(1);
      }
      _exit(0);
    }
    writers.push_back(pid);
  }

  // Meanwhile every state of the file is whole and one writer's set of values.
  int looks = 0, running = 2;
  while (running > 0) {
    const std::string text = ReadText(StorePath());
    if (!text.empty()) {
      ++looks;
      ASSERT_TRUE(text.starts_with(std::string("REGEDIT4\n\n") + SORREL_SECTION + "\n")) << text;
      ASSERT_TRUE(text.ends_with("\"=\"1\"\n\n")) << text;
      ASSERT_EQ(TagsIn(text).size(), 1u) << text;
    }
    running = 0;
    for (pid_t pid : writers) running += waitpid(pid, nullptr, WNOHANG) == 0;
  }
  EXPECT_GT(looks, 0);
  for (pid_t pid : writers) waitpid(pid, nullptr, 0);

  for (int writer = 0; writer < 2; ++writer)
    for (int i = 0; i < SAVES; ++i) EXPECT_EQ(Load(SeenName(Tag(writer, i))), Sz("1")) << Tag(writer, i) << " was lost";
  const std::set<std::string> last = TagsIn(ReadText(StorePath()));
  ASSERT_EQ(last.size(), 1u);
  EXPECT_TRUE(*last.begin() == Tag(0, SAVES - 1) || *last.begin() == Tag(1, SAVES - 1)) << *last.begin();
}

TEST_F(RegistrySaveTest, ASaveThatDiesBeforeItsRenameLeavesTheOldValues) {
  ASSERT_EQ(Save({{"FrameRate", Sz("10")}, {"LaserDuty", Sz("20")}}), ERROR_SUCCESS);
  const std::string before = ReadText(StorePath());

  EXPECT_EQ(InChild([] {
              g_bDieInRename = true;
              Save({{"FrameRate", Sz("99")}, {"LaserDuty", Sz("99")}});
              return 0;
            }),
            DIED_IN_RENAME);
  EXPECT_EQ(ReadText(StorePath()), before);
  EXPECT_EQ(Load("FrameRate"), Sz("10"));

  EXPECT_EQ(Save({{"FrameRate", Sz("11")}}), ERROR_SUCCESS) << "the dead process holds no lock";
  EXPECT_EQ(Load("FrameRate"), Sz("11"));
  EXPECT_EQ(Load("LaserDuty"), Sz("20"));
}

TEST_F(RegistrySaveTest, ASaveWithoutWriteRightsLeavesTheValuesAndSaysSoInOneLine) {
  ASSERT_EQ(Save({{"FrameRate", Sz("10")}}), ERROR_SUCCESS);
  const std::string before = ReadText(StorePath());
  ASSERT_EQ(chmod(StorePath().c_str(), 0444), 0);
  ASSERT_EQ(chmod(m_Folder.c_str(), 0555), 0);

  int errors[2];
  ASSERT_EQ(pipe(errors), 0);
  const int status = InChild([&] {
    if (!DropToOrdinaryUser()) return 100;
    dup2(errors[1], 2);
    return static_cast<int>(Save({{"FrameRate", Sz("99")}, {"LaserDuty", Sz("99")}}));
  });
  close(errors[1]);
  std::string said;
  char chunk[256];
  for (ssize_t n; (n = read(errors[0], chunk, sizeof chunk)) > 0;) said.append(chunk, static_cast<size_t>(n));
  close(errors[0]);

  EXPECT_EQ(status, ERROR_ACCESS_DENIED);
  EXPECT_EQ(said, "Settings not saved to " + StorePath() + ": its lock cannot be opened: Permission denied\n");
  EXPECT_EQ(ReadText(StorePath()), before);
  EXPECT_EQ(Load("FrameRate"), Sz("10"));
  EXPECT_EQ(Load("LaserDuty"), std::nullopt);
}

// Two sets of the program's values with a long note each, so that the file is large and a
// kill often lands while it is being written.
Values Settings(char note) {
  Values values;
  for (const char* name : PROGRAM_NAMES) values.emplace_back(name, Sz(std::string(1, note) + name));
  values.emplace_back("Note", Sz(std::string(300000, note)));
  return values;
}

TEST_F(RegistrySaveTest, SavesKilledAtRandomMomentsLeaveTheOldFileOrTheNewNeverAMix) {
  const savetest::CTrialFolder trials;
  m_Folder = trials.Path();
  setenv("SORREL_REGISTRY", m_Folder.c_str(), 1);
  // What the file holds after saving each set over the other, saved here in this process.
  const std::array<Values, 2> sets = {Settings('a'), Settings('b')};
  std::array<std::string, 2> contents;
  for (int i : {0, 1, 0}) {
    ASSERT_EQ(Save(sets[static_cast<size_t>(i)]), ERROR_SUCCESS);
    if (contents[static_cast<size_t>(i)].empty()) contents[static_cast<size_t>(i)] = ReadText(StorePath());
    ASSERT_EQ(ReadText(StorePath()), contents[static_cast<size_t>(i)]) << "a save of the same values gives the same file";
  }
  ASSERT_NE(contents[0], contents[1]);
  ASSERT_GT(contents[0].size(), 300000u);

  const savetest::KillOutcome outcome = savetest::KillDuringSaves(
      m_Folder, "sorrel.reg", contents, [&](int which) { Save(sets[static_cast<size_t>(which)]); }, 1000, 20240611);
  savetest::ExpectOldOrNew(outcome, "settings", 1000);
  ASSERT_EQ(Save({{"FrameRate", Sz("7")}}), ERROR_SUCCESS) << "no lock outlives a killed save";
  EXPECT_EQ(Load("FrameRate"), Sz("7"));
  EXPECT_EQ(savetest::OtherNames(m_Folder, "sorrel.reg"), std::vector<std::string>{"sorrel.lock"});
}

TEST_F(RegistrySaveTest, AFullDiskLeavesTheStoredValuesAndSaysSoInOneLine) {
  ASSERT_EQ(Save(Settings('a')), ERROR_SUCCESS);
  const std::string before = ReadText(StorePath());
  int errors[2];
  ASSERT_EQ(pipe(errors), 0);
  const int status = InChild([&] {
    if (!LimitFileSize(static_cast<rlim_t>(before.size() / 2))) return 2;
    dup2(errors[1], 2);
    return Save(Settings('b')) == ERROR_REGISTRY_IO_FAILED ? 0 : 1;
  });
  close(errors[1]);
  std::string said;
  char chunk[256];
  for (ssize_t n; (n = read(errors[0], chunk, sizeof chunk)) > 0;) said.append(chunk, static_cast<size_t>(n));
  close(errors[0]);
  EXPECT_EQ(status, 0) << "the save is refused as an input/output failure";
  EXPECT_EQ(said, "Settings not saved to " + StorePath() + ": File too large\n");
  EXPECT_EQ(ReadText(StorePath()), before);
  EXPECT_EQ(savetest::OtherNames(m_Folder, "sorrel.reg"), std::vector<std::string>{"sorrel.lock"})
      << "the cut-short temporary file is removed";
}

TEST_F(RegistrySaveTest, AStorePathThroughAFileReadsEmptyAndItsSaveSaysWhyInOneLine) {
  WriteText(m_Folder + "/file", "not a folder\n");
  const std::string folder = m_Folder + "/file/registry";
  setenv("SORREL_REGISTRY", folder.c_str(), 1);
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(Load("FrameRate"), std::nullopt);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "") << "nothing there to read";
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(Save({{"FrameRate", Sz("7")}}), ERROR_REGISTRY_IO_FAILED);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(),
            "Settings not saved to " + folder + "/sorrel.reg: its folder cannot be made: Not a directory\n");
}

}  // namespace
