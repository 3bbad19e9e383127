#pragma once
// The machine-wide settings store, called the way the program's settings were designed
// around: keys under HKEY_LOCAL_MACHINE holding named values. The store is one text file
// in registry export form (REGEDIT4), sorrel.reg in the folder named by SORREL_REGISTRY,
// else /var/lib/sorrel.
//
// A key opened for writing collects its values in memory; closing it saves them, all or
// nothing, merged into what the file holds by then.

#include <cstdint>

using LONG = int32_t;
using DWORD = uint32_t;
using BYTE = uint8_t;
using REGSAM = uint32_t;

class CRegistryKey;
using HKEY = CRegistryKey*;

// The machine-wide hive: always open; closing it does nothing. It holds no values of its
// own here; keys are opened below it.
extern const HKEY HKEY_LOCAL_MACHINE;

// Value types, as the file writes them: REG_SZ as "text" (or hex(1): when the bytes are
// no single line of text), REG_DWORD as dword:, REG_BINARY as hex:, any other as hex(N):.
constexpr DWORD REG_SZ = 1;
constexpr DWORD REG_BINARY = 3;
constexpr DWORD REG_DWORD = 4;

// Access rights.
constexpr REGSAM KEY_QUERY_VALUE = 0x0001;
constexpr REGSAM KEY_SET_VALUE = 0x0002;

// The only creation option: keys live in the file.
constexpr DWORD REG_OPTION_NON_VOLATILE = 0;

// What RegCreateKeyExA found.
constexpr DWORD REG_CREATED_NEW_KEY = 1;
constexpr DWORD REG_OPENED_EXISTING_KEY = 2;

// Results.
constexpr LONG ERROR_SUCCESS = 0;
constexpr LONG ERROR_FILE_NOT_FOUND = 2;       // no such key, or no such value
constexpr LONG ERROR_ACCESS_DENIED = 5;        // the key was not opened for this; or the save was refused
constexpr LONG ERROR_INVALID_HANDLE = 6;       // not an open key
constexpr LONG ERROR_INVALID_PARAMETER = 87;
constexpr LONG ERROR_MORE_DATA = 234;          // the buffer is too small; the size needed is returned
constexpr LONG ERROR_REGISTRY_IO_FAILED = 1016;  // the save failed for another reason

// Opens an existing key below hKey (subKey null or empty: hKey itself again).
// ERROR_FILE_NOT_FOUND when the store has no such key; *result is then null.
LONG RegOpenKeyExA(HKEY hKey, const char* subKey, DWORD options, REGSAM access, HKEY* result);

// The bytes of a value (valueName null or empty: the key's default value). With data null
// only the size is returned in *cbData. With a buffer, *cbData gives its size on entry and
// the value's size on return; ERROR_MORE_DATA when the buffer is too small, and the buffer
// is then left alone. type may be null.
LONG RegQueryValueExA(HKEY hKey, const char* valueName, DWORD* reserved, DWORD* type, BYTE* data,
                      DWORD* cbData);

// Opens a key below hKey for writing, creating it when the store has none.
// keyClass and security are not kept. disposition may be null; then, without
// KEY_QUERY_VALUE, the store is not read until the key is saved.
LONG RegCreateKeyExA(HKEY hKey, const char* subKey, DWORD reserved, const char* keyClass, DWORD options,
                     REGSAM access, const void* security, HKEY* result, DWORD* disposition);

// Gives a value the bytes data[0..cbData) as they are (a REG_SZ with the NUL the caller
// counts). Kept in memory until the key is closed.
LONG RegSetValueExA(HKEY hKey, const char* valueName, DWORD reserved, DWORD type, const BYTE* data,
                    DWORD cbData);

// Closes a key. A key opened for writing that was created or given values is saved
// first; when the save fails the store is left as it was, one line on standard error
// names the file and the reason, and the result says so (the key is closed all the same).
LONG RegCloseKey(HKEY hKey);
