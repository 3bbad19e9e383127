// Process services: the sleep hook, also when several threads sleep at once, and the
// working directory.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <climits>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "ui/Process.h"

namespace {

TEST(SleepMs, HookReplacesRealSleeping) {
  std::vector<unsigned> asked;
  SetSleepHook([&](unsigned ms) { asked.push_back(ms); });
  // A real sleep here would take a minute: the limit only tells that from a busy host.
  const auto start = std::chrono::steady_clock::now();
  SleepMs(60000);
  SleepMs(5);
  const auto elapsed = std::chrono::steady_clock::now() - start;
  SetSleepHook({});
  EXPECT_EQ(asked, (std::vector<unsigned>{60000, 5}));
  EXPECT_LT(elapsed, std::chrono::seconds(30));

  // Without a hook the time really passes.
  const auto before = std::chrono::steady_clock::now();
  SleepMs(20);
  EXPECT_GE(std::chrono::steady_clock::now() - before, std::chrono::milliseconds(20));
  EXPECT_EQ(asked.size(), 2u);
}

TEST(SleepMs, ThreadsMaySleepWhileTheHookChanges) {
  std::atomic<int> first{0}, second{0};
  SetSleepHook([&](unsigned) { first.fetch_add(1, std::memory_order_relaxed); });
  std::vector<std::thread> sleepers;
  for (int t = 0; t < 2; ++t) {
    sleepers.emplace_back([&] {
      for (int i = 0; i < 2000; ++i) SleepMs(1);
    });
  }
  for (int i = 0; i < 200; ++i) {
    SetSleepHook([&](unsigned) { second.fetch_add(1, std::memory_order_relaxed); });
    SetSleepHook([&](unsigned) { first.fetch_add(1, std::memory_order_relaxed); });
  }
  for (auto& t : sleepers) t.join();
  SetSleepHook({});
  // Every sleep went to one hook or the other: none slept for real, none was lost.
  EXPECT_EQ(first.load() + second.load(), 4000);
}

namespace fs = std::filesystem;

// A fresh folder for one test; the working directory is put back afterwards.
class WorkingDirectoryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m_Start = fs::current_path();
    char pattern[] = "/tmp/sorrel-cwd-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    m_Folder = fs::canonical(pattern);
  }
  void TearDown() override {
    fs::current_path(m_Start);
    fs::remove_all(m_Folder);
  }
  fs::path m_Start;
  fs::path m_Folder;
};

TEST_F(WorkingDirectoryTest, ReadsAndChangesTheFolder) {
  std::string path;
  ASSERT_TRUE(GetCurrentDirectory(path));
  EXPECT_EQ(path, m_Start.string());

  ASSERT_TRUE(SetCurrentDirectory(m_Folder.string()));
  ASSERT_TRUE(GetCurrentDirectory(path));
  EXPECT_EQ(path, m_Folder.string());
  EXPECT_EQ(fs::current_path(), m_Folder);

  // Folders that cannot be entered leave the working directory where it was.
  fs::create_directory(m_Folder / "Image_Files");
  std::ofstream(m_Folder / "file") << "x";
  fs::create_directory(m_Folder / "locked");
  chmod((m_Folder / "locked").c_str(), 0);
  const std::string refused[] = {
      (m_Folder / "Sequence_Files").string(),  // missing
      (m_Folder / "file").string(),            // not a folder
      "",
      (m_Folder / "Image_Files").string() + std::string(1, '\0') + "x",
  };
  for (const std::string& folder : refused) {
    EXPECT_FALSE(SetCurrentDirectory(folder)) << folder;
    EXPECT_EQ(fs::current_path(), m_Folder) << folder;
  }
  // Search permission is needed to enter a folder (root has it everywhere).
  if (geteuid() != 0) {
    EXPECT_FALSE(SetCurrentDirectory((m_Folder / "locked").string()));
  }
  chmod((m_Folder / "locked").c_str(), 0700);

  ASSERT_TRUE(SetCurrentDirectory("Image_Files"));  // relative to the working directory
  ASSERT_TRUE(GetCurrentDirectory(path));
  EXPECT_EQ(path, (m_Folder / "Image_Files").string());
}

TEST_F(WorkingDirectoryTest, AFolderThatIsGoneCannotBeReadAndThePathIsKept) {
  ASSERT_TRUE(SetCurrentDirectory((m_Folder).string()));
  fs::create_directory(m_Folder / "gone");
  ASSERT_TRUE(SetCurrentDirectory((m_Folder / "gone").string()));
  fs::remove(m_Folder / "gone");
  std::string path = "kept";
  EXPECT_FALSE(GetCurrentDirectory(path));
  EXPECT_EQ(path, "kept");
}

TEST_F(WorkingDirectoryTest, FolderDeeperThanPathMaxIsReadWhole) {
  ASSERT_TRUE(SetCurrentDirectory(m_Folder.string()));
  const std::string name(200, 'd');
  std::string expected = m_Folder.string();
  int depth = 0;
  while (expected.size() <= PATH_MAX + 200) {
    ASSERT_EQ(mkdir(name.c_str(), 0700), 0);
    ASSERT_TRUE(SetCurrentDirectory(name));
    expected += "/" + name;
    ++depth;
  }
  std::string path;
  EXPECT_TRUE(GetCurrentDirectory(path));
  EXPECT_EQ(path, expected);
  // Taken down step by step: no path this long can be named at once.
  for (; depth > 0; --depth) {
    ASSERT_TRUE(SetCurrentDirectory(".."));
    ASSERT_EQ(rmdir(name.c_str()), 0);
  }
}

}  // namespace
