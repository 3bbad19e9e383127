// Both model boards on the simulated card: claiming, power-up, timing, downloads, single
// images, runs driven by real interrupts, power and the hardware-error state.

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "DriverFixture.h"
#include "EveryPath.h"
#include "FrameReorder.h"

using namespace drvtest;

template <class M>
using ModelBoardTest = BoardTest<M>;
TYPED_TEST_SUITE(ModelBoardTest, Models, ModelNames);

namespace {

std::string WithId(uint32_t id) {
  char text[16];
  std::snprintf(text, sizeof text, ":id=0x%x", id);
  return text;
}

}  // namespace

// ---- claiming and power-up ----

TYPED_TEST(ModelBoardTest, WithoutAnyCardItClaimsInTheHardwareErrorState) {
  this->Bus("none");
  EXPECT_TRUE(this->Build());
  ASSERT_EQ(this->MessageTexts(),
            std::vector<std::string>{"Could not locate PCI board, is the PCI board plugged into computer?"});
  EXPECT_EQ(this->m_Host->Messages()[0].caption, "ERROR");

  auto& b = *this->m_Board;
  uint8_t frame[4] = {};
  uint16_t list[1] = {0};
  int type = 7, frames = 9;
  EXPECT_EQ(b.SetDownloadMode(0), 0);
  EXPECT_EQ(b.SetTrueFrames(5), 0);
  EXPECT_EQ(b.GetTrueFrames(), 0);
  EXPECT_EQ(b.GetImageFrames(), 0);
  EXPECT_EQ(b.WriteFrameBuffer(0, frame), 0);
  EXPECT_EQ(b.SelectImage(0), 0);
  EXPECT_EQ(b.SetPower(1), 0);
  EXPECT_EQ(b.GetPower(), 0);
  SRun_Status s{0xFFFF, 0xFFFF, 0xFFFF};
  EXPECT_EQ(b.GetRunStatus(&s), 0);
  EXPECT_EQ(s.CurrentIndex, 0);
  EXPECT_EQ(s.RunFlags, 0);
  this->m_Host->ClearMessages();
  EXPECT_EQ(b.SetRunMode(1, 0, list, 0), 0);
  EXPECT_EQ(b.SetupDialog(&type, &frames), 0);
  EXPECT_EQ(this->MessageTexts(), (std::vector<std::string>{"Hardware Error - Can Not Sequence",
                                                             "Cannot open board setup dialog - hardware error"}));
  EXPECT_TRUE(this->m_Host->ModalRuns().empty());
  EXPECT_EQ(type, 7);
  EXPECT_EQ(frames, 9);
}

TYPED_TEST(ModelBoardTest, HeldCardsAreReportedAsNoneAvailable) {
  this->Bus(this->Card(":held"));
  EXPECT_TRUE(this->Build());
  EXPECT_EQ(this->MessageTexts(), std::vector<std::string>{TypeParam::NoBoards});
  EXPECT_EQ(this->m_Board->GetPower(), 0);
}

TYPED_TEST(ModelBoardTest, CardsOfAnotherModelOnlyAreDeclinedSilently) {
  this->Bus(std::is_same_v<TypeParam, Kite> ? "wren,other" : "kite,other:id=0x42");
  EXPECT_FALSE(this->Build());
  EXPECT_TRUE(this->m_Host->Messages().empty());
  // Nothing stays claimed: a fresh bus can be chosen at once.
  this->Bus(this->Card());
  EXPECT_TRUE(this->Build());
}

TYPED_TEST(ModelBoardTest, LowSupplyReportsWhatTheBoardSaysAndEnds) {
  this->Bus(this->Card(":3v3-low"));
  int status = -1;
  try {
    this->Build();
  } catch (const CProcessExit& e) {
    status = e.status;
  }
  EXPECT_EQ(status, 0);
  const uint32_t init = this->Peek(REG_STATUS);
  char initText[64], sdramText[64];
  std::snprintf(initText, sizeof initText, "INIT Bits %u %u %u %u", init & 1, init >> 1 & 1, init >> 2 & 1,
                init >> 3 & 1);
  std::snprintf(sdramText, sizeof sdramText, "SDRAM Bits %x %x %x %x", this->Peek(REG_SDRAM0), this->Peek(0x34),
                this->Peek(0x38), this->Peek(0x3C));
  EXPECT_EQ(this->MessageTexts(), (std::vector<std::string>{"3.3 Volt Status Low", initText, sdramText}));
  for (const auto& m : this->m_Host->Messages()) EXPECT_EQ(m.caption, "ERROR");
  // The card was closed before the end: the next board takes a fresh one.
  this->Bus(this->Card());
  EXPECT_TRUE(this->Build());
}

TYPED_TEST(ModelBoardTest, DacFaultReportsAndEnds) {
  this->Bus(this->Card(":dac-fault"));
  int status = -1;
  try {
    this->Build();
  } catch (const CProcessExit& e) {
    status = e.status;
  }
  EXPECT_EQ(status, 0);
  EXPECT_EQ(this->MessageTexts(),
            std::vector<std::string>{"Could not power the DAC board.\n Is DAC power cable connected?\n"});
  this->Bus(this->Card());
  EXPECT_TRUE(this->Build());
}

TYPED_TEST(ModelBoardTest, GoodPowerUpWritesInOrder) {
  TempFolder trace;
  this->Bus(this->Card(), &trace.Path());
  ASSERT_TRUE(this->Build(1, 7));
  const std::vector<std::pair<uint32_t, uint32_t>> expected{
      {REG_CONTROL, 0},      {REG_CONTROL, 0x900},     {REG_CONTROL, 0xB00}, {REG_CONTROL, 0xB40},
      {REG_CONTROL, 0xB00},  {REG_CONTROL, 0xB01},     {REG_FRAME_COUNTS, 7u << 16}};
  EXPECT_EQ(BoardWrites(trace.Path() / "registers.log"), expected);
  EXPECT_EQ(this->m_Sleeps, (std::vector<unsigned>{1000, 1000}));
  EXPECT_TRUE(this->m_Host->Messages().empty());
  EXPECT_NE(sim::testing::PeekRegister(SLOT0, 0, INTCSR) & INTCSR_ENABLE, 0u);
  EXPECT_EQ(this->m_Board->DriverVersion(), "8.0");
  EXPECT_EQ(this->m_Board->MemoryVersion(), " 1.25");  // the simulated board reports 25 and 12
  EXPECT_EQ(this->m_Board->ControlVersion(), " 1.12");
}

// ---- timing and frame counts ----

TYPED_TEST(ModelBoardTest, EveryRateGivesTheExpectedTiming) {
  for (const bool phase : {false, true}) {
    this->Bus(this->Card());
    ASSERT_TRUE(this->Build(phase ? 1 : 0, 7));
    for (const uint32_t duty : {0u, 25u, 50u, 75u, 100u}) {
      for (uint32_t rate = 1; rate <= 1000; ++rate) {
        this->m_Board->SetRunParameters(static_cast<uint16_t>(rate), static_cast<uint16_t>(duty), 17, 34);
        const Timing t = ExpectedTiming(rate, duty, TypeParam::FrameTime, phase, 7);
        ASSERT_EQ(this->Peek(REG_FRAME_COUNTS), 7u << 16 | t.h) << "rate " << rate << " duty " << duty;
        ASSERT_EQ(this->Peek(REG_TIMING_A), 17 | t.f1 << 8 | t.t1 << 16) << "rate " << rate << " duty " << duty;
        ASSERT_EQ(this->Peek(REG_TIMING_B), 34 | t.f2 << 8 | t.t2 << 16) << "rate " << rate << " duty " << duty;
      }
    }
  }
}

TYPED_TEST(ModelBoardTest, FrameCountsKeepEachOther) {
  this->Bus(this->Card());
  ASSERT_TRUE(this->Build(0, 40000));  // held to 32767
  EXPECT_EQ(this->m_Board->GetTrueFrames(), 32767);
  EXPECT_EQ(this->m_Board->SetImageFrames(4321), 1);
  EXPECT_EQ(this->m_Board->SetTrueFrames(1234), 1);
  EXPECT_EQ(this->m_Board->GetImageFrames(), 4321);
  EXPECT_EQ(this->m_Board->GetTrueFrames(), 1234);
  EXPECT_EQ(this->Peek(REG_FRAME_COUNTS), 1234u << 16 | 4321);
}

// ---- downloads ----

TYPED_TEST(ModelBoardTest, ReorderingBoardStoresTheInterleavedFrame) {
  this->Bus(this->Card(WithId(TypeParam::ReorderId).c_str()));
  ASSERT_TRUE(this->Build());
  const auto picture = Pattern(TypeParam::Width * TypeParam::Height, 3);
  auto data = picture;
  ASSERT_EQ(this->m_Board->WriteFrameBuffer(5, data.data()), 1);
  const auto expected = Interleave(picture, TypeParam::Run);
  EXPECT_TRUE(data == expected) << "the caller's frame is reordered in place";
  std::vector<uint8_t> stored, shown;
  ASSERT_TRUE(sim::testing::StoredFrame(SLOT0, 5, stored));
  EXPECT_TRUE(stored == expected);
  ASSERT_TRUE(sim::testing::DecodedFrame(SLOT0, 5, shown));
  EXPECT_TRUE(shown == picture);
  EXPECT_NE(this->Peek(REG_CONTROL) & 1, 0u);

  // A frame the caller keeps goes the same way, reordered through the scratch only.
  std::vector<uint8_t> scratch(picture.size());
  ASSERT_EQ(TypeParam::WriteFrameFrom(*this->m_Board, 7, picture.data(), scratch.data()), 1);
  ASSERT_TRUE(sim::testing::StoredFrame(SLOT0, 7, stored));
  EXPECT_TRUE(stored == expected);
  EXPECT_TRUE(picture == Pattern(TypeParam::Width * TypeParam::Height, 3)) << "the caller's frame stays as it is";
}

// What the library tells code without a card (the tools composing frames) is what its board
// says of itself and stores.
TYPED_TEST(ModelBoardTest, TheLibrarysFaceWithoutACardIsTheBoards) {
  this->Bus(this->Card(WithId(TypeParam::ReorderId).c_str()));
  ASSERT_TRUE(this->Build());
  const SBoard_Spec spec = TypeParam::BoardSpec();
  EXPECT_EQ(std::memcmp(&spec, this->m_Board->BoardSpec(), sizeof spec), 0);
  const auto picture = Pattern(TypeParam::Width * TypeParam::Height, 8);
  auto data = picture;
  TypeParam::ToStoredOrder(data.data(), data.data());
  EXPECT_TRUE(data == Interleave(picture, TypeParam::Run));
}

TYPED_TEST(ModelBoardTest, PlainBoardStoresTheFrameAsItIs) {
  this->Bus(this->Card(WithId(TypeParam::PlainId).c_str()));
  ASSERT_TRUE(this->Build());
  const auto picture = Pattern(TypeParam::Width * TypeParam::Height, 4);
  auto data = picture;
  ASSERT_EQ(this->m_Board->WriteFrameBuffer(6, data.data()), 1);
  EXPECT_TRUE(data == picture);
  std::vector<uint8_t> stored;
  ASSERT_TRUE(sim::testing::StoredFrame(SLOT0, 6, stored));
  EXPECT_TRUE(stored == picture);

  // A frame the caller keeps goes straight from its bytes: the scratch is never needed.
  std::vector<uint8_t> scratch(picture.size(), 0xEE);
  ASSERT_EQ(TypeParam::WriteFrameFrom(*this->m_Board, 8, picture.data(), scratch.data()), 1);
  ASSERT_TRUE(sim::testing::StoredFrame(SLOT0, 8, stored));
  EXPECT_TRUE(stored == picture);
  EXPECT_TRUE(scratch == std::vector<uint8_t>(picture.size(), 0xEE));
  // Another model's entry takes nothing from this board.
  const auto other = std::is_same_v<TypeParam, Kite> ? wren::WriteFrameFrom : kite::WriteFrameFrom;
  EXPECT_EQ(other(*this->m_Board, 9, picture.data(), scratch.data()), 0);
  EXPECT_FALSE(sim::testing::StoredFrame(SLOT0, 9, stored));
}

TYPED_TEST(ModelBoardTest, FrameNumbersStopAtTheLastBuffer) {
  this->BuildFast(WithId(TypeParam::PlainId).c_str());
  const uint32_t last = TypeParam::MaxFrames - 1;
  auto top = Pattern(TypeParam::Width * TypeParam::Height, 5);
  auto other = Pattern(TypeParam::Width * TypeParam::Height, 6);
  std::vector<uint8_t> stored;
  EXPECT_EQ(this->m_Board->WriteFrameBuffer(static_cast<uint16_t>(last), top.data()), 1);
  EXPECT_EQ(this->m_Board->WriteFrameBuffer(static_cast<uint16_t>(last + 1), other.data()), 0);
  EXPECT_EQ(this->m_Board->WriteFrameBuffer(0xFFFF, other.data()), 0);
  EXPECT_FALSE(sim::testing::StoredFrame(SLOT0, 0, stored)) << "buffer 0 must stay untouched";
  ASSERT_TRUE(sim::testing::StoredFrame(SLOT0, last, stored));
  EXPECT_TRUE(stored == top);
  // The whole field is rewritten, so no upper bits of the last number linger.
  EXPECT_EQ(this->m_Board->WriteFrameBuffer(6, other.data()), 1);
  EXPECT_EQ(this->Peek(REG_FRAME_SELECT) >> 16, 6u);
  ASSERT_TRUE(sim::testing::StoredFrame(SLOT0, 6, stored));
  EXPECT_TRUE(stored == other);

  EXPECT_EQ(this->m_Board->SelectImage(static_cast<int>(last)), 1);
  EXPECT_EQ(this->Peek(REG_FRAME_SELECT) & 0xFFFF, last);
  EXPECT_EQ(this->m_Board->SelectImage(2), 1);
  EXPECT_EQ(this->Peek(REG_FRAME_SELECT) & 0xFFFF, 2u);
  EXPECT_EQ(this->m_Board->SelectImage(static_cast<int>(last + 1)), 0);
  EXPECT_EQ(this->m_Board->SelectImage(-1), 0);
  EXPECT_EQ(this->Peek(REG_FRAME_SELECT), 6u << 16 | 2);
}

TYPED_TEST(ModelBoardTest, NullStatusRecordIsRefused) {
  this->BuildFast();
  EXPECT_EQ(this->m_Board->GetRunStatus(nullptr), 0);
}

TYPED_TEST(ModelBoardTest, NullFrameIsReportedAndNothingIsWritten) {
  this->BuildFast();
  EXPECT_EQ(this->m_Board->WriteFrameBuffer(5, nullptr), 1);
  ASSERT_EQ(this->MessageTexts(),
            std::vector<std::string>{"WRITEFRAMEBUFFER - Cannot download file to board - NULL array"});
  EXPECT_EQ(this->m_Host->Messages()[0].caption, "ERROR");
  std::vector<uint8_t> stored;
  EXPECT_FALSE(sim::testing::StoredFrame(SLOT0, 5, stored));
}

TYPED_TEST(ModelBoardTest, StuckBusyBitsFailTheDownloadAndLeaveTheBoardUsable) {
  this->BuildFast(":busy-stuck");  // the model's reordering board id
  auto data = Pattern(TypeParam::Width * TypeParam::Height, 7);
  EXPECT_EQ(this->m_Board->WriteFrameBuffer(3, data.data()), 0);
  EXPECT_TRUE(data == Pattern(TypeParam::Width * TypeParam::Height, 7))
      << "a failed download hands the frame back as it came, so a retry sends the same picture";
  std::vector<uint8_t> stored;
  EXPECT_FALSE(sim::testing::StoredFrame(SLOT0, 3, stored));
  EXPECT_NE(this->Peek(REG_CONTROL) & 1, 0u) << "normal operation stays on";
  EXPECT_EQ(this->m_Board->SelectImage(4), 1);
  EXPECT_EQ(this->m_Board->SetPower(1), 1);
}

TYPED_TEST(ModelBoardTest, AStuckBoardIsWaitedForFullyOnceThenBrieflyUntilItAnswers) {
  this->BuildFast();
  ASSERT_TRUE(sim::testing::SetFaults(SLOT0, "busy-stuck", true));
  auto data = Pattern(TypeParam::Width * TypeParam::Height, 7);
  using Clock = std::chrono::steady_clock;
  auto timed = [&](uint16_t frame, int& result) {
    const Clock::time_point start = Clock::now();
    result = this->m_Board->WriteFrameBuffer(frame, data.data());
    return Clock::now() - start;
  };
  int result = -1;
  EXPECT_GE(timed(1, result), std::chrono::seconds(1)) << "the first wait gives the board its full second";
  EXPECT_EQ(result, 0);
  for (uint16_t frame = 2; frame < 12; ++frame) {
    EXPECT_LT(timed(frame, result), std::chrono::seconds(1)) << "a board that did not answer is not waited for again";
    EXPECT_EQ(result, 0);
  }
  ASSERT_TRUE(sim::testing::SetFaults(SLOT0, "busy-stuck", false));
  EXPECT_EQ(this->m_Board->WriteFrameBuffer(12, data.data()), 1) << "a board that answers again is downloaded to";
  std::vector<uint8_t> stored;
  EXPECT_TRUE(sim::testing::StoredFrame(SLOT0, 12, stored));
  ASSERT_TRUE(sim::testing::SetFaults(SLOT0, "busy-stuck", true));
  EXPECT_GE(timed(13, result), std::chrono::seconds(1)) << "and gets the full wait again";
}

// ---- single images in download mode ----

TYPED_TEST(ModelBoardTest, DownloadModeSelectionWaitsForTheBoard) {
  this->BuildFast();
  ASSERT_EQ(this->m_Board->SetDownloadMode(1), 1);
  EXPECT_EQ(this->m_Board->SelectImage(9), 1);
  EXPECT_GE(sim::testing::Counts(SLOT0).delivered, TypeParam::DownloadInterrupts);
  EXPECT_EQ(this->ImageField(), 9u);
  // The routine stops the board at the last counted interrupt.
  EXPECT_TRUE(WaitFor([&] { return (this->Peek(REG_CONTROL) & CONTROL_RUN) == 0; }));
}

TYPED_TEST(ModelBoardTest, SilentBoardFailsTheSelectionAndIsStopped) {
  this->BuildFast(":no-irq");
  ASSERT_EQ(this->m_Board->SetDownloadMode(1), 1);
  EXPECT_EQ(this->m_Board->SelectImage(9), 0);
  EXPECT_EQ(this->Peek(REG_CONTROL) & CONTROL_RUN, 0u);
  ASSERT_EQ(this->m_Board->SetDownloadMode(0), 1);
  EXPECT_EQ(this->m_Board->SelectImage(4), 1);
  EXPECT_EQ(this->ImageField(), 4u);
}

// ---- runs ----

TYPED_TEST(ModelBoardTest, OneEntryWithoutRepeatIsDoneAtTheFirstInterrupt) {
  this->Bus(this->Card());
  ASSERT_TRUE(this->Build());
  this->m_Board->SetRunParameters(10, 50, 0, 0);  // an interrupt every 100 ms
  uint16_t list[] = {7};
  ASSERT_EQ(this->m_Board->SetRunMode(1, 0, list, 0), 1);
  EXPECT_EQ(this->Peek(REG_CONTROL) & 0x70F, 0x709u) << "powered, running, normal operation";
  ASSERT_TRUE(WaitFor([&] { return (this->Status().RunFlags & RUN_FLAG_ACTIVE) == 0; }));
  EXPECT_EQ(sim::testing::Counts(SLOT0).delivered, 1u);
  const SRun_Status s = this->Status();
  EXPECT_EQ(s.LastIndex, 0);
  EXPECT_EQ(s.CurrentIndex, 0);
  EXPECT_EQ(this->ImageField(), 7u);
  EXPECT_EQ(this->Peek(REG_CONTROL) & CONTROL_RUN, 0u);
}

TYPED_TEST(ModelBoardTest, RepeatWrapsToTheFirstEntryAndReportsOneBehind) {
  this->Bus(this->Card());
  ASSERT_TRUE(this->Build());
  this->m_Board->SetRunParameters(10, 50, 0, 0);
  uint16_t list[] = {3, 4, 5};
  ASSERT_EQ(this->m_Board->SetRunMode(1, 2, list, 1), 1);
  SRun_Status s = this->Status();
  EXPECT_EQ(s.RunFlags & RUN_FLAG_ACTIVE, RUN_FLAG_ACTIVE);
  EXPECT_EQ(s.LastIndex, 2);
  EXPECT_EQ(s.CurrentIndex, 0);
  // Each selection with the position reported right after it.
  std::vector<std::pair<uint32_t, uint16_t>> seen;
  uint32_t shown = this->ImageField();
  EXPECT_TRUE(WaitFor(
      [&] {
        const uint32_t now = this->ImageField();
        if (now != shown) seen.emplace_back(shown = now, this->Status().CurrentIndex);
        return seen.size() == 4;
      },
      std::chrono::milliseconds(3000)));
  EXPECT_EQ(seen, (std::vector<std::pair<uint32_t, uint16_t>>{{4, 0}, {5, 1}, {3, 2}, {4, 0}}));

  ASSERT_EQ(this->m_Board->SetRunMode(0, 0, nullptr, 0), 1);
  EXPECT_EQ(this->Status().RunFlags & RUN_FLAG_ACTIVE, 0);
  EXPECT_EQ(this->Peek(REG_CONTROL) & CONTROL_RUN, 0u);
  const uint64_t raised = sim::testing::Counts(SLOT0).raised;
  std::this_thread::sleep_for(std::chrono::milliseconds(250));
  EXPECT_EQ(sim::testing::Counts(SLOT0).raised, raised);
}

TYPED_TEST(ModelBoardTest, EntriesOutsideTheBoardArePassedOver) {
  this->BuildFast();
  uint16_t list[] = {2, static_cast<uint16_t>(TypeParam::MaxFrames), 3, 0xFFFF};
  ASSERT_EQ(this->m_Board->SetRunMode(1, 3, list, 1), 1);
  std::set<uint32_t> shown;
  const uint64_t start = sim::testing::Counts(SLOT0).delivered;
  EXPECT_TRUE(WaitFor([&] {
    shown.insert(this->ImageField());
    return sim::testing::Counts(SLOT0).delivered >= start + 20;
  }));
  shown.erase(0);  // SelectImage(0) at the start
  EXPECT_EQ(shown, (std::set<uint32_t>{2, 3}));
  EXPECT_EQ(this->m_Board->SetRunMode(0, 0, nullptr, 0), 1);
}

TYPED_TEST(ModelBoardTest, ListWithNothingToShowDoesNotHangTheRoutine) {
  this->BuildFast();
  uint16_t list[] = {static_cast<uint16_t>(TypeParam::MaxFrames), 0xFFFF};
  ASSERT_EQ(this->m_Board->SetRunMode(1, 1, list, 1), 1);
  // Every interrupt taken means the routine returned and unmasked the next one.
  EXPECT_TRUE(WaitFor([&] { return sim::testing::Counts(SLOT0).delivered >= 10; }));
  EXPECT_EQ(this->ImageField(), 0u);
  EXPECT_EQ(this->m_Board->SetRunMode(0, 0, nullptr, 0), 1);
}

TYPED_TEST(ModelBoardTest, LongListReplacesTheRunListWhileRunning) {
  this->BuildFast();
  std::vector<uint16_t> shortList{1, 2, 3};
  ASSERT_EQ(this->m_Board->SetRunMode(1, 2, shortList.data(), 1), 1);
  EXPECT_TRUE(WaitFor([&] { return sim::testing::Counts(SLOT0).delivered >= 3; }));
  // A new start without a stop, with more entries than the list holds from open.
  std::vector<uint16_t> longList(TypeParam::MaxFrames * 2 + 1);
  for (size_t i = 0; i < longList.size(); ++i) longList[i] = static_cast<uint16_t>(i % TypeParam::MaxFrames);
  ASSERT_EQ(this->m_Board->SetRunMode(1, static_cast<int>(longList.size() - 1), longList.data(), 0), 1);
  EXPECT_TRUE(WaitFor([&] { return this->Status().CurrentIndex >= 5; }));
  EXPECT_EQ(this->Status().LastIndex, longList.size() - 1);
  EXPECT_EQ(this->m_Board->SetRunMode(0, 0, nullptr, 0), 1);
  EXPECT_EQ(this->m_Board->SetRunMode(1, -1, longList.data(), 0), 0);
  EXPECT_EQ(this->m_Board->SetRunMode(1, 0, nullptr, 0), 0);
}

// ---- power ----

TYPED_TEST(ModelBoardTest, PowerFollowsTheRequest) {
  this->BuildFast();
  EXPECT_EQ(this->m_Board->SetPower(1), 1);
  EXPECT_EQ(this->m_Board->GetPower(), 1);
  EXPECT_NE(this->Peek(REG_CONTROL) & CONTROL_SLM_POWER, 0u);
  EXPECT_EQ(this->m_Board->SetPower(1), 1);
  EXPECT_EQ(this->m_Board->SetPower(0), 0);
  EXPECT_EQ(this->Peek(REG_CONTROL) & CONTROL_SLM_POWER, 0u);
  EXPECT_TRUE(this->m_Host->Messages().empty());
}

TYPED_TEST(ModelBoardTest, StuckPowerBitIsReported) {
  this->BuildFast(":power-stuck");
  EXPECT_EQ(this->m_Board->SetPower(1), 0);
  ASSERT_EQ(this->MessageTexts(),
            std::vector<std::string>{"SLM Power not responding... Is DAC power plugged in?"});
  EXPECT_EQ(this->m_Host->Messages()[0].caption, "ERROR");
}

// ---- the reorder on every path ----

namespace {

using FrameOrderPaths = OnEveryPath<>;

template <int Run>
void ExpectWovenAsStored(int path, uint32_t bytes) {
  const std::vector<uint8_t> picture = Pattern(bytes, 7);
  const std::vector<uint8_t> expected = Interleave(picture, Run);
  std::vector<uint8_t> out(bytes + 1, 0x5A);  // a guard byte behind the frame
  modelboard::REORDER_PATHS<Run>[path](picture.data(), out.data(), bytes);
  EXPECT_TRUE(std::equal(expected.begin(), expected.end(), out.begin())) << "run " << Run << ", " << bytes << " bytes";
  EXPECT_EQ(out.back(), 0x5A);
  std::vector<uint8_t> inPlace = picture;
  modelboard::REORDER_PATHS<Run>[path](inPlace.data(), inPlace.data(), bytes);
  EXPECT_TRUE(inPlace == expected) << "in place: run " << Run << ", " << bytes << " bytes";
}

// Both run lengths, whole frames and an odd number of groups, into another buffer and in place.
TEST_P(FrameOrderPaths, WeavesFramesAsTheBoardStoresThem) {
  for (uint32_t bytes : {512u * 512u, 3u * 64u}) ExpectWovenAsStored<16>(Index(), bytes);
  for (uint32_t bytes : {256u * 256u, 3u * 32u}) ExpectWovenAsStored<8>(Index(), bytes);
}

INSTANTIATE_ON_EVERY_PATH(FrameOrderPaths);

}  // namespace
