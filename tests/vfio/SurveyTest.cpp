// What the facility finds on a host's PCI bus, read from sysfs trees the tests write: the
// listing and the diagnostic's text, and which backend serves for it.

#include <gtest/gtest.h>

#include "SysfsTree.h"
#include "pci/CardList.h"
#include "pci/Facility.h"

using namespace vfiotest;

namespace {

class SurveyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    unsetenv("SORREL_SIM");
    sim::testing::UsePrivateClaimFolder();
    sim::testing::ResetBus();
  }
  void TearDown() override { sim::testing::ResetBus(); }

  // The one card listed, or a failure.
  pci::BusCard Only() {
    const pci::BusListing listing = pci::ListBus();
    EXPECT_EQ(listing.Cards.size(), 1u);
    return listing.Cards.empty() ? pci::BusCard{} : listing.Cards[0];
  }

  CSysfsTree m_Tree;
};

TEST_F(SurveyTest, EmptyBusListsNothingAndTheTextSaysSo) {
  const pci::BusListing listing = pci::ListBus();
  EXPECT_EQ(listing.Folder, (m_Tree.Sysfs() / "bus/pci/devices").string());
  EXPECT_TRUE(listing.Cards.empty());
  EXPECT_TRUE(listing.Skipped.empty());
  EXPECT_EQ(pci::CardListText(),
            "Backend serving this process: simulated (no card is bound to vfio-pci)\n"
            "Cards with the bridge's ids (10b5:9050) in " +
                listing.Folder +
                ": 0\n"
                "Setting a card up: " INSTALLED_GUIDE "\n");
}

TEST_F(SurveyTest, BusThatCannotBeReadIsSaidSo) {
  std::filesystem::remove_all(m_Tree.Sysfs());
  const pci::BusListing listing = pci::ListBus();
  EXPECT_TRUE(listing.Cards.empty());
  ASSERT_EQ(listing.Skipped.size(), 1u);
  EXPECT_NE(listing.Skipped[0].find("cannot be read"), std::string::npos) << listing.Skipped[0];
}

TEST_F(SurveyTest, CardReadyForVfioIsUsableAndListedInFull) {
  m_Tree.Add({});
  m_Tree.AddGroupFile("12");
  const pci::BusCard card = Only();
  EXPECT_EQ(card.Address, "0000:03:00.0");
  EXPECT_EQ(card.VendorId, 0x10B5u);
  EXPECT_EQ(card.DeviceId, 0x9050u);
  EXPECT_EQ(card.SubsystemVendorId, 0x10B5u);
  EXPECT_EQ(card.SubsystemId, 0x2288u);
  EXPECT_EQ(card.Driver, "vfio-pci");
  EXPECT_EQ(card.IommuGroup, "12");
  EXPECT_EQ(card.Irq, 17u);
  EXPECT_TRUE(card.IrqSharedWith.empty());
  EXPECT_TRUE(card.Usable()) << card.Problems[0];
  EXPECT_EQ(pci::CardListText(),
            "Backend serving this process: vfio\n"
            "Cards with the bridge's ids (10b5:9050) in " +
                (m_Tree.Sysfs() / "bus/pci/devices").string() +
                ": 1\n"
                "  0000:03:00.0  ids 10b5:9050  subsystem 10b5:2288  driver vfio-pci  IOMMU group 12  irq 17, "
                "not shared\n"
                "    usable\n"
                "Setting a card up: " INSTALLED_GUIDE "\n");
}

TEST_F(SurveyTest, CardsComeInSlotOrderWhateverOrderTheFolderHolds) {
  for (const char* address : {"0001:00:02.0", "0000:0a:00.0", "0000:03:1f.1", "0000:03:1f.0", "0000:03:02.0"}) {
    TreeDevice d;
    d.address = address;
    d.irq = 0;  // no line, so none shares one
    m_Tree.Add(d);
  }
  std::vector<std::string> order;
  for (const pci::BusCard& card : pci::ListBus().Cards) order.push_back(card.Address);
  EXPECT_EQ(order, (std::vector<std::string>{"0000:03:02.0", "0000:03:1f.0", "0000:03:1f.1", "0000:0a:00.0",
                                             "0001:00:02.0"}));
}

TEST_F(SurveyTest, OtherVendorsAndDevicesAreLeftOut) {
  TreeDevice other;
  other.address = "0000:00:02.0";
  other.vendor = 0x8086;
  other.irq = 11;
  m_Tree.Add(other);
  TreeDevice sibling;  // a later bridge of the same maker
  sibling.address = "0000:00:03.0";
  sibling.device = 0x9054;
  sibling.irq = 12;
  m_Tree.Add(sibling);
  EXPECT_TRUE(pci::ListBus().Cards.empty());
  EXPECT_TRUE(pci::ListBus().Skipped.empty());
}

TEST_F(SurveyTest, CardBoundElsewhereNamesItsDriver) {
  TreeDevice bound;
  bound.driver = "plx_serial";
  m_Tree.Add(bound);
  m_Tree.Add(At("0000:04:00.0", "", "13", 18));
  const pci::BusListing listing = pci::ListBus();
  ASSERT_EQ(listing.Cards.size(), 2u);
  EXPECT_EQ(listing.Cards[0].Driver, "plx_serial");
  EXPECT_EQ(listing.Cards[0].Problems, std::vector<std::string>{"it is bound to plx_serial, not to vfio-pci"});
  EXPECT_EQ(listing.Cards[1].Driver, "");
  EXPECT_EQ(listing.Cards[1].Problems, std::vector<std::string>{"no driver is bound to it; bind it to vfio-pci"});
  const std::string text = pci::CardListText();
  EXPECT_NE(text.find("driver plx_serial  IOMMU group 12  irq 17, not shared\n"
                      "    - it is bound to plx_serial, not to vfio-pci\n"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("  0000:04:00.0  ids 10b5:9050  subsystem 10b5:2288  driver (none)"), std::string::npos) << text;
}

TEST_F(SurveyTest, MissingOrMalformedFilesSkipTheDeviceWithTheReason) {
  TreeDevice noVendor;
  noVendor.address = "0000:05:00.0";
  noVendor.missing = {"vendor"};
  m_Tree.Add(noVendor);
  TreeDevice badDevice;
  badDevice.address = "0000:06:00.0";
  badDevice.replaced = {{"device", "nine thousand\n"}};
  m_Tree.Add(badDevice);
  std::filesystem::create_directories(m_Tree.Sysfs() / "bus/pci/devices/not-an-address");
  const pci::BusListing listing = pci::ListBus();
  EXPECT_TRUE(listing.Cards.empty());
  EXPECT_EQ(listing.Skipped, (std::vector<std::string>{
                                 "0000:05:00.0: the vendor file cannot be read (No such file or directory)",
                                 "0000:06:00.0: the device file is malformed", "not-an-address: not a PCI address"}));
  EXPECT_NE(pci::CardListText().find("Skipped, their files missing or malformed:\n"
                                     "  0000:05:00.0: the vendor file cannot be read (No such file or directory)\n"),
            std::string::npos);
}

TEST_F(SurveyTest, BridgeCardWithBrokenFilesIsListedButNotUsable) {
  const std::pair<const char*, const char*> broken[] = {
      {"resource", "0x1 0x2\n"},
      {"irq", "-3\n"},
      {"subsystem_device", ""},
  };
  for (const auto& [file, text] : broken) {
    CSysfsTree tree;
    TreeDevice d;
    d.replaced = {{file, text}};
    tree.Add(d);
    tree.AddGroupFile("12");
    const pci::BusCard card = Only();
    EXPECT_EQ(card.Problems, std::vector<std::string>{std::string("the ") + file + " file is malformed"}) << file;
    // Nothing it would mislead with: no sharing, no further problems, and no backend takes it.
    EXPECT_STREQ(pci::ServingBackend(), "simulated") << file;
  }
  CSysfsTree tree;
  TreeDevice d;
  d.missing = {"resource"};
  tree.Add(d);
  EXPECT_EQ(Only().Problems,
            std::vector<std::string>{"the resource file cannot be read (No such file or directory)"});
}

TEST_F(SurveyTest, BarAboveFourGigabytesCannotBeNamed) {
  TreeDevice d;
  d.resource =
      "0x0000000000000000 0x0000000000000000 0x0000000000000000\n"
      "0x0000000000000000 0x0000000000000000 0x0000000000000000\n"
      "0x0000000380000000 0x00000003800000ff 0x0000000000140204\n"
      "0x0 0x0 0x0\n0x0 0x0 0x0\n0x0 0x0 0x0\n";
  m_Tree.Add(d);
  m_Tree.AddGroupFile("12");
  EXPECT_EQ(Only().Problems, std::vector<std::string>{"BAR2 lies above 4 GB, beyond this bridge's reach"});
}

TEST_F(SurveyTest, SharedInterruptLineIsNamedWithEveryDeviceOnIt) {
  m_Tree.Add({});
  m_Tree.AddGroupFile("12");
  for (TreeDevice other : {At("0000:00:1f.3", "snd_hda_intel", "", 17), At("0000:00:1d.0", "snd_hda_intel", "", 17),
                           At("0000:00:1a.0", "ehci-pci", "", 19)}) {
    other.vendor = 0x8086;
    m_Tree.Add(other);
  }
  const pci::BusCard card = Only();
  EXPECT_EQ(card.IrqSharedWith, (std::vector<std::string>{"0000:00:1d.0", "0000:00:1f.3"}));
  EXPECT_EQ(card.Problems, std::vector<std::string>{"its interrupt line 17 is shared with 0000:00:1d.0, 0000:00:1f.3: "
                                                    "this bridge needs a line of its own"});
  EXPECT_NE(pci::CardListText().find("irq 17, shared with 0000:00:1d.0, 0000:00:1f.3\n"), std::string::npos);
}

TEST_F(SurveyTest, GroupIsUsableOnlyWhenEveryOtherMemberLetsIt) {
  m_Tree.Add({});
  m_Tree.AddGroupFile("12");
  TreeDevice bridge;  // the PCI bridge the card sits behind shares its group and is no obstacle
  bridge.address = "0000:00:1e.0";
  bridge.vendor = 0x8086;
  bridge.classCode = "0x060401";
  bridge.driver = "pcieport";
  bridge.irq = 0;
  m_Tree.Add(bridge);
  EXPECT_TRUE(Only().Usable());

  TreeDevice sound = bridge;
  sound.address = "0000:03:01.0";
  sound.classCode = "0x040300";
  sound.driver = "snd_emu10k1";
  m_Tree.Add(sound);
  EXPECT_EQ(Only().Problems, std::vector<std::string>{"its IOMMU group 12 also holds 0000:03:01.0 (driver snd_emu10k1): "
                                                      "every device of the group must be bound to vfio-pci or to no "
                                                      "driver"});
}

TEST_F(SurveyTest, GroupFileDecidesBetweenIommuAndNoIommuMode) {
  m_Tree.Add({});
  const std::string vfio = m_Tree.Vfio().string();
  EXPECT_EQ(Only().Problems,
            std::vector<std::string>{"neither " + vfio + "/12 nor " + vfio + "/noiommu-12 exists"});
  m_Tree.AddGroupFile("noiommu-12");
  EXPECT_TRUE(Only().Usable());
  EXPECT_EQ(Only().IommuGroup, "noiommu-12");
}

TEST_F(SurveyTest, CardWithoutGroupOrLineSaysWhatIsMissing) {
  TreeDevice d;
  d.group = "";
  d.irq = 0;
  m_Tree.Add(d);
  EXPECT_EQ(Only().Problems, (std::vector<std::string>{"it has no IOMMU group: turn the IOMMU or the no-IOMMU mode on",
                                                       "it has no interrupt line"}));
  EXPECT_NE(pci::CardListText().find("IOMMU group (none)  no irq\n"), std::string::npos);
}

TEST_F(SurveyTest, MissingContainerFileIsAProblem) {
  m_Tree.Add({});
  m_Tree.AddGroupFile("12");
  std::filesystem::remove(m_Tree.Vfio() / "vfio");
  const std::vector<std::string> problems = Only().Problems;
  ASSERT_EQ(problems.size(), 1u);
  EXPECT_EQ(problems[0].rfind("this user may not open " + (m_Tree.Vfio() / "vfio").string(), 0), 0u) << problems[0];
}

// ---- which backend serves ----

TEST_F(SurveyTest, WithoutABoundCardTheSimulatedKiteServesAndStderrSaysHowToBind) {
  TreeDevice elsewhere;
  elsewhere.driver = "plx_serial";
  m_Tree.Add(elsewhere);
  ::testing::internal::CaptureStderr();
  const pci::DeviceHandle device = pci::Open();
  const std::string said = ::testing::internal::GetCapturedStderr();
  ASSERT_NE(device, pci::INVALID_DEVICE);
  EXPECT_STREQ(pci::ServingBackend(), "simulated");
  EXPECT_EQ(said,
            "pci: no card is bound to vfio-pci (found 0000:03:00.0 (driver plx_serial)), so the simulated Kite board "
            "serves; to drive a real card, bind it to vfio-pci as " INSTALLED_GUIDE " shows\n");
  pci::Location locations[pci::MAX_CARDS];
  EXPECT_EQ(pci::Scan(device, 0x10B5, 0x9050, locations), 1u);
  EXPECT_TRUE(sim::testing::CardAt(locations[0]).has_value()) << "the simulated card";
  pci::Close(device);

  // Said once, not at every open.
  ::testing::internal::CaptureStderr();
  pci::Close(pci::Open());
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
}

TEST_F(SurveyTest, SimulatedBusAskedForServesEvenBesideABoundCard) {
  m_Tree.Add({});
  m_Tree.AddGroupFile("12");
  setenv("SORREL_SIM", "wren", 1);
  EXPECT_STREQ(pci::ServingBackend(), "simulated");
  EXPECT_EQ(pci::CardListText().rfind("Backend serving this process: simulated (SORREL_SIM is set)\n", 0), 0u);
  unsetenv("SORREL_SIM");
  EXPECT_STREQ(pci::ServingBackend(), "vfio");
}

TEST_F(SurveyTest, BoundCardIsFoundAndDescribedThroughTheRealKernel) {
  m_Tree.Add(At("0000:03:05.2", "vfio-pci", "12", 17));
  m_Tree.Add(At("0000:04:00.0", "plx_serial", "13", 18));
  std::ofstream(m_Tree.Folder("0000:03:05.2") / "config", std::ios::binary)
      << std::string("\xb5\x10\x50\x90", 4) << std::string(60, '\0');
  ::testing::internal::CaptureStderr();
  const pci::DeviceHandle device = pci::Open();
  const std::string said = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(said, "pci: left out, not usable through vfio-pci: 0000:04:00.0 (driver plx_serial); see " INSTALLED_GUIDE "\n");
  ASSERT_NE(device, pci::INVALID_DEVICE);
  EXPECT_STREQ(pci::ServingBackend(), "vfio");

  pci::Location locations[pci::MAX_CARDS];
  ASSERT_EQ(pci::Scan(device, 0x10B5, 0x9050, locations), 1u) << "only the bound card";
  EXPECT_EQ(locations[0].Bus, 3u);
  EXPECT_EQ(locations[0].Slot, 5u);
  EXPECT_EQ(locations[0].Function, 2u);
  EXPECT_EQ(pci::ConfigRead32(device, locations[0], 0), 0x905010B5u) << "from sysfs before the card is registered";

  pci::CardResources resources{};
  ASSERT_TRUE(pci::CardInfo(device, locations[0], resources));
  ASSERT_EQ(resources.ItemCount, 5u);
  EXPECT_EQ(resources.Items[0].Type, pci::ITEM_MEMORY);
  EXPECT_EQ(resources.Items[0].Memory.PhysicalAddress, 0xFEBF1080u);
  EXPECT_EQ(resources.Items[0].Memory.Size, 0x80u);
  EXPECT_EQ(resources.Items[1].Type, pci::ITEM_IO);
  EXPECT_EQ(resources.Items[1].Io.Port, 0xE000u);
  EXPECT_EQ(resources.Items[1].Io.Size, 0x80u);
  EXPECT_EQ(resources.Items[2].Memory.PhysicalAddress, 0xFEBF0000u);
  EXPECT_EQ(resources.Items[2].Memory.Size, 0x100u);
  EXPECT_EQ(resources.Items[3].Memory.PhysicalAddress, 0xFE800000u);
  EXPECT_EQ(resources.Items[3].Memory.Size, 0x40000u);
  EXPECT_EQ(resources.Items[4].Type, pci::ITEM_INTERRUPT);
  EXPECT_EQ(resources.Items[4].Interrupt.Line, 17u);

  // The group file is missing: registering is refused with the reason on stderr only.
  pci::RegistrationRecord record{};
  record.Resources = resources;
  ::testing::internal::CaptureStderr();
  pci::RegisterCard(device, record);
  EXPECT_EQ(record.RegistrationHandle, 0u);
  const std::string refused = ::testing::internal::GetCapturedStderr();
  EXPECT_NE(refused.find("pci: 0000:03:05.2: cannot be opened: neither "), std::string::npos) << refused;
  pci::Close(device);
}

}  // namespace
