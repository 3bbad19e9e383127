// The five calls over the store. An open key is an object of this library; a handle is
// its address, looked up before use, so a stale or foreign handle is refused rather than
// followed.
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <unordered_map>

#include "RegStore.h"
#include "registry/Registry.h"

class CRegistryKey {
 public:
  CRegistryKey() = default;
  CRegistryKey(std::string path, REGSAM access, std::vector<RegValue> values, std::optional<bool> created)
      : m_Path(std::move(path)), m_Access(access), m_Values(std::move(values)), m_Created(created) {}

  std::string m_Path;              // from the hive's name down, as the caller spelled it
  REGSAM m_Access = 0;
  std::vector<RegValue> m_Values;  // as read when opened, with this key's changes
  std::vector<RegValue> m_Changes;
  std::optional<bool> m_Created;   // unknown when the store was not read on opening
};

namespace {

constexpr const char* HIVE_NAME = "HKEY_LOCAL_MACHINE";

CRegistryKey g_LocalMachine;  // only its address is used
std::mutex g_KeysLock;
std::unordered_map<HKEY, std::unique_ptr<CRegistryKey>> g_Keys;

CRegistryKey* Find(HKEY hKey) {
  if (hKey == HKEY_LOCAL_MACHINE) return hKey;
  const std::lock_guard<std::mutex> hold(g_KeysLock);
  auto it = g_Keys.find(hKey);
  return it == g_Keys.end() ? nullptr : it->second.get();
}

HKEY Add(std::unique_ptr<CRegistryKey> key) {
  const std::lock_guard<std::mutex> hold(g_KeysLock);
  const HKEY handle = key.get();
  g_Keys.emplace(handle, std::move(key));
  return handle;
}

std::unique_ptr<CRegistryKey> Take(HKEY hKey) {
  const std::lock_guard<std::mutex> hold(g_KeysLock);
  auto it = g_Keys.find(hKey);
  if (it == g_Keys.end()) return nullptr;
  std::unique_ptr<CRegistryKey> key = std::move(it->second);
  g_Keys.erase(it);
  return key;
}

bool IsEmpty(const char* text) { return text == nullptr || text[0] == '\0'; }

// A name the file can hold: one line.
bool FitsOneLine(std::string_view name) { return name.find('\n') == std::string_view::npos; }

// The path of subKey below hKey. A key path has no empty part.
LONG KeyPath(HKEY hKey, const char* subKey, std::string& path) {
  const CRegistryKey* parent = Find(hKey);
  if (parent == nullptr) return ERROR_INVALID_HANDLE;
  path = hKey == HKEY_LOCAL_MACHINE ? HIVE_NAME : parent->m_Path;
  if (IsEmpty(subKey)) return ERROR_SUCCESS;
  const std::string_view sub = subKey;
  if (!FitsOneLine(sub) || sub.front() == '\\' || sub.back() == '\\' || sub.find("\\\\") != std::string_view::npos)
    return ERROR_INVALID_PARAMETER;
  path += '\\';
  path += sub;
  return ERROR_SUCCESS;
}

}  // namespace

const HKEY HKEY_LOCAL_MACHINE = &g_LocalMachine;

LONG RegOpenKeyExA(HKEY hKey, const char* subKey, DWORD /*options*/, REGSAM access, HKEY* result) {
  if (result == nullptr) return ERROR_INVALID_PARAMETER;
  *result = nullptr;
  std::string path;
  if (const LONG error = KeyPath(hKey, subKey, path)) return error;
  const CRegDocument store = ReadStore();
  if (!IsEmpty(subKey) && !store.HasKey(path)) return ERROR_FILE_NOT_FOUND;
  *result = Add(std::make_unique<CRegistryKey>(path, access, store.Values(path), std::optional<bool>(false)));
  return ERROR_SUCCESS;
}

LONG RegQueryValueExA(HKEY hKey, const char* valueName, DWORD* reserved, DWORD* type, BYTE* data,
                      DWORD* cbData) {
  const CRegistryKey* key = Find(hKey);
  if (key == nullptr) return ERROR_INVALID_HANDLE;
  if (reserved != nullptr || (data != nullptr && cbData == nullptr)) return ERROR_INVALID_PARAMETER;
  if ((key->m_Access & KEY_QUERY_VALUE) == 0) return ERROR_ACCESS_DENIED;
  const RegValue* value = FindValue(key->m_Values, valueName == nullptr ? "" : valueName);
  if (value == nullptr) return ERROR_FILE_NOT_FOUND;

  const DWORD size = static_cast<DWORD>(value->data.size());
  if (type != nullptr) *type = value->type;
  if (data != nullptr && *cbData < size) {
    *cbData = size;
    return ERROR_MORE_DATA;
  }
  if (data != nullptr) std::memcpy(data, value->data.data(), size);
  if (cbData != nullptr) *cbData = size;
  return ERROR_SUCCESS;
}

LONG RegCreateKeyExA(HKEY hKey, const char* subKey, DWORD reserved, const char* /*keyClass*/, DWORD options,
                     REGSAM access, const void* /*security*/, HKEY* result, DWORD* disposition) {
  if (result == nullptr) return ERROR_INVALID_PARAMETER;
  *result = nullptr;
  if (reserved != 0 || options != REG_OPTION_NON_VOLATILE) return ERROR_INVALID_PARAMETER;
  std::string path;
  if (const LONG error = KeyPath(hKey, subKey, path)) return error;
  // A key opened only to be written is looked up when it is saved, under the lock.
  if (disposition == nullptr && (access & KEY_QUERY_VALUE) == 0) {
    *result = Add(std::make_unique<CRegistryKey>(path, access, std::vector<RegValue>{}, std::nullopt));
    return ERROR_SUCCESS;
  }
  const CRegDocument store = ReadStore();
  const bool created = !store.HasKey(path);
  if (disposition != nullptr) *disposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
  *result = Add(std::make_unique<CRegistryKey>(path, access, store.Values(path), created));
  return ERROR_SUCCESS;
}

LONG RegSetValueExA(HKEY hKey, const char* valueName, DWORD reserved, DWORD type, const BYTE* data,
                    DWORD cbData) {
  CRegistryKey* key = Find(hKey);
  if (key == nullptr) return ERROR_INVALID_HANDLE;
  const std::string name = valueName == nullptr ? "" : valueName;
  if (reserved != 0 || (data == nullptr && cbData != 0) || !FitsOneLine(name)) return ERROR_INVALID_PARAMETER;
  if ((key->m_Access & KEY_SET_VALUE) == 0) return ERROR_ACCESS_DENIED;
  const RegValue value{name, type, std::string(reinterpret_cast<const char*>(data), cbData)};
  PutValue(key->m_Values, value);
  PutValue(key->m_Changes, value);
  return ERROR_SUCCESS;
}

LONG RegCloseKey(HKEY hKey) {
  if (hKey == HKEY_LOCAL_MACHINE) return ERROR_SUCCESS;
  const std::unique_ptr<CRegistryKey> key = Take(hKey);
  if (key == nullptr) return ERROR_INVALID_HANDLE;
  const bool write = (key->m_Access & KEY_SET_VALUE) != 0 && (key->m_Created.value_or(true) || !key->m_Changes.empty());
  return write ? SaveKey(key->m_Path, key->m_Changes) : ERROR_SUCCESS;
}
