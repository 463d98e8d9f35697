#pragma once
#include "wininet.h"

#include <utility>

// An open remote file. Only complete() ends a transfer as whole; on every other way out,
// a thrown local error included, the transfer is aborted (ABOR), so an upload that stopped
// early is never stored as if it were the whole file, and the connection is free for the
// next command.
class RemoteFile
{
public:
    explicit RemoteFile(HINTERNET handle) : m_handle(handle) {}
    ~RemoteFile() { abort(); }
    RemoteFile(const RemoteFile&) = delete;
    RemoteFile& operator=(const RemoteFile&) = delete;

    HINTERNET get() const { return m_handle; }
    // Closes as complete. For a write handle this is where the server's final reply arrives,
    // so only a true result means the server stored the file.
    bool complete() { return InternetCloseHandle(std::exchange(m_handle, nullptr)) != FALSE; }
    // Ends the transfer early. The last error is kept for the caller's report: the abort's
    // own outcome shows in the next command on the connection.
    void abort()
    {
        if (!m_handle)
            return;
        const DWORD error = GetLastError();
        FtpAbortFile(m_handle);
        InternetCloseHandle(std::exchange(m_handle, nullptr));
        SetLastError(error);
    }

private:
    HINTERNET m_handle;
};
