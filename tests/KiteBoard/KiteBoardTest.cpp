// The Kite board's own values: its description and the worked timing examples.

#include "DriverFixture.h"

using namespace drvtest;

namespace {

using KiteBoardTest = BoardTest<Kite>;

TEST_F(KiteBoardTest, DescribesTheKiteBoard) {
  Bus(Card());
  ASSERT_TRUE(Build());
  const SBoard_Spec* spec = m_Board->BoardSpec();
  EXPECT_EQ(spec, m_Board->BoardSpec());
  EXPECT_STREQ(spec->BoardName, "Kite_SLM");
  EXPECT_EQ(spec->MaxFrames, 1024);
  EXPECT_EQ(spec->Width, 512);
  EXPECT_EQ(spec->Height, 512);
  EXPECT_EQ(spec->Reserved1, 255);
  EXPECT_EQ(spec->FrameTime, 1641u);
  EXPECT_EQ(spec->Reserved2, 102u);
  EXPECT_EQ(spec->MinFrameRate, 1u);
  EXPECT_EQ(spec->MaxFrameRate, 1000u);
  EXPECT_EQ(m_Board->BoardReady(), 0);
}

TEST_F(KiteBoardTest, AmplitudeTimingExamples) {
  Bus(Card());
  ASSERT_TRUE(Build(0, 3));
  EXPECT_EQ(m_Board->SetRunParameters(0, 0, 0, 0), 0);  // rate 0 counts as 1
  EXPECT_EQ(m_Board->GetImageFrames(), 6094);
  EXPECT_EQ(Peek(REG_TIMING_A), 3047u << 16);
  EXPECT_EQ(Peek(REG_TIMING_B), 3047u << 16);
  // Duty 101 counts as 50, gain A 300 as 255 and gain B 300 as 0: v = 1.5 board frames.
  m_Board->SetRunParameters(1000, 101, 300, 300);
  EXPECT_EQ(m_Board->GetImageFrames(), 6);
  EXPECT_EQ(Peek(REG_TIMING_A), 1u << 16 | 8u << 8 | 255);
  EXPECT_EQ(Peek(REG_TIMING_B), 1u << 16 | 8u << 8);
}

TEST_F(KiteBoardTest, PhaseTimingExample) {
  Bus(Card());
  ASSERT_TRUE(Build(1, 3));
  m_Board->SetRunParameters(1000, 50, 0, 0);  // h = 6, w = 3 = H
  EXPECT_EQ(m_Board->GetImageFrames(), 6);
  EXPECT_EQ(Peek(REG_TIMING_A), 3u << 16);
  EXPECT_EQ(Peek(REG_TIMING_B), 0u);
}

}  // namespace
