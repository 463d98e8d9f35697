#pragma once
// An open registry key that closes itself, with the typed reads and writes the settings use.
#include "registry.h"

#include <QString>

class RegistryKey
{
public:
    RegistryKey() = default;
    ~RegistryKey();
    RegistryKey(const RegistryKey&) = delete;
    RegistryKey& operator=(const RegistryKey&) = delete;

    // Open an existing key, or create it when missing; both ask for full access. The result
    // is the registry's error code (ERROR_SUCCESS when open).
    LONG open(HKEY root, const char* path);
    LONG create(HKEY root, const char* path);
    void close();
    bool isOpen() const { return m_key != nullptr; }

    enum class Read { Done, Absent, WrongType, Failed };
    // Integers are REG_DWORD, negative ones as their 32-bit two's complement; flags are
    // REG_DWORD, any non-zero value true; text is REG_SZ, or REG_EXPAND_SZ taken as it stands.
    // The target is changed only by Done.
    Read readInteger(const char* name, int& value) const;
    Read readFlag(const char* name, bool& value) const;
    Read readText(const char* name, QString& value) const;

    LONG writeInteger(const char* name, int value) const;
    LONG writeFlag(const char* name, bool value) const;
    LONG writeText(const char* name, const QString& value) const;

private:
    // Whether `name` exists (Done, with its type and size), is absent, or can't be read.
    Read probe(const char* name, DWORD& type, DWORD& size) const;

    HKEY m_key = nullptr;
};
