// The bridge layer over the PCI access facility. One copy lives in each driver library.

#include "PciBridge.h"

#include <cstdio>
#include <cstring>
#include <new>

#include "ui/Host.h"

#ifndef PCIBRIDGE_SEQUENCE_LIST_ENTRIES
#error "PCIBRIDGE_SEQUENCE_LIST_ENTRIES must be defined by the driver library (see sorrel_add_pcibridge)"
#endif

uint16_t* SequenceList = nullptr;
uint32_t SequenceListSize = 0;

namespace {

constexpr uint32_t MIN_DRIVER_VERSION = 1010;
constexpr uint32_t CONFIG_BAR0 = 0x10;
constexpr uint32_t CONFIG_ROM = 0x30;
constexpr uint32_t BAR0_BIT7 = 1u << 7;

void ShowError(const char* text) { MessageBox(nullptr, text, "ERROR"); }

pci::Location LocationOf(const PciCard* pCard) { return {pCard->Bus, pCard->Slot, pCard->Function}; }

// The space table entry, or null for an index outside the table.
const AddressSpace* SpaceOf(const PciCard* pCard, int space) {
  if (space < 0 || space >= SPACE_COUNT) {
    std::fprintf(stderr, "pcibridge: address space %d does not exist\n", space);
    return nullptr;
  }
  return &pCard->Spaces[space];
}

void ReleaseSequenceList() {
  delete[] SequenceList;
  SequenceList = nullptr;
  SequenceListSize = 0;
}

// Gives back everything an open took, in reverse order.
void Discard(PciCard* pCard) {
  if (pCard->Registration.RegistrationHandle != 0) {
    pci::ReleaseCard(pCard->Device, pCard->Registration);
  }
  if (pCard->Device != pci::INVALID_DEVICE) {
    pci::Close(pCard->Device);
  }
  delete pCard;
}

// Mask of a space: its size rounded up to a power of two, minus one.
uint32_t MaskFor(uint32_t size) {
  uint32_t mask = 0;
  for (uint32_t l = 1; l < size && l != 0x80000000; l <<= 1) {
    mask = (mask << 1) | 1;
  }
  return mask;
}

}  // namespace

uint32_t PciCountCards(uint32_t vendorId, uint32_t deviceId) {
  const pci::DeviceHandle device = pci::Open();
  if (device == pci::INVALID_DEVICE) {
    ShowError("Failed opening WinDriver device");
    return 0;
  }
  if (pci::Version(device) < MIN_DRIVER_VERSION) {
    ShowError("Incorrect WinDriver version");
    pci::Close(device);
    return 0;
  }
  pci::Location locations[pci::MAX_CARDS];
  const uint32_t count = pci::Scan(device, vendorId, deviceId, locations);
  pci::Close(device);
  return count;
}

int PciOpenCard(PciCard** ppCard, uint32_t vendorId, uint32_t deviceId, uint32_t cardIndex, uint32_t options) {
  *ppCard = nullptr;
  auto* pCard = new (std::nothrow) PciCard{};
  if (pCard == nullptr) {
    return 0;
  }
  pCard->Device = pci::INVALID_DEVICE;
  auto fail = [&](const char* message) {
    if (message != nullptr) {
      ShowError(message);
    }
    Discard(pCard);
    return 0;
  };

  pCard->Device = pci::Open();
  if (pCard->Device == pci::INVALID_DEVICE) {
    return fail("Failed opening WinDriver device\n");
  }
  if (pci::Version(pCard->Device) < MIN_DRIVER_VERSION) {
    return fail("Incorrect WinDriver version\n");
  }
  pci::Location locations[pci::MAX_CARDS];
  const uint32_t count = pci::Scan(pCard->Device, vendorId, deviceId, locations);
  if (cardIndex >= count) {
    return fail("Card out of range of available cards\n");
  }
  pCard->Bus = locations[cardIndex].Bus;
  pCard->Slot = locations[cardIndex].Slot;
  pCard->Function = locations[cardIndex].Function;
  if ((options & OPEN_FIX_BAR0) != 0) {
    PciWriteConfig(pCard, CONFIG_BAR0, PciReadConfig(pCard, CONFIG_BAR0) & ~BAR0_BIT7);
  }

  pci::CardResources& resources = pCard->Registration.Resources;
  pci::CardInfo(pCard->Device, LocationOf(pCard), resources);
  pCard->UseInterrupts = options & OPEN_USE_INTERRUPTS;
  for (uint32_t i = 0; i < resources.ItemCount && i < pci::MAX_ITEMS; ++i) {
    pci::ResourceItem& item = resources.Items[i];
    if (item.Type == pci::ITEM_INTERRUPT) {
      if (pCard->UseInterrupts != 0) {
        item.Exclusive = 0;
      } else {
        item.Type = pci::ITEM_REMOVED;
      }
    }
  }

  pCard->Registration.CheckOnly = 0;
  pci::RegisterCard(pCard->Device, pCard->Registration);
  if (pCard->Registration.RegistrationHandle == 0) {
    return fail(nullptr);  // another holder has the card: the caller reports it
  }
  if (!PciDetectSpaces(pCard)) {
    return fail("Card does not have all items expected for PLX 9050\n");
  }

  // A second open replaces the list of the first.
  delete[] SequenceList;
  SequenceList = new (std::nothrow) uint16_t[PCIBRIDGE_SEQUENCE_LIST_ENTRIES]();
  if (SequenceList == nullptr) {
    std::fprintf(stderr, "pcibridge: no memory for the sequence list\n");
    SequenceListSize = 0;
    return fail(nullptr);
  }
  SequenceListSize = PCIBRIDGE_SEQUENCE_LIST_ENTRIES;
  *ppCard = pCard;
  return 1;
}

void PciCloseCard(PciCard* pCard) {
  if (pCard == nullptr) {
    return;
  }
  // The interrupt routine reads the sequence list: stop it before the list goes.
  if (pCard->InterruptThread != 0) {
    PciDisableInterrupt(pCard);
  }
  ReleaseSequenceList();
  if (PciSpaceActive(pCard, SPACE_REGISTERS)) {
    PciWriteReg(pCard, SPACE_REGISTERS, REG_CONTROL, 0);  // everything off
  }
  Discard(pCard);
}

uint32_t PciReadReg(PciCard* pCard, int space, uint32_t offset) {
  const AddressSpace* s = SpaceOf(pCard, space);
  return s != nullptr ? pci::ReadMem32(s->MappedAddress + offset) : 0xFFFFFFFF;
}

void PciWriteReg(PciCard* pCard, int space, uint32_t offset, uint32_t value) {
  if (const AddressSpace* s = SpaceOf(pCard, space)) {
    pci::WriteMem32(s->MappedAddress + offset, value);
  }
}

void PciWriteBlock(PciCard* pCard, uint32_t offset, const void* source, uint32_t bytes, int space) {
  if (const AddressSpace* s = SpaceOf(pCard, space)) {
    pci::Transfer(pCard->Device, s->TransferAddress + offset, source, bytes);
  }
}

uint32_t PciReadConfig(PciCard* pCard, uint32_t offset) {
  return pci::ConfigRead32(pCard->Device, LocationOf(pCard), offset);
}

void PciWriteConfig(PciCard* pCard, uint32_t offset, uint32_t value) {
  pci::ConfigWrite32(pCard->Device, LocationOf(pCard), offset, value);
}

int PciSpaceActive(PciCard* pCard, int space) {
  const AddressSpace* s = SpaceOf(pCard, space);
  return s != nullptr && s->TransferAddress != 0 ? 1 : 0;
}

int PciDetectSpaces(PciCard* pCard) {
  std::memset(&pCard->Interrupt, 0, sizeof pCard->Interrupt);
  pCard->InterruptThread = 0;
  std::memset(pCard->Spaces, 0, sizeof pCard->Spaces);

  const pci::CardResources& resources = pCard->Registration.Resources;
  for (uint32_t i = 0; i < resources.ItemCount && i < pci::MAX_ITEMS; ++i) {
    const pci::ResourceItem& item = resources.Items[i];
    if (item.Type == pci::ITEM_INTERRUPT) {
      if (pCard->Interrupt.Handle != 0) {
        return 0;  // a PLX 9050 has one interrupt
      }
      pCard->Interrupt.Handle = item.Interrupt.Handle;
      continue;
    }
    if (item.Type != pci::ITEM_MEMORY && item.Type != pci::ITEM_IO) {
      continue;
    }
    const bool memory = item.Type == pci::ITEM_MEMORY;
    const uint32_t physical = memory ? item.Memory.PhysicalAddress : item.Io.Port & 0xFFFF;
    for (int j = 0; j < SPACE_COUNT; ++j) {
      AddressSpace& space = pCard->Spaces[j];
      if (space.TransferAddress != 0) {
        continue;
      }
      const uint32_t bar = PciReadConfig(pCard, j < 6 ? CONFIG_BAR0 + 4 * static_cast<uint32_t>(j) : CONFIG_ROM);
      const bool ioBar = (bar & 1) != 0;
      if (ioBar == memory || (ioBar ? bar & ~0x3u : bar & ~0xFu) != physical) {
        continue;
      }
      space.Size = memory ? item.Memory.Size : item.Io.Size;
      space.TransferAddress = memory ? item.Memory.TransferAddress : item.Io.Port;
      space.MappedAddress = memory ? static_cast<uintptr_t>(item.Memory.MappedAddress) : 0;
      space.IsMemory = memory ? 1 : 0;
      space.Mask = MaskFor(space.Size);
      break;
    }
  }
  if (pCard->UseInterrupts != 0 && pCard->Interrupt.Handle == 0) {
    return 0;
  }
  return PciSpaceActive(pCard, SPACE_BRIDGE);
}

int PciEnableInterrupt(PciCard* pCard) {
  if (pCard->UseInterrupts == 0 || pCard->InterruptThread != 0) {
    return 0;
  }
  const AddressSpace& bridge = pCard->Spaces[SPACE_BRIDGE];
  const uint32_t intcsr = PciReadReg(pCard, SPACE_BRIDGE, BRIDGE_INTCSR);

  pci::TransferCommand* commands = pCard->InterruptCommands;
  std::memset(commands, 0, sizeof pCard->InterruptCommands);
  commands[0].Address = bridge.TransferAddress + BRIDGE_INTCSR;
  commands[0].Command = bridge.IsMemory != 0 ? pci::READ_MEM32 : pci::READ_PORT32;
  commands[1].Address = pCard->Spaces[SPACE_REGISTERS].TransferAddress + REG_INT_ACK;
  commands[1].Command = pci::WRITE_MEM32;
  commands[1].Value = 0;
  commands[2].Address = bridge.TransferAddress + BRIDGE_INTCSR;
  commands[2].Command = bridge.IsMemory != 0 ? pci::WRITE_MEM32 : pci::WRITE_PORT32;
  commands[2].Value = intcsr & ~INTCSR_PCI_INT_ENABLE;

  pCard->Interrupt.Options |= pci::INTERRUPT_CMD_COPY;
  pCard->Interrupt.Commands = commands;
  pCard->Interrupt.CommandCount = 3;
  if (!pci::InterruptThreadEnable(&pCard->InterruptThread, pCard->Device, &pCard->Interrupt, BoardInterruptRoutine,
                                  pCard)) {
    pCard->InterruptThread = 0;
    return 0;
  }
  PciWriteReg(pCard, SPACE_BRIDGE, BRIDGE_INTCSR, intcsr | INTCSR_PCI_INT_ENABLE);
  return 1;
}

void PciDisableInterrupt(PciCard* pCard) {
  if (pCard->UseInterrupts == 0 || pCard->InterruptThread == 0) {
    return;
  }
  PciWriteReg(pCard, SPACE_BRIDGE, BRIDGE_INTCSR,
              PciReadReg(pCard, SPACE_BRIDGE, BRIDGE_INTCSR) & ~INTCSR_PCI_INT_ENABLE);
  pci::InterruptThreadDisable(pCard->InterruptThread);
  pCard->InterruptThread = 0;
}

int PciInterruptEnabled(PciCard* pCard) { return pCard->UseInterrupts != 0 && pCard->InterruptThread != 0 ? 1 : 0; }
