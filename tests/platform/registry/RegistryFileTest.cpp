// The store's file: what a save writes, what survives, and what a hand-edited file reads as.
#include <sys/stat.h>

#include <csignal>

#include "RegStore.h"
#include "RegistryFixture.h"

namespace {

using namespace std::string_literals;
using RegistryFileTest = RegistryFixture;

const Values PROGRAM_VALUES = {
    {"LaserDuty", Sz("50")},
    {"FrameRate", Sz("100")},
    {"LaserAGain", Sz("255")},
    {"LaserBGain", Sz("0")},
    {"LC_Type", Sz("1")},
    {"TrueFrames", Sz("12")},
    {"BoardType", Sz("Kite_SLM")},
    {"SequenceFile", Sz("/data/Sequence_Files/a\\b \"quoted\".sif")},
    {"PhaseCompFileName", Sz("/data/Image_Files/slm comp.bmp")},
    {"SysPhaseCompFileName", Sz("")},
    {"ApplyCorrection", Sz("1")},
    {"HideComp", Sz("0")},
};

TEST_F(RegistryFileTest, ASaveWritesTheExportFormatWithEscapedQuotesAndBackslashes) {
  ASSERT_EQ(Save(PROGRAM_VALUES), ERROR_SUCCESS);
  const std::string expected = std::string("REGEDIT4\n\n") + SORREL_SECTION +
                               "\n"
                               "\"LaserDuty\"=\"50\"\n"
                               "\"FrameRate\"=\"100\"\n"
                               "\"LaserAGain\"=\"255\"\n"
                               "\"LaserBGain\"=\"0\"\n"
                               "\"LC_Type\"=\"1\"\n"
                               "\"TrueFrames\"=\"12\"\n"
                               "\"BoardType\"=\"Kite_SLM\"\n"
                               "\"SequenceFile\"=\"/data/Sequence_Files/a\\\\b \\\"quoted\\\".sif\"\n"
                               "\"PhaseCompFileName\"=\"/data/Image_Files/slm comp.bmp\"\n"
                               "\"SysPhaseCompFileName\"=\"\"\n"
                               "\"ApplyCorrection\"=\"1\"\n"
                               "\"HideComp\"=\"0\"\n"
                               "\n";
  EXPECT_EQ(ReadText(StorePath()), expected);

  Values again = PROGRAM_VALUES;
  again[1].second = Sz("30");
  ASSERT_EQ(Save(again), ERROR_SUCCESS);
  std::string changed = expected;
  changed.replace(changed.find("\"FrameRate\"=\"100\""), 17, "\"FrameRate\"=\"30\"");
  EXPECT_EQ(ReadText(StorePath()), changed) << "every value keeps its line";
}

TEST_F(RegistryFileTest, TextValuesSurviveManySavesAndLoadsByteForByte) {
  const Values values = {
      {"Spaces", Sz("  two  spaces  ")},
      {"Quotes", Sz("say \"hi\" \"")},
      {"Backslashes", Sz("\\\\server\\share\\")},
      {"NonAscii", Sz("caf\xC3\xA9 \xFF\x80\x01\t")},
      {"NoNul", "no terminator \xE9"},
      {"Lines", Sz("one\ntwo")},
      {"Inner", Sz(std::string("line one\nline\0two\r\n", 19))},
      {"Empty", Sz("")},
      {"Nothing", ""},
  };
  ASSERT_EQ(Save(values), ERROR_SUCCESS);
  for (int cycle = 0; cycle < 40; ++cycle) {
    Values loaded;
    for (const auto& [name, bytes] : values) loaded.emplace_back(name, Load(name).value_or("<missing>"));
    ASSERT_EQ(Save(loaded), ERROR_SUCCESS);
  }
  for (const auto& [name, bytes] : values) EXPECT_EQ(Load(name), bytes) << name;

  const std::string text = ReadText(StorePath());
  EXPECT_NE(text.find("\n\"NonAscii\"=\"caf\xC3\xA9 \xFF\x80\x01\t\"\n"), std::string::npos) << "bytes as they are";
  EXPECT_NE(text.find("\n\"NoNul\"=hex(1):6e,6f,20,74,65,72,6d,69,6e,61,74,6f,72,20,e9\n"), std::string::npos);
  EXPECT_NE(text.find("\n\"Lines\"=hex(1):6f,6e,65,0a,74,77,6f,00\n"), std::string::npos);
  EXPECT_NE(text.find("\n\"Inner\"=hex(1):6c,69,6e,65,20,6f,6e,65,0a,6c,69,6e,65,00,74,77,6f,0d,0a,00\n"),
            std::string::npos);
  EXPECT_NE(text.find("\n\"Nothing\"=hex(1):\n"), std::string::npos);
}

TEST_F(RegistryFileTest, ValuesAndKeysTheProgramDoesNotKnowAreKeptAsTheyWere) {
  const std::string before = "REGEDIT4\n\n; Sorrel settings, edited by hand\n";
  const std::string licence = "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Orvane Radara]\n\"Licence\"=\"site\"\n\n";
  const std::string calibration =
      "\"Calibration\"=hex:00,01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,12,13,\\\n"
      "  14,15,16\n";
  const std::string other =
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Other Vendor\\Tool]\n"
      "\"Path\" = \"C:\\Tools\"\n"
      "\"Wrapped\"=HEX:01,02,\\\n"
      "      03\n"
      "\n"
      "  an odd line\n"
      "@=dword:0000002A\n\n";
  WriteText(StorePath(), before + licence + SORREL_SECTION +
                         "\n"
                         "\"FrameRate\"=\"20\"\n"
                         "; the operator's note\n"
                         "\"Operator\"=\"Ann \\\"A\\\" Smith\"\n" +
                         calibration +
                         "\"Counter\"=dword:0000002a\n"
                         "\"Expand\"=hex(2):25,00\n"
                         "\n" +
                         other);

  ASSERT_EQ(Save({{"FrameRate", Sz("30")}, {"LaserDuty", Sz("50")}}), ERROR_SUCCESS);
  EXPECT_EQ(ReadText(StorePath()), before + licence + SORREL_SECTION +
                                      "\n"
                                      "\"FrameRate\"=\"30\"\n"
                                      "; the operator's note\n"
                                      "\"Operator\"=\"Ann \\\"A\\\" Smith\"\n" +
                                      calibration +
                                      "\"Counter\"=dword:0000002a\n"
                                      "\"Expand\"=hex(2):25,00\n"
                                      "\"LaserDuty\"=\"50\"\n"
                                      "\n" +
                                      other);

  EXPECT_EQ(Load("Operator"), Sz("Ann \"A\" Smith"));
  EXPECT_EQ(Load("Calibration"), std::string("\x00\x01\x02\x03\x04\x05\x06\x07\x08\x09\x0a\x0b\x0c\x0d\x0e\x0f"
                                             "\x10\x11\x12\x13\x14\x15\x16",
                                             23));
  const char* tool = "SOFTWARE\\Other Vendor\\Tool";
  EXPECT_EQ(Load("Path", tool), Sz("C:\\Tools")) << "a lone backslash is itself";
  EXPECT_EQ(Load("Wrapped", tool), std::string("\x01\x02\x03"));
  EXPECT_EQ(Load("", tool), std::string("\x2a\0\0\0", 4));
  EXPECT_EQ(Load("Licence", "SOFTWARE\\Orvane Radara"), Sz("site"));
}

TEST_F(RegistryFileTest, AHandDamagedFileIsReadAsFarAsItMakesSenseAndTheNextSaveIsClean) {
  WriteText(StorePath(), "REGEDIT4\n\n"
                                 "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Orvane Radara\\Sorrel\n"
                                 "\"LaserDuty\"=\"40\n"
                                 "\"FrameRate\"=hex(1):32,35,00\n"
                                 "\"LaserAGain\"=hex(1):3z,00\n"
                                 "\"LaserBGain\"=hex(1):31,\n"
                                 "\"TrueFrames\"=dword:123456789\n"
                                 "\x01\xfe\xff garbage \0 bytes\n"
                                 "\"LC_Type\"=\"1\"\n"
                                 "= \"BoardType\"\n"
                                 "  \"SequenceFile\"  =  \"/data/run 1.sif\"   \n"
                                 "\"HideComp\n"
                                 "@@@\n"
                                 "\"ApplyCorrection\"=\"1\"x\n"
                                 "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Elsewhere] trailing\n"
                                 "\"Kept\"=\"as it was\"\n"s);
  EXPECT_EQ(Load("FrameRate"), Sz("25"));
  EXPECT_EQ(Load("LC_Type"), Sz("1"));
  EXPECT_EQ(Load("SequenceFile"), Sz("/data/run 1.sif"));
  for (const char* name : {"LaserDuty", "LaserAGain", "LaserBGain", "TrueFrames", "BoardType", "HideComp",
                           "ApplyCorrection"})
    EXPECT_EQ(Load(name), std::nullopt) << name;
  EXPECT_EQ(Load("Kept", "SOFTWARE\\Elsewhere"), std::nullopt) << "a header with text after it names no key";

  ASSERT_EQ(Save({{"LaserDuty", Sz("50")}}), ERROR_SUCCESS);
  EXPECT_EQ(ReadText(StorePath()), std::string("REGEDIT4\n\n") + SORREL_SECTION +
                                      "\n"
                                      "\"FrameRate\"=\"25\"\n"
                                      "\"LC_Type\"=\"1\"\n"
                                      "\"SequenceFile\"=\"/data/run 1.sif\"\n"
                                      "\"LaserDuty\"=\"50\"\n"
                                      "\n"
                                      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Elsewhere] trailing\n"
                                      "\"Kept\"=\"as it was\"\n"
                                      "\n");
}

TEST_F(RegistryFileTest, CrLfLineEndsAndAByteOrderMarkAreReadAndSavedAsPlainLines) {
  WriteText(StorePath(), std::string("\xEF\xBB\xBFREGEDIT4\r\n\r\n") + SORREL_SECTION +
                         "\r\n\"FrameRate\"=\"25\"\r\n\"Calibration\"=hex:01,\\\r\n  02\r\n\r\n"
                         "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Other]\r\n\"Name\"=\"x\"\r\n");
  EXPECT_EQ(Load("FrameRate"), Sz("25"));
  EXPECT_EQ(Load("Calibration"), std::string("\x01\x02"));

  ASSERT_EQ(Save({{"LaserDuty", Sz("50")}}), ERROR_SUCCESS);
  EXPECT_EQ(ReadText(StorePath()), std::string("REGEDIT4\n\n") + SORREL_SECTION +
                                      "\n\"FrameRate\"=\"25\"\n\"Calibration\"=hex:01,02\n\"LaserDuty\"=\"50\"\n\n"
                                      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Other]\n\"Name\"=\"x\"\n\n");
}

TEST_F(RegistryFileTest, APipeAFolderOrAnOversizedFileInThePlaceOfTheStoreReadsAsEmptyAndIsNotSavedOver) {
  const std::string sorrel = std::string("REGEDIT4\n\n") + SORREL_SECTION + "\n\"FrameRate\"=\"25\"\n";
  const auto check = [&](const char* what, const std::function<bool()>& unchanged) {
    // In a child with an alarm, so that a read that hangs fails the test instead.
    const int status = InChild([] {
      alarm(10);
      if (Load("FrameRate").has_value()) return 1;
      return Save({{"FrameRate", Sz("30")}}) == ERROR_REGISTRY_IO_FAILED ? 0 : 2;
    });
    EXPECT_EQ(status, 0) << what;
    EXPECT_TRUE(unchanged()) << what;
  };

  ASSERT_EQ(mkfifo(StorePath().c_str(), 0644), 0);
  check("pipe", [&] {
    struct stat st {};
    return stat(StorePath().c_str(), &st) == 0 && S_ISFIFO(st.st_mode);
  });
  ASSERT_EQ(unlink(StorePath().c_str()), 0);

  ASSERT_EQ(mkdir(StorePath().c_str(), 0755), 0);
  check("folder", [&] {
    struct stat st {};
    return stat(StorePath().c_str(), &st) == 0 && S_ISDIR(st.st_mode);
  });
  ASSERT_EQ(rmdir(StorePath().c_str()), 0);

  WriteText(StorePath(), sorrel);
  ASSERT_EQ(truncate(StorePath().c_str(), MAX_STORE_SIZE + 1), 0);
  check("oversized file", [&] {
    struct stat st {};
    return stat(StorePath().c_str(), &st) == 0 && st.st_size == static_cast<off_t>(MAX_STORE_SIZE + 1) &&
           ReadText(StorePath()).starts_with(sorrel);
  });
  ASSERT_EQ(truncate(StorePath().c_str(), MAX_STORE_SIZE), 0);
  EXPECT_EQ(Load("FrameRate"), Sz("25")) << "a file of the largest size is still read";
}

TEST_F(RegistryFileTest, SorrelRegistryNamesTheFolderWhichASaveMakesWhenMissing) {
  ASSERT_EQ(Save({{"FrameRate", Sz("25")}}), ERROR_SUCCESS);
  const std::string first = ReadText(StorePath());

  const std::string other = m_Folder + "/other/store";
  setenv("SORREL_REGISTRY", other.c_str(), 1);
  EXPECT_EQ(Load("FrameRate"), std::nullopt);
  const mode_t umaskWas = umask(022);
  EXPECT_EQ(Save({{"FrameRate", Sz("30")}}), ERROR_SUCCESS);
  umask(umaskWas);
  struct stat st {};
  ASSERT_EQ(stat(other.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0775u);
  EXPECT_EQ(Load("FrameRate"), Sz("30"));
  EXPECT_EQ(ReadText(other + "/sorrel.reg"), std::string("REGEDIT4\n\n") + SORREL_SECTION + "\n\"FrameRate\"=\"30\"\n\n");
  EXPECT_EQ(ReadText(StorePath()), first);

  unsetenv("SORREL_REGISTRY");
  EXPECT_EQ(StoreFilePath(), "/var/lib/sorrel/sorrel.reg");
}

}  // namespace
