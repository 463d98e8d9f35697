#pragma once
// Helpers shared by the internet client tests: owned handles and whole-file transfers in the
// 4,096-byte calls the program makes.
#include "wininet.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <utility>

// Closes the handle when it goes out of scope, unless it was already closed.
class OwnedHandle
{
public:
    OwnedHandle() = default;
    explicit OwnedHandle(HINTERNET handle) : m_handle(handle) {}
    OwnedHandle(OwnedHandle&& other) noexcept : m_handle(std::exchange(other.m_handle, nullptr)) {}
    OwnedHandle& operator=(OwnedHandle&& other) noexcept
    {
        reset();
        m_handle = std::exchange(other.m_handle, nullptr);
        return *this;
    }
    OwnedHandle(const OwnedHandle&) = delete;
    OwnedHandle& operator=(const OwnedHandle&) = delete;
    ~OwnedHandle() { reset(); }

    HINTERNET get() const { return m_handle; }
    explicit operator bool() const { return m_handle != nullptr; }
    // Forgets the handle without closing it (it was closed with its parent).
    void release() { m_handle = nullptr; }
    // Closes now and reports InternetCloseHandle's result.
    BOOL close() { return InternetCloseHandle(std::exchange(m_handle, nullptr)); }
    void reset()
    {
        if (m_handle)
            InternetCloseHandle(std::exchange(m_handle, nullptr));
    }

private:
    HINTERNET m_handle = nullptr;
};

// A service handle plus one connection to a loopback server.
struct Connection
{
    OwnedHandle internet;
    OwnedHandle connect;
    DWORD error = ERROR_SUCCESS; // GetLastError() when the connect failed
};

Connection connectTo(quint16 port, const char* user = "user", const char* password = "secret",
                     DWORD flags = 0, const char* host = "127.0.0.1");

// Downloads the whole file in 4,096-byte reads. False (and GetLastError) when a call failed.
bool downloadAll(HINTERNET connect, const char* name, QByteArray& data);
// Uploads the data in 4,096-byte writes, closing the handle and checking its result.
bool uploadAll(HINTERNET connect, const char* name, const QByteArray& data);
// Every name of the current directory's listing, in listing order, without "." and "..".
// An empty list and GetLastError() 18 for an empty directory.
QStringList listNames(HINTERNET connect);
// The current remote directory, or "<error N>".
QString currentDirectory(HINTERNET connect);
QString lastResponseText();
// Bytes 0..250 repeated: no two neighbouring 4 KiB blocks are the same.
QByteArray patternBytes(qsizetype size);
void shortenTimeouts(DWORD milliseconds);
