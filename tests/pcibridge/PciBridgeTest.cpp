// The bridge layer on the simulated card: finding and taking cards, the messages of every
// failure, the address-space table, interrupts, and the board driven through it.

#include "PciBridge.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <sstream>

#include "SimFixture.h"
#include "ui/ScriptedHost.h"

using namespace simtest;

namespace {

std::atomic<int> g_Calls{0};
std::atomic<bool> g_Unmask{true};
std::atomic<uint16_t> g_FirstEntry{0};

}  // namespace

// The test's driver routine: counts, and unmasks like a driver does.
void BoardInterruptRoutine(void* pCard) {
  auto* card = static_cast<PciCard*>(pCard);
  ++g_Calls;
  // A driver's routine reads the run list: the layer must keep it alive while it runs.
  if (SequenceList != nullptr) g_FirstEntry = SequenceList[0];
  if (g_Unmask) {
    PciWriteReg(card, SPACE_BRIDGE, BRIDGE_INTCSR,
                PciReadReg(card, SPACE_BRIDGE, BRIDGE_INTCSR) | INTCSR_PCI_INT_ENABLE);
  }
}

namespace {

using Message = CScriptedHost::MessageRecord;

// Every raise of the card in slot 0 was taken by the routine, or merged into one that was.
bool AllDelivered() {
  const auto counts = sim::testing::Counts(SLOT0);
  return counts.delivered + counts.merged == counts.raised && static_cast<uint64_t>(g_Calls) == counts.delivered;
}

class PciBridgeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m_Host = &CScriptedHost::Install();
    g_Calls = 0;
    g_Unmask = true;
  }
  void TearDown() override { PciCloseCard(m_pCard); }

  void UseAndOpen(const char* bus, uint32_t index = 0, uint32_t options = OPEN_USE_INTERRUPTS) {
    UseBus(bus);
    ASSERT_EQ(PciOpenCard(&m_pCard, PLX_VENDOR_ID, PLX_DEVICE_ID, index, options), 1);
    ASSERT_NE(m_pCard, nullptr);
  }
  void ExpectOnlyMessage(const std::string& text) {
    ASSERT_EQ(m_Host->Messages().size(), 1u);
    EXPECT_EQ(m_Host->Messages()[0].text, text);
    EXPECT_EQ(m_Host->Messages()[0].caption, "ERROR");
  }
  uint32_t Reg(uint32_t offset) { return PciReadReg(m_pCard, SPACE_REGISTERS, offset); }
  void SetReg(uint32_t offset, uint32_t value) { PciWriteReg(m_pCard, SPACE_REGISTERS, offset, value); }

  CScriptedHost* m_Host = nullptr;
  PciCard* m_pCard = nullptr;
};

// ---- finding and taking cards ----

TEST_F(PciBridgeTest, NoCardCountsZeroWithoutAMessage) {
  UseBus("none");
  EXPECT_EQ(PciCountCards(PLX_VENDOR_ID, PLX_DEVICE_ID), 0u);
  EXPECT_TRUE(m_Host->Messages().empty());
  UseBus("kite,wren,other");
  EXPECT_EQ(PciCountCards(PLX_VENDOR_ID, PLX_DEVICE_ID), 3u);
  EXPECT_EQ(PciCountCards(PLX_VENDOR_ID, 0x9030), 0u);
  EXPECT_TRUE(m_Host->Messages().empty());
}

TEST_F(PciBridgeTest, UnusableFacilityIsReported) {
  UseBus("kite:bogus");
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(PciCountCards(PLX_VENDOR_ID, PLX_DEVICE_ID), 0u);
  ExpectOnlyMessage("Failed opening WinDriver device");
  m_Host->ClearMessages();
  m_pCard = reinterpret_cast<PciCard*>(0x1);  // the open must clear it
  EXPECT_EQ(PciOpenCard(&m_pCard, PLX_VENDOR_ID, PLX_DEVICE_ID, 0, OPEN_USE_INTERRUPTS), 0);
  EXPECT_EQ(m_pCard, nullptr);
  ExpectOnlyMessage("Failed opening WinDriver device\n");
  EXPECT_NE(::testing::internal::GetCapturedStderr().find("SORREL_SIM"), std::string::npos);
}

TEST_F(PciBridgeTest, IndexEqualToTheCountIsOutOfRange) {
  UseBus("kite,wren");
  ASSERT_EQ(PciCountCards(PLX_VENDOR_ID, PLX_DEVICE_ID), 2u);
  EXPECT_EQ(PciOpenCard(&m_pCard, PLX_VENDOR_ID, PLX_DEVICE_ID, 2, OPEN_USE_INTERRUPTS), 0);
  EXPECT_EQ(m_pCard, nullptr);
  ExpectOnlyMessage("Card out of range of available cards\n");
  EXPECT_EQ(SequenceList, nullptr);
}

TEST_F(PciBridgeTest, CardHeldByAnotherProcessFailsSilently) {
  UseBus("kite");
  int ready[2], done[2];
  ASSERT_EQ(pipe(ready), 0);
  ASSERT_EQ(pipe(done), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    PciCard* held = nullptr;
    const char state = PciOpenCard(&held, PLX_VENDOR_ID, PLX_DEVICE_ID, 0, OPEN_USE_INTERRUPTS) == 1 ? 'y' : 'n';
    char go = 0;
    const bool talked = write(ready[1], &state, 1) == 1 && read(done[0], &go, 1) == 1;
    PciCloseCard(held);
    _exit(talked ? 0 : 2);
  }
  char state = 0;
  ASSERT_EQ(read(ready[0], &state, 1), 1);
  ASSERT_EQ(state, 'y');
  EXPECT_EQ(PciOpenCard(&m_pCard, PLX_VENDOR_ID, PLX_DEVICE_ID, 0, OPEN_USE_INTERRUPTS), 0);
  EXPECT_EQ(m_pCard, nullptr);
  EXPECT_TRUE(m_Host->Messages().empty());
  ASSERT_EQ(write(done[1], "x", 1), 1);
  int status = 0;
  waitpid(child, &status, 0);
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(PciOpenCard(&m_pCard, PLX_VENDOR_ID, PLX_DEVICE_ID, 0, OPEN_USE_INTERRUPTS), 1) << "free again";
  for (int fd : {ready[0], ready[1], done[0], done[1]}) {
    close(fd);
  }
}

TEST_F(PciBridgeTest, HeldFaultFailsSilentlyAndTheNextCardOpens) {
  UseBus("kite:held,wren");
  EXPECT_EQ(PciOpenCard(&m_pCard, PLX_VENDOR_ID, PLX_DEVICE_ID, 0, OPEN_USE_INTERRUPTS), 0);
  EXPECT_EQ(m_pCard, nullptr);
  EXPECT_TRUE(m_Host->Messages().empty());
  ASSERT_EQ(PciOpenCard(&m_pCard, PLX_VENDOR_ID, PLX_DEVICE_ID, 1, OPEN_USE_INTERRUPTS), 1);
  EXPECT_EQ(Reg(simtest::REG_STATUS) >> 24, 0x40u);
}

TEST_F(PciBridgeTest, OpenCardMapsTheSpacesOfAPlx9050) {
  UseAndOpen("kite");
  ASSERT_NE(SequenceList, nullptr);
  EXPECT_EQ(SequenceListSize, 2000u);
  EXPECT_EQ(m_pCard->Bus, SLOT0.Bus);
  EXPECT_EQ(m_pCard->Slot, SLOT0.Slot);
  EXPECT_NE(m_pCard->Registration.RegistrationHandle, 0u);
  EXPECT_NE(m_pCard->Interrupt.Handle, 0u);
  EXPECT_EQ(m_pCard->Registration.Resources.Items[4].Exclusive, 0u) << "interrupt shared";

  const uint32_t masks[] = {0x7F, 0x7F, 0xFF, 0x3FFFF};
  for (int j = 0; j < 4; ++j) {
    const AddressSpace& space = m_pCard->Spaces[j];
    EXPECT_EQ(PciSpaceActive(m_pCard, j), 1) << "space " << j;
    EXPECT_EQ(space.Mask, masks[j]) << "space " << j;
    EXPECT_EQ(space.IsMemory, j == 1 ? 0u : 1u);
    EXPECT_EQ(space.MappedAddress == 0, j == 1) << "I/O spaces are not mapped";
  }
  EXPECT_NE(PciReadConfig(m_pCard, 0x10) & 0xF, 0u) << "BAR0 matched despite its flag bits";
  for (int j = 4; j < SPACE_COUNT; ++j) {
    EXPECT_EQ(PciSpaceActive(m_pCard, j), 0);
  }
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(PciSpaceActive(m_pCard, SPACE_COUNT), 0);
  EXPECT_EQ(PciReadReg(m_pCard, -1, 0), 0xFFFFFFFFu);
  ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(PciReadConfig(m_pCard, 0), PLX_DEVICE_ID << 16 | PLX_VENDOR_ID);
  EXPECT_TRUE(m_Host->Messages().empty());
}

TEST_F(PciBridgeTest, CloseSwitchesTheBoardOffAndGivesTheCardBack) {
  UseAndOpen("kite");
  SetReg(simtest::REG_CONTROL, 0x701);
  PciCloseCard(m_pCard);
  EXPECT_EQ(sim::testing::PeekRegister(SLOT0, 2, simtest::REG_CONTROL), 0u);
  EXPECT_EQ(SequenceList, nullptr);
  EXPECT_EQ(SequenceListSize, 0u);
  m_pCard = nullptr;
  ASSERT_EQ(PciOpenCard(&m_pCard, PLX_VENDOR_ID, PLX_DEVICE_ID, 0, OPEN_USE_INTERRUPTS), 1);
}

TEST_F(PciBridgeTest, FixBar0ClearsBit7BeforeTheResourcesAreRead) {
  UseAndOpen("kite", 0, OPEN_USE_INTERRUPTS | OPEN_FIX_BAR0);
  EXPECT_EQ(PciReadConfig(m_pCard, 0x10) & 0x80, 0u);
  EXPECT_EQ(PciSpaceActive(m_pCard, SPACE_BRIDGE), 1);
  EXPECT_EQ(m_pCard->Registration.Resources.Items[0].Memory.PhysicalAddress, PciReadConfig(m_pCard, 0x10) & ~0xFu);
}

// The list a long run grew is freed by the next open, not leaked (LeakSanitizer sees it).
TEST_F(PciBridgeTest, ASecondOpenReplacesTheRunListOfTheFirst) {
  UseAndOpen("kite,wren");
  delete[] SequenceList;
  SequenceList = new uint16_t[5000]();
  SequenceListSize = 5000;
  PciCard* second = nullptr;
  ASSERT_EQ(PciOpenCard(&second, PLX_VENDOR_ID, PLX_DEVICE_ID, 1, OPEN_USE_INTERRUPTS), 1);
  EXPECT_EQ(SequenceListSize, 2000u);
  ASSERT_NE(SequenceList, nullptr);
  SequenceList[1999] = 7;
  PciCloseCard(second);
}

TEST_F(PciBridgeTest, MissingBridgeSpaceIsReportedAndEverythingReleased) {
  UseBus("kite");
  const pci::DeviceHandle device = pci::Open();
  const uint32_t bar0 = pci::ConfigRead32(device, SLOT0, 0x10);
  pci::ConfigWrite32(device, SLOT0, 0x10, 0);  // the bridge's registers at bus address 0: absent
  EXPECT_EQ(PciOpenCard(&m_pCard, PLX_VENDOR_ID, PLX_DEVICE_ID, 0, OPEN_USE_INTERRUPTS), 0);
  EXPECT_EQ(m_pCard, nullptr);
  ExpectOnlyMessage("Card does not have all items expected for PLX 9050\n");
  pci::ConfigWrite32(device, SLOT0, 0x10, bar0);
  pci::Close(device);
  ASSERT_EQ(PciOpenCard(&m_pCard, PLX_VENDOR_ID, PLX_DEVICE_ID, 0, OPEN_USE_INTERRUPTS), 1) << "the claim was dropped";
}

// PciDetectSpaces on resource descriptions written by the test against the card's BARs.
class PciDetectSpacesTest : public PciBridgeTest {
 protected:
  void SetUp() override {
    PciBridgeTest::SetUp();
    UseAndOpen("kite");
    m_Bar0 = PciReadConfig(m_pCard, 0x10) & ~0xFu;
    m_Port = PciReadConfig(m_pCard, 0x14) & ~0x3u;
    m_Bar2 = PciReadConfig(m_pCard, 0x18) & ~0xFu;
    m_Saved = m_pCard->Registration.Resources;
    m_pCard->Registration.Resources = {};
  }
  void TearDown() override {
    m_pCard->Registration.Resources = m_Saved;
    m_pCard->UseInterrupts = 1;
    PciDetectSpaces(m_pCard);
    PciBridgeTest::TearDown();
  }
  void Memory(uint32_t address, uint32_t size) {
    pci::ResourceItem& item = Next(pci::ITEM_MEMORY);
    item.Memory.PhysicalAddress = address;
    item.Memory.Size = size;
    item.Memory.TransferAddress = address;
  }
  void Io(uint32_t port, uint32_t size) {
    pci::ResourceItem& item = Next(pci::ITEM_IO);
    item.Io.Port = port;
    item.Io.Size = size;
  }
  void Interrupt(uint32_t handle) { Next(pci::ITEM_INTERRUPT).Interrupt.Handle = handle; }
  pci::ResourceItem& Next(uint32_t type) {
    pci::CardResources& r = m_pCard->Registration.Resources;
    pci::ResourceItem& item = r.Items[r.ItemCount++];
    item.Type = type;
    return item;
  }

  uint32_t m_Bar0 = 0, m_Port = 0, m_Bar2 = 0;
  pci::CardResources m_Saved{};
};

TEST_F(PciDetectSpacesTest, MasksFromSizes) {
  Memory(m_Bar0, 0x100);
  Memory(m_Bar2, 1);
  Io(m_Port, 0x80);
  Interrupt(7);
  ASSERT_EQ(PciDetectSpaces(m_pCard), 1);
  EXPECT_EQ(m_pCard->Spaces[0].Mask, 0xFFu);
  EXPECT_EQ(m_pCard->Spaces[2].Mask, 0u);
  EXPECT_EQ(m_pCard->Spaces[1].Mask, 0x7Fu);
  EXPECT_EQ(m_pCard->Spaces[1].TransferAddress, m_Port);
  EXPECT_EQ(m_pCard->Interrupt.Handle, 7u);
}

TEST_F(PciDetectSpacesTest, IoBarsMatchOnlyIoItemsAndPortsCompareOnSixteenBits) {
  Memory(m_Port, 0x80);          // a memory range at the I/O BAR's number
  Io(0x7FFF0000 | m_Bar0, 0x80);  // an I/O range at the memory BAR's number
  Memory(m_Bar0, 0x80);
  Interrupt(7);
  ASSERT_EQ(PciDetectSpaces(m_pCard), 1);
  EXPECT_EQ(m_pCard->Spaces[0].Size, 0x80u);
  EXPECT_EQ(m_pCard->Spaces[0].IsMemory, 1u);
  EXPECT_EQ(PciSpaceActive(m_pCard, 1), 0) << "the memory item did not take the I/O BAR";

  m_pCard->Registration.Resources = {};
  Memory(m_Bar0, 0x80);
  Io(0xABCD0000 | m_Port, 0x80);  // the port is compared on its low 16 bits
  Interrupt(7);
  ASSERT_EQ(PciDetectSpaces(m_pCard), 1);
  EXPECT_EQ(PciSpaceActive(m_pCard, 1), 1);
  EXPECT_EQ(m_pCard->Spaces[1].IsMemory, 0u);
}

TEST_F(PciDetectSpacesTest, InterruptItemsAndTheBridgeSpaceDecide) {
  Memory(m_Bar0, 0x80);
  EXPECT_EQ(PciDetectSpaces(m_pCard), 0) << "interrupts requested, none found";
  Interrupt(7);
  Interrupt(8);
  EXPECT_EQ(PciDetectSpaces(m_pCard), 0) << "two interrupts";

  m_pCard->Registration.Resources = {};
  Memory(m_Bar2, 0x100);
  Memory(0x12340000, 0x100);  // matches no BAR: ignored
  Interrupt(7);
  EXPECT_EQ(PciDetectSpaces(m_pCard), 0) << "no space 0";
  EXPECT_EQ(PciSpaceActive(m_pCard, 2), 1);

  m_pCard->UseInterrupts = 0;
  m_pCard->Registration.Resources = {};
  Memory(m_Bar0, 0x80);
  Next(pci::ITEM_REMOVED);
  EXPECT_EQ(PciDetectSpaces(m_pCard), 1) << "no interrupt needed";
}

// ---- interrupts ----

TEST_F(PciBridgeTest, WithoutInterruptsTheItemIsRemoved) {
  UseAndOpen("kite", 0, 0);
  EXPECT_EQ(m_pCard->Registration.Resources.Items[4].Type, pci::ITEM_REMOVED);
  EXPECT_EQ(m_pCard->Interrupt.Handle, 0u);
  EXPECT_EQ(PciEnableInterrupt(m_pCard), 0);
  EXPECT_EQ(PciInterruptEnabled(m_pCard), 0);
}

TEST_F(PciBridgeTest, EnablingTwiceLeavesTheRunningThreadAlone) {
  UseAndOpen("kite");
  EXPECT_EQ(PciInterruptEnabled(m_pCard), 0);
  ASSERT_EQ(PciEnableInterrupt(m_pCard), 1);
  const pci::ThreadHandle thread = m_pCard->InterruptThread;
  EXPECT_NE(thread, 0u);
  EXPECT_EQ(PciInterruptEnabled(m_pCard), 1);
  EXPECT_NE(PciReadReg(m_pCard, SPACE_BRIDGE, BRIDGE_INTCSR) & INTCSR_PCI_INT_ENABLE, 0u);
  EXPECT_EQ(PciEnableInterrupt(m_pCard), 0);
  EXPECT_EQ(m_pCard->InterruptThread, thread);

  const pci::TransferCommand* c = m_pCard->InterruptCommands;
  EXPECT_EQ(c[0].Command, pci::READ_MEM32);
  EXPECT_EQ(c[0].Address, m_pCard->Spaces[0].TransferAddress + 0x4C);
  EXPECT_EQ(c[1].Command, pci::WRITE_MEM32);
  EXPECT_EQ(c[1].Address, m_pCard->Spaces[2].TransferAddress + 0x24);
  EXPECT_EQ(c[1].Value, 0u);
  EXPECT_EQ(c[2].Address, c[0].Address);
  EXPECT_EQ(c[2].Value & INTCSR_PCI_INT_ENABLE, 0u);
  EXPECT_EQ(m_pCard->Interrupt.Options & pci::INTERRUPT_CMD_COPY, pci::INTERRUPT_CMD_COPY);
  EXPECT_EQ(m_pCard->Interrupt.CommandCount, 3u);

  PciDisableInterrupt(m_pCard);
  EXPECT_EQ(PciInterruptEnabled(m_pCard), 0);
  EXPECT_EQ(PciReadReg(m_pCard, SPACE_BRIDGE, BRIDGE_INTCSR) & INTCSR_PCI_INT_ENABLE, 0u);
  ASSERT_EQ(PciEnableInterrupt(m_pCard), 1) << "and again after a disable";
}

TEST_F(PciBridgeTest, InterruptCountOverARunEqualsTheImagePeriods) {
  UseAndOpen("kite");
  ASSERT_EQ(PciEnableInterrupt(m_pCard), 1);
  constexpr double period = 30 * 164.1e-6;
  auto periods = [&](auto from, auto to) { return std::chrono::duration<double>(to - from).count() / period; };
  SetReg(simtest::REG_FRAME_COUNTS, 30);
  const auto t0 = std::chrono::steady_clock::now();
  SetReg(simtest::REG_CONTROL, 1u << 3);
  const auto t1 = std::chrono::steady_clock::now();
  std::this_thread::sleep_for(std::chrono::milliseconds(150));
  const auto t2 = std::chrono::steady_clock::now();
  SetReg(simtest::REG_CONTROL, 0);
  const auto t3 = std::chrono::steady_clock::now();
  // Every period's interrupt reaches the routine, except those a starved host lets merge
  // on the level-triggered line (none on an idle machine).
  ASSERT_TRUE(WaitFor(AllDelivered)) << "an interrupt was lost";
  const auto counts = sim::testing::Counts(SLOT0);
  EXPECT_LE(static_cast<double>(counts.raised), periods(t0, t3) + 1);
  EXPECT_GE(static_cast<double>(counts.raised), periods(t1, t2) - 1);
  std::printf("%llu of %llu periods merged while the host was late\n", static_cast<unsigned long long>(counts.merged),
              static_cast<unsigned long long>(counts.raised));
}

TEST_F(PciBridgeTest, MaskedInterruptIsDeliveredOnceOnUnmask) {
  UseAndOpen("wren");
  ASSERT_EQ(PciEnableInterrupt(m_pCard), 1);
  const uint32_t intcsr = PciReadReg(m_pCard, SPACE_BRIDGE, BRIDGE_INTCSR);
  PciWriteReg(m_pCard, SPACE_BRIDGE, BRIDGE_INTCSR, intcsr & ~INTCSR_PCI_INT_ENABLE);
  SetReg(simtest::REG_FRAME_COUNTS, 1);
  SetReg(simtest::REG_CONTROL, 1u << 3);
  ASSERT_TRUE(WaitFor([] { return sim::testing::Counts(SLOT0).raised >= 10; }));
  SetReg(simtest::REG_CONTROL, 0);
  EXPECT_EQ(g_Calls, 0);
  PciWriteReg(m_pCard, SPACE_BRIDGE, BRIDGE_INTCSR, intcsr | INTCSR_PCI_INT_ENABLE);
  ASSERT_TRUE(WaitFor([] { return g_Calls > 0; }));
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_EQ(g_Calls, 1);
  const auto counts = sim::testing::Counts(SLOT0);
  EXPECT_EQ(counts.delivered, 1u);
  EXPECT_EQ(counts.merged, counts.raised - 1);
}

TEST_F(PciBridgeTest, CloseStopsARunningInterruptThread) {
  UseAndOpen("kite");
  ASSERT_EQ(PciEnableInterrupt(m_pCard), 1);
  SetReg(simtest::REG_FRAME_COUNTS, 1);
  SetReg(simtest::REG_CONTROL, 1u << 3);
  ASSERT_TRUE(WaitFor([] { return g_Calls >= 3; }));
  PciCloseCard(m_pCard);  // still running: the close masks, stops the thread and the board
  m_pCard = nullptr;
  const int calls = g_Calls;
  std::this_thread::sleep_for(std::chrono::milliseconds(5));
  EXPECT_EQ(g_Calls, calls);
}

// ---- the board through the bridge ----

TEST_F(PciBridgeTest, PowerUpSequenceBringsTheStatusBitsUp) {
  UseAndOpen("kite:id=1");
  EXPECT_NE(Reg(simtest::REG_STATUS) & 0x1000, 0u);
  EXPECT_EQ(Reg(simtest::REG_STATUS) & 0xF, 0xFu);
  EXPECT_EQ(Reg(simtest::REG_SDRAM0), 25u);
  SetReg(simtest::REG_CONTROL, 0);
  SetReg(simtest::REG_CONTROL, 0x900);
  ASSERT_TRUE(WaitFor([&] { return (Reg(simtest::REG_STATUS) & 0x800) != 0; }, std::chrono::milliseconds(1000)));
  EXPECT_EQ(Reg(simtest::REG_STATUS) & 0x4000, 0u);
  const uint32_t m = Reg(simtest::REG_CONTROL) | 0x200;
  SetReg(simtest::REG_CONTROL, m);
  SetReg(simtest::REG_CONTROL, m | 0x40);
  SetReg(simtest::REG_CONTROL, m);
  SetReg(simtest::REG_CONTROL, Reg(simtest::REG_CONTROL) | 1);
  EXPECT_EQ(Reg(simtest::REG_CONTROL), 0xB01u);
  SetReg(simtest::REG_CONTROL, Reg(simtest::REG_CONTROL) | 0x400);
  EXPECT_EQ(Reg(simtest::REG_CONTROL) & 0x400, 0x400u) << "SLM power reads back";
  EXPECT_EQ(Reg(simtest::REG_STATUS) >> 24, 1u);
}

TEST_F(PciBridgeTest, FrameLandsInTheSelectedBufferInBothByteOrders) {
  UseAndOpen("kite:id=0");
  const std::vector<uint8_t> picture = Pattern(262144, 1);
  const std::vector<uint8_t> stored = Interleave(picture, 16);
  SetReg(simtest::REG_FRAME_SELECT, (Reg(simtest::REG_FRAME_SELECT) & ~(0x3FFu << 16)) | 1023u << 16);
  ASSERT_TRUE(WaitFor([&] { return (Reg(simtest::REG_STATUS) & 0xF0) == 0; })) << "busy bits fall";
  PciWriteBlock(m_pCard, 0, stored.data(), static_cast<uint32_t>(stored.size()), SPACE_FRAME_MEMORY);
  std::vector<uint8_t> bytes;
  ASSERT_TRUE(sim::testing::DecodedFrame(SLOT0, 1023, bytes));
  EXPECT_EQ(bytes, picture);
  PciCloseCard(m_pCard);
  m_pCard = nullptr;

  UseAndOpen("wren:id=0x40");
  const std::vector<uint8_t> small = Pattern(65536, 2);
  SetReg(simtest::REG_FRAME_SELECT, 4095u << 16);
  PciWriteBlock(m_pCard, 0, Interleave(small, 8).data(), 65536, SPACE_FRAME_MEMORY);
  ASSERT_TRUE(sim::testing::DecodedFrame(SLOT0, 4095, bytes));
  EXPECT_EQ(bytes, small);
  ASSERT_TRUE(sim::testing::StoredFrame(SLOT0, 4095, bytes));
  EXPECT_EQ(bytes, Interleave(small, 8));
}

TEST_F(PciBridgeTest, TraceShowsEachInterruptWithItsCommands) {
  UseBus("kite");
  TempFolder folder;
  setenv("SORREL_SIM_TRACE", folder.Path().c_str(), 1);
  ASSERT_EQ(PciOpenCard(&m_pCard, PLX_VENDOR_ID, PLX_DEVICE_ID, 0, OPEN_USE_INTERRUPTS), 1);
  ASSERT_EQ(PciEnableInterrupt(m_pCard), 1);
  SetReg(simtest::REG_FRAME_COUNTS, 20);
  SetReg(simtest::REG_CONTROL, 1u << 3);
  ASSERT_TRUE(WaitFor([] { return g_Calls >= 3; }));
  SetReg(simtest::REG_CONTROL, 0);
  ASSERT_TRUE(WaitFor(AllDelivered));
  PciCloseCard(m_pCard);
  m_pCard = nullptr;
  unsetenv("SORREL_SIM_TRACE");

  struct Event {
    std::string kind;
    unsigned space = 0, offset = 0, value = 0;
    bool Is(const char* k, unsigned s, unsigned o) const { return kind == k && space == s && offset == o; }
  };
  std::istringstream log(ReadFile(folder.Path() / "registers.log"));
  std::vector<Event> events;
  unsigned long long last = 0;
  for (std::string line; std::getline(log, line);) {
    std::istringstream fields(line);
    unsigned long long time = 0;
    Event e;
    fields >> time >> e.kind >> e.space >> std::hex >> e.offset >> e.value;
    EXPECT_GE(time, last) << line;
    last = time;
    events.push_back(e);
  }
  ASSERT_GE(events.size(), 5u);
  EXPECT_TRUE(events[0].Is("W", 0, 0x4C) && events[0].value == 0x40) << "unmasked at enable";
  EXPECT_TRUE(events[1].Is("W", 2, 0x0C) && events[1].value == 20);
  EXPECT_TRUE(events[2].Is("W", 2, 0x00) && events[2].value == 8);
  // The test's own run-bit writes may fall between an interrupt's commands; leave them out.
  std::vector<Event> sequence;
  std::copy_if(events.begin() + 3, events.end(), std::back_inserter(sequence),
               [](const Event& e) { return !e.Is("W", 2, 0x00); });
  int interrupts = 0;
  for (size_t i = 0; i < sequence.size(); ++i) {
    if (sequence[i].kind == "I") {
      ++interrupts;
      ASSERT_LT(i + 3, sequence.size());
      EXPECT_TRUE(sequence[i + 1].Is("W", 2, 0x24) && sequence[i + 1].value == 0) << "acknowledged";
      EXPECT_TRUE(sequence[i + 2].Is("W", 0, 0x4C) && sequence[i + 2].value == 0) << "masked";
      EXPECT_TRUE(sequence[i + 3].Is("W", 0, 0x4C) && (sequence[i + 3].value & 0x40) != 0) << "unmasked by the routine";
    }
  }
  EXPECT_EQ(interrupts, g_Calls.load());
  EXPECT_TRUE(events.back().Is("W", 2, 0x00) && events.back().value == 0) << "the close switched the board off";
}

}  // namespace
