// The simulated card as a driver meets it through the facility: the bus grammar, the
// board's status and latencies, frame memory in both byte orders, what the modulator
// shows, the timing engine and the trace.

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <sstream>

#include "Child.h"
#include "SimFixture.h"

using namespace simtest;

namespace {

// ---- the bus description ----

struct BusCase {
  const char* text;
  std::vector<std::pair<std::string, uint32_t>> cards;  // model, board id
};

class SimBusGrammar : public ::testing::TestWithParam<BusCase> {};

TEST_P(SimBusGrammar, DescribesTheCards) {
  UseBus(GetParam().text);
  const pci::DeviceHandle device = pci::Open();
  ASSERT_NE(device, pci::INVALID_DEVICE);
  pci::Location locations[pci::MAX_CARDS];
  const uint32_t count = pci::Scan(device, PLX_VENDOR, PLX_DEVICE, locations);
  ASSERT_EQ(count, GetParam().cards.size());
  for (uint32_t i = 0; i < count; ++i) {
    const auto card = sim::testing::CardAt(locations[i]);
    ASSERT_TRUE(card.has_value());
    EXPECT_EQ(card->model, GetParam().cards[i].first) << "card " << i;
    EXPECT_EQ(card->id, GetParam().cards[i].second) << "card " << i;
    EXPECT_EQ(sim::testing::PeekRegister(locations[i], 2, REG_STATUS) >> 24, GetParam().cards[i].second);
  }
  pci::Close(device);
}

INSTANTIATE_TEST_SUITE_P(
    Valid, SimBusGrammar,
    ::testing::Values(BusCase{"kite", {{"kite", 0}}}, BusCase{"wren", {{"wren", 0x40}}},
                      BusCase{"other", {{"other", 0x80}}}, BusCase{"none", {}}, BusCase{" none ", {}},
                      BusCase{"kite:id=1,wren:id=0x41", {{"kite", 1}, {"wren", 0x41}}},
                      BusCase{"wren:no-irq:id=65 , kite:held:3v3-low", {{"wren", 65}, {"kite", 0}}},
                      BusCase{"other:id=0XfF:dac-fault:power-stuck:busy-stuck", {{"other", 255}}}));

class SimBusRefused : public ::testing::TestWithParam<const char*> {};

TEST_P(SimBusRefused, NamesTheVariable) {
  UseBus(GetParam());
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(pci::Open(), pci::INVALID_DEVICE);
  const std::string message = ::testing::internal::GetCapturedStderr();
  EXPECT_NE(message.find("SORREL_SIM"), std::string::npos) << message;
}

INSTANTIATE_TEST_SUITE_P(Malformed, SimBusRefused,
                         ::testing::Values("", "kite,", ",kite", "kite,,wren", "hawk", "Kite", "kite:id=256",
                                           "kite:id=", "kite:id=0x", "kite:id=12a", "kite:id=-1",
                                           "kite:id=1:id=2", "kite:held:held", "kite:hold", "none,kite",
                                           "kite:", "kite;wren"));

TEST(SimBus, AtMostAHundredCards) {
  std::string many = "kite";
  for (int i = 1; i < 100; ++i) {
    many += ",wren";
  }
  UseBus(many.c_str());
  const pci::DeviceHandle device = pci::Open();
  pci::Location locations[pci::MAX_CARDS];
  EXPECT_EQ(pci::Scan(device, PLX_VENDOR, PLX_DEVICE, locations), 100u);
  EXPECT_EQ(sim::testing::CardAt(locations[99])->model, "wren");
  pci::Close(device);
  UseBus((many + ",kite").c_str());
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(pci::Open(), pci::INVALID_DEVICE);
  EXPECT_NE(::testing::internal::GetCapturedStderr().find("more than 100"), std::string::npos);
}

// ---- status, power and latencies ----

TEST(SimCard, HealthyStatusAndVersions) {
  UseBus("kite:id=1");
  Card card;
  ASSERT_TRUE(card.Ok());
  const uint32_t status = card.Read(REG_STATUS);
  EXPECT_EQ(status >> 24, 1u);
  EXPECT_EQ(status & 0xF, 0xFu) << "INIT bits";
  EXPECT_NE(status & 0x1000, 0u) << "3.3 V good";
  EXPECT_EQ(status & 0x4800, 0u) << "no DAC fault, DAC not powered";
  EXPECT_EQ(card.Read(REG_SDRAM0), 25u);
  EXPECT_GT(card.Read(REG_CONTROL_VERSION), 0u);
  for (uint32_t reg : {REG_FRAME_COUNTS, REG_TIMING_A, REG_TIMING_B, REG_FRAME_SELECT}) {
    card.Write(reg, 0x12345678 + reg);
    EXPECT_EQ(card.Read(reg), 0x12345678 + reg) << "register 0x" << std::hex << reg << " reads back";
  }
  ::testing::internal::CaptureStderr();
  card.Write(REG_STATUS, 0);
  EXPECT_EQ(card.Read(REG_STATUS) >> 24, 1u) << "status is read-only";
  EXPECT_EQ(card.Read(0x18), 0u);
  EXPECT_EQ(pci::ReadMem32(0), 0xFFFFFFFFu);
  EXPECT_NE(::testing::internal::GetCapturedStderr().find("0x18"), std::string::npos);
}

TEST(SimCard, DacPowerGoodRisesAfterAWhileAndFallsAtOnce) {
  UseBus("wren");
  Card card;
  const auto start = std::chrono::steady_clock::now();
  card.Write(REG_CONTROL, 0x100);
  // Whenever power good is seen, the delay has passed (this thread may be held up itself).
  auto good = [&] {
    const bool up = (card.Read(REG_STATUS) & 0x800) != 0;
    EXPECT_TRUE(!up || std::chrono::steady_clock::now() - start >= std::chrono::milliseconds(20));
    return up;
  };
  EXPECT_TRUE(WaitFor(good));
  card.Write(REG_CONTROL, 0);
  EXPECT_EQ(card.Read(REG_STATUS) & 0x800, 0u);
}

TEST(SimCard, FaultsShowInTheStatus) {
  UseBus("kite:3v3-low,kite:dac-fault,kite:power-stuck");
  Card low({1, 0, 0});
  Card dac({1, 1, 0});
  Card stuck({1, 2, 0});
  EXPECT_EQ(low.Read(REG_STATUS) & 0x100F, 0u) << "3.3 V low, INIT bits clear";
  EXPECT_EQ(low.Read(REG_SDRAM0 + 4), 0u);
  dac.Write(REG_CONTROL, 0x100);
  std::this_thread::sleep_for(std::chrono::milliseconds(40));
  EXPECT_EQ(dac.Read(REG_STATUS) & 0x4800, 0x4000u) << "fault set, power good never";
  stuck.Write(REG_CONTROL, 0x500);
  EXPECT_EQ(stuck.Read(REG_CONTROL), 0x100u) << "SLM power bit does not follow";
}

TEST(SimCard, BusyBitsFallAfterTheDownloadSelection) {
  UseBus("kite,kite:busy-stuck");
  Card card({1, 0, 0});
  Card stuck({1, 1, 0});
  EXPECT_EQ(card.Read(REG_STATUS) & 0xF0, 0u);
  const auto start = std::chrono::steady_clock::now();
  card.Write(REG_FRAME_SELECT, 5u << 16);
  const bool busy = (card.Read(REG_STATUS) & 0xF0) == 0xF0;
  EXPECT_TRUE(busy || std::chrono::steady_clock::now() - start >= std::chrono::microseconds(20));
  EXPECT_TRUE(WaitFor([&] { return (card.Read(REG_STATUS) & 0xF0) == 0; }));
  stuck.Write(REG_FRAME_SELECT, 5u << 16);
  std::this_thread::sleep_for(std::chrono::milliseconds(5));
  EXPECT_EQ(stuck.Read(REG_STATUS) & 0xF0, 0xF0u);
}

TEST(SimCard, FaultsSwitchOnAndOffWhileTheCardIsHeld) {
  UseBus("kite");
  Card card;
  EXPECT_FALSE(sim::testing::SetFaults(SLOT0, "busy-stuck:loose-cable", true)) << "an unknown name changes nothing";
  ASSERT_TRUE(sim::testing::SetFaults(SLOT0, "busy-stuck:3v3-low", true));
  EXPECT_EQ(card.Read(REG_STATUS) & 0x1000, 0u) << "the supply fails at once";
  card.Write(REG_FRAME_SELECT, 5u << 16);
  std::this_thread::sleep_for(std::chrono::milliseconds(5));
  EXPECT_EQ(card.Read(REG_STATUS) & 0xF0, 0xF0u);
  ASSERT_TRUE(sim::testing::SetFaults(SLOT0, "busy-stuck:3v3-low", false));
  EXPECT_EQ(card.Read(REG_STATUS) & 0x10F0, 0x1000u) << "the board recovers: supply good, not busy";
}

// ---- frame memory and the display ----

struct OrderCase {
  const char* bus;
  uint32_t size;
  uint32_t run;  // 0: stored as the picture
  uint32_t buffer;
};

class SimFrameMemory : public ::testing::TestWithParam<OrderCase> {};

TEST_P(SimFrameMemory, BlockLandsInTheSelectedBufferAndShowsAsThePicture) {
  const OrderCase& c = GetParam();
  UseBus(c.bus);
  Card card;
  ASSERT_TRUE(card.Ok());
  const std::vector<uint8_t> picture = Pattern(c.size, c.buffer);
  const std::vector<uint8_t> stored = c.run != 0 ? Interleave(picture, c.run) : picture;
  card.Write(REG_FRAME_SELECT, c.buffer << 16);
  card.WriteFrame(stored);
  std::vector<uint8_t> bytes;
  ASSERT_TRUE(sim::testing::StoredFrame(SLOT0, c.buffer, bytes));
  EXPECT_EQ(bytes, stored);
  ASSERT_TRUE(sim::testing::DecodedFrame(SLOT0, c.buffer, bytes));
  EXPECT_EQ(bytes, picture);
  EXPECT_FALSE(sim::testing::StoredFrame(SLOT0, c.buffer ^ 1, bytes)) << "no other buffer was written";

  pci::DisplayInfo info{};
  std::vector<uint8_t> shown(c.size, 0xEE);
  card.Write(REG_FRAME_SELECT, c.buffer);  // show it; the download field moves on
  ASSERT_TRUE(sim::testing::ReadDisplay(SLOT0, info, shown.data(), shown.size()));
  EXPECT_EQ(info.Image, c.buffer);
  EXPECT_EQ(info.Powered, 0u);
  EXPECT_EQ(shown, std::vector<uint8_t>(c.size, 0)) << "dark while SLM power is off";
  card.Write(REG_CONTROL, 0x400);
  card.Write(REG_FRAME_COUNTS, 6);
  card.Write(REG_TIMING_A, 200 | 8 << 8 | 1 << 16);
  card.Write(REG_TIMING_B, 100 | 8 << 8 | 1 << 16);
  ASSERT_TRUE(sim::testing::ReadDisplay(SLOT0, info, shown.data(), shown.size()));
  EXPECT_EQ(shown, picture);
  EXPECT_EQ(info.Width * info.Height, c.size);
  EXPECT_EQ(info.LaserAGain, 200u);
  EXPECT_EQ(info.LaserBGain, 100u);
  EXPECT_EQ(info.DarkA16, 24u);
  EXPECT_EQ(info.ImageFrames, 6u);
}

INSTANTIATE_TEST_SUITE_P(ByteOrders, SimFrameMemory,
                         ::testing::Values(OrderCase{"kite:id=0", 262144, 16, 7},
                                           OrderCase{"kite:id=1", 262144, 0, 1023},
                                           OrderCase{"wren:id=0x40", 65536, 8, 4095},
                                           OrderCase{"wren:id=0x41", 65536, 0, 2048},
                                           OrderCase{"other", 262144, 0, 3}));

TEST(SimFrameMemoryFields, KiteFieldIsTenBitsWrenTwelve) {
  UseBus("kite:id=1,wren:id=0x41");
  Card kite({1, 0, 0});
  Card wren({1, 1, 0});
  const std::vector<uint8_t> small(64, 9);
  kite.Write(REG_FRAME_SELECT, 0x0FFFu << 16);  // bits above the 10-bit field are not decoded
  kite.WriteFrame(small);
  wren.Write(REG_FRAME_SELECT, 0x0FFFu << 16);
  wren.WriteFrame(small);
  std::vector<uint8_t> bytes;
  EXPECT_TRUE(sim::testing::StoredFrame({1, 0, 0}, 1023, bytes));
  EXPECT_TRUE(sim::testing::StoredFrame({1, 1, 0}, 4095, bytes));
  EXPECT_EQ(bytes.size(), 65536u);
  EXPECT_EQ(bytes[63], 9);
  EXPECT_EQ(bytes[64], 0) << "the rest of a new buffer is cleared";
}

// ---- the timing engine and the interrupt line ----

TEST(SimCardThreads, RaisesOncePerImagePeriodWhileRunning) {
  UseBus("kite");
  Card card;
  card.Write(REG_FRAME_COUNTS, 6u | 100u << 16);  // 6 board frames: 984.6 us
  const auto t0 = std::chrono::steady_clock::now();
  card.Write(REG_CONTROL, 1u << 3);
  const auto t1 = std::chrono::steady_clock::now();
  std::this_thread::sleep_for(std::chrono::milliseconds(60));
  const auto t2 = std::chrono::steady_clock::now();
  card.Write(REG_CONTROL, 0);
  const auto t3 = std::chrono::steady_clock::now();
  // However late the engine thread runs, it owes one raise per period boundary between the
  // two writes.
  auto periods = [](auto from, auto to) {
    return static_cast<uint64_t>(std::chrono::duration<double>(to - from).count() / 984.6e-6);
  };
  ASSERT_TRUE(WaitFor([&] { return sim::testing::Counts(SLOT0).raised >= periods(t1, t2); }));
  std::this_thread::sleep_for(std::chrono::milliseconds(5));
  const auto counts = sim::testing::Counts(SLOT0);
  EXPECT_TRUE(counts.atRest) << "stopped, and the masked line waits for nobody";
  card.WriteBridge(INTCSR, INTCSR_ENABLE);
  EXPECT_FALSE(sim::testing::Counts(SLOT0).atRest) << "unmasked, the raised line waits for the host";
  card.WriteBridge(INTCSR, 0);
  EXPECT_LE(counts.raised, periods(t0, t3));
  EXPECT_EQ(counts.delivered, 0u) << "nobody took them: the bridge masks the line";
  EXPECT_EQ(counts.merged, counts.raised - 1) << "one level, never acknowledged";
  EXPECT_NE(card.ReadBridge(INTCSR) & 4u, 0u) << "the bridge shows the line asserted";
  card.Write(REG_INT_ACK, 0);
  EXPECT_EQ(card.ReadBridge(INTCSR) & 4u, 0u);
  std::this_thread::sleep_for(std::chrono::milliseconds(5));
  EXPECT_EQ(sim::testing::Counts(SLOT0).raised, counts.raised) << "stopped with the run bit";
}

// A process may let go of a card mid-run (its end, a failed start-up): the engine stops anyway.
TEST(SimCardThreads, ACardReleasedWhileRunningStopsItsEngine) {
  UseBus("kite");
  {
    Card card;
    card.Write(REG_FRAME_COUNTS, 1);
    card.Write(REG_CONTROL, 1u << 3);
    ASSERT_TRUE(WaitFor([] { return sim::testing::Counts(SLOT0).raised > 0; }));
  }
  Card again;
  EXPECT_TRUE(again.Ok());
}

TEST(SimCardThreads, NoIrqBoardNeverRaises) {
  UseBus("kite:no-irq");
  Card card;
  card.Write(REG_FRAME_COUNTS, 1);
  card.Write(REG_CONTROL, 1u << 3);
  std::this_thread::sleep_for(std::chrono::milliseconds(10));
  card.Write(REG_CONTROL, 0);
  EXPECT_EQ(sim::testing::Counts(SLOT0).raised, 0u);
}

TEST(SimCardThreads, RecordsTheFrameEachImagePeriodBeginsWith) {
  UseBus("kite");
  Card card;
  card.Write(REG_FRAME_COUNTS, 6);  // 984.6 us
  card.Write(REG_FRAME_SELECT, 3);
  ASSERT_TRUE(sim::testing::RecordShownFrames(SLOT0, 1000));
  const auto before = std::chrono::steady_clock::now();
  card.Write(REG_CONTROL, 1u << 3);
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  const auto changing = std::chrono::steady_clock::now();
  card.Write(REG_FRAME_SELECT, 7);
  const auto changed = std::chrono::steady_clock::now();
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  card.Write(REG_CONTROL, 0);
  std::vector<sim::ShownFrame> shown;
  EXPECT_EQ(sim::testing::TakeShownFrames(SLOT0, shown), 0u);
  const uint64_t raised = sim::testing::Counts(SLOT0).raised;
  ASSERT_EQ(shown.size(), raised + 1) << "the first period, then one more at each raise";
  EXPECT_GE(shown.front().start, before);
  const auto period = std::chrono::nanoseconds(6 * 164100);
  for (size_t i = 1; i < shown.size(); ++i) {
    EXPECT_EQ(shown[i].start - shown[i - 1].start, period) << i;
    if (shown[i].start < changing) {
      EXPECT_EQ(shown[i].frame, 3u) << i;
    } else if (shown[i].start > changed) {
      EXPECT_EQ(shown[i].frame, 7u) << i;
    }
  }
  EXPECT_EQ(shown.front().frame, 3u);
  EXPECT_EQ(shown.back().frame, 7u);
  shown.clear();
  EXPECT_EQ(sim::testing::TakeShownFrames(SLOT0, shown), 0u);
  EXPECT_TRUE(shown.empty()) << "a take empties the record";

  // A record without room counts what it could not keep.
  ASSERT_TRUE(sim::testing::RecordShownFrames(SLOT0, 2));
  card.Write(REG_CONTROL, 1u << 3);
  std::this_thread::sleep_for(std::chrono::milliseconds(10));
  card.Write(REG_CONTROL, 0);
  const uint64_t dropped = sim::testing::TakeShownFrames(SLOT0, shown);
  EXPECT_EQ(shown.size(), 2u);
  EXPECT_GE(dropped, 7u);
}

// ---- the trace ----

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    lines.push_back(line);
  }
  return lines;
}

TEST(SimTrace, RegisterWritesAndFramesAsTheyHappen) {
  UseBus("wren");
  TempFolder folder;
  const auto trace = folder.Path() / "trace";
  setenv("SORREL_SIM_TRACE", trace.c_str(), 1);
  {
    Card card;
    card.Write(REG_FRAME_SELECT, 12u << 16);
    card.WriteBridge(INTCSR, 0x41);
    const std::vector<uint8_t> picture = Pattern(65536, 3);
    card.WriteFrame(Interleave(picture, 8));
    const std::vector<std::string> lines = Lines(ReadFile(trace / "registers.log"));
    ASSERT_EQ(lines.size(), 2u);
    unsigned long long t1 = 0, t2 = 0;
    char kind = 0;
    unsigned space = 0, offset = 0, value = 0;
    ASSERT_EQ(std::sscanf(lines[0].c_str(), "%llu %c %u %x %x", &t1, &kind, &space, &offset, &value), 5);
    EXPECT_EQ(kind, 'W');
    EXPECT_EQ(space, 2u);
    EXPECT_EQ(offset, 8u);
    EXPECT_EQ(value, 12u << 16);
    ASSERT_EQ(std::sscanf(lines[1].c_str(), "%llu %c %u %x %x", &t2, &kind, &space, &offset, &value), 5);
    EXPECT_EQ(space, 0u);
    EXPECT_EQ(offset, 0x4Cu);
    EXPECT_EQ(value, 0x41u);
    EXPECT_LE(t1, t2);

    const std::string raw = ReadFile(trace / "frame-0012.raw");
    EXPECT_EQ(raw, std::string(reinterpret_cast<const char*>(Interleave(picture, 8).data()), 65536));
    const std::string pgm = ReadFile(trace / "frame-0012.pgm");
    const std::string header = "P5\n256 256\n255\n";
    ASSERT_EQ(pgm.size(), header.size() + 65536);
    EXPECT_EQ(pgm.substr(0, header.size()), header);
    EXPECT_EQ(pgm.substr(header.size()), std::string(reinterpret_cast<const char*>(picture.data()), 65536));
    EXPECT_FALSE(std::filesystem::exists(trace / "frame-0012.pgm.tmp"));
  }
  {
    Card again;  // a second registration in the same process goes on with the same log
    again.Write(REG_FRAME_COUNTS, 3);
  }
  EXPECT_EQ(Lines(ReadFile(trace / "registers.log")).size(), 3u);
  unsetenv("SORREL_SIM_TRACE");
}

TEST(SimTrace, NeverWritesThroughALinkAnotherUserPlantedInASharedTraceFolder) {
  if (geteuid() != 0) GTEST_SKIP() << "planting a link as another user takes root's rights";
  UseBus("wren");
  TempFolder shared, victim;
  ASSERT_EQ(chmod(shared.Path().c_str(), 01777), 0);
  const auto precious = victim.Path() / "profile";
  { std::ofstream(precious) << "precious\n"; }
  ASSERT_EQ(InChild([&] {
              return DropToOrdinaryUser() && symlink(precious.c_str(), (shared.Path() / "registers.log").c_str()) == 0 &&
                             symlink(precious.c_str(), (shared.Path() / "frame-0001.raw").c_str()) == 0
                         ? 0
                         : 1;
            }),
            0);
  setenv("SORREL_SIM_TRACE", shared.Path().c_str(), 1);
  ::testing::internal::CaptureStderr();
  {
    Card card;
    card.Write(REG_FRAME_SELECT, 1u << 16);
    card.WriteFrame(std::vector<uint8_t>(65536, 9));
  }
  const std::string said = ::testing::internal::GetCapturedStderr();
  unsetenv("SORREL_SIM_TRACE");
  EXPECT_EQ(ReadFile(precious), "precious\n");
  EXPECT_NE(said.find("sim: cannot open the trace log " + (shared.Path() / "registers.log").string() +
                      ": it is reached through a symbolic link that another user could have planted"),
            std::string::npos)
      << said;
}

TEST(SimTrace, SeveralCardsTraceIntoTheirOwnFolders) {
  UseBus("kite,kite");
  TempFolder folder;
  setenv("SORREL_SIM_TRACE", folder.Path().c_str(), 1);
  {
    Card second({1, 1, 0});
    second.Write(REG_CONTROL, 1);
  }
  EXPECT_EQ(Lines(ReadFile(folder.Path() / "slot-1" / "registers.log")).size(), 1u);
  EXPECT_FALSE(std::filesystem::exists(folder.Path() / "registers.log"));
  unsetenv("SORREL_SIM_TRACE");
}

}  // namespace
