#pragma once
// The simulated bus as the SORREL_SIM variable describes it: cards in slot order, each a
// model with a board id and faults.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace sim {

enum class Model { Kite, Wren, Other };

enum Fault : uint32_t {
  FAULT_HELD = 1u << 0,         // claimed by another process
  FAULT_3V3_LOW = 1u << 1,      // 3.3 V supply not good
  FAULT_DAC = 1u << 2,          // DAC fault, DAC power never good
  FAULT_POWER_STUCK = 1u << 3,  // SLM power bit does not follow
  FAULT_BUSY_STUCK = 1u << 4,   // busy bits never clear
  FAULT_NO_IRQ = 1u << 5,       // the board never raises its interrupt
};

struct CardSpec {
  Model model = Model::Kite;
  uint32_t id = 0;
  uint32_t faults = 0;
};

constexpr const char* BUS_VARIABLE = "SORREL_SIM";
constexpr const char* DEFAULT_BUS = "kite:id=0";

const char* ModelName(Model model);
uint32_t DefaultId(Model model);

// Parses a bus description. On a malformed one returns false, leaves cards alone and puts
// a message naming the variable into error.
bool ParseBus(const std::string& text, std::vector<CardSpec>& cards, std::string& error);

// Fault options as a card description gives them after its model, "busy-stuck:no-irq";
// false (faults untouched) when one is not a fault's name.
bool ParseFaults(std::string_view options, uint32_t& faults);

}  // namespace sim
