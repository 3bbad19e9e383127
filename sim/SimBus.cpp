#include "SimBus.h"

#include <array>
#include <string_view>
#include <utility>

#include "pci/Facility.h"

namespace sim {
namespace {

constexpr std::array<std::pair<std::string_view, uint32_t>, 6> FAULT_NAMES{{
    {"held", FAULT_HELD},
    {"3v3-low", FAULT_3V3_LOW},
    {"dac-fault", FAULT_DAC},
    {"power-stuck", FAULT_POWER_STUCK},
    {"busy-stuck", FAULT_BUSY_STUCK},
    {"no-irq", FAULT_NO_IRQ},
}};

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) {
    s.remove_prefix(1);
  }
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) {
    s.remove_suffix(1);
  }
  return s;
}

// A board id: decimal or 0x hex, 0..255, nothing else.
bool ParseId(std::string_view text, uint32_t& id) {
  uint32_t base = 10;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    base = 16;
    text.remove_prefix(2);
  }
  if (text.empty() || text.size() > 8) {
    return false;
  }
  uint32_t value = 0;
  for (char c : text) {
    uint32_t digit = 0;
    if (c >= '0' && c <= '9') {
      digit = static_cast<uint32_t>(c - '0');
    } else if (base == 16 && c >= 'a' && c <= 'f') {
      digit = static_cast<uint32_t>(c - 'a' + 10);
    } else if (base == 16 && c >= 'A' && c <= 'F') {
      digit = static_cast<uint32_t>(c - 'A' + 10);
    } else {
      return false;
    }
    value = value * base + digit;
  }
  if (value > 0xFF) {
    return false;
  }
  id = value;
  return true;
}

// The fault an option names, or 0.
uint32_t FaultNamed(std::string_view option) {
  for (const auto& [name, fault] : FAULT_NAMES) {
    if (option == name) {
      return fault;
    }
  }
  return 0;
}

bool ParseCard(std::string_view text, CardSpec& card, std::string& problem) {
  size_t colon = text.find(':');
  const std::string_view model = text.substr(0, colon);
  if (model == "kite") {
    card.model = Model::Kite;
  } else if (model == "wren") {
    card.model = Model::Wren;
  } else if (model == "other") {
    card.model = Model::Other;
  } else {
    problem = "unknown model \"" + std::string(model) + "\" (expected kite, wren or other)";
    return false;
  }
  card.id = DefaultId(card.model);
  bool haveId = false;
  while (colon != std::string_view::npos) {
    text.remove_prefix(colon + 1);
    colon = text.find(':');
    const std::string_view option = text.substr(0, colon);
    if (option.starts_with("id=")) {
      if (haveId || !ParseId(option.substr(3), card.id)) {
        problem = "bad board id \"" + std::string(option) + "\" (one id=N per card, N from 0 to 255, decimal or 0x hex)";
        return false;
      }
      haveId = true;
      continue;
    }
    const uint32_t fault = FaultNamed(option);
    if (fault != 0 && (card.faults & fault) == 0) {
      card.faults |= fault;
    } else {
      problem = "unknown or repeated option \"" + std::string(option) +
                "\" (expected id=N, held, 3v3-low, dac-fault, power-stuck, busy-stuck or no-irq)";
      return false;
    }
  }
  return true;
}

}  // namespace

const char* ModelName(Model model) {
  switch (model) {
    case Model::Kite:
      return "kite";
    case Model::Wren:
      return "wren";
    case Model::Other:
      break;
  }
  return "other";
}

uint32_t DefaultId(Model model) {
  switch (model) {
    case Model::Kite:
      return 0x00;
    case Model::Wren:
      return 0x40;
    case Model::Other:
      break;
  }
  return 0x80;
}

bool ParseBus(const std::string& text, std::vector<CardSpec>& cards, std::string& error) {
  const std::string_view whole = Trim(text);
  std::vector<CardSpec> parsed;
  std::string problem;
  if (whole.empty()) {
    problem = "the value is empty (use none for a bus without cards)";
  } else if (whole != "none") {
    std::string_view rest = whole;
    while (problem.empty()) {
      const size_t comma = rest.find(',');
      const std::string_view item = Trim(rest.substr(0, comma));
      CardSpec card;
      if (item.empty()) {
        problem = "a card description is empty";
      } else if (item == "none") {
        problem = "none cannot be combined with cards";
      } else if (ParseCard(item, card, problem)) {
        parsed.push_back(card);
        if (parsed.size() > pci::MAX_CARDS) {
          problem = "more than " + std::to_string(pci::MAX_CARDS) + " cards";
        }
      }
      if (comma == std::string_view::npos) {
        break;
      }
      rest.remove_prefix(comma + 1);
    }
  }
  if (!problem.empty()) {
    error = std::string(BUS_VARIABLE) + "=\"" + text + "\" is refused: " + problem +
            ". Write a comma-separated list of MODEL[:OPTION...] (models kite, wren, other), or none.";
    return false;
  }
  cards = std::move(parsed);
  return true;
}

bool ParseFaults(std::string_view options, uint32_t& faults) {
  uint32_t parsed = 0;
  while (!options.empty()) {
    const size_t colon = options.find(':');
    const uint32_t fault = FaultNamed(options.substr(0, colon));
    if (fault == 0) {
      return false;
    }
    parsed |= fault;
    options.remove_prefix(colon == std::string_view::npos ? options.size() : colon + 1);
  }
  faults = parsed;
  return true;
}

}  // namespace sim
