// Editing the sequence from the main dialog: insert, delete, the entry editor, saving, and
// opening another sequence, with what each leaves on the board and in the list.

#include "ProgramFixture.h"

using namespace progtest;

namespace {

using EditingTest = ProgramTest;

TEST_F(EditingTest, CancellingTheEditorRightAfterInsertLeavesTheSequenceAndTheBoardAsTheyWere) {
  StandardWork();
  ASSERT_EQ(Start(), std::nullopt);
  const std::vector<std::string> before = ListLines();
  m_Host->SelectListLine(Dlg(), IDC_IMAGE_LIST, 0);
  ScriptEditor(Work("Image_Files/rings.bmp"), false);
  m_Host->Click(Dlg(), IDC_INSERT_ENTRY);
  EXPECT_EQ(ListLines(), before);
  // Every frame is where its entry is again.
  EXPECT_EQ(ShownFrame(0), ExpectedFrame(512, Ramp, Identity));
  EXPECT_EQ(ShownFrame(1), ExpectedFrame(512, Rings, Inverse));
  EXPECT_EQ(ShownFrame(2), ExpectedFrame(512, Ramp, Inverse));
  // and so is every screen image: the second entry's, drawn once the power is on.
  m_Host->Click(Dlg(), IDC_POWER_ON);
  m_Host->SelectListLine(Dlg(), IDC_IMAGE_LIST, 1);
  const uint8_t v = static_cast<uint8_t>(Inverse(Rings(4 * 10, 4 * 20)));
  EXPECT_EQ(m_Host->Pixel(Dlg(), App().m_ScreenX + 20, App().m_ScreenY + 10), RGB(v, v, v));
  // Still counted as a change.
  AnswerQuestion(IDNO);
  Close();
  EXPECT_EQ(m_Questions, std::vector<std::string>{"Save changes to demo.sif?"});
}

TEST_F(EditingTest, InsertWithOkPutsTheEditedEntryAtTheSelectionAndMovesTheRestUp) {
  StandardWork();
  ASSERT_EQ(Start(), std::nullopt);
  m_Host->SelectListLine(Dlg(), IDC_IMAGE_LIST, 1);
  ScriptEditor(Work("Image_Files/ramp.bmp"), true);
  m_Host->Click(Dlg(), IDC_INSERT_ENTRY);
  EXPECT_EQ(ListLines(), (std::vector<std::string>{"  \tramp.bmp\t\tlinear.lut\t", "  \tramp.bmp\t\tinvert.lut\t",
                                               "  \trings.bmp\t\tinvert.lut\t", "  \tramp.bmp\t\tinvert.lut\t"}));
  EXPECT_EQ(ShownFrame(1), ExpectedFrame(512, Ramp, Inverse));
  EXPECT_EQ(ShownFrame(2), ExpectedFrame(512, Rings, Inverse));
  EXPECT_EQ(ShownFrame(3), ExpectedFrame(512, Ramp, Inverse));
  EXPECT_EQ(Dlg().ListGetCurSel(IDC_IMAGE_LIST), 1);
}

TEST_F(EditingTest, DeletingTheLastOfThreeSelectsTheNewLastAndDeletingTheOnlyEntryEditsIt) {
  StandardWork();
  ASSERT_EQ(Start(), std::nullopt);
  m_Host->SelectListLine(Dlg(), IDC_IMAGE_LIST, 2);
  m_Host->Click(Dlg(), IDC_DELETE_ENTRY);
  EXPECT_EQ(Dlg().ListGetCount(IDC_IMAGE_LIST), 2);
  EXPECT_EQ(Dlg().ListGetCurSel(IDC_IMAGE_LIST), 1);
  EXPECT_EQ(Dlg().GetDlgItemText(IDC_ENTRY_PATTERN), "rings.bmp");

  m_Host->SelectListLine(Dlg(), IDC_IMAGE_LIST, 0);
  m_Host->Click(Dlg(), IDC_DELETE_ENTRY);
  ASSERT_EQ(Dlg().ListGetCount(IDC_IMAGE_LIST), 1);
  EXPECT_EQ(ShownFrame(0), ExpectedFrame(512, Rings, Inverse)) << "the later entry moved down";

  ScriptEditor(std::nullopt, false);
  m_Host->Click(Dlg(), IDC_DELETE_ENTRY);
  EXPECT_EQ(Dlg().ListGetCount(IDC_IMAGE_LIST), 1) << "the last entry is never deleted";
  EXPECT_EQ(m_Host->ModalRuns().back(), IDD_IMAGE_LIST_EDIT);
}

TEST_F(EditingTest, EditingRewritesOneFrameAndACancelledBrowseKeepsTheEntrysPattern) {
  StandardWork();
  ASSERT_EQ(Start(), std::nullopt);
  m_Host->SelectListLine(Dlg(), IDC_IMAGE_LIST, 0);
  ScriptEditor(Work("Image_Files/rings.bmp"), true);
  m_Host->DoubleClick(Dlg(), IDC_IMAGE_LIST);
  EXPECT_EQ(Dlg().ListGetText(IDC_IMAGE_LIST, 0), "  \trings.bmp\t\tlinear.lut\t");
  EXPECT_EQ(ShownFrame(0), ExpectedFrame(512, Rings, Identity));

  // A browse that is cancelled leaves the entry's own pattern, even after OK.
  ScriptEditor(std::nullopt, true);
  m_Host->Click(Dlg(), IDC_EDIT_ENTRY);
  EXPECT_EQ(Dlg().ListGetText(IDC_IMAGE_LIST, 0), "  \trings.bmp\t\tlinear.lut\t");
  EXPECT_EQ(Dlg().GetDlgItemText(IDC_SEQUENCE_NAME), "demo.sif ") << "the mark waits for the next refresh";
}

TEST_F(EditingTest, SavingWritesTheListAndClearsTheMark) {
  StandardWork();
  ASSERT_EQ(Start(), std::nullopt);
  m_Host->SelectListLine(Dlg(), IDC_IMAGE_LIST, 2);
  m_Host->Click(Dlg(), IDC_DELETE_ENTRY);
  const std::string saved = Work("Sequence_Files/two.sif");
  m_Host->QueueFileAnswer(saved);
  m_Host->Click(Dlg(), IDC_SAVE_SEQUENCE);
  const FileDialogRequest& request = m_Host->FileRequests().back();
  EXPECT_FALSE(request.open);
  EXPECT_EQ(request.title, "Save an Image List");
  EXPECT_EQ(request.initialFolder, Work("Sequence_Files/"));
  EXPECT_EQ(request.initialFileName, "demo.sif");
  EXPECT_EQ(request.defaultExtension, "sif");
  EXPECT_EQ(ReadText(saved), Work("Image_Files/ramp.bmp") + ", " + Work("Image_Files/linear.lut") + "\n" +
                                 Work("Image_Files/rings.bmp") + ", " + Work("Image_Files/invert.lut") + "\n");
  EXPECT_EQ(Dlg().GetDlgItemText(IDC_SEQUENCE_NAME), "two.sif ");
  AnswerQuestion(IDYES);
  Close();
  EXPECT_TRUE(m_Questions.empty()) << "nothing left to save";
  EXPECT_EQ(StoredValue("SequenceFile"), saved);
}

TEST_F(EditingTest, OpeningAnotherSequenceAsksAboutChangesAndLoadsIt) {
  StandardWork();
  WriteSequence("Sequence_Files/other.sif", {{"Image_Files/rings.bmp", "Image_Files/linear.lut"}});
  ASSERT_EQ(Start(), std::nullopt);
  m_Host->SelectListLine(Dlg(), IDC_IMAGE_LIST, 2);
  m_Host->Click(Dlg(), IDC_DELETE_ENTRY);
  AnswerQuestion(IDYES);
  m_Host->QueueFileAnswer(Work("Sequence_Files/other.sif"));
  m_Host->Click(Dlg(), IDC_BROWSE_SEQUENCE);
  EXPECT_EQ(m_Questions, std::vector<std::string>{"Save changes to demo.sif?"});
  EXPECT_EQ(ReadText(Work("Sequence_Files/demo.sif")).find("invert.lut\n" + Work("Image_Files/ramp.bmp")),
            std::string::npos) << "the deleted entry is gone from the saved file";
  const FileDialogRequest& request = m_Host->FileRequests().back();
  EXPECT_EQ(request.title, "Open a Sequence File");
  ASSERT_EQ(request.filters.size(), 1u);
  EXPECT_EQ(request.filters[0], (std::pair<std::string, std::string>{"Sequence Instruction Files (*.SIF)", "*.sif"}));
  EXPECT_EQ(Dlg().GetDlgItemText(IDC_SEQUENCE_NAME), "other.sif ");
  EXPECT_EQ(ListLines(), std::vector<std::string>{"  \trings.bmp\t\tlinear.lut\t"});
  EXPECT_EQ(ShownFrame(0), ExpectedFrame(512, Rings, Identity));
}

TEST_F(EditingTest, AQuestionDismissedWithoutAnAnswerCountsAsNo) {
  StandardWork();
  ASSERT_EQ(Start(), std::nullopt);
  m_Host->SelectListLine(Dlg(), IDC_IMAGE_LIST, 2);
  m_Host->Click(Dlg(), IDC_DELETE_ENTRY);
  const std::string before = ReadText(Work("Sequence_Files/demo.sif"));
  AnswerQuestion(0);  // the script ends without pressing YES or NO
  Close();
  EXPECT_EQ(m_Questions.size(), 1u);
  EXPECT_EQ(ReadText(Work("Sequence_Files/demo.sif")), before);
}

TEST_F(EditingTest, ChangesThatCannotBeSavedAtCloseKeepTheWindowOpen) {
  StandardWork();
  ASSERT_EQ(Start(), std::nullopt);
  m_Host->SelectListLine(Dlg(), IDC_IMAGE_LIST, 2);
  m_Host->Click(Dlg(), IDC_DELETE_ENTRY);
  // The sequence's folder is gone, so its file cannot be written.
  const std::string sequence = App().m_SequenceFile;
  App().m_SequenceFile = Work("vanished/demo.sif");
  AnswerQuestion(IDYES);
  Close();
  ASSERT_NE(App().m_pBoard, nullptr) << "the window stays open";
  EXPECT_EQ(App().m_pBoard->GetPower(), 0) << "with the SLM off";
  ASSERT_FALSE(MessageTexts().empty());
  EXPECT_EQ(MessageTexts().back(), "Can't create File " + Work("vanished/demo.sif"));
  App().m_SequenceFile = sequence;
  Close();
  EXPECT_EQ(App().m_pBoard, nullptr);
}

}  // namespace
