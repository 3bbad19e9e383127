#include <array>
#include <climits>
#include <cstdio>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

#include "Child.h"
#include "File.h"
#include "PatternFixture.h"
#include "ReadFailure.h"
#include "SaveTrials.h"
#include "SequenceFile.h"

namespace {

class SequenceFileTest : public PatternTest {
 protected:
  // Reads a SIF holding text into m_List.
  bool ReadSif(const std::string& text, const std::string& name = "seq.sif") {
    WriteText(File(name), text);
    return ReadSequenceEntries(File(name), m_List, m_State);
  }
  std::vector<std::pair<std::string, std::string>> Entries() const {
    std::vector<std::pair<std::string, std::string>> out;
    for (const auto& e : m_List) out.emplace_back(e->PatternFile, e->LUTFile);
    return out;
  }
  void AddEntry(const std::string& pattern, const std::string& lut) {
    m_List.push_back(std::make_unique<Image_Entry>(Image_Entry{pattern, lut, 1}));
  }
  std::vector<std::string> FolderNames() const {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(m_Folder.Path())) names.push_back(e.path().filename());
    std::sort(names.begin(), names.end());
    return names;
  }

  ImageList m_List;
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
  bool ok = ReadSequenceEntries(File("deep.sif"), m_List, m_State);
  ASSERT_EQ(::chdir(cwd), 0);
  ASSERT_TRUE(ok);
  EXPECT_EQ(Entries(), (std::vector<Entry>{{"", deep + "/short.lut"}}));
}

TEST_F(SequenceFileTest, FileNamesMustSayTheyAreSequences) {
  AddEntry("/old/p.bmp", "/old/l.lut");
  WriteText(File("seq.Sif"), "/a/p.bmp, /a/l.lut\n");
  EXPECT_FALSE(ReadSequenceEntries(File("seq.Sif"), m_List, m_State));
  EXPECT_EQ(m_State, 2);
  EXPECT_FALSE(ReadSequenceEntries(File("missing.sif"), m_List, m_State));
  EXPECT_EQ(m_State, 2);
  std::filesystem::create_directory(File("folder.sif"));
  EXPECT_FALSE(ReadSequenceEntries(File("folder.sif"), m_List, m_State));
  EXPECT_EQ(m_State, 2);
  EXPECT_EQ(Entries(), (std::vector<Entry>{{"/old/p.bmp", "/old/l.lut"}}));
  EXPECT_TRUE(Messages().empty());

  ASSERT_TRUE(ReadSif("/a/p.bmp, /a/l.lut\n", "seq.SIF.bak"));
  EXPECT_EQ(m_State, 3);
  EXPECT_EQ(Entries(), (std::vector<Entry>{{"/a/p.bmp", "/a/l.lut"}}));
}

// A file the disk fails to deliver to its end is no sequence: the entries read before the
// error are dropped and the old list stays.
TEST_F(SequenceFileTest, AReadErrorHalfWayLeavesTheOldList) {
  std::string text;
  for (int i = 0; text.size() <= 2 * CTextReader::BUFFER_BYTES; ++i)
    text += "/img/p" + std::to_string(i) + ".bmp, /luts/l" + std::to_string(i) + ".lut\n";
  WriteText(File("long.sif"), text);
  AddEntry("/old/p.bmp", "/old/l.lut");
  {
    CFailingReads failing(File("long.sif"), 2);
    m_State = 3;
    EXPECT_FALSE(ReadSequenceEntries(File("long.sif"), m_List, m_State));
    EXPECT_EQ(failing.Reads(), 2) << "the file must be read past its first buffer";
  }
  EXPECT_EQ(m_State, 2);
  EXPECT_EQ(Entries(), (std::vector<Entry>{{"/old/p.bmp", "/old/l.lut"}}));
  EXPECT_TRUE(Messages().empty());
  // The same file read without the error is a sequence of many entries.
  ASSERT_TRUE(ReadSequenceEntries(File("long.sif"), m_List, m_State));
  EXPECT_GT(m_List.size(), 1000u);
}

TEST_F(SequenceFileTest, AFileWithoutEntriesEmptiesTheList) {
  AddEntry("/old/p.bmp", "/old/l.lut");
  ASSERT_TRUE(ReadSif("// only\n/ comments\n\n"));
  EXPECT_EQ(m_State, 3);
  EXPECT_TRUE(m_List.empty());
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
  ASSERT_EQ(atLimit.size(), MAX_SEQUENCE_LINE);
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
  ASSERT_TRUE(WriteSequenceFile(File("out.sif"), m_List));
  EXPECT_EQ(ReadText(File("out.sif")), deep + "/long-pattern.bmp, " + deep + "/long-table.lut\n" + File("p1.bmp") +
                                           ", " + File("l1.lut") + "\n" + File("phase.zrn") + ", " + File("l2.txt") +
                                           "\n" + File("p1.bmp") + ", " + File("l1.lut") + "\n");
  auto written = Entries();
  ClearImageList(m_List);
  ASSERT_TRUE(ReadSequenceEntries(File("out.sif"), m_List, m_State));
  EXPECT_EQ(Entries(), written);
  EXPECT_EQ(FolderNames(), (std::vector<std::string>{"out.sif"}));
  EXPECT_TRUE(Messages().empty());
}

TEST_F(SequenceFileTest, RewritingKeepsTheFileModeAndWritesThroughLinks) {
  WriteText(File("old.sif"), "old contents\n");
  ASSERT_EQ(::chmod(File("old.sif").c_str(), 0640), 0);
  ASSERT_EQ(::symlink(File("old.sif").c_str(), File("link.sif").c_str()), 0);
  AddEntry("/a/p.bmp", "/a/l.lut");
  ASSERT_TRUE(WriteSequenceFile(File("link.sif"), m_List));
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
  for (const std::string& target : {File("taken.sif"), File("no/such/folder/x.sif")}) {
    m_Host.ClearMessages();
    EXPECT_FALSE(WriteSequenceFile(target, m_List)) << target;
    ASSERT_EQ(Messages().size(), 1u) << target;
    EXPECT_EQ(Messages()[0].text, "Can't create File " + target);
    EXPECT_EQ(Messages()[0].caption, "FILE ERROR");
    EXPECT_EQ(Messages()[0].icon, MessageIcon::Error);
  }
  EXPECT_EQ(ReadText(File("taken.sif/inside")), "keep");
  EXPECT_EQ(FolderNames(), (std::vector<std::string>{"taken.sif"}));
}

// A name as long as the file system allows leaves no room for a longer temporary name
// beside it; the file is still replaced whole.
TEST_F(SequenceFileTest, FilesWithTheLongestNamesAreReplaced) {
  AddEntry("/a/p.bmp", "/a/l.lut");
  const std::string longName = std::string(251, 'n') + ".sif";
  WriteText(File(longName), "old contents\n");
  EXPECT_TRUE(WriteSequenceFile(File(longName), m_List));
  EXPECT_EQ(ReadText(File(longName)), "/a/p.bmp, /a/l.lut\n");
  EXPECT_EQ(FolderNames(), (std::vector<std::string>{longName}));
  EXPECT_TRUE(Messages().empty());
}

// Two long sequences for the saves below: a few thousand entries with long paths.
std::array<ImageList, 2> TwoLongSequences() {
  std::array<ImageList, 2> lists;
  for (size_t which = 0; which < 2; ++which) {
    std::string folder = "/data/";
    folder.append(120, which == 0 ? 'a' : 'b');
    for (int i = 0; i < 4000; ++i) {
      auto entry = std::make_unique<Image_Entry>();
      entry->PatternFile = folder;
      entry->PatternFile.append("/pattern-").append(std::to_string(i)).append(".bmp");
      entry->LUTFile = folder;
      entry->LUTFile.append("/table-").append(std::to_string(i % 7)).append(".lut");
      lists[which].push_back(std::move(entry));
    }
  }
  return lists;
}

TEST_F(SequenceFileTest, SavesKilledAtRandomMomentsLeaveTheOldFileOrTheNewNeverAMix) {
  const std::array<ImageList, 2> lists = TwoLongSequences();
  const savetest::CTrialFolder trials;
  const std::string path = trials.Path() + "/long.sif";
  std::array<std::string, 2> contents;
  for (size_t which = 0; which < 2; ++which) {
    ASSERT_TRUE(WriteSequenceFile(path, lists[which]));
    contents[which] = ReadText(path);
  }
  ASSERT_NE(contents[0], contents[1]);
  ASSERT_GT(contents[0].size(), 1000000u);

  const savetest::KillOutcome outcome = savetest::KillDuringSaves(
      trials.Path(), "long.sif", contents,
      [&](int which) { WriteSequenceFile(path, lists[static_cast<size_t>(which)]); }, 1000, 20240612);
  savetest::ExpectOldOrNew(outcome, "sequence", 1000);
  ASSERT_TRUE(WriteSequenceFile(path, lists[0]));
  EXPECT_TRUE(savetest::OtherNames(trials.Path(), "long.sif").empty());
}

TEST_F(SequenceFileTest, AFullDiskLeavesTheOldFileAndSaysSo) {
  const std::array<ImageList, 2> lists = TwoLongSequences();
  ASSERT_TRUE(WriteSequenceFile(File("long.sif"), lists[0]));
  const std::string before = ReadText(File("long.sif"));
  const std::string target = File("long.sif");
  const int status = InChild([&] {
    if (!LimitFileSize(static_cast<rlim_t>(before.size() / 2))) return 2;
    const bool written = WriteSequenceFile(target, lists[1]);
    const auto& shown = m_Host.Messages();
    const bool said = shown.size() == 1 && shown[0].text == "Can't create File " + target &&
                      shown[0].caption == "FILE ERROR" && shown[0].icon == MessageIcon::Error;
    return !written && said ? 0 : 1;
  });
  EXPECT_EQ(status, 0) << "the save fails with its message";
  EXPECT_EQ(ReadText(File("long.sif")), before);
  EXPECT_EQ(FolderNames(), std::vector<std::string>{"long.sif"}) << "the cut-short temporary file is removed";
}

}  // namespace
