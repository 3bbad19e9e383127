// The facility's calls on the simulated bus: scanning, resources, claims across processes,
// configuration space, address windows, block transfers and the interrupt thread.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <optional>
#include <utility>
#include <vector>

#include "Child.h"
#include "SimFixture.h"

using namespace simtest;

namespace {

TEST(PciFacility, DefaultBusIsOneKiteCard) {
  UseBus(nullptr);
  const pci::DeviceHandle device = pci::Open();
  ASSERT_NE(device, pci::INVALID_DEVICE);
  EXPECT_GE(pci::Version(device), 1010u);
  pci::Location locations[pci::MAX_CARDS];
  ASSERT_EQ(pci::Scan(device, PLX_VENDOR, PLX_DEVICE, locations), 1u);
  EXPECT_EQ(locations[0].Bus, SLOT0.Bus);
  EXPECT_EQ(locations[0].Slot, SLOT0.Slot);
  EXPECT_EQ(pci::Scan(device, PLX_VENDOR, 0x9054, locations), 0u);
  EXPECT_EQ(pci::ConfigRead32(device, SLOT0, 0x00), PLX_DEVICE << 16 | PLX_VENDOR);
  auto card = sim::testing::CardAt(SLOT0);
  ASSERT_TRUE(card.has_value());
  EXPECT_EQ(card->model, "kite");
  EXPECT_EQ(card->id, 0u);
  pci::Close(device);
  EXPECT_EQ(pci::Version(device), 0u) << "a closed handle is no handle";
}

TEST(PciFacility, ResourcesFollowTheBarsAndDifferPerCard) {
  UseBus("kite,wren,other");
  const pci::DeviceHandle device = pci::Open();
  pci::Location locations[pci::MAX_CARDS];
  ASSERT_EQ(pci::Scan(device, PLX_VENDOR, PLX_DEVICE, locations), 3u);
  std::vector<uint32_t> seen;
  for (uint32_t c = 0; c < 3; ++c) {
    pci::CardResources resources{};
    ASSERT_TRUE(pci::CardInfo(device, locations[c], resources));
    ASSERT_EQ(resources.ItemCount, 5u);
    const uint32_t types[] = {pci::ITEM_MEMORY, pci::ITEM_IO, pci::ITEM_MEMORY, pci::ITEM_MEMORY, pci::ITEM_INTERRUPT};
    for (int i = 0; i < 4; ++i) {
      const pci::ResourceItem& item = resources.Items[i];
      ASSERT_EQ(item.Type, types[i]);
      const uint32_t bar = pci::ConfigRead32(device, locations[c], 0x10 + 4 * i);
      if (item.Type == pci::ITEM_IO) {
        EXPECT_EQ(bar & 1u, 1u);
        EXPECT_EQ(bar & ~3u, item.Io.Port);
        seen.push_back(item.Io.Port);
      } else {
        EXPECT_EQ(bar & 1u, 0u);
        EXPECT_EQ(bar & ~0xFu, item.Memory.PhysicalAddress);
        seen.push_back(item.Memory.PhysicalAddress);
      }
    }
    EXPECT_NE(pci::ConfigRead32(device, locations[c], 0x10) & 0xFu, 0u) << "BAR0 carries flag bits";
    EXPECT_EQ(pci::ConfigRead32(device, locations[c], 0x20), 0u);
    EXPECT_EQ(pci::ConfigRead32(device, locations[c], 0x24), 0u);
    EXPECT_EQ(resources.Items[4].Type, pci::ITEM_INTERRUPT);
    EXPECT_EQ(resources.Items[4].Interrupt.Line, pci::ConfigRead32(device, locations[c], 0x3C) & 0xFF);
    EXPECT_EQ(resources.Items[3].Memory.Size, c == 1 ? 65536u : 262144u);
  }
  std::sort(seen.begin(), seen.end());
  EXPECT_EQ(std::adjacent_find(seen.begin(), seen.end()), seen.end()) << "every BAR of every card is distinct";
  pci::Close(device);
}

TEST(PciFacility, BarSizingAndReadOnlyConfiguration) {
  UseBus("kite");
  const pci::DeviceHandle device = pci::Open();
  const uint32_t bar2 = pci::ConfigRead32(device, SLOT0, 0x18);
  pci::ConfigWrite32(device, SLOT0, 0x18, 0xFFFFFFFF);
  EXPECT_EQ(pci::ConfigRead32(device, SLOT0, 0x18), ~0xFFu) << "a 256-byte BAR sizes as 0xFFFFFF00";
  pci::ConfigWrite32(device, SLOT0, 0x18, bar2);
  EXPECT_EQ(pci::ConfigRead32(device, SLOT0, 0x18), bar2);
  pci::ConfigWrite32(device, SLOT0, 0x00, 0x12345678);
  EXPECT_EQ(pci::ConfigRead32(device, SLOT0, 0x00), PLX_DEVICE << 16 | PLX_VENDOR);
  EXPECT_EQ(pci::ConfigRead32(device, SLOT0, 0x102), 0xFFFFFFFFu);
  EXPECT_EQ(pci::ConfigRead32(device, {9, 9, 0}, 0x00), 0xFFFFFFFFu) << "an empty slot reads as all ones";
  pci::Close(device);
}

TEST(PciFacility, MalformedBusIsRefusedWholeWithItsName) {
  UseBus("kite,wren");
  pci::Close(pci::Open());
  setenv("SORREL_SIM", "wren,kite:id=300", 1);
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(pci::Open(), pci::INVALID_DEVICE);
  const std::string message = ::testing::internal::GetCapturedStderr();
  EXPECT_NE(message.find("SORREL_SIM"), std::string::npos) << message;
  EXPECT_NE(message.find("id=300"), std::string::npos) << message;
  // Nothing of the refused description took hold: the bus is still kite, wren.
  EXPECT_EQ(sim::testing::CardAt(SLOT0)->model, "kite");
  setenv("SORREL_SIM", "wren", 1);
  const pci::DeviceHandle device = pci::Open();
  ASSERT_NE(device, pci::INVALID_DEVICE);
  EXPECT_EQ(sim::testing::CardAt(SLOT0)->model, "wren");
  pci::Close(device);
}

TEST(PciFacility, BusIsKeptWhileACardIsRegistered) {
  UseBus("kite");
  Card held(SLOT0);
  ASSERT_TRUE(held.Ok());
  setenv("SORREL_SIM", "wren", 1);
  const pci::DeviceHandle device = pci::Open();
  EXPECT_EQ(sim::testing::CardAt(SLOT0)->model, "kite");
  pci::Close(device);
}

TEST(PciFacility, RegistrationMapsMemoryAndIsExclusive) {
  UseBus("kite");
  {
    Card first(SLOT0);
    ASSERT_TRUE(first.Ok());
    for (int item : {0, 2, 3}) {
      EXPECT_NE(first.Mapped(item), 0u);
      EXPECT_EQ(first.Transfer(item), first.Record().Resources.Items[item].Memory.PhysicalAddress);
    }
    EXPECT_NE(first.InterruptHandle(), 0u);
    EXPECT_EQ(pci::ReadMem32(first.Mapped(2) + REG_STATUS) >> 24, 0u) << "board id 0";

    Card second(SLOT0);
    EXPECT_FALSE(second.Ok()) << "the card is already held in this process";
  }
  Card again(SLOT0);
  EXPECT_TRUE(again.Ok()) << "released on scope exit";
}

TEST(PciFacility, ClosingTheHandleReleasesItsCards) {
  UseBus("kite");
  const pci::DeviceHandle device = pci::Open();
  pci::RegistrationRecord record{};
  ASSERT_TRUE(pci::CardInfo(device, SLOT0, record.Resources));
  pci::RegisterCard(device, record);
  ASSERT_NE(record.RegistrationHandle, 0u);
  const uintptr_t registers = static_cast<uintptr_t>(record.Resources.Items[2].Memory.MappedAddress);
  pci::Close(device);
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(pci::ReadMem32(registers), 0xFFFFFFFFu) << "the mapping went with the registration";
  ::testing::internal::GetCapturedStderr();
  Card again(SLOT0);
  EXPECT_TRUE(again.Ok());
}

TEST(PciFacility, ForeignResourcesAreNotRegistered) {
  UseBus("kite,kite");
  const pci::DeviceHandle device = pci::Open();
  pci::RegistrationRecord mixed{};
  pci::CardResources other{};
  ASSERT_TRUE(pci::CardInfo(device, SLOT0, mixed.Resources));
  ASSERT_TRUE(pci::CardInfo(device, {1, 1, 0}, other));
  mixed.Resources.Items[2] = other.Items[2];  // BAR2 of the second card
  ::testing::internal::CaptureStderr();
  pci::RegisterCard(device, mixed);
  EXPECT_FALSE(::testing::internal::GetCapturedStderr().empty());
  EXPECT_EQ(mixed.RegistrationHandle, 0u);
  pci::Close(device);
}

TEST(PciFacility, HeldFaultRefusesRegistration) {
  UseBus("kite:held,kite");
  Card held(SLOT0);
  EXPECT_FALSE(held.Ok());
  Card free({1, 1, 0});
  EXPECT_TRUE(free.Ok());
}

TEST(PciFacility, ClaimOfADeadProcessIsDropped) {
  UseBus("kite");
  CHoldingChild holder([](const auto& held) {
    Card card(SLOT0);
    held(card.Ok());
  });
  ASSERT_TRUE(holder.Held());
  {
    Card refused(SLOT0);
    EXPECT_FALSE(refused.Ok());
  }
  holder.End();
  Card after(SLOT0);
  EXPECT_TRUE(after.Ok()) << "the kernel dropped the dead holder's lock";
}

TEST(PciFacility, AForkedChildHoldsNoneOfItsParentsClaims) {
  UseBus("kite");
  std::optional<Card> card;
  card.emplace(SLOT0);
  ASSERT_TRUE(card->Ok());
  CHoldingChild forked([](const auto& held) { held(true); });  // forked while the card is held
  ASSERT_TRUE(forked.Held());
  card.reset();
  Card after(SLOT0);
  EXPECT_TRUE(after.Ok()) << "the child kept the claim its parent gave back";
}

// A process that ends holding a card drops its claim on the way out, whatever of it ended first.
TEST(PciFacility, AProcessEndingWithACardHeldDropsItsClaim) {
  UseBus("kite");
  const pid_t child = fork();
  if (child == 0) {
    Card card(SLOT0);  // never given back
    std::exit(card.Ok() ? 0 : 3);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
  Card after(SLOT0);
  EXPECT_TRUE(after.Ok());
}

TEST(PciFacility, ARefusedClaimNamesItsHolder) {
  UseBus("kite:held,kite");
  const uint64_t before = pci::LastClaimRefusal().Serial;
  {
    Card simulatedHolder(SLOT0);  // the held fault: no process to name, no refusal counted
    EXPECT_FALSE(simulatedHolder.Ok());
  }
  EXPECT_EQ(pci::LastClaimRefusal().Serial, before);

  CHoldingChild holder([](const auto& held) {
    Card card({1, 1, 0});
    held(card.Ok());
  });
  ASSERT_TRUE(holder.Held());
  {
    Card refused({1, 1, 0});
    EXPECT_FALSE(refused.Ok());
  }
  const pci::ClaimRefusal refusal = pci::LastClaimRefusal();
  EXPECT_EQ(refusal.Serial, before + 1);
  EXPECT_EQ(refusal.ProcessId, holder.Pid());
  EXPECT_EQ(refusal.Program, program_invocation_short_name);
}

TEST(PciFacility, ARecordOfAnEndedHolderNamesNobody) {
  UseBus("kite");
  // A holder that has locked the claim but left the record of one that ended.
  const std::string folder = sim::testing::UsePrivateClaimFolder();
  ASSERT_TRUE(mkdir(folder.c_str(), 0700) == 0 || errno == EEXIST);  // made on the first claim otherwise
  const std::string claim = folder + "/sim-01-00-kite-00.lock";
  const int fd = open(claim.c_str(), O_RDWR | O_CREAT, 0600);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(flock(fd, LOCK_EX), 0);
  pid_t ended = fork();
  if (ended == 0) _exit(0);
  waitpid(ended, nullptr, 0);
  const std::string record = std::to_string(ended) + " gone\n";
  ASSERT_EQ(ftruncate(fd, 0), 0);
  ASSERT_EQ(pwrite(fd, record.data(), record.size(), 0), static_cast<ssize_t>(record.size()));
  {
    Card refused(SLOT0);
    EXPECT_FALSE(refused.Ok());
  }
  EXPECT_EQ(pci::LastClaimRefusal().ProcessId, 0);
  close(fd);
  Card taken(SLOT0);
  ASSERT_TRUE(taken.Ok());
  EXPECT_EQ(ReadFile(claim), std::to_string(getpid()) + " " + program_invocation_short_name + "\n")
      << "the new holder recorded itself";
}

// The environment a claim folder is chosen from, put back afterwards.
class ClaimPlaces {
 public:
  ClaimPlaces() {
    for (const char* name : NAMES) {
      const char* value = std::getenv(name);
      m_Saved.emplace_back(name, value != nullptr ? std::optional<std::string>(value) : std::nullopt);
    }
    // Shared as a temporary folder is; searchable by the other user.
    chmod(m_Shared.Path().c_str(), 01777);
    chmod(m_Runtime.Path().c_str(), 0755);
    setenv("TMPDIR", m_Shared.Path().c_str(), 1);
    setenv("XDG_RUNTIME_DIR", m_Runtime.Path().c_str(), 1);
    setenv("HOME", m_Home.Path().c_str(), 1);
  }
  ~ClaimPlaces() {
    for (const auto& [name, value] : m_Saved) {
      if (value) {
        setenv(name, value->c_str(), 1);
      } else {
        unsetenv(name);
      }
    }
  }
  std::filesystem::path Runtime() const { return m_Runtime.Path(); }
  std::filesystem::path Shared(uid_t uid) const { return m_Shared.Path() / ("sorrel-pci-" + std::to_string(uid)); }
  std::filesystem::path Home() const { return m_Home.Path() / ".sorrel-pci"; }

 private:
  static constexpr const char* NAMES[] = {"TMPDIR", "XDG_RUNTIME_DIR", "HOME"};
  TempFolder m_Shared, m_Runtime, m_Home;
  std::vector<std::pair<const char*, std::optional<std::string>>> m_Saved;
};

// What opening the card said on stderr; empty when the card could not be had.
std::string OpenedSaying() {
  ::testing::internal::CaptureStderr();
  const bool opened = Card(SLOT0).Ok();
  const std::string said = ::testing::internal::GetCapturedStderr();
  return opened ? said : std::string();
}

TEST(PciFacility, AnUnsafeClaimFolderIsNamedWithItsRemedyAndTheNextCandidateServes) {
  UseBus("kite");
  const ClaimPlaces places;
  const auto claims = places.Runtime() / "sorrel-pci";
  ASSERT_EQ(mkdir(claims.c_str(), 0777), 0);
  ASSERT_EQ(chmod(claims.c_str(), 0777), 0);
  const std::string said = OpenedSaying();
  EXPECT_NE(said.find("not using the claim folder " + claims.string() + ": "), std::string::npos) << said;
  EXPECT_NE(said.find("writable by nobody else"), std::string::npos) << said;
  EXPECT_NE(said.find("rm -r '" + claims.string() + "'"), std::string::npos) << said;
  EXPECT_TRUE(std::filesystem::exists(places.Shared(getuid()) / "sim-01-00-kite-00.lock"));
  ASSERT_EQ(chmod(claims.c_str(), 0700), 0);
  EXPECT_EQ(OpenedSaying(), "") << "a sound folder is used again without a word";
}

TEST(PciFacility, ARootFolderInTheUsersRuntimeFolderLocksThemOutNoLonger) {
  if (geteuid() != 0) GTEST_SKIP() << "a folder of root's in another user's runtime folder takes root to make";
  UseBus("kite");
  const ClaimPlaces places;
  constexpr uid_t NOBODY = 65534;
  ASSERT_EQ(chown(places.Runtime().c_str(), NOBODY, NOBODY), 0);
  const auto rootsFolder = places.Runtime() / "sorrel-pci";  // as a root process with their environment left it
  ASSERT_EQ(mkdir(rootsFolder.c_str(), 0700), 0);
  int said[2];
  ASSERT_EQ(pipe(said), 0);
  const int status = InChild([&] {
    if (!DropToOrdinaryUser()) return 2;
    dup2(said[1], 2);
    return Card(SLOT0).Ok() ? 0 : 1;
  });
  close(said[1]);
  std::string message;
  char chunk[512];
  for (ssize_t n; (n = read(said[0], chunk, sizeof chunk)) > 0;) message.append(chunk, static_cast<size_t>(n));
  close(said[0]);
  EXPECT_EQ(status, 0) << message;
  EXPECT_NE(message.find("not using the claim folder " + rootsFolder.string() + ": "), std::string::npos) << message;
  EXPECT_NE(message.find("owned by uid 0"), std::string::npos) << message;
  EXPECT_TRUE(std::filesystem::exists(places.Shared(NOBODY) / "sim-01-00-kite-00.lock"));
}

TEST(PciFacility, AClaimFolderAnotherUserMadeFirstIsPassedOver) {
  if (geteuid() != 0) GTEST_SKIP() << "another user's part takes root's rights to play";
  UseBus("kite");
  const ClaimPlaces places;
  unsetenv("XDG_RUNTIME_DIR");
  const auto planted = places.Shared(getuid());
  ASSERT_EQ(InChild([&] { return DropToOrdinaryUser() && mkdir(planted.c_str(), 0777) == 0 ? 0 : 1; }), 0);
  const std::string said = OpenedSaying();
  EXPECT_NE(said.find("not using the claim folder " + planted.string() + ": "), std::string::npos) << said;
  EXPECT_TRUE(std::filesystem::exists(places.Home() / "sim-01-00-kite-00.lock"));
  EXPECT_TRUE(std::filesystem::is_empty(planted)) << "nothing of ours went into their folder";
}

TEST(PciFacility, StrayAccessesAreReportedNotFatal) {
  UseBus("kite");
  Card card(SLOT0);
  ASSERT_TRUE(card.Ok());
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(pci::ReadMem32(0x1000), 0xFFFFFFFFu);
  pci::WriteMem32(card.Mapped(2) + 0x100, 1);  // one past the board registers
  std::vector<uint8_t> frame(262144 + 64, 7);
  pci::Transfer(card.Device(), card.Transfer(3), frame.data(), static_cast<uint32_t>(frame.size()));
  pci::Transfer(card.Device(), 0x10, frame.data(), 4);
  const std::string messages = ::testing::internal::GetCapturedStderr();
  EXPECT_NE(messages.find("clipped"), std::string::npos) << messages;
  std::vector<uint8_t> stored;
  ASSERT_TRUE(sim::testing::StoredFrame(SLOT0, 0, stored));
  EXPECT_EQ(stored.size(), 262144u);
  EXPECT_EQ(stored.back(), 7);
}

// What a termination signal needs where no driver object is: every held card's lasers at
// zero gain and its SLM off, the rest of its registers as they were.
TEST(PciFacility, HeldCardsAreMadeSafeWithoutTheirDriver) {
  UseBus("kite,wren");
  const pci::DeviceHandle device = pci::Open();
  pci::Location locations[pci::MAX_CARDS];
  ASSERT_EQ(pci::Scan(device, PLX_VENDOR, PLX_DEVICE, locations), 2u);
  pci::Close(device);
  Card first(locations[0]), second(locations[1]);
  ASSERT_TRUE(first.Ok() && second.Ok());
  constexpr uint32_t SLM_POWER = 1u << 10;
  uint32_t control[2] = {}, timing[2][2] = {};
  for (int i : {0, 1}) {
    const Card& card = i == 0 ? first : second;
    card.Write(REG_CONTROL, SLM_POWER | 1u << 8 | 1u << 0);  // SLM and DAC powered, normal
    card.Write(REG_TIMING_A, 0x030280C8);
    card.Write(REG_TIMING_B, 0x01020396);
    control[i] = card.Read(REG_CONTROL);
    timing[i][0] = card.Read(REG_TIMING_A);
    timing[i][1] = card.Read(REG_TIMING_B);
    ASSERT_NE(control[i] & SLM_POWER, 0u);
  }
  pci::MakeHeldCardsSafe();
  for (int i : {0, 1}) {
    const Card& card = i == 0 ? first : second;
    EXPECT_EQ(card.Read(REG_CONTROL), control[i] & ~SLM_POWER) << "card " << i;
    EXPECT_EQ(card.Read(REG_TIMING_A), timing[i][0] & ~0xFFu) << "card " << i;
    EXPECT_EQ(card.Read(REG_TIMING_B), timing[i][1] & ~0xFFu) << "card " << i;
  }
}

// The thread runs the interrupt-time commands before the routine, which then sees the
// board acknowledged and the bridge masked.
struct RoutineLog {
  uintptr_t bridge = 0;
  uintptr_t registers = 0;
  std::atomic<int> calls{0};
  std::atomic<uint32_t> intcsrSeen{0};
  std::atomic<uint32_t> localStatusSeen{0xFF};
};

void LoggingRoutine(void* argument) {
  auto* log = static_cast<RoutineLog*>(argument);
  const uint32_t intcsr = pci::ReadMem32(log->bridge + INTCSR);
  log->intcsrSeen = intcsr;
  log->localStatusSeen = (intcsr >> 2) & 1;
  ++log->calls;
  pci::WriteMem32(log->registers + REG_CONTROL, 0);  // one interrupt is enough
}

TEST(PciFacilityThreads, CommandsRunBeforeTheRoutine) {
  UseBus("kite");
  Card card(SLOT0);
  ASSERT_TRUE(card.Ok());
  RoutineLog log;
  log.bridge = card.Mapped(0);
  log.registers = card.Mapped(2);
  pci::TransferCommand commands[3]{};
  commands[0] = {card.Transfer(0) + INTCSR, pci::READ_MEM32, {}, 0, {}};
  commands[1] = {card.Transfer(2) + REG_INT_ACK, pci::WRITE_MEM32, {}, 0, {}};
  commands[2] = {card.Transfer(0) + INTCSR, pci::WRITE_MEM32, {}, 0, {}};
  pci::InterruptRecord record{card.InterruptHandle(), pci::INTERRUPT_CMD_COPY, commands, 3, 0};
  pci::ThreadHandle thread = 0;
  ASSERT_TRUE(pci::InterruptThreadEnable(&thread, card.Device(), &record, LoggingRoutine, &log));
  ASSERT_NE(thread, 0u);
  pci::ThreadHandle second = 0;
  ::testing::internal::CaptureStderr();
  EXPECT_FALSE(pci::InterruptThreadEnable(&second, card.Device(), &record, LoggingRoutine, &log));
  ::testing::internal::GetCapturedStderr();

  pci::WriteMem32(log.bridge + INTCSR, INTCSR_ENABLE);
  pci::WriteMem32(log.registers + REG_FRAME_COUNTS, 100);  // no second raise before the routine looks
  pci::WriteMem32(log.registers + REG_CONTROL, 1u << 3);
  ASSERT_TRUE(WaitFor([&] { return log.calls > 0; }));
  EXPECT_EQ(log.intcsrSeen & INTCSR_ENABLE, 0u) << "masked before the routine";
  EXPECT_EQ(log.localStatusSeen, 0u) << "acknowledged before the routine";
  EXPECT_NE(commands[0].Value & INTCSR_ENABLE, 0u) << "the read command saw the unmasked register";
  EXPECT_EQ(record.Count, 1u);
  pci::InterruptThreadDisable(thread);
  EXPECT_EQ(log.calls, 1);
}

// A routine as a driver's: each interrupt selects the next image, numbered as it comes.
struct SteppingRoutine {
  uintptr_t registers = 0;
  uint32_t calls = 0;  // the interrupt thread's alone
};

void Step(void* argument) {
  auto* routine = static_cast<SteppingRoutine*>(argument);
  pci::WriteMem32(routine->registers + REG_FRAME_SELECT, ++routine->calls % 7);
}

// What each record says: taken after the routine, so it shows the image the routine selected.
void ExpectSteppedRecords(const pci::DisplayInfo* records, size_t count, uint64_t first) {
  for (size_t i = 0; i < count; ++i) {
    ASSERT_EQ(records[i].Interrupts, first + i) << "in order, none missing, from the first not lost";
    ASSERT_EQ(records[i].Image, records[i].Interrupts % 7) << records[i].Interrupts;
    ASSERT_EQ(records[i].Running, 1u);
    ASSERT_EQ(records[i].Width, 512u);
  }
}

// The card's state at each interrupt is kept for a reader that comes late: a reader keeping up
// reads every record whole while the thread writes, and a reader that stalled past the ring
// is told how many it lost.
TEST(PciFacilityThreads, WhatTheCardShowedAtEachInterruptWaitsForALateReader) {
  UseBus("kite");
  Card card(SLOT0);
  ASSERT_TRUE(card.Ok());
  SteppingRoutine routine{card.Mapped(2)};
  pci::TransferCommand acknowledge{card.Transfer(2) + REG_INT_ACK, pci::WRITE_MEM32, {}, 0, {}};
  pci::InterruptRecord record{card.InterruptHandle(), pci::INTERRUPT_CMD_COPY, &acknowledge, 1, 0};
  pci::ThreadHandle thread = 0;
  ASSERT_TRUE(pci::InterruptThreadEnable(&thread, card.Device(), &record, Step, &routine));
  card.WriteBridge(INTCSR, INTCSR_ENABLE);
  card.Write(REG_FRAME_COUNTS, 1);  // the shortest period: the ring fills in a fraction of a second
  card.Write(REG_CONTROL, 1u << 3);

  // A reader that keeps up, a few records at a time.
  uint64_t seen = 0;
  pci::DisplayInfo few[5];
  while (seen < 2 * pci::SHOWN_RECORDS) {
    uint64_t lost = 0;
    const size_t read = pci::ShownSince(SLOT0, seen, few, std::size(few), lost);
    ExpectSteppedRecords(few, read, seen + lost + 1);
    if (HasFatalFailure()) return;
    if (read != 0) seen = few[read - 1].Interrupts;
    // The limit only keeps a card that stopped interrupting from hanging the test.
    ASSERT_NE(pci::WaitInterrupt(SLOT0, seen, std::chrono::seconds(2)), seen);
  }
  // The thread goes before the run stops, so no record is taken of a card already stopped.
  pci::InterruptThreadDisable(thread);  // no record comes after this
  card.Write(REG_CONTROL, 0);
  const uint64_t newest = pci::WaitInterrupt(SLOT0, 0, std::chrono::milliseconds(0));
  ASSERT_GT(newest, pci::SHOWN_RECORDS);

  // A reader that stalled since the start: the ring's length kept, the rest counted lost.
  std::vector<pci::DisplayInfo> all(pci::SHOWN_RECORDS + 10);
  uint64_t lost = 0;
  ASSERT_EQ(pci::ShownSince(SLOT0, 0, all.data(), all.size(), lost), pci::SHOWN_RECORDS);
  EXPECT_EQ(lost, newest - pci::SHOWN_RECORDS);
  ExpectSteppedRecords(all.data(), pci::SHOWN_RECORDS, lost + 1);
  // Within the ring: oldest first, as many as there is room for, none lost.
  ASSERT_EQ(pci::ShownSince(SLOT0, newest - 3, all.data(), 2, lost), 2u);
  EXPECT_EQ(lost, 0u);
  ExpectSteppedRecords(all.data(), 2, newest - 2);
  EXPECT_EQ(pci::ShownSince(SLOT0, newest, all.data(), all.size(), lost), 0u);
  EXPECT_EQ(pci::ShownSince({9, 9, 0}, 0, all.data(), all.size(), lost), 0u) << "no card held there";
  EXPECT_EQ(lost, 0u);
}

TEST(PciFacilityThreads, ReleaseStopsTheThreadAndForeignHandlesAreRefused) {
  UseBus("kite");
  RoutineLog log;
  pci::InterruptRecord record{};
  {
    Card card(SLOT0);
    ASSERT_TRUE(card.Ok());
    record.Handle = card.InterruptHandle();
    pci::ThreadHandle thread = 0;
    const pci::DeviceHandle stranger = pci::Open();
    ::testing::internal::CaptureStderr();
    EXPECT_FALSE(pci::InterruptThreadEnable(&thread, stranger, &record, LoggingRoutine, &log));
    ::testing::internal::GetCapturedStderr();
    pci::Close(stranger);
    log.bridge = card.Mapped(0);
    log.registers = card.Mapped(2);
    ASSERT_TRUE(pci::InterruptThreadEnable(&thread, card.Device(), &record, LoggingRoutine, &log));
    // Released with its thread still running: the release stops it.
  }
  EXPECT_EQ(log.calls, 0);
}

}  // namespace
