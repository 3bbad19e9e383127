#pragma once
// The card's register map, shared by the drivers and the simulated card: the PLX 9050
// bridge's identity and interrupt register, then the board registers (space
// SPACE_REGISTERS), all 32 bits wide.

#include <cstdint>

constexpr uint32_t PLX_VENDOR_ID = 0x10B5;
constexpr uint32_t PLX_DEVICE_ID = 0x9050;

// The bridge's interrupt control and status register (space 0, and space 1 as I/O ports).
constexpr uint32_t BRIDGE_INTCSR = 0x4C;
constexpr uint32_t INTCSR_LOCAL_STATUS = 1u << 2;  // read-only: the board's line is asserted
constexpr uint32_t INTCSR_PCI_INT_ENABLE = 1u << 6;

// The BAR that decodes the board registers.
constexpr uint32_t BOARD_REGISTERS_BAR = 2;

constexpr uint32_t REG_CONTROL = 0x00;
constexpr uint32_t REG_STATUS = 0x04;
constexpr uint32_t REG_FRAME_SELECT = 0x08;
constexpr uint32_t REG_FRAME_COUNTS = 0x0C;
constexpr uint32_t REG_TIMING_A = 0x10;
constexpr uint32_t REG_TIMING_B = 0x14;
constexpr uint32_t REG_INT_ACK = 0x24;
constexpr uint32_t REG_CONTROL_VERSION = 0x2C;
constexpr uint32_t REG_SDRAM0 = 0x30;
constexpr uint32_t REG_SDRAM1 = 0x34;
constexpr uint32_t REG_SDRAM2 = 0x38;
constexpr uint32_t REG_SDRAM3 = 0x3C;

// REG_CONTROL
constexpr uint32_t CONTROL_NORMAL = 1u << 0;  // cleared while a frame downloads
constexpr uint32_t CONTROL_DETA = 1u << 1;
constexpr uint32_t CONTROL_DETB = 1u << 2;
constexpr uint32_t CONTROL_RUN = 1u << 3;
constexpr uint32_t CONTROL_PULSE = 1u << 6;  // pulsed once at power-up
constexpr uint32_t CONTROL_DAC_POWER = 1u << 8;
constexpr uint32_t CONTROL_OPAMP_POWER = 1u << 9;
constexpr uint32_t CONTROL_SLM_POWER = 1u << 10;
constexpr uint32_t CONTROL_PHASE = 1u << 11;

// REG_STATUS
constexpr uint32_t STATUS_INIT_MASK = 0xFu;
constexpr uint32_t STATUS_BUSY_MASK = 0xF0u;
constexpr uint32_t STATUS_DAC_GOOD = 1u << 11;  // also the ready signal after a run starts
constexpr uint32_t STATUS_3V3_GOOD = 1u << 12;
constexpr uint32_t STATUS_DAC_FAULT = 1u << 14;
constexpr int STATUS_BOARD_ID_SHIFT = 24;

// REG_FRAME_SELECT: the image field at bit 0, the download field at bit 16.
constexpr int FRAME_SELECT_DOWNLOAD_SHIFT = 16;

// REG_FRAME_COUNTS
constexpr uint32_t FRAME_COUNTS_IMAGE_MASK = 0xFFFFu;
constexpr int FRAME_COUNTS_TRUE_SHIFT = 16;

// REG_TIMING_A / REG_TIMING_B: the laser's gain in the low byte
constexpr uint32_t TIMING_GAIN_MASK = 0xFFu;
constexpr int TIMING_FRACTION_SHIFT = 8;
constexpr int TIMING_WHOLE_SHIFT = 16;
