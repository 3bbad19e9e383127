#pragma once
// One value as the file writes it: "Name"="text", dword:, hex: or hex(N):, and the small
// text rules the whole file shares.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "registry/Registry.h"

struct RegValue {
  std::string name;  // "" is the key's default value, written @
  DWORD type = REG_SZ;
  std::string data;  // the bytes, a REG_SZ with its NUL
};

// Names of keys and values compare as the registry compares them: letter case aside.
bool SameName(std::string_view a, std::string_view b);
// The one spelling of a name that SameName finds equal to it.
std::string FoldedName(std::string_view name);

// The value named name in values, or null.
const RegValue* FindValue(const std::vector<RegValue>& values, std::string_view name);
// Gives values the value, in place of one of the same name (whose spelling stays).
void PutValue(std::vector<RegValue>& values, const RegValue& value);

bool IsBlank(std::string_view line);
std::string_view TrimLeft(std::string_view text);
std::string_view TrimRight(std::string_view text);

// The value one logical line gives (continued lines already joined), or nothing when the
// line makes no sense as a value.
std::optional<RegValue> ParseValueLine(std::string_view line);

// The lines that write value, each with its line end. Long hex forms are continued on
// further lines, as the export format does.
std::string ValueLines(const RegValue& value);
