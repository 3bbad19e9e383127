#pragma once
// A store of its own per test: a temporary folder named by SORREL_REGISTRY, and the
// program's two-step reads and its writes through the store's calls.

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <functional>
#include <optional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "Child.h"
#include "SaveTrials.h"
#include "TestFiles.h"
#include "registry/Registry.h"

using Values = std::vector<std::pair<std::string, std::string>>;  // name, bytes

inline constexpr const char* SORREL_KEY = "SOFTWARE\\Orvane Radara\\Sorrel";
inline constexpr const char* SORREL_SECTION = "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Orvane Radara\\Sorrel]";

// A REG_SZ as the program writes it: the text and its NUL.
inline std::string Sz(const std::string& text) { return text + '\0'; }

class RegistryFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    m_Folder = m_Temp.Path();
    setenv("SORREL_REGISTRY", m_Folder.c_str(), 1);
  }
  void TearDown() override { unsetenv("SORREL_REGISTRY"); }

  std::string StorePath() const { return m_Folder + "/sorrel.reg"; }

  // The key opened for writing as the program's save opens it; null when refused.
  static HKEY CreateKey(DWORD* disposition = nullptr, const char* key = SORREL_KEY) {
    HKEY hKey = nullptr;
    EXPECT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, key, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_SET_VALUE, nullptr,
                              &hKey, disposition),
              ERROR_SUCCESS);
    return hKey;
  }
  static LONG Set(HKEY hKey, const std::string& name, const std::string& bytes) {
    return RegSetValueExA(hKey, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(bytes.data()),
                          static_cast<DWORD>(bytes.size()));
  }

  // What the program's save does: create the key, set each value as REG_SZ, close.
  static LONG Save(const Values& values, const char* key = SORREL_KEY) {
    const HKEY hKey = CreateKey(nullptr, key);
    for (const auto& [name, bytes] : values)
      if (const LONG error = Set(hKey, name, bytes)) return error;
    return RegCloseKey(hKey);
  }

  // What the program's load does for each value: ask the size, then read into a buffer of
  // that size. Nothing when the key or the value is missing.
  static std::optional<std::string> Load(const std::string& name, const char* key = SORREL_KEY) {
    HKEY hKey = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key, 0, KEY_QUERY_VALUE, &hKey) != ERROR_SUCCESS) return std::nullopt;
    std::optional<std::string> bytes;
    DWORD size = 0;
    if (RegQueryValueExA(hKey, name.c_str(), nullptr, nullptr, nullptr, &size) == ERROR_SUCCESS) {
      std::string buffer(size, '\x55');
      DWORD filled = size;
      if (RegQueryValueExA(hKey, name.c_str(), nullptr, nullptr, reinterpret_cast<BYTE*>(buffer.data()), &filled) ==
              ERROR_SUCCESS &&
          filled == size)
        bytes = buffer;
    }
    EXPECT_EQ(RegCloseKey(hKey), ERROR_SUCCESS);
    return bytes;
  }

  CTempFolder m_Temp;
  std::string m_Folder;
};
