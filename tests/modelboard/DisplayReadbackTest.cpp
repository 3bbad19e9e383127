// What the modulator shows, read back through the facility while a driver holds the card.
// The program sees the board only this way, so it must match the card itself: on the
// simulated backend the card's own panel, through VFIO the shadow of what the driver wrote.

#include <cstdio>

#include "DriverFixture.h"

using namespace drvtest;

template <class M>
class DisplayReadbackTest : public BoardTest<M> {
 protected:
  // The one card the board holds, and what its modulator shows.
  bool Read(pci::DisplayInfo& info, std::vector<uint8_t>& pixels) {
    const std::vector<pci::Location> held = pci::RegisteredCards();
    if (held.size() != 1) return false;
    pixels.assign(M::Width * M::Height, 0xEE);
    return pci::ReadDisplay(held[0], info, pixels.data(), pixels.size());
  }
};
TYPED_TEST_SUITE(DisplayReadbackTest, Models, ModelNames);

TYPED_TEST(DisplayReadbackTest, ShowsTheSelectedFrameAsThePanelDoesInBothByteOrders) {
  for (uint32_t id : {TypeParam::ReorderId, TypeParam::PlainId}) {
    char card[32];
    std::snprintf(card, sizeof card, "%s:id=0x%x", TypeParam::Card, id);
    this->Bus(card);
    ASSERT_TRUE(this->Build());
    const auto five = Pattern(TypeParam::Width * TypeParam::Height, 11);
    const auto six = Pattern(TypeParam::Width * TypeParam::Height, 12);
    auto data = five;
    ASSERT_EQ(this->m_Board->WriteFrameBuffer(5, data.data()), 1);
    data = six;
    ASSERT_EQ(this->m_Board->WriteFrameBuffer(6, data.data()), 1);
    this->m_Board->SetRunParameters(100, 50, 210, 35);

    pci::DisplayInfo info{};
    std::vector<uint8_t> shown;
    ASSERT_EQ(this->m_Board->SelectImage(6), 1);
    ASSERT_EQ(this->m_Board->SetPower(0), 0) << "the power state it reached";
    ASSERT_TRUE(this->Read(info, shown));
    EXPECT_EQ(info.Powered, 0u);
    EXPECT_EQ(info.Image, 6u);
    EXPECT_EQ(shown, std::vector<uint8_t>(shown.size(), 0)) << "dark while the SLM is off";

    ASSERT_EQ(this->m_Board->SetPower(1), 1);
    ASSERT_TRUE(this->Read(info, shown));
    EXPECT_EQ(info.Width, TypeParam::Width);
    EXPECT_EQ(info.Height, TypeParam::Height);
    EXPECT_EQ(info.Powered, 1u);
    EXPECT_EQ(info.Running, 0u);
    EXPECT_TRUE(shown == six) << "card id " << id;
    std::vector<uint8_t> onCard;
    ASSERT_TRUE(sim::testing::DecodedFrame(SLOT0, 6, onCard));
    EXPECT_TRUE(shown == onCard) << "what the card itself shows";
    EXPECT_EQ(info.LaserAGain, 210u);
    EXPECT_EQ(info.LaserBGain, 35u);
    const Timing t = ExpectedTiming(100, 50, TypeParam::FrameTime, false, 3);
    EXPECT_EQ(info.ImageFrames, t.h);
    EXPECT_EQ(info.DarkA16, 16 * t.t1 + t.f1);

    ASSERT_EQ(this->m_Board->SelectImage(5), 1);
    ASSERT_TRUE(this->Read(info, shown));
    EXPECT_EQ(info.Image, 5u);
    EXPECT_TRUE(shown == five);
  }
}

TYPED_TEST(DisplayReadbackTest, FollowsARunAndCountsItsInterrupts) {
  this->Bus(this->Card());
  ASSERT_TRUE(this->Build());
  this->m_Board->SetRunParameters(50, 50, 0, 0);  // an interrupt every 20 ms
  pci::DisplayInfo info{};
  std::vector<uint8_t> shown;
  ASSERT_TRUE(this->Read(info, shown));
  const uint64_t before = info.Interrupts;
  uint16_t list[] = {3, 4};
  ASSERT_EQ(this->m_Board->SetRunMode(1, 1, list, 1), 1);
  std::set<uint32_t> images;
  EXPECT_TRUE(WaitFor([&] {
    if (!this->Read(info, shown)) return false;
    images.insert(info.Image);
    return info.Running == 1 && images.count(3) == 1 && images.count(4) == 1 && info.Interrupts >= before + 3;
  }));
  ASSERT_EQ(this->m_Board->SetRunMode(0, 0, nullptr, 0), 1);
  ASSERT_TRUE(this->Read(info, shown));
  EXPECT_EQ(info.Running, 0u);
}

TYPED_TEST(DisplayReadbackTest, NothingIsShownOfACardThisProcessDoesNotHold) {
  this->Bus(this->Card());
  ASSERT_TRUE(this->Build());
  ASSERT_EQ(pci::RegisteredCards().size(), 1u);
  this->m_Board.reset();
  EXPECT_TRUE(pci::RegisteredCards().empty());
  pci::DisplayInfo info{};
  info.Width = 77;
  EXPECT_FALSE(pci::ReadDisplay(SLOT0, info, nullptr, 0));
  EXPECT_EQ(info.Width, 77u) << "left as it was";
}
