// The VFIO backend against the stand-in kernel, through the bridge layer as a driver uses
// it: which spaces are mapped and which go through the device file, the interrupt line's
// mask and unmask, the kernel's refusals, the facility's own claim, and nothing left open.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "PciBridge.h"
#include "SimFixture.h"
#include "VfioTesting.h"
#include "pci/CardList.h"
#include "ui/ScriptedHost.h"

using namespace simtest;

namespace {

std::atomic<uint64_t> g_Calls{0};
std::atomic<int> g_SlowCalls{0};  // how many calls still take longer than an image period

}  // namespace

// The test's driver routine: counts, dawdles when asked, and unmasks like a driver does.
void BoardInterruptRoutine(void* pCard) {
  auto* card = static_cast<PciCard*>(pCard);
  ++g_Calls;
  if (g_SlowCalls > 0) {
    --g_SlowCalls;
    std::this_thread::sleep_for(std::chrono::milliseconds(3));
  }
  PciWriteReg(card, SPACE_BRIDGE, BRIDGE_INTCSR, PciReadReg(card, SPACE_BRIDGE, BRIDGE_INTCSR) | INTCSR_PCI_INT_ENABLE);
}

namespace {

constexpr uint32_t CONTROL_RUN = 1u << 3;
constexpr uint32_t SHORTEST_IMAGE_FRAMES = 6;  // an interrupt about every millisecond

class VfioBackendTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m_Host = &CScriptedHost::Install();
    g_Calls = 0;
    g_SlowCalls = 0;
  }
  void TearDown() override {
    PciCloseCard(m_pCard);
    vfio::testing::UseRealKernel();
  }

  void UseFake(const char* bus, const vfio::testing::FakeOptions& options = {}) {
    vfio::testing::UseFakeKernel(options);
    UseBus(bus);
  }
  void Open(const char* bus, const vfio::testing::FakeOptions& options = {}) {
    UseFake(bus, options);
    ASSERT_EQ(PciOpenCard(&m_pCard, PLX_VENDOR_ID, PLX_DEVICE_ID, 0, OPEN_USE_INTERRUPTS), 1);
  }
  // Runs the board at its fastest until the routine has run count times, then stops it.
  void RunFor(uint64_t count) {
    PciWriteReg(m_pCard, SPACE_REGISTERS, simtest::REG_FRAME_COUNTS, SHORTEST_IMAGE_FRAMES);
    PciWriteReg(m_pCard, SPACE_REGISTERS, simtest::REG_CONTROL, CONTROL_RUN);
    EXPECT_TRUE(WaitFor([&] { return g_Calls >= count; }));
    PciWriteReg(m_pCard, SPACE_REGISTERS, simtest::REG_CONTROL, 0);
  }
  // Every raise was taken by the routine or merged into one that was, and the kernel
  // signalled each taken one and has been asked to unmask after each.
  static bool AllDelivered() {
    const auto card = sim::testing::Counts(SLOT0);
    const auto kernel = vfio::testing::KernelCounts();
    return card.delivered + card.merged == card.raised && g_Calls == card.delivered &&
           kernel.signalled == card.delivered && kernel.unmasks == kernel.signalled;
  }

  CScriptedHost* m_Host = nullptr;
  PciCard* m_pCard = nullptr;
};

TEST_F(VfioBackendTest, ServesTheSimulatedCardsThroughVfio) {
  UseFake("kite,wren");
  EXPECT_STREQ(pci::ServingBackend(), "vfio");
  EXPECT_EQ(PciCountCards(PLX_VENDOR_ID, PLX_DEVICE_ID), 2u);
  const std::string text = pci::CardListText();
  EXPECT_NE(text.find("  0000:01:00.0  ids 10b5:9050  subsystem 10b5:9050  driver vfio-pci  IOMMU group 20  irq 16, "
                      "not shared\n    usable\n  0000:01:01.0"),
            std::string::npos)
      << text;
}

TEST_F(VfioBackendTest, SpacesAreMappedWhereTheKernelAllowsAndReachTheCardEitherWay) {
  Open("kite:id=1");
  auto counts = vfio::testing::KernelCounts();
  EXPECT_EQ(counts.mappedBars, 1u << 2 | 1u << 3) << "BAR0 sits off a page boundary, BAR1 is I/O";

  PciWriteReg(m_pCard, SPACE_REGISTERS, simtest::REG_FRAME_COUNTS, 0x00070123);
  EXPECT_EQ(sim::testing::PeekRegister(SLOT0, 2, simtest::REG_FRAME_COUNTS), 0x00070123u);
  EXPECT_EQ(PciReadReg(m_pCard, SPACE_REGISTERS, simtest::REG_FRAME_COUNTS), 0x00070123u);
  PciWriteReg(m_pCard, SPACE_BRIDGE, INTCSR, 0x41);
  EXPECT_EQ(sim::testing::PeekRegister(SLOT0, 0, INTCSR), 0x41u);
  EXPECT_EQ(PciReadReg(m_pCard, SPACE_BRIDGE, INTCSR), 0x41u);

  PciWriteReg(m_pCard, SPACE_REGISTERS, simtest::REG_FRAME_SELECT, 5u << 16);
  const std::vector<uint8_t> frame = Pattern(512 * 512, 3);
  PciWriteBlock(m_pCard, 0, frame.data(), static_cast<uint32_t>(frame.size()), SPACE_FRAME_MEMORY);
  std::vector<uint8_t> stored;
  ASSERT_TRUE(sim::testing::StoredFrame(SLOT0, 5, stored));
  EXPECT_EQ(stored, frame);

  const auto after = vfio::testing::KernelCounts();
  EXPECT_EQ(after.mappedAccesses[2] - counts.mappedAccesses[2], 3u);
  EXPECT_EQ(after.fileAccesses[2], 0u);
  EXPECT_EQ(after.fileAccesses[0] - counts.fileAccesses[0], 2u);
  EXPECT_EQ(after.mappedAccesses[0], 0u);
  EXPECT_EQ(after.mappedAccesses[3] - counts.mappedAccesses[3], 1u) << "one block, not a store per word";

  EXPECT_EQ(PciReadConfig(m_pCard, 0x00), PLX_DEVICE_ID << 16 | PLX_VENDOR_ID);
  EXPECT_EQ(PciReadConfig(m_pCard, 0x18) & ~0xFu, m_pCard->Spaces[SPACE_REGISTERS].TransferAddress);
}

TEST_F(VfioBackendTest, AddressSpaceTableIsTheOneTheSimulatedCardGives) {
  UseBus("wren");
  ASSERT_EQ(PciOpenCard(&m_pCard, PLX_VENDOR_ID, PLX_DEVICE_ID, 0, OPEN_USE_INTERRUPTS), 1);
  std::vector<AddressSpace> simulated(m_pCard->Spaces, m_pCard->Spaces + SPACE_COUNT);
  PciCloseCard(m_pCard);
  m_pCard = nullptr;

  Open("wren");
  for (int space = 0; space < SPACE_COUNT; ++space) {
    const AddressSpace& a = simulated[static_cast<size_t>(space)];
    const AddressSpace& b = m_pCard->Spaces[space];
    EXPECT_EQ(a.Size, b.Size) << space;
    EXPECT_EQ(a.Mask, b.Mask) << space;
    EXPECT_EQ(a.TransferAddress, b.TransferAddress) << space;
    EXPECT_EQ(a.IsMemory, b.IsMemory) << space;
    EXPECT_EQ(a.MappedAddress != 0, b.MappedAddress != 0) << space;
  }
  EXPECT_NE(m_pCard->Interrupt.Handle, 0u);
}

TEST_F(VfioBackendTest, EachInterruptIsUnmaskedAfterItsRoutineAndNoneIsLost) {
  Open("kite:id=1");
  ASSERT_EQ(PciEnableInterrupt(m_pCard), 1);
  RunFor(50);
  EXPECT_TRUE(WaitFor(AllDelivered));
}

TEST_F(VfioBackendTest, LineAssertedWhileMaskedIsHeldUntilUnmasked) {
  Open("kite:id=1");
  ASSERT_EQ(PciEnableInterrupt(m_pCard), 1);
  g_SlowCalls = 5;
  RunFor(20);
  EXPECT_TRUE(WaitFor(AllDelivered));
  EXPECT_GE(vfio::testing::KernelCounts().heldWhileMasked, 1u);
  EXPECT_GE(sim::testing::Counts(SLOT0).merged, 1u) << "periods that passed within one routine merge";
}

TEST_F(VfioBackendTest, QuietLineStopsPromptlyAndCloseLeavesNothingOpen) {
  Open("kite:id=1");
  ASSERT_EQ(PciEnableInterrupt(m_pCard), 1);
  EXPECT_GE(vfio::testing::KernelCounts().openFiles, 3u) << "container, group, device";
  // The line's wait has no timeout: without the wake-up the disable would never return.
  const auto start = std::chrono::steady_clock::now();
  PciDisableInterrupt(m_pCard);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
  EXPECT_EQ(PciInterruptEnabled(m_pCard), 0);
  ASSERT_EQ(PciEnableInterrupt(m_pCard), 1) << "the line can be taken again";
  PciCloseCard(m_pCard);
  m_pCard = nullptr;
  const auto counts = vfio::testing::KernelCounts();
  EXPECT_EQ(counts.openFiles, 0u);
  EXPECT_EQ(counts.mappedBars, 0u);
}

TEST_F(VfioBackendTest, SharedLineIsRefusedByTheKernelAndSaidSo) {
  Open("kite:id=1", {.sharedIrq = true});
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(PciEnableInterrupt(m_pCard), 0);
  const std::string said = ::testing::internal::GetCapturedStderr();
  EXPECT_NE(said.find("pci: 0000:01:00.0: the kernel refuses interrupt line 16 (Device or resource busy): the line "
                      "must not be shared"),
            std::string::npos)
      << said;
  EXPECT_EQ(PciInterruptEnabled(m_pCard), 0);
  EXPECT_TRUE(m_Host->Messages().empty());
  PciWriteReg(m_pCard, SPACE_REGISTERS, simtest::REG_TIMING_A, 77);
  EXPECT_EQ(sim::testing::PeekRegister(SLOT0, 2, simtest::REG_TIMING_A), 77u) << "the registers still answer";
  const pci::BusListing listing = pci::ListBus();
  ASSERT_EQ(listing.Cards.size(), 1u);
  EXPECT_EQ(listing.Cards[0].IrqSharedWith, std::vector<std::string>{"0000:00:1f.3"});
}

TEST_F(VfioBackendTest, GroupThatIsNotViableRefusesTheCardWithoutAMessageBox) {
  UseFake("kite", {.groupNotViable = true});
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(PciOpenCard(&m_pCard, PLX_VENDOR_ID, PLX_DEVICE_ID, 0, OPEN_USE_INTERRUPTS), 0);
  const std::string said = ::testing::internal::GetCapturedStderr();
  EXPECT_NE(said.find("pci: 0000:01:00.0: its IOMMU group is not viable"), std::string::npos) << said;
  EXPECT_EQ(m_pCard, nullptr);
  EXPECT_TRUE(m_Host->Messages().empty());
  EXPECT_EQ(vfio::testing::KernelCounts().openFiles, 0u);
  const pci::BusListing listing = pci::ListBus();
  ASSERT_EQ(listing.Cards.size(), 1u);
  ASSERT_EQ(listing.Cards[0].Problems.size(), 1u);
  EXPECT_EQ(listing.Cards[0].Problems[0].rfind("its IOMMU group 20 also holds 0000:00:1b.0 (driver snd_hda_intel)", 0),
            0u);
}

TEST_F(VfioBackendTest, NoIommuModeGoesThroughTheNoIommuGroup) {
  Open("kite:id=1", {.noIommu = true});
  PciWriteReg(m_pCard, SPACE_REGISTERS, simtest::REG_TIMING_B, 0x55);
  EXPECT_EQ(sim::testing::PeekRegister(SLOT0, 2, simtest::REG_TIMING_B), 0x55u);
  const pci::BusListing listing = pci::ListBus();
  ASSERT_EQ(listing.Cards.size(), 1u);
  EXPECT_EQ(listing.Cards[0].IommuGroup, "noiommu-20");
  EXPECT_TRUE(listing.Cards[0].Usable());
}

TEST_F(VfioBackendTest, DeviceOpenInAnotherProgramIsRefusedSilently) {
  UseFake("kite:held");
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(PciOpenCard(&m_pCard, PLX_VENDOR_ID, PLX_DEVICE_ID, 0, OPEN_USE_INTERRUPTS), 0);
  const std::string said = ::testing::internal::GetCapturedStderr();
  EXPECT_NE(said.find("the kernel refuses the device: Device or resource busy (another program has it open)"),
            std::string::npos)
      << said;
  EXPECT_TRUE(m_Host->Messages().empty());
  EXPECT_EQ(vfio::testing::KernelCounts().openFiles, 0u);
}

TEST_F(VfioBackendTest, ClaimRefusesASecondHolderUntilTheFirstLetsGo) {
  UseFake("kite");
  {
    Card first;
    ASSERT_TRUE(first.Ok());
    ::testing::internal::CaptureStderr();
    Card second;
    EXPECT_FALSE(second.Ok());
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "") << "refused by the claim, before the kernel is asked";
  }
  Card third;
  EXPECT_TRUE(third.Ok());
}

TEST_F(VfioBackendTest, CardBoundToAnotherDriverIsNotServed) {
  UseFake("kite", {.driver = "plx_serial"});
  EXPECT_EQ(PciCountCards(PLX_VENDOR_ID, PLX_DEVICE_ID), 0u);
  EXPECT_TRUE(m_Host->Messages().empty());
  const pci::BusListing listing = pci::ListBus();
  ASSERT_EQ(listing.Cards.size(), 1u);
  EXPECT_EQ(listing.Cards[0].Problems, std::vector<std::string>{"it is bound to plx_serial, not to vfio-pci"});
}

}  // namespace
