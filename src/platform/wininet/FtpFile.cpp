#include "FtpObjects.h"
#include "InternetTimeouts.h"

#include <cstring>

namespace wininet {

FtpFile::FtpFile(std::shared_ptr<FtpSession> session, DataConnection data, bool writing)
    : InternetObject(HandleKind::File), m_session(std::move(session)), m_data(std::move(data)),
      m_writing(writing)
{
    // A 2xx answer to RETR before any data means the server sends nothing more.
    if (!m_writing && !m_data.socket.isOpen())
        m_dataEnded = true;
}

DWORD FtpFile::finish(bool abandoned)
{
    if (m_finished)
        return m_failure;
    m_finished = true;
    if (m_writing && !abandoned)
        m_data.socket.finishSending(Deadline::after(receiveTimeoutMs()));
    // The data has ended or broken, so the server answers the transfer by itself (226, or 426
    // after a broken data connection); ending it early goes through abort() instead.
    m_data.socket.close();
    const DWORD error = m_session->finishTransfer(m_data, abandoned);
    if (m_failure == ERROR_SUCCESS)
        m_failure = error;
    return error;
}

DWORD FtpFile::fail(DWORD error)
{
    if (error == ERROR_INTERNET_OPERATION_CANCELLED) {
        // Cut short by the session's cancel: ABOR, which keeps the connection in step where
        // the server answers it in time and retires it where not.
        abort();
    } else if (error == ERROR_INTERNET_TIMEOUT) {
        // After a silent data connection the server is out of step: waiting for its answer
        // would only double the wait.
        m_finished = true;
        m_data.socket.close();
        m_session->dropConnection();
    } else {
        finish(true);
    }
    m_failure = error; // the socket's reason, not what the server said afterwards
    return error;
}

DWORD FtpFile::refill()
{
    std::size_t received = 0;
    DWORD error = ERROR_SUCCESS;
    {
        // A transfer moved on another thread (the background queue) ends at once on the
        // session's cancel, however silent the server.
        const FtpSession::CancellableCall cancellable(*m_session);
        error = receiveSome(m_data.socket, m_buffer.get(), kBlockSize,
                            m_session->cancellableDeadline(receiveTimeoutMs()), received);
    }
    m_begin = 0;
    m_end = received;
    if (error != ERROR_SUCCESS)
        return fail(error);
    if (received == 0)
        m_dataEnded = true;
    return ERROR_SUCCESS;
}

DWORD FtpFile::read(char* out, std::size_t wanted, std::size_t& got)
{
    got = 0;
    if (m_writing)
        return ERROR_INVALID_HANDLE;
    if (wanted == 0)
        return ERROR_SUCCESS;
    // What has arrived is handed out at once, however little: waiting to fill the caller's
    // buffer would let a server that trickles one byte a second hold one call for an hour,
    // and the caller could not look at its Cancel button in between.
    if (m_begin == m_end) {
        if (m_failure != ERROR_SUCCESS)
            return m_failure;
        if (!m_dataEnded)
            if (const DWORD error = refill())
                return error;
        if (m_dataEnded)
            return finish(false); // the end of the data counts only if the server confirms it
    }
    got = std::min(wanted, m_end - m_begin);
    std::memcpy(out, m_buffer.get() + m_begin, got);
    m_begin += got;
    return ERROR_SUCCESS;
}

DWORD FtpFile::flush()
{
    if (m_end == 0)
        return ERROR_SUCCESS;
    m_sentData = true;
    DWORD error = ERROR_SUCCESS;
    {
        const FtpSession::CancellableCall cancellable(*m_session);
        error = sendAll(m_data.socket, m_buffer.get(), m_end,
                        m_session->cancellableDeadline(sendTimeoutMs()));
    }
    m_end = 0;
    return error != ERROR_SUCCESS ? fail(error) : ERROR_SUCCESS;
}

DWORD FtpFile::write(const char* in, std::size_t length)
{
    if (!m_writing)
        return ERROR_INVALID_HANDLE;
    if (m_failure != ERROR_SUCCESS)
        return m_failure;
    while (length > 0) {
        const std::size_t take = std::min(length, kBlockSize - m_end);
        std::memcpy(m_buffer.get() + m_end, in, take);
        m_end += take;
        in += take;
        length -= take;
        if (m_end == kBlockSize)
            if (const DWORD error = flush())
                return error;
    }
    return ERROR_SUCCESS;
}

DWORD FtpFile::abort()
{
    if (m_finished)
        return m_session->checkReady(); // nothing left to abort
    m_finished = true;
    m_aborted = true;
    m_end = 0; // unsent data is dropped, not sent
    // An upload that sent data ends with a reset: a server that read an orderly end of the
    // data before the ABOR would store the partial file as the whole. Otherwise an orderly
    // close, which costs nothing (no data of the file went out) and lets a server that has
    // not yet taken the data connection in still do so: pyftpdlib, handed a reset at that
    // moment, keeps the transfer queued and later runs it on the next data connection.
    return m_session->abortTransfer(m_data, m_writing && m_sentData);
}

DWORD FtpFile::close()
{
    if (m_aborted)
        return ERROR_SUCCESS; // the abort's outcome was reported when it happened
    if (m_finished)
        return m_writing ? m_failure : ERROR_SUCCESS;
    if (!m_writing) {
        // Stopping early is the caller's right: the rest of the file is refused with ABOR, so
        // the server neither waits on a full data connection nor leaves a reply behind.
        if (!m_dataEnded)
            return abort();
        finish(false);
        return ERROR_SUCCESS;
    }
    if (const DWORD error = flush())
        return error;
    // The upload is complete only when the server says so after seeing the end of the data:
    // a 4xx/5xx here (disk full, quota) must not pass for a stored file.
    return finish(false);
}

} // namespace wininet
