// The Wren board's own values: its description and the worked timing examples.

#include "DriverFixture.h"

using namespace drvtest;

namespace {

using WrenBoardTest = BoardTest<Wren>;

TEST_F(WrenBoardTest, DescribesTheWrenBoard) {
  Bus(Card());
  ASSERT_TRUE(Build());
  const SBoard_Spec* spec = m_Board->BoardSpec();
  EXPECT_STREQ(spec->BoardName, "Wren_SLM");
  EXPECT_EQ(spec->MaxFrames, 4096);
  EXPECT_EQ(spec->Width, 256);
  EXPECT_EQ(spec->Height, 256);
  EXPECT_EQ(spec->Reserved1, 255);
  EXPECT_EQ(spec->FrameTime, 1644u);
  EXPECT_EQ(spec->Reserved2, 102u);
  EXPECT_EQ(spec->MinFrameRate, 1u);
  EXPECT_EQ(spec->MaxFrameRate, 1000u);
}

TEST_F(WrenBoardTest, TimingExamples) {
  Bus(Card());
  ASSERT_TRUE(Build(0, 3));
  m_Board->SetRunParameters(1000, 50, 0, 0);  // 6.08 board frames
  EXPECT_EQ(m_Board->GetImageFrames(), 6);
  m_Board->SetRunParameters(1, 0, 0, 0);  // 6082.7, made even
  EXPECT_EQ(m_Board->GetImageFrames(), 6084);
  EXPECT_EQ(Peek(REG_TIMING_A), 3042u << 16);

  Bus(Card());
  ASSERT_TRUE(Build(1, 3));
  m_Board->SetRunParameters(1, 50, 0, 0);  // 6083 -> 6084, an even multiple of 3
  EXPECT_EQ(m_Board->GetImageFrames(), 6084);
  EXPECT_EQ(Peek(REG_TIMING_A), 3042u << 16);
  EXPECT_EQ(Peek(REG_TIMING_B), 0u);
}

}  // namespace
