#include "app/RegistryKey.h"

#include <QByteArray>

#include <cstring>

RegistryKey::~RegistryKey()
{
    close();
}

LONG RegistryKey::open(HKEY root, const char* path)
{
    close();
    return RegOpenKeyExA(root, path, 0, KEY_ALL_ACCESS, &m_key);
}

LONG RegistryKey::create(HKEY root, const char* path)
{
    close();
    DWORD disposition = 0;
    return RegCreateKeyExA(root, path, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr,
                           &m_key, &disposition);
}

void RegistryKey::close()
{
    if (m_key)
        RegCloseKey(m_key);
    m_key = nullptr;
}

RegistryKey::Read RegistryKey::probe(const char* name, DWORD& type, DWORD& size) const
{
    const LONG rc = RegQueryValueExA(m_key, name, nullptr, &type, nullptr, &size);
    if (rc == ERROR_FILE_NOT_FOUND)
        return Read::Absent;
    return rc == ERROR_SUCCESS ? Read::Done : Read::Failed;
}

RegistryKey::Read RegistryKey::readInteger(const char* name, int& value) const
{
    DWORD type = 0;
    DWORD size = 0;
    if (const Read found = probe(name, type, size); found != Read::Done)
        return found;
    if (type != REG_DWORD)
        return Read::WrongType;
    DWORD data = 0;
    size = sizeof data;
    const LONG rc =
        RegQueryValueExA(m_key, name, nullptr, &type, reinterpret_cast<LPBYTE>(&data), &size);
    if (rc != ERROR_SUCCESS || type != REG_DWORD || size != sizeof data)
        return Read::Failed;
    value = static_cast<int>(static_cast<LONG>(data));
    return Read::Done;
}

RegistryKey::Read RegistryKey::readFlag(const char* name, bool& value) const
{
    int number = 0;
    const Read result = readInteger(name, number);
    if (result == Read::Done)
        value = number != 0;
    return result;
}

RegistryKey::Read RegistryKey::readText(const char* name, QString& value) const
{
    DWORD type = 0;
    DWORD size = 0;
    if (const Read found = probe(name, type, size); found != Read::Done)
        return found;
    if (type != REG_SZ && type != REG_EXPAND_SZ)
        return Read::WrongType;
    QByteArray data(static_cast<qsizetype>(size), '\0');
    const LONG rc =
        RegQueryValueExA(m_key, name, nullptr, &type, reinterpret_cast<LPBYTE>(data.data()), &size);
    if (rc != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ))
        return Read::Failed;
    data.truncate(static_cast<qsizetype>(size));
    // The text ends at its first NUL, which a stored string normally ends with.
    const qsizetype nul = data.indexOf('\0');
    value = QString::fromUtf8(nul < 0 ? data : data.left(nul));
    return Read::Done;
}

LONG RegistryKey::writeInteger(const char* name, int value) const
{
    const auto data = static_cast<DWORD>(value);
    return RegSetValueExA(m_key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&data),
                          sizeof data);
}

LONG RegistryKey::writeFlag(const char* name, bool value) const
{
    return writeInteger(name, value ? 1 : 0);
}

LONG RegistryKey::writeText(const char* name, const QString& value) const
{
    const QByteArray data = value.toUtf8();
    return RegSetValueExA(m_key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(data.constData()),
                          static_cast<DWORD>(data.size() + 1));
}
