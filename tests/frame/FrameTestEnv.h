#pragma once
// Shared set-up of the main window tests: a private data folder, the program-wide state reset
// before each test, and direct writes of stored settings.
#include "app/CommandState.h"
#include "app/SettingsStore.h"
#include "common/SortState.h"
#include "registry.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

namespace FrameTestEnv {

inline void useDataFolder(const QTemporaryDir& home)
{
    qputenv("ZULFTP_HOME", home.path().toUtf8());
}

// Everything a previous test may have left: flags, sort codes, settings and the stored key.
inline void reset()
{
    LocalFocused = false;
    RemoteFocused = false;
    RenameInProgress = false;
    LocalSort = 0;
    RemoteSort = 1;
    Settings = {};
    ResetSettingsMessages();
    QFile::remove(QString::fromStdString(RegistryFilePath()));
}

inline HKEY openSettingsKey()
{
    HKEY key = nullptr;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, kSettingsKeyPath, 0, nullptr, REG_OPTION_NON_VOLATILE,
                        KEY_ALL_ACCESS, nullptr, &key, nullptr) != ERROR_SUCCESS)
        qFatal("cannot create the settings key");
    return key;
}

inline void storeDword(const char* name, DWORD value)
{
    HKEY key = openSettingsKey();
    RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
    RegCloseKey(key);
}

inline void storeText(const char* name, const QByteArray& text)
{
    HKEY key = openSettingsKey();
    RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.constData()),
                   static_cast<DWORD>(text.size() + 1));
    RegCloseKey(key);
}

inline bool storedDword(const char* name, DWORD& value)
{
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSettingsKeyPath, 0, KEY_ALL_ACCESS, &key) !=
        ERROR_SUCCESS)
        return false;
    DWORD type = 0;
    DWORD size = sizeof value;
    const LONG rc =
        RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size);
    RegCloseKey(key);
    return rc == ERROR_SUCCESS && type == REG_DWORD;
}

} // namespace FrameTestEnv
