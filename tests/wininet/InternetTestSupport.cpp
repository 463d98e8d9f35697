#include "InternetTestSupport.h"

#include <vector>

Connection connectTo(quint16 port, const char* user, const char* password, DWORD flags,
                     const char* host)
{
    Connection connection;
    connection.internet =
        OwnedHandle(InternetOpenA("ZULFTP", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
    connection.connect = OwnedHandle(InternetConnectA(connection.internet.get(), host, port, user,
                                                      password, INTERNET_SERVICE_FTP, flags, 0));
    if (!connection.connect)
        connection.error = GetLastError();
    return connection;
}

bool downloadAll(HINTERNET connect, const char* name, QByteArray& data)
{
    data.clear();
    OwnedHandle file(FtpOpenFileA(connect, name, GENERIC_READ, FTP_TRANSFER_TYPE_BINARY, 0));
    if (!file)
        return false;
    char block[4096];
    for (;;) {
        DWORD got = 0;
        if (!InternetReadFile(file.get(), block, sizeof block, &got))
            return false;
        if (got == 0)
            break;
        data.append(block, got);
    }
    return file.close() != FALSE;
}

bool uploadAll(HINTERNET connect, const char* name, const QByteArray& data)
{
    OwnedHandle file(FtpOpenFileA(connect, name, GENERIC_WRITE, FTP_TRANSFER_TYPE_BINARY, 0));
    if (!file)
        return false;
    for (qsizetype offset = 0; offset < data.size(); offset += 4096) {
        const DWORD length = static_cast<DWORD>(std::min<qsizetype>(4096, data.size() - offset));
        DWORD written = 0;
        if (!InternetWriteFile(file.get(), data.constData() + offset, length, &written) ||
            written != length)
            return false;
    }
    return file.close() != FALSE;
}

QStringList listNames(HINTERNET connect)
{
    QStringList names;
    WIN32_FIND_DATAA entry{};
    OwnedHandle find(FtpFindFirstFileA(connect, nullptr, &entry, INTERNET_FLAG_RELOAD, 0));
    if (!find)
        return names;
    do {
        const QString name = QString::fromUtf8(entry.cFileName);
        if (name != "." && name != "..")
            names << name;
    } while (InternetFindNextFileA(find.get(), &entry));
    return names;
}

QString currentDirectory(HINTERNET connect)
{
    char buffer[512];
    DWORD length = sizeof buffer;
    if (!FtpGetCurrentDirectoryA(connect, buffer, &length))
        return QStringLiteral("<error %1>").arg(GetLastError());
    return QString::fromUtf8(buffer, length);
}

QString lastResponseText()
{
    DWORD code = 0;
    std::vector<char> buffer(70000);
    DWORD length = static_cast<DWORD>(buffer.size());
    if (!InternetGetLastResponseInfoA(&code, buffer.data(), &length))
        return {};
    return QString::fromUtf8(buffer.data(), length);
}

QByteArray patternBytes(qsizetype size)
{
    QByteArray data(size, Qt::Uninitialized);
    for (qsizetype i = 0; i < size; ++i)
        data[i] = static_cast<char>(i % 251);
    return data;
}

void shortenTimeouts(DWORD milliseconds)
{
    for (const DWORD option : {INTERNET_OPTION_CONNECT_TIMEOUT, INTERNET_OPTION_RECEIVE_TIMEOUT,
                               INTERNET_OPTION_SEND_TIMEOUT})
        InternetSetOptionA(nullptr, option, &milliseconds, sizeof milliseconds);
}
