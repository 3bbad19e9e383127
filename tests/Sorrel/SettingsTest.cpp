// The settings a run of the program loads from the store and saves back to it, seen
// through the store's file: the rules applied on loading, the messages, the compensation
// controls, and texts that survive any number of runs byte for byte.

#include <sys/stat.h>

#include "ProgramFixture.h"
#include "registry/Registry.h"

using namespace progtest;

namespace {

using SettingsTest = ProgramTest;

// What one stored value loads as, seen in what the next save writes.
struct NumberRule {
  const char* name;
  const char* stored;
  const char* saved;
};

TEST_F(SettingsTest, NumbersAreHeldToTheirRulesAndSavedBackAsLoaded) {
  const NumberRule rules[] = {
      {"FrameRate", "0", "1"},        {"FrameRate", "1000", "1000"}, {"FrameRate", "1001", "1"},
      {"FrameRate", "-1", "1"},       {"FrameRate", "12abc", "12"},  {"FrameRate", "abc", "1"},
      {"FrameRate", "  +250", "250"}, {"FrameRate", "65536", "1"},   {"LaserDuty", "101", "50"},
      {"LaserDuty", "100", "100"},    {"LaserAGain", "256", "255"},  {"LaserBGain", "256", "0"},
      {"LaserBGain", "255", "255"},   {"TrueFrames", "2", "3"},      {"TrueFrames", "32768", "32767"},
      {"TrueFrames", "65536", "3"},   {"TrueFrames", "65539", "3"},  {"ApplyCorrection", "7", "1"},
      {"HideComp", "-3", "1"},        {"HideComp", "0", "0"},        {"BoardService", "5", "1"},
      {"BoardService", "0", "0"},
  };
  for (const NumberRule& rule : rules) {
    SCOPED_TRACE(std::string(rule.name) + "=" + rule.stored);
    // Amplitude mode, so laser B keeps a value of its own.
    StandardWork({{"LC_Type", "0"}, {rule.name, rule.stored}});
    ASSERT_EQ(Start(), std::nullopt);
    Close();
    EXPECT_EQ(StoredValue(rule.name), rule.saved);
    EXPECT_TRUE(m_Host->Messages().empty());
    m_Host->ClearMessages();
  }
}

TEST_F(SettingsTest, MissingNumbersReadAsZeroAndTakeTheirRules) {
  StandardWork();
  WriteText(StoreFile(), "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Orvane Radara\\Sorrel]\n\"BoardType\"=\"Wren_SLM\"\n\n");
  ASSERT_EQ(Start(), std::nullopt);
  Close();
  EXPECT_EQ(StoredValue("FrameRate"), "1");
  EXPECT_EQ(StoredValue("TrueFrames"), "3");
  EXPECT_EQ(StoredValue("LC_Type"), "0");
  EXPECT_EQ(StoredValue("BoardType"), "Kite_SLM") << "the model found is what is saved";
  EXPECT_EQ(StoredValue("SequenceFile"), "");
}

TEST_F(SettingsTest, AnUnknownModulatorTypeBecomesPhaseWithItsMessageAndShowsCompensation) {
  StandardWork({{"LC_Type", "2"}, {"HideComp", "0"}});
  ASSERT_EQ(Start(), std::nullopt);
  ASSERT_EQ(MessageTexts(), std::vector<std::string>{"Error reading modulator type from registry, defaulted to Phase"});
  EXPECT_EQ(m_Host->Messages()[0].caption, "ERROR");
  EXPECT_EQ(m_Host->Messages()[0].icon, MessageIcon::Stop);
  EXPECT_EQ(m_Host->Messages()[0].ownerTemplateId, IDD_SORREL_DIALOG);
  for (int id : {IDC_APPLY_CORRECTION, IDC_SLM_COMP_CAPTION, IDC_SLM_COMP_NAME, IDC_SYS_COMP_CAPTION,
                 IDC_SYS_COMP_NAME, IDC_BROWSE_SLM_COMP, IDC_BROWSE_SYS_COMP}) {
    EXPECT_TRUE(Dlg().IsDlgItemVisible(id)) << id;
  }
  EXPECT_EQ(Dlg().GetDlgItemText(IDC_SLM_COMP_CAPTION), "SLM Phase Optimization");
  EXPECT_EQ(Dlg().GetDlgItemText(IDC_SYS_COMP_CAPTION), "System Phase Optimization");
  Close();
  EXPECT_EQ(StoredValue("LC_Type"), "1");
}

TEST_F(SettingsTest, AmplitudeHidesTheCompensationControlsWhateverHideCompSays) {
  StandardWork({{"LC_Type", "0"}, {"HideComp", "0"}});
  ASSERT_EQ(Start(), std::nullopt);
  for (int id : {IDC_APPLY_CORRECTION, IDC_SLM_COMP_NAME, IDC_BROWSE_SYS_COMP}) {
    EXPECT_FALSE(Dlg().IsDlgItemVisible(id)) << id;
  }
  Close();
  StandardWork({{"LC_Type", "1"}, {"HideComp", "1"}});
  ASSERT_EQ(Start(), std::nullopt);
  EXPECT_FALSE(Dlg().IsDlgItemVisible(IDC_BROWSE_SLM_COMP));
}

TEST_F(SettingsTest, ABoardTypeInOtherLetterCaseTakesTheDefaultAfterBothMessagesInOrder) {
  StandardWork({{"BoardType", "kite_slm"}, {"LC_Type", "9"}});
  ASSERT_EQ(Start(), std::nullopt);
  EXPECT_EQ(MessageTexts(), (std::vector<std::string>{"Error reading modulator type from registry, defaulted to Phase",
                                                       "Error reading Board Type from registry, defaulted to Kite_SLM"}));
  EXPECT_EQ(m_Host->Messages()[1].icon, MessageIcon::Stop);
  Close();
  EXPECT_EQ(StoredValue("BoardType"), "Kite_SLM");
}

TEST_F(SettingsTest, TextsSurviveManyRunsByteForByte) {
  const std::string awkward = Work("odd \"name\" with \\ back\\slashes and \xE9\xFC\xFF bytes.bmp");
  const std::string sequence = Work("Sequence_Files/a b \"c\".sif");
  StandardWork({{"PhaseCompFileName", awkward}, {"SysPhaseCompFileName", "relative\\odd.zrn"}, {"SequenceFile", sequence}});
  for (int run = 0; run < 3; ++run) {
    ASSERT_EQ(Start(), std::nullopt);
    EXPECT_EQ(Dlg().GetDlgItemText(IDC_SLM_COMP_NAME), "odd \"name\" with \\ back\\slashes and \xE9\xFC\xFF bytes.bmp");
    EXPECT_EQ(Dlg().GetDlgItemText(IDC_SYS_COMP_NAME), "relative\\odd.zrn");
    Close();
    EXPECT_EQ(StoredValue("PhaseCompFileName"), awkward);
    EXPECT_EQ(StoredValue("SysPhaseCompFileName"), "relative\\odd.zrn");
    EXPECT_EQ(StoredValue("SequenceFile"), sequence);
    m_Host->ClearMessages();
  }
}

TEST_F(SettingsTest, ACompensationPathWithFoldersShowsOnlyItsNameAndExtension) {
  WritePattern("Image_Files/slm.bmp", 512, Dim);
  StandardWork({{"PhaseCompFileName", Work("Image_Files/slm.bmp")}});
  ASSERT_EQ(Start(), std::nullopt);
  EXPECT_EQ(Dlg().GetDlgItemText(IDC_SLM_COMP_NAME), "slm.bmp");
  EXPECT_EQ(Dlg().GetDlgItemText(IDC_SYS_COMP_NAME), "");
}

TEST_F(SettingsTest, UnknownValuesAndKeysAreKeptByTheSave) {
  StandardWork();
  const std::string stored = ReadText(StoreFile());
  WriteText(StoreFile(), stored + "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Other]\n\"Keep\"=dword:00000007\n\n");
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Orvane Radara\\Sorrel", 0, nullptr, REG_OPTION_NON_VOLATILE,
                            KEY_SET_VALUE, nullptr, &key, nullptr),
            ERROR_SUCCESS);
  const char extra[] = "lab note";
  RegSetValueExA(key, "Note", 0, REG_SZ, reinterpret_cast<const BYTE*>(extra), sizeof extra);
  ASSERT_EQ(RegCloseKey(key), ERROR_SUCCESS);
  ASSERT_EQ(Start(), std::nullopt);
  Close();
  EXPECT_EQ(StoredValue("Note"), "lab note");
  EXPECT_NE(ReadText(StoreFile()).find("\"Keep\"=dword:00000007"), std::string::npos);
}

TEST_F(SettingsTest, AStoreEditedIntoNonsenseIsReadAsFarAsItMakesSenseAndSavedClean) {
  StandardWork();
  WriteText(StoreFile(), "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Orvane Radara\\Sorrel]\n"
                         "\"FrameRate\"=\"250\"\n\"LaserDuty\"=\"40\n\x01\x02 garbage ==== \n\"LaserAGain\"=hex(1):zz,\n"
                         "[broken section\n\"SequenceFile\"=\"" + Work("Sequence_Files/demo.sif") + "\"\n");
  ASSERT_EQ(Start(), std::nullopt);
  Close();
  EXPECT_EQ(StoredValue("FrameRate"), "250");
  const std::string text = ReadText(StoreFile());
  EXPECT_EQ(text.rfind("REGEDIT4\n", 0), 0u);
  EXPECT_EQ(text.find("garbage"), std::string::npos);
  EXPECT_EQ(text.find('\x01'), std::string::npos);
}

TEST_F(SettingsTest, AStoreThatCannotBeWrittenLeavesTheOperatorAloneAndSaysSoOnStandardError) {
  StandardWork();
  WriteText(Work("not-a-folder"), "x");
  setenv("SORREL_REGISTRY", Work("not-a-folder/registry").c_str(), 1);
  ASSERT_EQ(Start(), std::nullopt);
  m_Host->ClearMessages();  // the missing store's board-type message
  ::testing::internal::CaptureStderr();
  Close();
  const std::string said = ::testing::internal::GetCapturedStderr();
  EXPECT_NE(said.find("not-a-folder/registry"), std::string::npos) << said;
  EXPECT_TRUE(m_Host->Messages().empty());
  EXPECT_EQ(App().m_pBoard, nullptr) << "the shutdown goes on";
}

}  // namespace
