// Saves under stress: two processes at once, a process dying mid-save, and a save without
// the rights to write.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>

#include <array>
#include <cstdarg>
#include <cstring>
#include <cstdio>
#include <set>

#include "RegistryFixture.h"

namespace {

constexpr int DIED_IN_RENAME = 42;
bool g_bDieInRename = false;

// What the store's code asked of the system, counted by the wraps below.
struct StoreCalls {
  int exclusive = 0;  // locks taken
  int shared = 0;
  int busy = 0;       // attempts that found the lock held
  int reads = 0;      // opens of the store's file for reading
};
StoreCalls g_Calls;

}  // namespace

// The test is linked with --wrap=renameat: a save's rename can be made to end the process.
extern "C" int __real_renameat(int fromFolder, const char* from, int toFolder, const char* to);
extern "C" int __wrap_renameat(int fromFolder, const char* from, int toFolder, const char* to) {
  if (g_bDieInRename) _exit(DIED_IN_RENAME);
  return __real_renameat(fromFolder, from, toFolder, to);
}

// And with --wrap=flock and --wrap=openat, to count locks and reads.
extern "C" int __real_flock(int fd, int operation);
extern "C" int __wrap_flock(int fd, int operation) {
  const int result = __real_flock(fd, operation);
  if (result != 0 && errno == EWOULDBLOCK) ++g_Calls.busy;
  if (result == 0 && (operation & LOCK_EX) != 0) ++g_Calls.exclusive;
  if (result == 0 && (operation & LOCK_SH) != 0) ++g_Calls.shared;
  return result;
}
extern "C" int __real_openat(int folder, const char* name, int flags, ...);
extern "C" int __wrap_openat(int folder, const char* name, int flags, ...) {
  mode_t mode = 0;
  if ((flags & O_CREAT) != 0) {
    va_list rest;
    va_start(rest, flags);
    mode = static_cast<mode_t>(va_arg(rest, int));
    va_end(rest);
  }
  if (std::strcmp(name, "sorrel.reg") == 0 && (flags & O_ACCMODE) == O_RDONLY) ++g_Calls.reads;
  return __real_openat(folder, name, flags, mode);
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

TEST_F(RegistrySaveTest, AStoreWritableInAFolderThatTakesNoNewFileIsSavedInPlaceWithoutALockFile) {
  WriteText(StorePath(), "REGEDIT4\n\n");
  ASSERT_EQ(chmod(StorePath().c_str(), 0666), 0);
  ASSERT_EQ(chmod(m_Folder.c_str(), 0555), 0);
  EXPECT_EQ(InChild([] { return DropToOrdinaryUser() && Save({{"FrameRate", Sz("12")}}) == ERROR_SUCCESS ? 0 : 1; }), 0);
  EXPECT_EQ(Load("FrameRate"), Sz("12"));
}

TEST_F(RegistrySaveTest, ASaveLocksAndReadsTheStoreOnceAndALoadReadsItOnce) {
  ASSERT_EQ(Save({{"FrameRate", Sz("10")}}), ERROR_SUCCESS);
  g_Calls = {};
  ASSERT_EQ(Save({{"FrameRate", Sz("11")}, {"LaserDuty", Sz("5")}}), ERROR_SUCCESS);
  EXPECT_EQ(g_Calls.exclusive, 1);
  EXPECT_EQ(g_Calls.shared, 0);
  EXPECT_EQ(g_Calls.reads, 1);
  g_Calls = {};
  EXPECT_EQ(Load("FrameRate"), Sz("11"));
  EXPECT_EQ(g_Calls.exclusive, 0);
  EXPECT_EQ(g_Calls.shared, 1);
  EXPECT_EQ(g_Calls.reads, 1);
}

TEST_F(RegistrySaveTest, AnotherUserCanNeitherOpenNorHoldTheLockSoSavesNeverWaitForThem) {
  if (geteuid() != 0) GTEST_SKIP() << "another user's part takes root's rights to play";
  constexpr gid_t OPERATORS = 1;  // a group the other user is not in
  ASSERT_EQ(chown(m_Folder.c_str(), 0, OPERATORS), 0);
  ASSERT_EQ(chmod(m_Folder.c_str(), 0775), 0);
  ASSERT_EQ(Save({{"FrameRate", Sz("10")}}), ERROR_SUCCESS);
  const std::string lock = m_Folder + "/sorrel.lock";
  struct stat st {};
  ASSERT_EQ(stat(lock.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0660u);
  EXPECT_EQ(st.st_gid, OPERATORS) << "the folder's group may lock";

  // The other user locks all that they can open: the folder, and the lock if it let them.
  CHoldingChild stranger([&](const auto& held) {
    if (!DropToOrdinaryUser()) held(false);
    const int locked = open(lock.c_str(), O_RDONLY);
    if (locked >= 0) flock(locked, LOCK_EX);
    const int folder = open(m_Folder.c_str(), O_RDONLY | O_DIRECTORY);
    held(locked < 0 && errno == EACCES && folder >= 0 && flock(folder, LOCK_EX) == 0);
  });
  ASSERT_TRUE(stranger.Held()) << "the lock file opened for another user";
  g_Calls = {};
  EXPECT_EQ(Save({{"FrameRate", Sz("11")}}), ERROR_SUCCESS);
  EXPECT_EQ(Load("FrameRate"), Sz("11"));
  EXPECT_EQ(g_Calls.busy, 0) << "a save or load waited for another user's lock";
}

TEST_F(RegistrySaveTest, AStoreLinkAGroupMemberPlantedIsNeitherReadNorWrittenThrough) {
  if (geteuid() != 0) GTEST_SKIP() << "planting a link as another user takes root's rights";
  const CTempFolder victim;
  const std::string profile = victim.Path("profile");
  const std::string precious = std::string("REGEDIT4\n\n") + SORREL_SECTION + "\n\"FrameRate\"=\"99\"\n\n";
  WriteText(profile, precious);
  // The package's folder: the operators' group (here the other user's) may write it.
  ASSERT_EQ(chown(m_Folder.c_str(), 0, 65534), 0);
  ASSERT_EQ(chmod(m_Folder.c_str(), 02775), 0);
  ASSERT_EQ(InChild([&] { return DropToOrdinaryUser() && symlink(profile.c_str(), StorePath().c_str()) == 0 ? 0 : 1; }),
            0);
  const std::string refused = StorePath() +
                              ": it is reached through a symbolic link that another user could have planted, "
                              "which is not followed (remove the link, or name the file itself)\n";
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(Load("FrameRate"), std::nullopt);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "Settings not read from " + refused);
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(Save({{"SysPhaseCompFileName", Sz("$(id > /tmp/x)")}}), ERROR_ACCESS_DENIED);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "Settings not saved to " + refused);
  EXPECT_EQ(ReadText(profile), precious);

  // The saver's own link is theirs to make.
  ASSERT_EQ(unlink(StorePath().c_str()), 0);
  ASSERT_EQ(symlink(profile.c_str(), StorePath().c_str()), 0);
  EXPECT_EQ(Load("FrameRate"), Sz("99"));
  EXPECT_EQ(Save({{"FrameRate", Sz("7")}}), ERROR_SUCCESS);
  EXPECT_NE(ReadText(profile).find("\"FrameRate\"=\"7\""), std::string::npos);
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
