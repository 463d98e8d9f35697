#include "registry.h"

#include "datafolder.h"
#include "lasterror.h"
#include "regfile.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>

// An open key: the file it lives in, fixed when it was opened, and its full path.
struct HKEY__
{
    std::string filePath;
    std::string keyPath;
};

namespace {

constexpr const char* kRegistryFileName = "zulftp.reg";

std::mutex handlesMutex;
// The open keys, owned here; callers hold plain handles until RegCloseKey.
std::map<HKEY, std::unique_ptr<HKEY__>> openHandles;

const char* rootName(HKEY root)
{
    if (root == HKEY_CLASSES_ROOT)
        return "HKEY_CLASSES_ROOT";
    if (root == HKEY_CURRENT_USER)
        return "HKEY_CURRENT_USER";
    if (root == HKEY_LOCAL_MACHINE)
        return "HKEY_LOCAL_MACHINE";
    if (root == HKEY_USERS)
        return "HKEY_USERS";
    return nullptr;
}

bool isOpenHandle(HKEY key)
{
    std::lock_guard lock(handlesMutex);
    return openHandles.count(key) != 0;
}

// The full path of `subKey` below `parent`, or false for a bad handle or name. A name part
// may not be empty or hold a control character, which the file could not keep.
bool fullPath(HKEY parent, LPCSTR subKey, std::string& filePath, std::string& path)
{
    if (const char* root = rootName(parent)) {
        filePath = RegistryFilePath();
        path = root;
    } else if (isOpenHandle(parent)) {
        filePath = parent->filePath;
        path = parent->keyPath;
    } else {
        return false;
    }
    std::string_view rest = subKey ? subKey : "";
    while (!rest.empty() && rest.front() == '\\')
        rest.remove_prefix(1);
    while (!rest.empty() && rest.back() == '\\')
        rest.remove_suffix(1);
    if (rest.empty())
        return true;
    if (rest.find("\\\\") != std::string_view::npos || rest.find(']') != std::string_view::npos)
        return false;
    for (char c : rest)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            return false;
    path += '\\';
    path += rest;
    return true;
}

// Reads the file into `hive`. A missing file is an empty registry.
LONG loadHive(const std::string& filePath, regfile::Hive& hive)
{
    std::string text;
    if (!ReadWholeFile(filePath, text)) {
        hive.keys.clear();
        return GetLastError() == ERROR_FILE_NOT_FOUND ? LONG{ERROR_SUCCESS}
                                                      : static_cast<LONG>(ERROR_CANTREAD);
    }
    return regfile::parse(text, hive) ? LONG{ERROR_SUCCESS} : static_cast<LONG>(ERROR_BADDB);
}

// Read-modify-write of the file under the folder lock. `change` returns false when it made no
// change, and the file is then left alone.
template <typename Change> LONG updateHive(const std::string& filePath, Change change)
{
    FolderWriteLock lock(filePath);
    if (!lock.locked())
        return static_cast<LONG>(GetLastError());
    regfile::Hive hive;
    if (const LONG rc = loadHive(filePath, hive); rc != ERROR_SUCCESS)
        return rc;
    if (!change(hive))
        return ERROR_SUCCESS;
    if (!ReplaceFileContents(filePath, regfile::serialize(hive)))
        return static_cast<LONG>(GetLastError());
    return ERROR_SUCCESS;
}

HKEY newHandle(std::string filePath, std::string keyPath)
{
    auto owned = std::make_unique<HKEY__>(HKEY__{std::move(filePath), std::move(keyPath)});
    HKEY key = owned.get();
    std::lock_guard lock(handlesMutex);
    openHandles.emplace(key, std::move(owned));
    return key;
}

bool validValueName(LPCSTR name)
{
    for (const char* p = name; p && *p; ++p)
        if (static_cast<unsigned char>(*p) < 0x20 || *p == 0x7F)
            return false;
    return true;
}

} // namespace

std::string RegistryFilePath()
{
    return GetDataFolder() + kRegistryFileName;
}

LONG RegOpenKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD, REGSAM, PHKEY phkResult)
{
    if (!phkResult)
        return ERROR_INVALID_PARAMETER;
    *phkResult = nullptr;
    std::string filePath, path;
    if (!fullPath(hKey, lpSubKey, filePath, path))
        return rootName(hKey) || isOpenHandle(hKey) ? LONG{ERROR_INVALID_PARAMETER}
                                                    : LONG{ERROR_INVALID_HANDLE};
    // Access rights are checked when a value is written, not here: a file the user may only
    // read still gives its values.
    regfile::Hive hive;
    if (const LONG rc = loadHive(filePath, hive); rc != ERROR_SUCCESS)
        return rc;
    if (path.find('\\') != std::string::npos && !hive.keyExists(path))
        return ERROR_FILE_NOT_FOUND;
    *phkResult = newHandle(std::move(filePath), std::move(path));
    return ERROR_SUCCESS;
}

LONG RegCreateKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD, LPSTR, DWORD, REGSAM, LPSECURITY_ATTRIBUTES,
                     PHKEY phkResult, LPDWORD lpdwDisposition)
{
    if (!phkResult)
        return ERROR_INVALID_PARAMETER;
    *phkResult = nullptr;
    std::string filePath, path;
    if (!fullPath(hKey, lpSubKey, filePath, path))
        return rootName(hKey) || isOpenHandle(hKey) ? LONG{ERROR_INVALID_PARAMETER}
                                                    : LONG{ERROR_INVALID_HANDLE};
    bool created = false;
    const LONG rc = updateHive(filePath, [&](regfile::Hive& hive) {
        if (path.find('\\') == std::string::npos || hive.keyExists(path))
            return false;
        hive.addKey(path);
        created = true;
        return true;
    });
    if (rc != ERROR_SUCCESS)
        return rc;
    if (lpdwDisposition)
        *lpdwDisposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
    *phkResult = newHandle(std::move(filePath), std::move(path));
    return ERROR_SUCCESS;
}

LONG RegQueryValueExA(HKEY hKey, LPCSTR lpValueName, LPDWORD lpReserved, LPDWORD lpType,
                      LPBYTE lpData, LPDWORD lpcbData)
{
    if (!isOpenHandle(hKey))
        return ERROR_INVALID_HANDLE;
    if (lpReserved || (lpData && !lpcbData))
        return ERROR_INVALID_PARAMETER;
    regfile::Hive hive;
    if (const LONG rc = loadHive(hKey->filePath, hive); rc != ERROR_SUCCESS)
        return rc;
    const regfile::Key* key = hive.findKey(hKey->keyPath);
    const regfile::Value* value =
        key ? regfile::findValue(*key, lpValueName ? lpValueName : "") : nullptr;
    if (!value)
        return ERROR_FILE_NOT_FOUND;
    if (lpType)
        *lpType = value->type;
    const auto size = static_cast<DWORD>(value->data.size());
    if (!lpcbData)
        return ERROR_SUCCESS;
    const DWORD room = *lpcbData;
    *lpcbData = size;
    if (!lpData)
        return ERROR_SUCCESS;
    if (room < size)
        return ERROR_MORE_DATA;
    std::memcpy(lpData, value->data.data(), size);
    return ERROR_SUCCESS;
}

LONG RegSetValueExA(HKEY hKey, LPCSTR lpValueName, DWORD Reserved, DWORD dwType, const BYTE* lpData,
                    DWORD cbData)
{
    if (!isOpenHandle(hKey))
        return ERROR_INVALID_HANDLE;
    if (Reserved != 0 || (cbData && !lpData) || !validValueName(lpValueName))
        return ERROR_INVALID_PARAMETER;
    if (dwType == REG_DWORD && cbData != sizeof(DWORD))
        return ERROR_INVALID_PARAMETER;
    std::string data =
        cbData ? std::string(reinterpret_cast<const char*>(lpData), cbData) : std::string();
    const std::string name = lpValueName ? lpValueName : "";
    return updateHive(hKey->filePath, [&](regfile::Hive& hive) {
        regfile::Key* key = hive.findKey(hKey->keyPath);
        if (!key)
            key = &hive.addKey(hKey->keyPath);
        regfile::Value* value = regfile::findValue(*key, name);
        if (!value) {
            key->values.push_back(regfile::Value{name, dwType, std::move(data)});
        } else {
            value->type = dwType;
            value->data = std::move(data);
        }
        return true;
    });
}

LONG RegCloseKey(HKEY hKey)
{
    if (rootName(hKey))
        return ERROR_SUCCESS;
    std::lock_guard lock(handlesMutex);
    return openHandles.erase(hKey) == 0 ? LONG{ERROR_INVALID_HANDLE} : LONG{ERROR_SUCCESS};
}
