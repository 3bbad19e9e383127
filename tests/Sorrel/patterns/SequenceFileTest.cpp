#include <climits>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

#include "PatternFixture.h"
#include "SequenceFile.h"

namespace {

class SequenceFileTest : public PatternTest {
 protected:
  // Reads a SIF holding text into m_App.m_ImageList.
  bool ReadSif(const std::string& text, const std::string& name = "seq.sif") {
    WriteText(File(name), text);
    return ReadSequenceFile(File(name), m_App.m_ImageList, m_State);
  }
  std::vector<std::pair<std::string, std::string>> Entries() const {
    std::vector<std::pair<std::string, std::string>> out;
    for (const auto& e : m_App.m_ImageList) out.emplace_back(e->PatternFile, e->LUTFile);
    return out;
  }
  void AddEntry(const std::string& pattern, const std::string& lut) {
    m_App.m_ImageList.push_back(std::make_unique<Image_Entry>(Image_Entry{pattern, lut, 1}));
  }
  std::vector<std::string> FolderNames() const {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(m_Folder.Path())) names.push_back(e.path().filename());
    std::sort(names.begin(), names.end());
    return names;
  }

  int m_State = 0;
};

using Entry = std::pair<std::string, std::string>;

TEST_F(SequenceFileTest, EntryLinesAndTheirSeparators) {
  ASSERT_TRUE(ReadSif("/a/p.bmp,/a/l.lut\n"
                      "/a/p.bmp , /a/l.lut,\n"
                      "/a/q.zrn,, ,/a/m.txt  trailing words\n"));
  EXPECT_EQ(m_State, 3);
  EXPECT_EQ(Entries(), (std::vector<Entry>{{"/a/p.bmp", "/a/l.lut"}, {"/a/p.bmp", "/a/l.lut"}, {"/a/q.zrn", "/a/m.txt"}}));
  EXPECT_TRUE(Messages().empty());
}

TEST_F(SequenceFileTest, LinesThatAreNotEntriesAreSkipped) {
  ASSERT_TRUE(ReadSif("/a/tab.bmp\t/a/tab.lut\n"       // tab only: one path
                      " /a/blank.bmp, /a/blank.lut\n"  // starts with a blank
                      ",/a/comma.bmp,/a/comma.lut\n"   // starts with a comma
                      "/a/single.bmp\n"                // one path
                      "\n"                             // empty
                      "// two slashes, /a/x.lut\n"     // comment
                      "/ comment, text\n"              // comment
                      "/Sequence for run, 3\n"         // comment
                      "/a/p.bmp, /a/l.lut\r\n"));      // an entry, ended the text-mode way
  EXPECT_EQ(Entries(), (std::vector<Entry>{{"/a/p.bmp", "/a/l.lut"}}));
}

TEST_F(SequenceFileTest, RelativePathsBecomeAbsoluteAgainstTheWorkingDirectory) {
  char cwd[PATH_MAX];
  ASSERT_NE(::getcwd(cwd, sizeof cwd), nullptr);
  ASSERT_TRUE(ReadSif("img/p.bmp, ../luts/l.lut\n/x/../y/p.bmp, /l.lut\n"));
  EXPECT_EQ(Entries(), (std::vector<Entry>{{std::string(cwd) + "/img/p.bmp", std::string(cwd) + "/../luts/l.lut"},
                                           {"/x/../y/p.bmp", "/l.lut"}}));
}

TEST_F(SequenceFileTest, PathsBeyondThePlatformLimitAreStoredEmpty) {
  // A working directory so deep that a relative path from it no longer fits PATH_MAX.
  char cwd[PATH_MAX];
  ASSERT_NE(::getcwd(cwd, sizeof cwd), nullptr);
  std::string deep = m_Folder.Path();
  const std::string pattern = std::string(276, 'p') + ".bmp";
  while (deep.size() + 1 + pattern.size() < PATH_MAX) {
    deep += "/" + std::string(200, 'd');
    ASSERT_EQ(::mkdir(deep.c_str(), 0700), 0);
  }
  WriteText(File("deep.sif"), pattern + ", short.lut\n");
  ASSERT_EQ(::chdir(deep.c_str()), 0);
  bool ok = ReadSequenceFile(File("deep.sif"), m_App.m_ImageList, m_State);
  ASSERT_EQ(::chdir(cwd), 0);
  ASSERT_TRUE(ok);
  EXPECT_EQ(Entries(), (std::vector<Entry>{{"", deep + "/short.lut"}}));
}

TEST_F(SequenceFileTest, FileNamesMustSayTheyAreSequences) {
  AddEntry("/old/p.bmp", "/old/l.lut");
  m_App.m_bSequenceModified = 1;
  WriteText(File("seq.Sif"), "/a/p.bmp, /a/l.lut\n");
  EXPECT_FALSE(ReadSequenceFile(File("seq.Sif"), m_App.m_ImageList, m_State));
  EXPECT_EQ(m_State, 2);
  EXPECT_FALSE(ReadSequenceFile(File("missing.sif"), m_App.m_ImageList, m_State));
  EXPECT_EQ(m_State, 2);
  std::filesystem::create_directory(File("folder.sif"));
  EXPECT_FALSE(ReadSequenceFile(File("folder.sif"), m_App.m_ImageList, m_State));
  EXPECT_EQ(m_State, 2);
  EXPECT_EQ(Entries(), (std::vector<Entry>{{"/old/p.bmp", "/old/l.lut"}}));
  EXPECT_EQ(m_App.m_bSequenceModified, 1);
  EXPECT_TRUE(Messages().empty());

  ASSERT_TRUE(ReadSif("/a/p.bmp, /a/l.lut\n", "seq.SIF.bak"));
  EXPECT_EQ(m_State, 3);
  EXPECT_EQ(m_App.m_bSequenceModified, 0);
  EXPECT_EQ(Entries(), (std::vector<Entry>{{"/a/p.bmp", "/a/l.lut"}}));
}

TEST_F(SequenceFileTest, AFileWithoutEntriesEmptiesTheList) {
  AddEntry("/old/p.bmp", "/old/l.lut");
  ASSERT_TRUE(ReadSif("// only\n/ comments\n\n"));
  EXPECT_EQ(m_State, 3);
  EXPECT_TRUE(m_App.m_ImageList.empty());
  ASSERT_EQ(Messages().size(), 1u);
  EXPECT_EQ(Messages()[0].text, "Empty SIF");
  EXPECT_EQ(Messages()[0].caption, ApplicationTitle());

  ASSERT_TRUE(ReadSif(""));
  EXPECT_EQ(Messages().size(), 2u);
}

// Lines may hold two paths of the platform's longest length; a longer line is skipped and
// the entries after it still count.
TEST_F(SequenceFileTest, OverLongLinesAreSkippedAndTheRestIsRead) {
  const std::string longest = "/" + std::string(PATH_MAX - 2, 'a');
  const std::string atLimit = longest + ", " + longest;
  ASSERT_EQ(atLimit.size(), kMaxSequenceLine);
  ASSERT_TRUE(ReadSif("/first.bmp, /first.lut\n" + atLimit + "x\n" + atLimit + "\r\n/last.bmp, /last.lut"));
  EXPECT_EQ(Entries(), (std::vector<Entry>{{"/first.bmp", "/first.lut"}, {longest, longest}, {"/last.bmp", "/last.lut"}}));
}

TEST_F(SequenceFileTest, WrittenFilesReadBackTheSame) {
  // Two long paths make a line far beyond the old 299-character limit.
  const std::string deep = m_Folder.Path() + "/" + std::string(200, 'f') + "/" + std::string(200, 'g');
  AddEntry(deep + "/long-pattern.bmp", deep + "/long-table.lut");
  AddEntry(File("p1.bmp"), File("l1.lut"));
  AddEntry(File("phase.zrn"), File("l2.txt"));
  AddEntry(File("p1.bmp"), File("l1.lut"));
  ASSERT_TRUE(WriteSequenceFile(File("out.sif"), m_App.m_ImageList));
  EXPECT_EQ(ReadText(File("out.sif")), deep + "/long-pattern.bmp, " + deep + "/long-table.lut\n" + File("p1.bmp") +
                                           ", " + File("l1.lut") + "\n" + File("phase.zrn") + ", " + File("l2.txt") +
                                           "\n" + File("p1.bmp") + ", " + File("l1.lut") + "\n");
  auto written = Entries();
  ClearImageList(m_App.m_ImageList);
  ASSERT_TRUE(ReadSequenceFile(File("out.sif"), m_App.m_ImageList, m_State));
  EXPECT_EQ(Entries(), written);
  EXPECT_EQ(FolderNames(), (std::vector<std::string>{"out.sif"}));
  EXPECT_TRUE(Messages().empty());
}

TEST_F(SequenceFileTest, RewritingKeepsTheFileModeAndWritesThroughLinks) {
  WriteText(File("old.sif"), "old contents\n");
  ASSERT_EQ(::chmod(File("old.sif").c_str(), 0640), 0);
  ASSERT_EQ(::symlink(File("old.sif").c_str(), File("link.sif").c_str()), 0);
  AddEntry("/a/p.bmp", "/a/l.lut");
  ASSERT_TRUE(WriteSequenceFile(File("link.sif"), m_App.m_ImageList));
  EXPECT_TRUE(std::filesystem::is_symlink(File("link.sif")));
  EXPECT_EQ(ReadText(File("old.sif")), "/a/p.bmp, /a/l.lut\n");
  struct stat st;
  ASSERT_EQ(::stat(File("old.sif").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  EXPECT_EQ(FolderNames(), (std::vector<std::string>{"link.sif", "old.sif"}));
}

TEST_F(SequenceFileTest, AFailedWriteLeavesTheOldFileAndSaysSo) {
  AddEntry("/a/p.bmp", "/a/l.lut");
  // The target is a folder: nothing may replace it.
  std::filesystem::create_directory(File("taken.sif"));
  WriteText(File("taken.sif/inside"), "keep");
  // A name so long that no file beside it can be created.
  const std::string longName = std::string(250, 'n') + ".sif";
  WriteText(File(longName), "old contents\n");
  const std::vector<std::string> targets = {File("taken.sif"), File(longName), File("no/such/folder/x.sif")};
  for (const std::string& target : targets) {
    m_Host.ClearMessages();
    EXPECT_FALSE(WriteSequenceFile(target, m_App.m_ImageList)) << target;
    ASSERT_EQ(Messages().size(), 1u) << target;
    EXPECT_EQ(Messages()[0].text, "Can't create File " + target);
    EXPECT_EQ(Messages()[0].caption, "FILE ERROR");
    EXPECT_EQ(Messages()[0].icon, MessageIcon::Error);
  }
  EXPECT_EQ(ReadText(File("taken.sif/inside")), "keep");
  EXPECT_EQ(ReadText(File(longName)), "old contents\n");
  EXPECT_EQ(FolderNames(), (std::vector<std::string>{longName, "taken.sif"}));
}

}  // namespace
