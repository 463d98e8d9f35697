#include "ftp/FtpConnection.h"

#include "remote/FtpServerSession.h"

TFtpConnection FtpConnection;

ServerSession& TFtpConnection::session()
{
    if (!m_session || m_session->connectionHandle() != ConnectionHandle)
        m_session = std::make_shared<FtpServerSession>(ConnectionHandle, nullptr, false);
    return *m_session;
}
