// The board factory on the simulated bus: which model takes which hardware, and what the
// chosen model is handed.

#include "DriverFixture.h"
#include "OrvFactory.h"

using namespace drvtest;

namespace {

class FactoryTest : public BoardTest<Kite> {
 protected:
  COrvBoard* BuildBoard(const char* bus, uint16_t type = 0, uint16_t trueFrames = 3) {
    this->Bus(bus);
    m_Built.reset(COrvFactory().BuildBoard(type, trueFrames));
    return m_Built.get();
  }
  void TearDown() override {
    m_Built.reset();
    BoardTest<Kite>::TearDown();
  }
  std::unique_ptr<COrvBoard> m_Built;
};

TEST_F(FactoryTest, NoBridgeCardGivesTheKiteBoardInItsErrorState) {
  COrvBoard* board = BuildBoard("none");
  ASSERT_NE(dynamic_cast<CKiteBoard*>(board), nullptr);
  EXPECT_EQ(board->BoardSpec()->Width, 512);
  EXPECT_EQ(MessageTexts(),
            std::vector<std::string>{"Could not locate PCI board, is the PCI board plugged into computer?"});
  EXPECT_EQ(board->SetDownloadMode(0), 0);
}

TEST_F(FactoryTest, KiteCardGivesTheKiteBoard) {
  COrvBoard* board = BuildBoard("kite:id=1");
  ASSERT_NE(dynamic_cast<CKiteBoard*>(board), nullptr);
  EXPECT_STREQ(board->BoardSpec()->BoardName, "Kite_SLM");
  EXPECT_EQ(board->SetDownloadMode(0), 1);
  EXPECT_TRUE(m_Host->Messages().empty());
}

TEST_F(FactoryTest, CardsThatCannotBeOpenedAreClaimedByKiteWithItsMessage) {
  // Neither card can be opened, so no other model was seen and Wren is never tried.
  COrvBoard* board = BuildBoard("kite:held,wren:held");
  ASSERT_NE(dynamic_cast<CKiteBoard*>(board), nullptr);
  EXPECT_EQ(MessageTexts(), std::vector<std::string>{Kite::NoBoards});
  EXPECT_EQ(board->GetPower(), 0);
}

TEST_F(FactoryTest, OnlyAWrenCardGivesTheWrenBoard) {
  COrvBoard* board = BuildBoard("wren:id=0x41");
  ASSERT_NE(dynamic_cast<CWrenBoard*>(board), nullptr);
  EXPECT_EQ(board->BoardSpec()->Width, 256);
  EXPECT_EQ(board->BoardSpec()->Height, 256);
  EXPECT_EQ(board->SetDownloadMode(0), 1);
  EXPECT_TRUE(m_Host->Messages().empty());
}

TEST_F(FactoryTest, HeldKiteBesideAWrenCardGivesTheWrenBoard) {
  // The Kite driver could open only the Wren card, so it declines without a message.
  COrvBoard* board = BuildBoard("wren,kite:held");
  ASSERT_NE(dynamic_cast<CWrenBoard*>(board), nullptr);
  EXPECT_TRUE(m_Host->Messages().empty());
}

TEST_F(FactoryTest, CardsOfNeitherModelGiveTheUndefinedBoard) {
  COrvBoard* board = BuildBoard("other,other:id=0x7");
  ASSERT_NE(board, nullptr);
  EXPECT_EQ(dynamic_cast<CKiteBoard*>(board), nullptr);
  EXPECT_EQ(dynamic_cast<CWrenBoard*>(board), nullptr);
  EXPECT_STREQ(board->BoardSpec()->BoardName, "Board_Undefined");
  EXPECT_EQ(board->BoardSpec()->Width, 100);
  EXPECT_TRUE(m_Host->Messages().empty());
  int type = 5, frames = 6;
  EXPECT_EQ(board->SetupDialog(&type, &frames), 0);
  EXPECT_EQ(m_Host->UnscriptedRuns(), std::vector<int>{1001});
  EXPECT_EQ(type, 5);
  EXPECT_EQ(frames, 6);
}

TEST_F(FactoryTest, BothModelsPresentGiveTheKiteBoard) {
  COrvBoard* board = BuildBoard("wren,kite");
  ASSERT_NE(dynamic_cast<CKiteBoard*>(board), nullptr);
  EXPECT_NE(Peek(REG_CONTROL, {1, 1, 0}) & 1, 0u) << "the Kite card in slot 1 is running";
  EXPECT_EQ(Peek(REG_CONTROL, {1, 0, 0}), 0u);
}

TEST_F(FactoryTest, ModulatorTypeAndTrueFramesReachTheChosenModel) {
  struct Case {
    const char* bus;
    uint16_t type, trueFrames;
    int wantType, wantFrames;
  };
  for (const Case& c : {Case{"kite", 1, 7, 1, 7}, Case{"wren", 1, 9, 1, 9}, Case{"kite", 0, 11, 0, 11},
                        Case{"wren", 5, 2, 1, 3}, Case{"kite", 0, 40000, 0, 32767}}) {
    SCOPED_TRACE(c.bus);
    COrvBoard* board = BuildBoard(c.bus, c.type, c.trueFrames);
    EXPECT_EQ(Peek(REG_CONTROL) & CONTROL_PHASE, c.wantType ? CONTROL_PHASE : 0u);
    EXPECT_EQ(Peek(REG_FRAME_COUNTS) >> 16, static_cast<uint32_t>(c.wantFrames));
    int type = -1, frames = -1;
    EXPECT_EQ(board->SetupDialog(&type, &frames), 1);  // unscripted: a cancel
    EXPECT_EQ(type, c.wantType);
    EXPECT_EQ(frames, c.wantFrames);
    m_Built.reset();
  }
}

}  // namespace
