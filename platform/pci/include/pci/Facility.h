#pragma once
// The PCI access facility: what a driver needs of a kernel PCI driver, as plain calls.
// One shared library per process; both driver libraries use it. The facility chooses the
// backend behind these calls from its own table (the simulated card, or real cards through
// VFIO); nothing above it may assume which.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#define PCI_API __attribute__((visibility("default")))

namespace pci {

using DeviceHandle = int;
constexpr DeviceHandle INVALID_DEVICE = -1;
using ThreadHandle = uintptr_t;  // 0: no thread

constexpr uint32_t MAX_CARDS = 100;
constexpr uint32_t MAX_ITEMS = 20;

enum ItemType : uint32_t {
  ITEM_REMOVED = 0,
  ITEM_INTERRUPT = 1,
  ITEM_MEMORY = 2,
  ITEM_IO = 3,
};

#pragma pack(push, 4)
// One resource of a card, 40 bytes. The process address of a memory range is 64 bits
// wide on this platform and sits at 28 like the 32-bit one it replaces.
struct ResourceItem {
  uint32_t Type;       // 0
  uint32_t Exclusive;  // 4
  uint32_t Reserved0[2];
  union {
    struct {
      uint32_t PhysicalAddress;  // 16
      uint32_t Size;             // 20
      uint32_t TransferAddress;  // 24: kernel-side address
      uint64_t MappedAddress;    // 28: address in this process
    } Memory;
    struct {
      uint32_t Port;  // 16
      uint32_t Size;  // 20
    } Io;
    struct {
      uint32_t Line;  // 16: interrupt line (configuration offset 0x3C)
      uint32_t Reserved;
      uint32_t Handle;  // 24: filled in by RegisterCard
    } Interrupt;
  };
  uint32_t Reserved1;  // 36
};
#pragma pack(pop)
static_assert(sizeof(ResourceItem) == 40);
static_assert(offsetof(ResourceItem, Memory.PhysicalAddress) == 16);
static_assert(offsetof(ResourceItem, Memory.Size) == 20);
static_assert(offsetof(ResourceItem, Memory.TransferAddress) == 24);
static_assert(offsetof(ResourceItem, Memory.MappedAddress) == 28);
static_assert(offsetof(ResourceItem, Interrupt.Handle) == 24);

struct CardResources {
  uint32_t ItemCount;
  ResourceItem Items[MAX_ITEMS];
};
static_assert(sizeof(CardResources) == 804);

struct RegistrationRecord {
  CardResources Resources;      // 0
  uint32_t CheckOnly;           // 804
  uint32_t RegistrationHandle;  // 808: 0 = refused
  uint8_t Reserved[948 - 812];
};
static_assert(sizeof(RegistrationRecord) == 948);

// Bus carries the PCI domain above its low 8 bits (domain 0 on most machines).
struct Location {
  uint32_t Bus;
  uint32_t Slot;
  uint32_t Function;
};

// Interrupt-time transfer commands, run by the facility at each interrupt before the
// routine is called.
enum TransferCode : uint32_t {
  READ_PORT32 = 1,
  READ_MEM32 = 2,
  WRITE_PORT32 = 3,
  WRITE_MEM32 = 4,
};

struct TransferCommand {
  uint32_t Address;  // transfer address of the space plus the offset
  uint32_t Command;  // TransferCode
  uint32_t Reserved0[2];
  uint32_t Value;  // written value, or the value read
  uint32_t Reserved1[3];
};
static_assert(sizeof(TransferCommand) == 32);

constexpr uint32_t INTERRUPT_CMD_COPY = 2;  // option bit 1: run the commands

struct InterruptRecord {
  uint32_t Handle;
  uint32_t Options;
  TransferCommand* Commands;
  uint32_t CommandCount;
  uint32_t Count;  // interrupts delivered so far
};

using InterruptRoutine = void (*)(void* argument);

constexpr uint32_t VERSION = 1100;

// INVALID_DEVICE when the facility cannot be used (e.g. a malformed description of the
// simulated bus, reported on stderr). Closing a handle releases the cards it registered.
PCI_API DeviceHandle Open();
PCI_API void Close(DeviceHandle device);
PCI_API uint32_t Version(DeviceHandle device);
// Cards with these ids, in slot order, at most MAX_CARDS; returns the count.
PCI_API uint32_t Scan(DeviceHandle device, uint32_t vendorId, uint32_t deviceId, Location locations[MAX_CARDS]);
PCI_API bool CardInfo(DeviceHandle device, const Location& location, CardResources& resources);
// Claims the card described by record.Resources: fills RegistrationHandle (0 when another
// process holds the card) and the memory items' transfer and mapped addresses.
PCI_API void RegisterCard(DeviceHandle device, RegistrationRecord& record);
PCI_API void ReleaseCard(DeviceHandle device, RegistrationRecord& record);
PCI_API uint32_t ConfigRead32(DeviceHandle device, const Location& location, uint32_t offset);
PCI_API void ConfigWrite32(DeviceHandle device, const Location& location, uint32_t offset, uint32_t value);
// Writes bytes (a whole number of 32-bit units) with auto-increment from transferAddress.
PCI_API void Transfer(DeviceHandle device, uint32_t transferAddress, const void* source, uint32_t bytes);
// 32-bit access at a mapped address of a registered card's memory space. An address no
// registered card maps is reported on stderr and reads as 0xFFFFFFFF.
PCI_API uint32_t ReadMem32(uintptr_t address);
PCI_API void WriteMem32(uintptr_t address, uint32_t value);
PCI_API bool InterruptThreadEnable(ThreadHandle* thread, DeviceHandle device, InterruptRecord* record,
                                   InterruptRoutine routine, void* argument);
PCI_API void InterruptThreadDisable(ThreadHandle thread);

// ---- which card this process opens ----

// "domain:bus:slot.function" in hex, as sysfs and lspci name a card: "0000:03:00.0".
PCI_API std::string CardAddress(const Location& location);
// From now on Scan finds only the card the text names: a PCI address ("0000:03:00.0", or
// "03:00.0" in domain 0) or a slot number in decimal ("3": the card in slot 3 of any bus);
// empty, every card again. Returns "", or why the text names no place a card can be.
PCI_API std::string ChooseCard(const std::string& card);
// Whether Scan finds the card at this address (as CardAddress writes it) under the choice.
PCI_API bool IsChosen(const std::string& address);
// The address a ChooseCard text names, as CardAddress writes it ("03:00.0" is
// "0000:03:00.0"); empty for a slot number, which names no one place, or a text that names none.
PCI_API std::string ChoiceAddress(const std::string& card);

// ---- what the modulator of a registered card shows now ----

// Read back from the card's side, never from the program's copy: the simulated card's own
// panel; for a real card, a shadow of what the driver last wrote to it and selected,
// decoded as the panel decodes it.
struct DisplayInfo {
  uint32_t Width;
  uint32_t Height;
  uint32_t Powered;      // SLM power on; pixels are 0 (dark) while off
  uint32_t Running;      // the board's run bit
  uint32_t Image;        // frame buffer shown
  uint32_t ImageFrames;  // board frames per image period
  uint32_t LaserAGain;
  uint32_t LaserBGain;
  uint32_t DarkA16;      // dark part of the first half-period, in sixteenths of a board frame
  uint32_t DarkB16;      // dark part of the second half-period
  uint64_t Interrupts;   // the card's interrupts this process has taken so far
};

// The cards this process holds, in the order it registered them.
PCI_API std::vector<Location> RegisteredCards();
// False (info untouched) when this process holds no card at the location. Otherwise fills
// info and, when pixels holds at least Width x Height bytes (capacity), the picture. Safe
// from any thread; it never waits for the card's interrupt routine.
PCI_API bool ReadDisplay(const Location& location, DisplayInfo& info, uint8_t* pixels, size_t capacity);
// The card's interrupts this process has taken and run the driver's routine for, once they
// are more than seen, or when timeout passes first (then possibly seen). DisplayInfo::
// Interrupts may be one ahead while a routine runs. Returns seen at once when this process holds no card at
// the location. Any number of threads may wait; the interrupt thread never waits for them.
PCI_API uint64_t WaitInterrupt(const Location& location, uint64_t seen, std::chrono::milliseconds timeout);
// What the card showed right after the driver's routine ran for each of its last
// SHOWN_RECORDS interrupts (about a second of a run at the boards' top rate), kept by the
// interrupt thread, so a thread that waits for each interrupt loses none when it runs late.
constexpr size_t SHOWN_RECORDS = 1024;
// The records of the interrupts after seen, oldest first, at most capacity of them into out;
// returns how many. Each is what ReadDisplay gives without the picture, its Interrupts the
// interrupt's own number (the card's first is 1). lost: the interrupts after seen whose
// records were overwritten before this read, all before the first record given. 0 and none
// lost when this process holds no card at the location. Never waits, nor makes the
// interrupt thread wait.
PCI_API size_t ShownSince(const Location& location, uint64_t seen, DisplayInfo* out, size_t capacity,
                          uint64_t& lost);
// Runs the calling thread ahead of ordinary threads, just behind the interrupt thread, where
// the system allows it: for a thread that waits for each interrupt and must not miss one
// behind ordinary work. Elsewhere it stays as it is.
PCI_API void FollowInterrupts();

// ---- an end that cannot wait for the driver ----

// Laser gains to zero and SLM power off on every card this process holds, written straight
// to the board registers: reachable where no driver object is (a termination signal while
// the board is being built, or under a box the driver is waiting on). Never waits, never
// shows anything; the rest of each card's state is left as it is.
PCI_API void MakeHeldCardsSafe();

// ---- for the program's diagnostics; neither opens a card ----

// One card with the bridge's ids on the host's PCI bus, as sysfs shows it.
struct BusCard {
  std::string Address;  // domain:bus:slot.function, e.g. "0000:03:00.0"
  uint32_t VendorId = 0;
  uint32_t DeviceId = 0;
  uint32_t SubsystemVendorId = 0;
  uint32_t SubsystemId = 0;
  std::string Driver;      // bound driver; empty when none
  std::string IommuGroup;  // empty when the card has no IOMMU group
  uint32_t Irq = 0;        // 0: no interrupt line
  std::vector<std::string> IrqSharedWith;  // other devices on the same line
  std::vector<std::string> Problems;       // what stands in the way; none when usable
  bool Usable() const { return Problems.empty(); }
};

struct BusListing {
  std::string Folder;                // the sysfs folder that was read
  std::vector<BusCard> Cards;        // in slot order (domain, bus, slot, function)
  std::vector<std::string> Skipped;  // "address: reason" for devices whose files could not be read
};

// A claim this process was refused because another process held the card, and who held it
// as the holder recorded itself with its claim. Serial counts such refusals in this process
// (0: none yet), so a caller can tell whether an attempt of its own was refused. ProcessId
// is 0 when the holder could not be told (its record was not written yet, or it has ended).
struct ClaimRefusal {
  uint64_t Serial = 0;
  int ProcessId = 0;
  std::string Program;
};
PCI_API ClaimRefusal LastClaimRefusal();

// The backend that serves this process now: "simulated" or "vfio".
PCI_API const char* ServingBackend();
// What is on the host's PCI bus for the bridge's ids, and what stands in the way of each card.
PCI_API BusListing ListBus();

}  // namespace pci
