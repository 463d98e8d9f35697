#include "ftp/FtpConnection.h"

#include "remote/FtpConnect.h"

TFtpConnection FtpConnection;

ServerSession& TFtpConnection::session()
{
    if (m_session)
        return *m_session;
    if (!m_closed)
        m_closed = ClosedFtpSession();
    return *m_closed;
}

void TFtpConnection::open(std::shared_ptr<ServerSession> session)
{
    m_session = std::move(session);
    ListedFolder.clear();
}

SessionClose TFtpConnection::close()
{
    const std::shared_ptr<ServerSession> closing = std::exchange(m_session, nullptr);
    ListedFolder.clear();
    return CloseSession(closing ? *closing : session());
}
