// The settings store's reader: any bytes as the store's file; every value read through the
// calls as the file gives it; then a save, after which the file gives the same values plus
// the saved ones, and a second save of the same values that changes nothing.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "FuzzInput.h"
#include "RegDocument.h"
#include "registry/Registry.h"

namespace {

constexpr std::string_view HIVE = "HKEY_LOCAL_MACHINE";
constexpr const char* SORREL_KEY = "SOFTWARE\\Orvane Radara\\Sorrel";
constexpr size_t MAX_FUZZ_VALUE = 64;

void Check(bool condition) {
  if (!condition) __builtin_trap();
}

std::string Bytes(const std::string& path) {
  std::string bytes;
  if (std::FILE* file = std::fopen(path.c_str(), "rb")) {
    char chunk[4096];
    for (size_t n; (n = std::fread(chunk, 1, sizeof chunk, file)) > 0;) bytes.append(chunk, n);
    std::fclose(file);
  }
  return bytes;
}

// The path below the hive by which the calls open key, when key is the hive or below it.
// ("HKEY_LOCAL_MACHINE\\" ends in an empty part, which the calls name no key by.)
std::optional<std::string> BelowHive(const std::string& key) {
  if (key.size() < HIVE.size() || !SameName(std::string_view(key).substr(0, HIVE.size()), HIVE)) return std::nullopt;
  if (key.size() == HIVE.size()) return std::string();
  if (key[HIVE.size()] != '\\' || key.size() == HIVE.size() + 1) return std::nullopt;
  return key.substr(HIVE.size() + 1);
}

void ReadEveryValue(const CRegDocument& document) {
  for (const std::string& key : document.Keys()) {
    const std::optional<std::string> subKey = BelowHive(key);
    if (!subKey || subKey->find('\0') != std::string::npos) continue;
    HKEY hKey = nullptr;
    const LONG opened = RegOpenKeyExA(HKEY_LOCAL_MACHINE, subKey->c_str(), 0, KEY_QUERY_VALUE, &hKey);
    if (opened == ERROR_INVALID_PARAMETER) continue;  // a path with an empty part: no key the calls name
    Check(opened == ERROR_SUCCESS);
    for (const RegValue& value : document.Values(key)) {
      if (value.name.find('\0') != std::string::npos) continue;
      DWORD size = 0;
      Check(RegQueryValueExA(hKey, value.name.c_str(), nullptr, nullptr, nullptr, &size) == ERROR_SUCCESS);
      Check(size == value.data.size());
      std::vector<BYTE> buffer(size);
      DWORD type = 0;
      Check(RegQueryValueExA(hKey, value.name.c_str(), nullptr, &type, buffer.data(), &size) == ERROR_SUCCESS);
      Check(type == value.type && size == value.data.size() &&
            (size == 0 || std::memcmp(buffer.data(), value.data.data(), size) == 0));
      if (size == 0) continue;
      DWORD small = size - 1;
      Check(RegQueryValueExA(hKey, value.name.c_str(), nullptr, nullptr, buffer.data(), &small) == ERROR_MORE_DATA);
      Check(small == size);
    }
    Check(RegCloseKey(hKey) == ERROR_SUCCESS);
  }
}

void Save(const std::vector<RegValue>& changes) {
  HKEY hKey = nullptr;
  Check(RegCreateKeyExA(HKEY_LOCAL_MACHINE, SORREL_KEY, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_SET_VALUE, nullptr,
                        &hKey, nullptr) == ERROR_SUCCESS);
  for (const RegValue& change : changes)
    Check(RegSetValueExA(hKey, change.name.c_str(), 0, change.type, reinterpret_cast<const BYTE*>(change.data.data()),
                         static_cast<DWORD>(change.data.size())) == ERROR_SUCCESS);
  Check(RegCloseKey(hKey) == ERROR_SUCCESS);
}

bool SameValues(const std::vector<RegValue>& a, const std::vector<RegValue>& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (a[i].name != b[i].name || a[i].type != b[i].type || a[i].data != b[i].data) return false;
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string path = WriteInput("sorrel.reg", data, size);
  static const bool located = setenv("SORREL_REGISTRY", path.substr(0, path.rfind('/')).c_str(), 1) == 0;
  Check(located);

  const CRegDocument before(std::string(reinterpret_cast<const char*>(data), size));
  ReadEveryValue(before);

  // The program's kind of value, and one of any type made of the input's first bytes.
  std::vector<RegValue> changes = {{"FrameRate", REG_SZ, std::string("25", 3)}};
  if (size > 0)
    changes.push_back({"Fuzz", data[0], std::string(reinterpret_cast<const char*>(data), std::min(size, MAX_FUZZ_VALUE))});
  Save(changes);
  const std::string saved = Bytes(path);
  const CRegDocument after(saved);

  const std::string sorrel = std::string(HIVE) + "\\" + SORREL_KEY;
  std::vector<RegValue> expected = before.Values(sorrel);
  for (const RegValue& change : changes) PutValue(expected, change);
  Check(SameValues(after.Values(sorrel), expected));

  // Every other key keeps its values; the saved key keeps its place or comes last.
  std::vector<std::string> keys = before.Keys();
  if (std::none_of(keys.begin(), keys.end(), [&](const std::string& key) { return SameName(key, sorrel); }))
    keys.push_back(sorrel);
  Check(after.Keys() == keys);
  for (const std::string& key : keys)
    if (!SameName(key, sorrel)) Check(SameValues(after.Values(key), before.Values(key)));

  Save(changes);
  Check(Bytes(path) == saved);
  return 0;
}
