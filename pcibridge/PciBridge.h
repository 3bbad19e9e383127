#pragma once
// Access to a PLX 9050 PCI bridge card through the PCI access facility: find cards, take
// one, map its spaces, read and write registers, write frame blocks, run the interrupt
// thread. Compiled into each driver library with hidden visibility, so each library keeps
// its own open card, sequence list and counters.

#include <cstdint>

#include "BoardRegisters.h"
#include "pci/Facility.h"

// Everything below stays inside the library that compiles the layer in, the driver's
// BoardInterruptRoutine included: define it in a file that includes this header.
#pragma GCC visibility push(hidden)

// Open options.
constexpr uint32_t OPEN_USE_INTERRUPTS = 1u << 0;
constexpr uint32_t OPEN_FIX_BAR0 = 1u << 1;

// Address spaces the drivers use.
constexpr int SPACE_BRIDGE = 0;
constexpr int SPACE_REGISTERS = 2;
constexpr int SPACE_FRAME_MEMORY = 3;
constexpr int SPACE_COUNT = 7;  // BAR0..BAR5 and the expansion ROM

struct AddressSpace {
  uint32_t Mask;             // size rounded up to a power of two, minus one
  uint32_t Size;             // bytes
  uint32_t TransferAddress;  // kernel-side address, or the port; 0: the space is absent
  uintptr_t MappedAddress;   // process address for direct access; 0 for I/O spaces
  uint32_t IsMemory;         // 1 memory, 0 I/O
};

struct PciCard {
  pci::DeviceHandle Device;       // the facility's handle
  uint32_t Bus, Slot, Function;
  pci::RegistrationRecord Registration;
  AddressSpace Spaces[SPACE_COUNT];
  uint32_t UseInterrupts;
  pci::InterruptRecord Interrupt;
  pci::ThreadHandle InterruptThread;
  pci::TransferCommand InterruptCommands[3];
};

uint32_t PciCountCards(uint32_t vendorId, uint32_t deviceId);
int PciOpenCard(PciCard** ppCard, uint32_t vendorId, uint32_t deviceId, uint32_t cardIndex, uint32_t options);
void PciCloseCard(PciCard* pCard);
uint32_t PciReadReg(PciCard* pCard, int space, uint32_t offset);
void PciWriteReg(PciCard* pCard, int space, uint32_t offset, uint32_t value);
void PciWriteBlock(PciCard* pCard, uint32_t offset, const void* source, uint32_t bytes, int space);
uint32_t PciReadConfig(PciCard* pCard, uint32_t offset);
void PciWriteConfig(PciCard* pCard, uint32_t offset, uint32_t value);
int PciSpaceActive(PciCard* pCard, int space);
int PciEnableInterrupt(PciCard* pCard);
void PciDisableInterrupt(PciCard* pCard);
int PciInterruptEnabled(PciCard* pCard);
int PciDetectSpaces(PciCard* pCard);

// Library-wide state the layer keeps for its driver.
extern uint16_t* SequenceList;      // frame numbers of the current run; new[] / delete[]
extern uint32_t SequenceListSize;   // entries held by SequenceList

// Provided by the driver library: runs on the interrupt thread once per interrupt.
void BoardInterruptRoutine(void* pCard);

#pragma GCC visibility pop
