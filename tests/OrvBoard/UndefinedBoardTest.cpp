// The undefined board: what Sorrel sees when no board model takes the hardware.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <string>

#include "OrvBoard.h"
#include "OrvSetupDlg.h"
#include "ui/ScriptedHost.h"

namespace {

class UndefinedBoardTest : public ::testing::Test {
 protected:
  CScriptedHost& host = CScriptedHost::Install();
  COrvBoard board;
};

TEST_F(UndefinedBoardTest, DescribesItselfAsUndefined) {
  const SBoard_Spec* spec = board.BoardSpec();
  ASSERT_NE(spec, nullptr);
  EXPECT_STREQ(spec->BoardName, "Board_Undefined");
  EXPECT_EQ(spec->MaxFrames, 1000);
  EXPECT_EQ(spec->Width, 100);
  EXPECT_EQ(spec->Height, 100);
  EXPECT_EQ(spec->Reserved1, 255);
  EXPECT_EQ(spec->FrameTime, 1000u);
  EXPECT_EQ(spec->MinFrameRate, 0u);
  EXPECT_EQ(spec->MaxFrameRate, 1000u);
}

TEST_F(UndefinedBoardTest, EveryOperationAnswersZeroAndChangesNothing) {
  const SBoard_Spec* spec = board.BoardSpec();
  SBoard_Spec before;
  std::memcpy(&before, spec, sizeof before);

  uint8_t frame[16] = {1, 2, 3};
  uint16_t list[2] = {0, 1};
  EXPECT_EQ(board.BoardReady(), 0);
  EXPECT_EQ(board.SetDownloadMode(0), 0);
  EXPECT_EQ(board.SetRunParameters(1000, 50, 255, 255), 0);
  EXPECT_EQ(board.SetTrueFrames(3), 0);
  EXPECT_EQ(board.GetTrueFrames(), 0);
  EXPECT_EQ(board.GetImageFrames(), 0);
  EXPECT_EQ(board.WriteFrameBuffer(0, frame), 0);
  EXPECT_EQ(frame[0], 1);
  EXPECT_EQ(board.SelectImage(0), 0);
  EXPECT_EQ(board.SetRunMode(1, 1, list, 1), 0);
  EXPECT_EQ(board.SetPower(1), 0);
  EXPECT_EQ(board.GetPower(), 0);

  SRun_Status status{0x1234, 0x5678, 0x9ABC};
  EXPECT_EQ(board.GetRunStatus(&status), 0);
  EXPECT_EQ(status.RunFlags, 0x1234);
  EXPECT_EQ(status.LastIndex, 0x5678);
  EXPECT_EQ(status.CurrentIndex, 0x9ABC);

  EXPECT_EQ(board.BoardSpec(), spec);
  EXPECT_EQ(std::memcmp(&before, spec, sizeof before), 0);
  EXPECT_TRUE(host.Messages().empty());
}

TEST_F(UndefinedBoardTest, SetupDialogSaysBoardUndefinedAndLeavesOutputsAlone) {
  std::string caption, text;
  host.SetScript(IDD_ORVSETUP, [&](CDialog& dlg, CScriptedHost& h) {
    caption = dlg.GetWindowText();
    for (const ControlState& c : dlg.Controls())
      if (c.kind == ControlKind::Static) text = c.text;
    h.Click(dlg, IDOK);
  });
  int type = 7, trueFrames = 99;
  EXPECT_EQ(board.SetupDialog(&type, &trueFrames), 0);
  EXPECT_EQ(caption, "Orv Board Setup");
  EXPECT_EQ(text, "Board Undefined");
  EXPECT_EQ(type, 7);
  EXPECT_EQ(trueFrames, 99);
  ASSERT_EQ(host.ModalRuns().size(), 1u);
  EXPECT_EQ(host.ModalRuns()[0], IDD_ORVSETUP);
}

TEST_F(UndefinedBoardTest, SetupDialogAnswersZeroWhateverWayItCloses) {
  host.SetScript(IDD_ORVSETUP, [](CDialog& dlg, CScriptedHost& h) { h.PressEscape(dlg); });
  int type = 1, trueFrames = 3;
  EXPECT_EQ(board.SetupDialog(&type, &trueFrames), 0);
  EXPECT_EQ(type, 1);
  EXPECT_EQ(trueFrames, 3);
}

TEST(OrvSetupTemplate, IsKnownFromLoadWithItsLayout) {
  const DialogTemplate* t = FindDialogTemplate(IDD_ORVSETUP);
  ASSERT_NE(t, nullptr);
  EXPECT_EQ(t->caption, "Orv Board Setup");
  EXPECT_EQ(t->cx, 186);
  EXPECT_EQ(t->cy, 55);
  EXPECT_TRUE(t->style & DS_SYSMENU);
  const ControlTemplate* ok = t->Find(IDOK);
  ASSERT_NE(ok, nullptr);
  EXPECT_EQ(ok->kind, ControlKind::PushButton);
  EXPECT_EQ(ok->caption, "OK");
  EXPECT_EQ((std::array<int, 4>{ok->x, ok->y, ok->cx, ok->cy}), (std::array<int, 4>{69, 28, 50, 14}));
  EXPECT_TRUE(ok->style & STYLE_DEFAULT);
}

}  // namespace
