#include "CardChoice.h"

#include <algorithm>
#include <cstdio>
#include <mutex>
#include <optional>

namespace pci {
namespace {

// A PCI address names one place; a slot number names a slot on any bus.
struct Choice {
  Location Place{};
  bool SlotOnly = false;
};

std::mutex g_Mutex;
std::optional<Choice> g_Choice;

bool Chosen(const Choice& c, const Location& l) {
  return c.SlotOnly ? l.Slot == c.Place.Slot
                    : l.Bus == c.Place.Bus && l.Slot == c.Place.Slot && l.Function == c.Place.Function;
}

std::optional<Choice> Parse(const std::string& text) {
  unsigned domain = 0, bus = 0, slot = 0, function = 0;
  int used = 0;
  if (text.find(':') == std::string::npos) {
    if (std::sscanf(text.c_str(), "%u%n", &slot, &used) == 1 && used == static_cast<int>(text.size()) &&
        text.find_first_not_of("0123456789") == std::string::npos && slot < 32) {
      return Choice{{0, slot, 0}, true};
    }
    return std::nullopt;
  }
  const bool withDomain = std::count(text.begin(), text.end(), ':') == 2;
  const int read = withDomain ? std::sscanf(text.c_str(), "%4x:%2x:%2x.%1x%n", &domain, &bus, &slot, &function, &used)
                              : std::sscanf(text.c_str(), "%2x:%2x.%1x%n", &bus, &slot, &function, &used);
  if (read != (withDomain ? 4 : 3) || used != static_cast<int>(text.size()) || slot >= 32 || function >= 8) {
    return std::nullopt;
  }
  return Choice{{domain << 8 | bus, slot, function}, false};
}

}  // namespace

std::string CardAddress(const Location& l) {
  char text[16];
  std::snprintf(text, sizeof text, "%04x:%02x:%02x.%x", l.Bus >> 8 & 0xFFFF, l.Bus & 0xFF, l.Slot & 0x1F,
                l.Function & 0x7);
  return text;
}

std::string ChooseCard(const std::string& card) {
  std::optional<Choice> choice;
  if (!card.empty()) {
    choice = Parse(card);
    if (!choice) {
      return "'" + card + "' is neither a PCI address (such as 0000:03:00.0 or 03:00.0) nor a slot number (0 to 31)";
    }
  }
  std::lock_guard lock(g_Mutex);
  g_Choice = choice;
  return "";
}

bool IsChosen(const std::string& address) {
  const std::optional<Choice> card = Parse(address);
  return card && !card->SlotOnly && !detail::KeepChosen({card->Place}).empty();
}

std::string ChoiceAddress(const std::string& card) {
  const std::optional<Choice> choice = Parse(card);
  return choice && !choice->SlotOnly ? CardAddress(choice->Place) : "";
}

namespace detail {

std::vector<Location> KeepChosen(std::vector<Location> found) {
  std::lock_guard lock(g_Mutex);
  if (g_Choice) std::erase_if(found, [](const Location& l) { return !Chosen(*g_Choice, l); });
  return found;
}

}  // namespace detail
}  // namespace pci
