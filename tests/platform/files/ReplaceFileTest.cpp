#include "files/ReplaceFile.h"
#include "files/SafePath.h"

#include "Child.h"
#include "TestFiles.h"

#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "SaveTrials.h"

namespace {

constexpr uid_t NOBODY = 65534;  // the owner a file is handed to

class ReplaceFileTest : public ::testing::Test {
 protected:
  std::string Path(const std::string& name) const { return m_Folder.Path(name); }
  static struct stat Stat(const std::string& path) {
    struct stat st {};
    EXPECT_EQ(stat(path.c_str(), &st), 0) << path;
    return st;
  }
  std::vector<std::string> Names() const {
    std::vector<std::string> names;
    if (DIR* dir = opendir(m_Folder.Path().c_str())) {
      while (dirent* e = readdir(dir)) {
        const std::string name = e->d_name;
        if (name != "." && name != "..") names.push_back(name);
      }
      closedir(dir);
    }
    return names;
  }
  // body's result in a child without the rights of root, files limited to fileSizeLimit:
  // 0 (true) or 1.
  static int AsOrdinaryUser(const std::function<bool()>& body, rlim_t fileSizeLimit = RLIM_INFINITY) {
    return InChild([&] {
      if (!DropToOrdinaryUser()) return 3;
      if (fileSizeLimit != RLIM_INFINITY && !LimitFileSize(fileSizeLimit)) return 4;
      return body() ? 0 : 1;
    });
  }

  CTempFolder m_Folder;
};

TEST_F(ReplaceFileTest, ANewFileHoldsThePiecesInOrderWithTheUmasksMode) {
  const mode_t previous = umask(027);
  const std::string path = Path("new.sif");
  EXPECT_TRUE(ReplaceFile(path, {"first, ", "", "second\n"}));
  umask(previous);
  EXPECT_EQ(ReadText(path), "first, second\n");
  EXPECT_EQ(Stat(path).st_mode & 07777, 0640u);
  EXPECT_EQ(Names(), std::vector<std::string>{"new.sif"}) << "no temporary file is left behind";
}

TEST_F(ReplaceFileTest, AReplacedFileKeepsItsModeAndLosesItsOldTail) {
  const std::string path = Path("old.sif");
  WriteText(path, "a much longer old content that must not survive\n");
  ASSERT_EQ(chmod(path.c_str(), 0604), 0);
  EXPECT_TRUE(ReplaceFile(path, {"short\n"}));
  EXPECT_EQ(ReadText(path), "short\n");
  EXPECT_EQ(Stat(path).st_mode & 07777, 0604u);
}

TEST_F(ReplaceFileTest, ALinkStaysALinkAndTheFileItNamesIsReplaced) {
  const std::string real = Path("real.sif");
  const std::string link = Path("link.sif");
  WriteText(real, "old\n");
  ASSERT_EQ(symlink(real.c_str(), link.c_str()), 0);
  EXPECT_TRUE(ReplaceFile(link, {"new\n"}));
  struct stat st {};
  ASSERT_EQ(lstat(link.c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  EXPECT_EQ(ReadText(real), "new\n");
}

TEST_F(ReplaceFileTest, ALinkAnotherUserPlantedInASharedFolderIsNotFollowedButTheSaversOwnIs) {
  if (geteuid() != 0) GTEST_SKIP() << "planting a link as another user takes root's rights";
  const CTempFolder victim;
  const std::string precious = victim.Path("profile");
  WriteText(precious, "precious\n");
  ASSERT_EQ(chmod(m_Folder.Path().c_str(), 01777), 0);  // shared, as a temporary folder is
  const std::string planted = Path("settings.sif");
  const std::string plantedFolder = Path("frames");
  ASSERT_EQ(AsOrdinaryUser([&] {
              return symlink(precious.c_str(), planted.c_str()) == 0 &&
                     symlink(victim.Path().c_str(), plantedFolder.c_str()) == 0;
            }),
            0);

  for (const std::string& path : {planted, plantedFolder + "/profile"}) {
    errno = 0;
    EXPECT_FALSE(ReplaceFile(path, {"new\n"})) << path;
    EXPECT_EQ(errno, EPLANTEDLINK) << path;
    errno = 0;
    EXPECT_LT(OpenSafely(path, O_WRONLY | O_TRUNC), 0) << path;
    EXPECT_EQ(errno, EPLANTEDLINK) << path;
  }
  EXPECT_EQ(ReadText(precious), "precious\n");
  struct stat st {};
  ASSERT_EQ(lstat(planted.c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode)) << "the planted link is left for its owner to remove";

  const std::string own = Path("own.sif");
  ASSERT_EQ(symlink(precious.c_str(), own.c_str()), 0);
  EXPECT_TRUE(ReplaceFile(own, {"chosen\n"}));
  EXPECT_EQ(ReadText(precious), "chosen\n");
}

TEST_F(ReplaceFileTest, ANameAsLongAsTheFileSystemAllowsStillSaves) {
  const std::string path = Path(std::string(251, 'n') + ".sif");
  ASSERT_EQ(path.size() - m_Folder.Path().size() - 1, 255u);
  WriteText(path, "old\n");
  const ino_t inode = Stat(path).st_ino;
  EXPECT_TRUE(ReplaceFile(path, {"new\n"})) << std::strerror(errno);
  EXPECT_EQ(ReadText(path), "new\n");
  EXPECT_NE(Stat(path).st_ino, inode) << "replaced by a new file, not rewritten in place";
}

TEST_F(ReplaceFileTest, AReplacedFileKeepsItsOwnerAndGroup) {
  if (geteuid() != 0) GTEST_SKIP() << "only root may hand a file to another owner";
  const std::string path = Path("owned.sif");
  WriteText(path, "old\n");
  ASSERT_EQ(chown(path.c_str(), NOBODY, NOBODY), 0);
  ASSERT_EQ(chmod(path.c_str(), 02664), 0);
  EXPECT_TRUE(ReplaceFile(path, {"new\n"}));
  const struct stat st = Stat(path);
  EXPECT_EQ(st.st_uid, NOBODY);
  EXPECT_EQ(st.st_gid, static_cast<gid_t>(NOBODY));
  EXPECT_EQ(st.st_mode & 07777, 02664u) << "the set-group-id bit survives the change of owner";
  EXPECT_EQ(ReadText(path), "new\n");
}

TEST_F(ReplaceFileTest, AFolderThatRefusesNewFilesGetsTheFileRewrittenInPlace) {
  const std::string path = Path("shared.sif");
  WriteText(path, "the old content, longer than the new\n");
  ASSERT_EQ(chmod(path.c_str(), 0666), 0);
  const ino_t inode = Stat(path).st_ino;
  ASSERT_EQ(chmod(m_Folder.Path().c_str(), 0555), 0);
  EXPECT_EQ(AsOrdinaryUser([&] { return ReplaceFile(path, {"new\n"}); }), 0);
  EXPECT_EQ(ReadText(path), "new\n");
  EXPECT_EQ(Stat(path).st_ino, inode);
}

TEST_F(ReplaceFileTest, AFailedRewriteInPlaceIsReported) {
  const std::string path = Path("shared.sif");
  WriteText(path, "old\n");
  ASSERT_EQ(chmod(path.c_str(), 0666), 0);
  ASSERT_EQ(chmod(m_Folder.Path().c_str(), 0555), 0);
  const std::string big(4096, 'x');
  EXPECT_EQ(AsOrdinaryUser([&] { return ReplaceFile(path, {big}); }, 1024), 1);
}

TEST_F(ReplaceFileTest, NothingWritableLeavesTheOldFileAndSaysWhy) {
  const std::string path = Path("locked.sif");
  WriteText(path, "old\n");
  ASSERT_EQ(chmod(path.c_str(), 0644), 0);
  ASSERT_EQ(chmod(m_Folder.Path().c_str(), 0555), 0);
  EXPECT_EQ(AsOrdinaryUser([&] { return !ReplaceFile(path, {"new\n"}) && errno == EACCES; }), 0);
  EXPECT_EQ(ReadText(path), "old\n");
}

TEST_F(ReplaceFileTest, AFullDiskLeavesTheOldFileWhole) {
  const std::string path = Path("full.sif");
  WriteText(path, "old\n");
  ASSERT_EQ(chmod(m_Folder.Path().c_str(), 0777), 0);
  ASSERT_EQ(chmod(path.c_str(), 0666), 0);
  const std::string big(8192, 'x');
  EXPECT_EQ(AsOrdinaryUser([&] { return !ReplaceFile(path, {big}) && errno == EFBIG; }, 4096), 0);
  EXPECT_EQ(ReadText(path), "old\n");
  EXPECT_EQ(Names(), std::vector<std::string>{"full.sif"}) << "the cut-short temporary file is removed";
}

TEST_F(ReplaceFileTest, TemporaryFilesOfKilledSavesGoAtTheNextSaveAndNoOneElses) {
  const pid_t gone = fork();
  if (gone == 0) _exit(0);
  waitpid(gone, nullptr, 0);  // a process id nobody has now
  auto temporary = [](pid_t pid, unsigned serial) {
    std::string name = ".sorrel-";
    name += savetest::Hex(static_cast<unsigned>(pid));
    name += '-';
    name += savetest::Hex(serial);
    return name + ".tmp";
  };
  const std::vector<std::string> stale = {temporary(gone, 0), temporary(gone, 0x1f)};
  const std::vector<std::string> kept = {temporary(getppid(), 0), ".sorrel-notes.tmp", std::string("x").append(temporary(gone, 1)),
                                         temporary(gone, 2) + ".bak"};
  for (const auto& name : stale) WriteText(Path(name), "half a sav");
  for (const auto& name : kept) WriteText(Path(name), "someone's");
  EXPECT_TRUE(ReplaceFile(Path("demo.sif"), {"new\n"}));
  std::vector<std::string> expected = kept;
  expected.push_back("demo.sif");
  std::vector<std::string> names = Names();
  std::sort(names.begin(), names.end());
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(names, expected);
}

}  // namespace
